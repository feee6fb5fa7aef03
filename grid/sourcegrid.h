#pragma once
// The source grid: per cell of the structure, the number of the set that gave its value.
#include <string>

#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

// Writes Structure::source on the structure's grid: type "ASC" (integers), "BIL" (signed
// integers of bits 16 or 32, with an HDR header) or "TIF" (a GeoTIFF of such integers). Code 0
// (NODATA) is the files' no-data value; sync forces the files to the disk. Returns 0 or the
// error number; failedName is the file that could not be written, reason GDAL's word on it
// (a GeoTIFF only).
int writeSourceGrid(const Structure& s, const std::string& type, const std::string& name, int bits, bool sync,
                    std::string& failedName, std::string& reason);

}  // namespace grid
