#pragma once
#include <string>

#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

// SETSEPARATOR: every run of blanks in the line becomes one separator.
void SETSEPARATOR(std::string& line, char separator);
// READBILHDR: reads and checks the HDR file of a BIL raster. label "STRUCTURE" makes
// NODATA optional. Returns only when the header passed every check; otherwise the run
// stops with code 100 after the report.
BilHeader READBILHDR(frame::Frame& fr, const std::string& name, const std::string& label);

}  // namespace grid
