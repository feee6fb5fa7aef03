#pragma once
// Rasters through GDAL: GeoTIFF and every other raster format GDAL opens. A reader gives the
// header first and then the values as rows north to south (or a window of rows), read block
// by block, so that the file is never held twice in memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace gdalroom {

// What the program needs to know of one band of a raster.
struct RasterInfo {
  int64_t ncols = 0, nrows = 0;
  int bandCount = 0;
  // The lower-left corner and the cell sizes (both positive) in map units.
  double xll = 0.0, yll = 0.0, dx = 1.0, dy = 1.0;
  bool hasNodata = false;
  double nodata = 0.0;
  std::string dataType;   // GDAL's name of the band's type: Byte, Int16, Float32, Float64, ...
  bool int16 = false;     // the band holds 16-bit signed integers
  std::string driver;     // the short name of the driver that opened the file
  std::string crsWkt;     // the coordinate reference system, WKT; empty when the file has none
  int64_t blockRows = 1;  // rows of one block of the band (a tile or a strip)
  int64_t blockCols = 1;  // its columns
};

class RasterReader {
 public:
  RasterReader();
  ~RasterReader();
  RasterReader(const RasterReader&) = delete;
  RasterReader& operator=(const RasterReader&) = delete;

  // Opens band `band` (from 1) of the raster at path. geoTiffOnly: only a GeoTIFF is
  // accepted. threads: the cores that may decompress blocks (0: every core). False with the
  // reason in message when the file cannot be used: not a raster, no such band, no
  // georeferencing, a rotated grid, a complex type.
  bool open(const std::string& path, int band, bool geoTiffOnly, std::string& message, int threads = 0);
  const RasterInfo& info() const;
  // The rows first .. first+count-1, counted from 0 at the northern edge, as single
  // precision values, each row west to east: the northern row at out, the next one rowStep
  // values further (0: right after it; a negative step fills an array whose rows run south
  // to north, with out at the northern row). False with the reason in message on a read error.
  bool readRows(int64_t first, int64_t count, float* out, std::string& message, int64_t rowStep = 0);
  // A window of the same rows: columns col .. col+ncols-1 (from 0 at the western edge).
  bool readWindow(int64_t col, int64_t first, int64_t ncols, int64_t count, float* out, std::string& message,
                  int64_t rowStep = 0);
  // Rows per read that suit the file's blocks: whole rows of blocks, about 16 MiB at most.
  int64_t rowsPerRead() const;
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Puts bytes in GDAL's in-memory file system under a name of /vsimem/ and returns the name
// (for the fuzz targets and tests); removeMemoryFile takes it away again.
std::string memoryFile(const unsigned char* data, size_t size, const std::string& name);
void removeMemoryFile(const std::string& name);

// A short name of the system for messages ("Amersfoort / RD New"), or "unknown".
std::string crsName(const std::string& wkt);

}  // namespace gdalroom
