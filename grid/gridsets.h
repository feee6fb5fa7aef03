#pragma once
// Grid input sets: the rasters of the TERVALAGRID lines.
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

struct GridSet {
  std::string kind = "RECTANGULAR";
  int description = 0;  // index into GridSets::descriptions
};

struct GridSets {
  std::vector<GridSet> sets;
  std::vector<GridDescription> descriptions;
  bool sixteenBit = false;  // the last BIL raster read had 16 bits per value
};

// HANDLETERVALAGRID: reads one TERVALAGRID line and its raster. Returns err.
bool HANDLETERVALAGRID(frame::Frame& fr, const Structure& s, GridSets& g, const std::string& runMethod,
                       const std::string& line, int lineCount);
bool EQUALSBASICSTRUCTURE(const Structure& s, const GridDescription& d);
// The check of MAJORITY and MINORITY: NODATA or a non-negative whole number.
bool integralValue(float v, float nodata);
// The grid's corners within the coordinate range of the plane geometry.
bool withinCoordinateLimit(const GridDescription& d);
// PARWHERE: the number of the first item of the line that contains name (0 when none).
int PARWHERE(std::string_view name, std::string_view line);

}  // namespace grid
