#pragma once
#include <string>

#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

// WRITEINFORMATIONTOGRID: writes the structure as ASC, as BIL with its HDR header, or as a
// GeoTIFF (TIF, or COG for a Cloud-Optimized GeoTIFF).
// With indicateEmpty and no value found the name gets the marker "_EMPTY". Returns err.
bool WRITEINFORMATIONTOGRID(frame::Frame& fr, const Structure& s, const std::string& fileType,
                            const std::string& fileName, bool indicateEmpty, bool valuesFound);

// Number texts of the output headers (shared with the tests).
std::string ascHeaderNumber(float v, int w, int d);   // Fw.d, or the shortest exact text
std::string hdrRealNumber(double v);                  // integer, G12.6, or the shortest exact text
// One value as " " + E12.6, appended.
void appendAscValue(std::string& out, float v);

}  // namespace grid
