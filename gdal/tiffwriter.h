#pragma once
// GeoTIFF output through GDAL: a tiled GeoTIFF, DEFLATE-compressed with the floating-point
// predictor, NODATA and the coordinate reference system set; or a Cloud-Optimized GeoTIFF
// (the same, with overviews, laid out for reading over the network). Rows are taken in
// output order, the northern row first. The file appears under its name only when it is
// complete: it is written under a temporary name beside it (frame::TemporaryBeside: removed
// on a signal, or by the next run after a kill) and renamed at commit().
#include <cstdint>
#include <memory>
#include <string>

namespace gdalroom {

struct TiffLayout {
  int64_t ncols = 0, nrows = 0;
  double xll = 0.0, yll = 0.0, cellsize = 1.0;
  float nodata = -999.999f;
  std::string crsWkt;  // empty: none
  bool cloudOptimized = false;
  int threads = 0;    // the cores that may compress tiles; 0: every core
  bool sync = false;  // commit() forces the file and its folder to the disk
  // 16 or 32: the cells are signed integers of that many bits (a grid of codes), compressed
  // with the horizontal predictor; 0: single-precision values.
  int integerBits = 0;
};

class TiffWriter {
 public:
  TiffWriter();
  ~TiffWriter();  // an uncommitted file is removed
  TiffWriter(const TiffWriter&) = delete;
  TiffWriter& operator=(const TiffWriter&) = delete;

  // False with the reason in message when the file cannot be created.
  bool open(const std::string& path, const TiffLayout& layout, std::string& message);
  // The next count rows, the northern first, ncols values each.
  bool writeRows(const float* rows, int64_t count, std::string& message);
  bool writeRows(const int32_t* rows, int64_t count, std::string& message);
  // Completes the file (for a Cloud-Optimized GeoTIFF: its overviews and layout) and puts it
  // in place. False with the reason in message; the target is then left as it was.
  bool commit(std::string& message);
  void abandon();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace gdalroom
