#pragma once
// The description of one raster grid: the structure (the output grid) and every grid set.
#include <cstdint>
#include <string>
#include <vector>

#include "grid/bigblocks.h"

namespace grid {

// What a grid's values stand for: the whole cell, or the point in its middle.
enum class ValuesAt : uint8_t { Cell, Middle };

// Column 1 is the westernmost column and row 1 the southernmost row. Values are stored
// column-fastest: cell (c, r) at (r-rowLow)*ncols + (c-1), so a row is contiguous. A grid held
// whole has rowLow 1; a run in bands holds only the rows rowLow.. of the band in `values`.
struct GridDescription {
  ValuesAt valuesType = ValuesAt::Middle;
  std::string gridKind = "BASIC";  // "BASIC" regular grid, "AXIS " explicit axes
  // Positions in double precision: a corner of millions of map units keeps its decimals.
  double xll = 0.0, yll = 0.0;
  double dx = 1.0, dy = 1.0;
  float nodata = -999.999f;
  int32_t ncols = 0, nrows = 0;
  int32_t priority = 0;
  int32_t numberOfValues = 0;  // the set's #VALUES
  bool sameGeometry = false;
  std::vector<double> xAxis, yAxis;  // ncols+1 and nrows+1 boundaries of an AXIS grid
  CellValues values;                 // written in full by whoever sizes them
  int32_t rowLow = 1;                // the southernmost row held in values

  bool cellValues() const { return valuesType == ValuesAt::Cell; }
  // The kind of grid holds one of a few words; their first letters tell them apart.
  bool axisGrid() const { return gridKind[0] == 'A'; }
  bool basicGrid() const { return gridKind[0] == 'B'; }

  size_t index(int32_t c, int32_t r) const {
    return static_cast<size_t>(r - rowLow) * static_cast<size_t>(ncols) + static_cast<size_t>(c - 1);
  }
  float at(int32_t c, int32_t r) const { return values[index(c, r)]; }
  float& at(int32_t c, int32_t r) { return values[index(c, r)]; }
};

// The output grid with its mask and the header copy the writer uses.
//
// Every search works in single precision on positions relative to the structure's lower-left
// corner: the subtraction is made in double precision, so that the geometry keeps its full
// precision wherever on the map the structure lies (a northing of 5.8 million leaves a float
// only half a metre of resolution, the distance from the corner keeps millimetres).
struct Structure {
  GridDescription grid;
  // 1 where a value is to be computed, 0 where a polygon took the cell. Empty while no polygon
  // has touched the rows held: every cell is computed (holdMask makes it when one does).
  CellMask assignMask;
  // Per cell, beside the values, where the value came from: the number of the set that gave
  // it, 0 for NODATA, -1 for several sets combined, -2 for a cell cleared by a polygon.
  // Empty unless the run records its sources.
  std::vector<int32_t> source;
  // The first fill of the rows held (and of the mask, when a polygon file asks for it), running
  // while the sets are read: settle() before values or assignMask are touched.
  BlockWork work;
  double cellsize = 1.0;
  float nodataOut = -999.999f;  // the no-data value written
  std::string fileType;         // "BIL", "ASC", "TIF" or "GDAL" when a FILE line was given
  // The coordinate reference system: the ESRI-style WKT written beside every output (empty:
  // none known), its name and where it came from, for the listing.
  std::string crsWkt, crsName, crsSource;
  // Whether values and assignMask hold every row. When they do not, the cell loop holds one
  // band of rows at a time (grid.rowLow and up) and applies the polygon sets to each band.
  bool whole = true;
  int32_t tileNumber = 0, tileCount = 0;  // TILE=k/n: this run computes tile k of n; 0: all
  uint64_t memoryBound = 0;               // bytes the grids may take; 0: no bound known

  // Whether cell k of the rows held is to be computed, and the mask's cells (null: all are).
  bool computes(size_t k) const { return assignMask.empty() || assignMask[k] != 0; }
  const uint8_t* maskCells() const { return assignMask.empty() ? nullptr : assignMask.data(); }

  // A position relative to the corner.
  float relX(double x) const { return static_cast<float>(x - grid.xll); }
  float relY(double y) const { return static_cast<float>(y - grid.yll); }
  // The right (upper) edge of column (row) k relative to the corner; k = 0 is the left (lower)
  // edge of the grid. Columns and rows have the same edges: the cells are square.
  float edge(int64_t k) const { return static_cast<float>(static_cast<double>(k) * cellsize); }
  // The middle of column (row) k relative to the corner.
  float middle(int64_t k) const { return static_cast<float>((static_cast<double>(k) - 0.5) * cellsize); }
};

// The header of a band-interleaved-by-line raster, with its "not given" marks.
struct BilHeader {
  // ULXMAP and ULYMAP hold this mark until the header gives them.
  static constexpr double kNotGiven = static_cast<double>(-1.76758f);
  int32_t nrows = -1, ncols = -1, nbands = 1, nblocks = 1, nbits = 32;
  int32_t bandRowBytes = -1, totalRowBytes = -1, bandGapBytes = 0;
  double ulxmap = kNotGiven, ulymap = kNotGiven;
  double xdim = -1.0, ydim = -1.0;
  float nodata = -798.0f;
  std::string byteOrder = "I";
  std::string layout = "BIL";

  bool nodataGiven() const;
  bool positionGiven() const;
};

}  // namespace grid
