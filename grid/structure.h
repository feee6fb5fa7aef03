#pragma once
#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

// GETTERVALAGRIDSTRUCTURE: reads the STRUCTURE block and allocates the output grid filled
// with NODATA and an all-true assignMask. Returns err: true when the run must stop.
bool GETTERVALAGRIDSTRUCTURE(frame::Frame& fr, Structure& s);

// The six header lines of an ASC grid: ncols, nrows, x and y of the corner (a centre is
// moved half a cell to the corner), cell size and NODATA.
struct AscHeader {
  int32_t ncols = 0, nrows = 0;
  double xll = 0.0, yll = 0.0, cellsize = 1.0;
  float nodata = -999.999f;
  bool xCentre = false, yCentre = false;
};
enum class AscHeaderResult { Ok, TooShort, NotSixLines };
// Only the second item of each line counts; the first must be a keyword, so that a file
// whose header lacks a line (a NODATA_value, say) is refused instead of read wrongly.
AscHeaderResult readAscHeader(frame::Frame& fr, const std::vector<std::string>& lines, AscHeader& h);
// The message lines for a header that could not be read.
std::vector<std::string> ascHeaderMessage(AscHeaderResult r, const std::string& what);

}  // namespace grid
