#pragma once
#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

// When the rows held are filled: before the call returns, or beside the main thread (s.work),
// which then settles before it touches them.
enum class Fill { Now, Beside };
// GETTERVALAGRIDSTRUCTURE: reads the STRUCTURE block and allocates the output grid filled
// with NODATA, every cell to be computed, unless the run works in bands of rows (a tile, a
// band height, or a structure beyond the memory bound). Returns err: true when the run must stop.
[[nodiscard]] bool GETTERVALAGRIDSTRUCTURE(frame::Frame& fr, Structure& s, Fill fill = Fill::Now);
// Holds rows lo..hi of the structure, filled with NODATA, every cell to be computed (the
// assignMask empty). False when the memory cannot be had.
bool holdStructureRows(Structure& s, int32_t lo, int32_t hi, Fill fill = Fill::Now);
// Makes the assignMask of the rows held, every cell to be computed, unless it is there: a
// polygon is about to take cells. Throws std::bad_alloc when the memory cannot be had.
void holdMask(Structure& s, Fill fill = Fill::Now);
// The rows of tile k of n, north first: tile 1 is the northernmost band of rows.
void tileRows(int32_t nrows, int32_t k, int32_t n, int32_t& top, int32_t& bottom);
// The lines that say what the memory bound is and how to change it, for memory messages.
std::vector<std::string> memoryAdvice(const frame::Frame& fr, const Structure& s);

// The six header lines of an ASC grid: ncols, nrows, x and y of the corner (a centre is
// moved half a cell to the corner), cell size and NODATA.
struct AscHeader {
  int32_t ncols = 0, nrows = 0;
  double xll = 0.0, yll = 0.0, cellsize = 1.0;
  float nodata = -999.999f;
  bool xCentre = false, yCentre = false;
  std::string badLine;  // the header line whose number could not be read
};
enum class AscHeaderResult { Ok, TooShort, NotSixLines, NotANumber };
// Only the second item of each line counts; the first must be a keyword, so that a file
// whose header lacks a line (a NODATA_value, say) is refused instead of read wrongly. A
// nodata_value of NaN (as GDAL writes for float grids) is kept as NaN.
AscHeaderResult readAscHeader(frame::Frame& fr, const std::vector<std::string>& lines, AscHeader& h);
// The message lines for a header that could not be read.
std::vector<std::string> ascHeaderMessage(AscHeaderResult r, const std::string& what, const AscHeader& h);

}  // namespace grid
