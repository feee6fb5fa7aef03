#pragma once
// Grid input sets: the rasters of the TERVALAGRID lines.
#include <cstdint>
#include <memory>
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

// Where the values of a grid are read again when the run does not keep them: the cell loop
// asks for the rows each band of the structure needs, north to south.
struct RowStream;
struct GdalRowStream;
struct GridSource {
  bool kept = true;  // the values are held whole
  bool asc = false;  // ASC (read on from where the last band ended) or BIL (by seeking)
  bool sixteenBit = false;
  bool nanNodata = false;  // an ASC file whose NaN cells are missing values
  std::string path, dataName;
  std::shared_ptr<RowStream> stream;  // opened at the first band
  // A TIF or GDAL raster is read again through GDAL (grid/gdalgrids.cpp), whose reader holds
  // the decoded blocks of the rows asked for last: cacheBytes at most.
  std::shared_ptr<GdalRowStream> gdalStream;
  uint64_t cacheBytes = 0;
};

struct GridSets {
  std::vector<GridSet> sets;
  std::vector<GridDescription> descriptions;
  std::vector<GridSource> sources;  // one per description
  bool sixteenBit = false;          // the last BIL raster read had 16 bits per value
  // Bytes of values the sets may hold whole, all together; beyond it a set is checked as it is
  // read and read again in bands of rows. keptBytes counts what is held.
  uint64_t keepLimit = UINT64_MAX;
  uint64_t keptBytes = 0;
};

// Holds rows lo..hi (lo <= hi) of a grid that is not kept whole in its values, reading what the
// rows held before do not give; rows are asked for north to south. Returns err.
[[nodiscard]] bool loadGridRows(frame::Frame& fr, GridSets& g, int description, int32_t lo, int32_t hi);
// The start of a new window of rows lo..hi of set d read band by band: the rows held before move
// to held (heldLo..heldHi, empty when heldHi < heldLo) so that those the window shares are
// copied, not read again; d.values is made room for the window. Returns err.
[[nodiscard]] bool startRowWindow(frame::Frame& fr, GridDescription& d, CellValues& held, const std::string& dataName,
                                  int32_t lo, int32_t hi, int32_t& heldLo, int32_t& heldHi);

// HANDLETERVALAGRID: reads one TERVALAGRID line and its raster. Returns err.
[[nodiscard]] bool HANDLETERVALAGRID(frame::Frame& fr, const Structure& s, GridSets& g, const std::string& runMethod,
                                     const std::string& line, int lineCount);
bool EQUALSBASICSTRUCTURE(const Structure& s, const GridDescription& d);
// The check of MAJORITY and MINORITY: NODATA or a non-negative whole number.
bool integralValue(float v, float nodata);
// The grid's corners within the coordinate range of the plane geometry.
bool withinCoordinateLimit(const GridDescription& d);
// PARWHERE: the number of the first item of the line that contains name (0 when none).
int PARWHERE(std::string_view name, std::string_view line);

}  // namespace grid
