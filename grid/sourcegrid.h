#pragma once
// The source grid: per cell of the structure, the number of the set that gave its value.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/files.h"
#include "grid/griddesc.h"

namespace gdalroom {
class TiffWriter;
}

namespace grid {

// Writes Structure::source on the structure's grid, rows north first as the cell loop hands
// them on: type "ASC" (integers), "BIL" (signed integers of bits 16 or 32, with an HDR
// header) or "TIF" (a GeoTIFF of such integers). Code 0 (NODATA) is the files' no-data value.
// A run of one tile writes the tile's rows under the tile's name. The files appear at
// commit(), complete, or not at all.
class SourceGridWriter {
 public:
  SourceGridWriter();
  ~SourceGridWriter();
  SourceGridWriter(const SourceGridWriter&) = delete;
  SourceGridWriter& operator=(const SourceGridWriter&) = delete;
  // The rows top..bottom (top >= bottom) will be written; sync forces the files to the disk.
  // 0 or the error number.
  int open(const Structure& s, const std::string& type, const std::string& name, int bits, bool sync, int32_t top,
           int32_t bottom);
  // The next rows from..to (from >= to) from Structure::source.
  void rows(const Structure& s, int32_t from, int32_t to);
  // Puts the files in place. 0 or the error number.
  int commit();
  void abandon();
  // The file that could not be written, and GDAL's word on it (a GeoTIFF only).
  const std::string& failedName() const { return failedName_; }
  const std::string& reason() const { return reason_; }
  // The name of the grid (the data file for a BIL).
  const std::string& fileName() const { return fileName_; }

 private:
  std::string type_, fileName_, hdrName_, failedName_, reason_;
  size_t bytes_ = 2;
  int error_ = 0;
  int32_t rowsLeft_ = 0;
  frame::AtomicOutputFile data_, hdr_;
  std::unique_ptr<gdalroom::TiffWriter> tiff_;
  std::vector<int32_t> strip_;
  int32_t stripRows_ = 0;
  std::string text_;
  std::vector<unsigned char> raw_;
  void flushStrip();
};

// The name the source grid goes under (a tile's name in a run of one tile).
std::string sourceGridName(const Structure& s, const std::string& type, const std::string& name);

}  // namespace grid
