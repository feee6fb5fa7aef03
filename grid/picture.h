#pragma once
// Quick-look pictures of a run as PNG: the structure's values on a colour ramp with a legend
// (NODATA cells transparent), and the source grid in one colour per set with the sets' names.
#include <cstdint>
#include <string>
#include <vector>

#include "grid/griddesc.h"

namespace grid {

// An RGBA image, north row first.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

// One entry of the source picture's legend: a code of the source grid and its text.
struct SourceLegendEntry {
  int32_t code = 0;
  std::string text;
};

// The values of the structure: every cell coloured on a ramp from the lowest to the highest
// value, NODATA cells transparent, a legend of the ramp and the title above the map.
Picture drawValues(const Structure& s, const std::string& title);
// The source grid (one code per cell, as Structure::source): one colour per set, code 0
// (NODATA) transparent, the legend listing the entries given.
Picture drawSources(const Structure& s, const std::vector<SourceLegendEntry>& legend, const std::string& title);
// The colour of a source code in drawSources (red, green, blue).
void sourceColour(int32_t code, uint8_t rgb[3]);

// The picture as PNG bytes; empty when libpng failed.
std::vector<uint8_t> encodePng(const Picture& p);
// Writes the picture as a PNG file, complete or not at all. 0 or the error number.
int writePng(const Picture& p, const std::string& fileName, bool sync);

}  // namespace grid
