#pragma once
#include <memory>
#include <string>
#include <vector>

#include "frame/files.h"
#include "frame/frame.h"
#include "frame/pager.h"
#include "grid/griddesc.h"

namespace gdalroom {
class TiffWriter;
}

namespace grid {

// Writes the output grid in rows, north first, as the cell loop hands them on: the whole
// structure, or one tile of it (TILE=k/n) under the tile's own name with the mosaic of all
// tiles beside it. A file that cannot be opened is reported by finish(), after the cell loop,
// as a run that writes at the end reports it.
class GridWriter {
 public:
  GridWriter();
  ~GridWriter();
  GridWriter(const GridWriter&) = delete;
  GridWriter& operator=(const GridWriter&) = delete;
  // The rows top..bottom (top >= bottom) are written; progress: show a bar of their own.
  void open(frame::Frame& fr, const Structure& s, const std::string& fileType, const std::string& fileName, int32_t top,
            int32_t bottom, bool progress);
  // The next rows from..to (from >= to) from the structure's values.
  void rows(const Structure& s, int32_t from, int32_t to);
  // Completes the files; with indicateEmpty and no value found (whole grid only) the grid goes
  // under the name marked "_EMPTY". Returns err.
  [[nodiscard]] bool finish(frame::Frame& fr, const Structure& s, bool indicateEmpty, bool gridHasValues);
  void abandon();

 private:
  void openFiles(frame::Frame& fr, const Structure& s, const std::string& name, bool emptyMarked = false);
  void writeRow(const float* row, size_t nc);
  // ASC rows: the text of one row at p (at most ascRowBound characters), and rows in pieces
  // formatted on every core.
  char* formatAscRow(char* p, const float* row, size_t nc) const;
  size_t ascRowBound(size_t nc) const;
  void ascRows(const Structure& s, int32_t from, int32_t to);
  // Writes a round of formatted pieces (their first used bytes), rows span, and turns the progress.
  void writePieces(const std::vector<std::string>& pieces, const std::vector<size_t>& used,
                   const std::vector<std::pair<int32_t, int32_t>>& span);
  bool writeMosaic(frame::Frame& fr, const Structure& s);
  // The .prj beside gridName when the structure has a coordinate reference system; a failure
  // is kept as the open error.
  void openPrj(frame::Frame& fr, const Structure& s, const std::string& gridName);
  // Puts the .prj in place; when it cannot be, the grid files are removed. 0 or the error number.
  int commitPrj(const std::vector<std::string>& gridFiles);
  std::string type_, name_, dataName_, hdrName_, failedName_;
  int32_t top_ = 0, bottom_ = 0, next_ = 0;
  bool tile_ = false;
  // The unit of the grid file, closed when the files are done or the writer goes.
  std::unique_ptr<frame::UnitLease> unit_;
  int openError_ = 0;
  int threads_ = 1;
  frame::AtomicOutputFile data_, hdr_, prj_;
  std::string prjName_;
  bool prjUsed_ = false;
  std::string text_;
  std::string nodataCell_;  // the text of a NODATA cell in an ASC grid
  float nodataOut_ = 0.0f;
  std::vector<unsigned char> raw_;
  std::unique_ptr<frame::ProgressCounter> progress_;
  // A GeoTIFF (TIF or COG) goes through GDAL, in strips of whole rows of its tiles.
  std::unique_ptr<gdalroom::TiffWriter> tiff_;
  std::string tiffMessage_;  // why the GeoTIFF could not be opened or written
  std::vector<float> strip_;
  int32_t stripRows_ = 0;
  void flushStrip();
  std::string tileType() const;  // the type whose extension a tile's name takes
};

// The name of tile k of n: the storage name with "_t" and the tile's number (three digits or
// more) before the extension, for example out_t007.BIL.
std::string tileName(const std::string& name, const std::string& fileType, int32_t k, int32_t n);

// WRITEINFORMATIONTOGRID: writes the structure as ASC, as BIL with its HDR header, or as a
// GeoTIFF (TIF, or COG for a Cloud-Optimized GeoTIFF).
// With indicateEmpty and no value found the name gets the marker "_EMPTY". Returns err.
[[nodiscard]] bool WRITEINFORMATIONTOGRID(frame::Frame& fr, const Structure& s, const std::string& fileType,
                                          const std::string& fileName, bool indicateEmpty, bool gridHasValues);

// Number texts of the output headers (shared with the tests).
// Both give a text that reads back as the very same double.
std::string ascHeaderNumber(double v, int w, int d);  // Fw.d, or the shortest exact text
std::string hdrRealNumber(double v);                  // integer, G12.6, or the shortest exact text
// One value as " " + E12.6, appended.
void appendAscValue(std::string& out, float v);
// The same for a finite value, written at p (13 characters); returns the end.
char* formatAscValue(char* p, float v);

}  // namespace grid
