#pragma once
// The state of one run: the frame, the structure, the run settings, the set tables and the
// value list of the current cell. main builds one; tests build their own.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "assign/provenance.h"
#include "assign/tablefeed.h"
#include "assign/zavstate.h"
#include "frame/frame.h"
#include "grid/griddesc.h"
#include "grid/grids.h"
#include "grid/gridsets.h"
#include "grid/writer.h"
#include "zav/zav.h"

namespace assign {

enum class RunMethod : uint8_t { Average, Maximum, Minimum, Majority, Minority };

struct RunSettings {
  std::string storeType = "BIL";  // BIL, ASC, TIF, or COG (a Cloud-Optimized GeoTIFF)
  std::string storeName;
  bool indicateEmpty = false;
  std::string methodPerSet = "ALL-VALUES";
  std::string multipleBuffers = "CLOSEST";
  std::string runMethod = "AVERAGE";
  int32_t numberOfValues = 1;  // #VALUES of the run
  // The words above as the cell loop tests them; set by derive().
  RunMethod method = RunMethod::Average;
  bool perSetAverage = false;
  bool allBuffers = false;
  void derive() {
    method = runMethod == "MAXIMUM"    ? RunMethod::Maximum
             : runMethod == "MINIMUM"  ? RunMethod::Minimum
             : runMethod == "MAJORITY" ? RunMethod::Majority
             : runMethod == "MINORITY" ? RunMethod::Minority
                                       : RunMethod::Average;
    perSetAverage = methodPerSet == "AVERAGE";
    allBuffers = multipleBuffers == "ALL-VALUES";
  }
};

enum class Related : uint8_t { Cell, Point };
inline const char* relatedText(Related r) {
  return r == Related::Cell ? "CELL " : "POINT";
}

// One candidate value of the current cell.
struct ValueRecord {
  float value = 0.0f;
  float distance = 0.0f;
  float weight = 0.0f;  // an area, 1.0, or -1.0 for an unweighted value
  Related related = Related::Cell;
  int32_t priority = 0;
};

// The current cell: corners lower-left, lower-right, upper-right, upper-left, and middle,
// relative to the structure's lower-left corner.
struct CellGeometry {
  float corners[8] = {};
  float middle[2] = {};
};

// The pieces of the current cell and set: overlap area and input value, in the order found.
struct IntersectionStore {
  std::vector<std::pair<float, float>> pieces;
  float overlapTotal = 0.0f;  // running total of the overlap, for the model-grid search
};

// One POINTFILE set: the points in file order, and where they can give values.
struct PointSet {
  int32_t count = 0;
  // The points relative to the structure's corner, subtracted in double precision from the
  // coordinates as read: all that the searches use, in the memory a single-precision point takes.
  std::vector<float> x, y;
  std::vector<float> value, radius;
  float nodata = -999.0f;
  float setRadius = -1.0f;  // -1: none
  int32_t priority = 0;
  bool buffered = false;
  // Prepared before the cell loop: per line of the structure (a row; a column when byColumn),
  // the (across, point) pairs of the cells a point may give a value to, across being the cell's
  // column in a row's list and its row in a column's, sorted by across and then by point, so
  // that a cell's points come in file order. Points whose buffer covers very many cells are
  // tried at every cell. A run that goes along columns (with models) has its lists by column,
  // so that the next cell's points are the next in memory.
  struct Entry {
    int32_t across;
    uint32_t point;
  };
  bool byColumn = false;
  std::vector<uint64_t> lineStart;
  // Sized unfilled: every place is written by the threads that place the entries, and a
  // zeroing first would fault in and clear the whole index on one thread.
  std::vector<Entry, grid::UnfilledAllocator<Entry>> entries;
  std::vector<uint32_t> everywhere;
  std::vector<float, grid::UnfilledAllocator<float>> entryValue;  // a set without buffers: each entry's point's value
  int64_t listLimit = 1 << 16;                                    // more candidate cells than this: tried everywhere
  bool exact = false;  // the entries are the answer (no buffers): no test at the cell
};

// One POLYGONFILE set is applied as soon as it is read when the structure is held whole;
// a run in bands keeps its polygons and applies them to each band.
enum class PolygonUse : uint8_t { Clear, Assign, Reset };
inline const char* polygonUseText(PolygonUse u) {
  return u == PolygonUse::Assign ? "ASSIGN" : u == PolygonUse::Clear ? "CLEAR" : "RESET";
}
// A polygon of a vector layer: its outer ring, its holes (each as x,y pairs without the
// closing vertex) and the value ASSIGN gives it.
struct PolygonShape {
  std::vector<float> outer;
  std::vector<std::vector<float>> holes;
  float value = 0.0f;
};

struct PolygonSet {
  std::vector<std::vector<float>> polygons;
  PolygonUse use = PolygonUse::Clear;
  float value = 0.0f;
  std::vector<PolygonShape> shapes;  // a vector layer's polygons, with their holes and values
  int32_t number = 0;                // its number among the run's sets
  int64_t cellsCovered = 0;          // where sources are recorded: the cells covered, band by band
};

// For one axis of the structure (its columns or its rows): per output cell along it, the input
// cells lo..hi it touches (lo > hi: none), where their overlaps start in `spans`, and the
// largest spread of those overlaps when every one is fit for the area product (-1 when one
// is not).
struct AxisPlan {
  std::vector<int32_t> lo, hi;
  std::vector<uint32_t> at;
  std::vector<grid::AxisOverlap> spans;
  std::vector<double> width;  // each span's length in double precision; 0 where it does not overlap
  std::vector<int8_t> fit;
};

// What a grid set not on the structure's grid needs, worked out once before the cell loop: per
// output column the input columns its cells touch, per output row the input rows. Cells of one
// output column share their x extent and cells of one row their y extent, so the two axis plans
// are exact for every cell.
struct GridSetPlan {
  int description = 0;
  bool cellSet = false;  // input values stand for whole input cells
  bool searchable = false;
  // The input grid relative to the structure's corner: its origin, and its extent.
  double x0 = 0, y0 = 0;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  AxisPlan cols, rows;                // CELL structure
  std::vector<int32_t> middleColumn;  // MIDDLE structure: input column of the middle, 0 outside
  std::vector<int32_t> middleRow;     // the same for rows
};

// The state that changes from cell to cell. The cell loop gives each thread its own; they
// are kept on cache lines of their own, as is the storage they write for every cell.
struct alignas(64) Worker {
  Worker() { values.reserve(256); }
  std::vector<ValueRecord> values;  // the value list of the current cell
  CellGeometry cell;
  grid::PolygonClipper clipper;
  IntersectionStore intersects;
  std::vector<float> collected;
  std::vector<uint32_t> points;  // candidate points of the current cell and point set
  // Per point set and line of its lists (a row, or a column): the cell across last asked for in
  // the line and the place in the line's list where its points begin. Cells come in order along
  // a line, and the next cell's points are a short step on.
  struct Cursor {
    int32_t across = INT32_MAX;
    size_t at = 0;
  };
  std::vector<std::vector<Cursor>> pointCursor;
  // Per Zav use: the search hint, the table line kept for a later cell, and what the use
  // found for the current cell.
  std::vector<ZavCellState> zav;
  std::vector<uint32_t> zavWalk;  // the model cells a CELL walk tries
  std::vector<uint32_t> zavMerge;
  std::vector<std::pair<float, float>> zavValued;  // a cell's valued pieces: value and area
  ZavColumn* column = nullptr;                     // set when the ordered pass has done this column's part
  bool foundAValue = false;                        // a cell it computed has a value other than NODATA
  std::vector<int64_t> reached;                    // per searched set: the cells it gave a value to
  std::vector<SetRun> setRuns;                     // the current cell's records by the set that gave them
  // Of the current cell's sets: the highest priority, the first set holding it, and how many do.
  int32_t topPriority = 0, topSet = 0, atTop = 0;
};

struct ZavBand;  // assign/zavspill.h

struct Run {
  Run(frame::Console& console, frame::Clock& clock, std::vector<std::string> args)
      : fr(console, clock, std::move(args)) {}
  Run(frame::Console& console, frame::Clock& clock, frame::FileSystem& files, std::vector<std::string> args)
      : fr(console, clock, files, std::move(args)) {}
  frame::Frame fr;
  grid::Structure structure;
  RunSettings settings;
  grid::GridSets gridSets;
  std::vector<PointSet> pointSets;
  std::vector<PolygonSet> polygonSets;  // kept for a run in bands
  zav::ZavState zav;
  std::vector<std::unique_ptr<frame::AtomicOutputFile>> tableFiles;  // per Zav use: TABLE-CREATE output
  std::vector<std::unique_ptr<zav::TableReader>> tableReaders;       // per Zav use: TABLE-USE input
  std::vector<std::unique_ptr<TableFeed>> tableFeeds;  // per Zav use: its table read ahead, while the cells are
  std::vector<GridSetPlan> gridPlans;                  // prepared by the cell loop
  bool needsGeometry = true;                           // some set searches by the cell's corners or middle
  Worker mainThreadWorker;                             // the worker of the thread that runs the cell loop
  bool computedValueFound = false;                     // a computed cell has a value (polygons' cells not counted)
  bool gridHasValues = false;                          // a cell of the output has a value, computed or put by a polygon
  Provenance provenance;                               // where the values came from, and the run report
  const ZavBand* zavGiven = nullptr;                   // a run in bands: what the model search found
};

// ADDAVALUE: appends a record; with first set the list is emptied first.
inline void ADDAVALUE(std::vector<ValueRecord>& list, const ValueRecord& record, bool& first) {
  if (first) {
    list.clear();
    first = false;
  }
  list.push_back(record);
}

// MAJORITY and MINORITY of the records of priority top, in list order.
float combineClasses(std::span<const ValueRecord> list, RunMethod m, int32_t top, float nodata);

// MAXIMUM (or MINIMUM) of values taken in order: the first, then each beyond the one kept.
inline void takeExtreme(bool max, double x, bool& started, double& result) {
  if (!started) {
    result = x;
    started = true;
  } else if (max ? x > result : x < result) {
    result = x;
  }
}

// Reduces the value list to one value: the records of the highest priority present, combined
// by the run method. Unweighted records (-1.0) count as weight 1. Inline: the cell loops
// call it for every cell.
[[gnu::always_inline]] inline float combineValues(std::span<const ValueRecord> list, const RunSettings& settings,
                                                  float nodata) {
  if (list.empty()) return nodata;
  const RunMethod m = settings.method;
  if (list.size() == 1 && list[0].weight != 0.0f) {
    // One value: every method gives the value itself (its class for the class methods).
    const float v = list[0].value;
    if (m == RunMethod::Average) {
      return std::fabs(static_cast<double>(v) - static_cast<double>(nodata)) < 0.0001 ? nodata : v;
    }
    if (m == RunMethod::Maximum || m == RunMethod::Minimum) return v;
  }
  if (m == RunMethod::Average) {
    // A record of a higher priority starts the combination afresh; equal ones join it.
    int32_t top = list[0].priority;
    double sum = 0.0, wsum = 0.0;
    for (const auto& r : list) {
      if (r.priority < top) continue;
      if (r.priority > top) {
        top = r.priority;
        sum = wsum = 0.0;
      }
      const double w = r.weight == -1.0f ? 1.0 : static_cast<double>(r.weight);
      sum += static_cast<double>(r.value) * w;
      wsum += w;
    }
    const double result = sum / wsum;
    if (std::fabs(result - static_cast<double>(nodata)) < 0.0001) return nodata;
    return static_cast<float>(result);
  }
  // Only the records of the highest priority present take part, in list order.
  int32_t top = list[0].priority;
  for (const auto& r : list) top = std::max(top, r.priority);
  if (m == RunMethod::Maximum || m == RunMethod::Minimum) {
    const bool max = m == RunMethod::Maximum;
    bool started = false;
    double result = 0.0;
    for (const auto& r : list) {
      if (r.priority == top) takeExtreme(max, r.value, started, result);
    }
    return static_cast<float>(result);
  }
  return combineClasses(list, m, top, nodata);
}

// Cell search in grids that are not the structure's grid, for the cell (i, j) whose geometry
// is in w.cell (the plans are per output column and row).
void SEARCHFORMIDDLEINRECTANGULAR(const Run& run, Worker& w, int32_t i, int32_t j, int set, bool& first);
void SEARCHFORCELLINRECTANGULAR(const Run& run, Worker& w, int32_t i, int32_t j, int set, bool& first);
// An averaged cell set (searchable, one value per set) along row j of a CELL structure.
class FittingRow {
 public:
  FittingRow() = default;
  FittingRow(const Run& run, int set, int32_t j);
  // For the cell of column i, whose corners run lower left, lower right, upper right, upper
  // left with x0 < x1 and y0 < y1: the value SEARCHFORCELLINRECTANGULAR gives it when the
  // overlaps of its input cells are all fit for the area product. 1: value set; 0: the set
  // gives the cell nothing; -1: some input cell must be clipped, the general search is needed.
  // Inline: the straight rows ask it of every cell.
  int average(int32_t i, float& value) const {
    const AxisPlan& cols = plan_->cols;
    const size_t ci = static_cast<size_t>(i - 1);
    const int32_t cLo = cols.lo[ci], cHi = cols.hi[ci];
    if (cLo > cHi || rLo_ > rHi_) return 0;
    const int colFit = cols.fit[ci];
    if (colFit < 0 || rowFit_ < 0 || colFit + rowFit_ > 2) return -1;
    // The pieces summed as they are found, in the order and with the arithmetic of
    // HANDLEINTERSECTS: input rows south first, columns west first; a piece's area is the
    // product of its width and height in double precision, rounded to single. A column that
    // does not overlap has no width, so no area.
    const double* width = cols.width.data() + cols.at[ci];
    double sum = 0.0, areaSum = 0.0;
    int64_t pieces = 0;
    for (const InputRow& in : rows_) {
      const double height = in.height;
      const float* row = in.values + (cLo - 1);
      for (int32_t c = 0; c <= cHi - cLo; ++c) {
        const float v = row[c];
        const float area = static_cast<float>(width[c] * height);
        if (!(std::fabs(v - nodata_) > 0.0001f) || !(area > 0.0f)) continue;
        sum += static_cast<double>(area) * v;
        areaSum += area;
        ++pieces;
      }
    }
    if (pieces < 1 || pieces < numberOfValues_) return 0;
    value = static_cast<float>(sum / areaSum);
    return 1;
  }
  // An input row the structure row overlaps: its values and the height of the overlap.
  struct InputRow {
    const float* values;
    double height;
  };

 private:
  const GridSetPlan* plan_ = nullptr;
  float nodata_ = 0.0f;
  int32_t numberOfValues_ = 0;
  int32_t rLo_ = 1, rHi_ = 0;
  int rowFit_ = -1;
  std::vector<InputRow> rows_;
};
void ADDINTERSECT(Worker& w, bool& storeFirst, float value);
// The second half of ADDINTERSECT: a piece of positive area joins the store.
inline void addPiece(Worker& w, bool& storeFirst, float area, float value) {
  if (!(area > 0.0f)) return;
  if (storeFirst) {
    w.intersects.pieces.clear();
    storeFirst = false;
  }
  w.intersects.pieces.emplace_back(area, value);
  w.intersects.overlapTotal += area;
}
// Whether pieces of area `total` cover more than 99.99 per cent of a cell of area `cell`, as
// total / cell * 100 > 99.99 in floats says. Below 99.985 per cent that cannot hold (the
// division and the product move the ratio by a float step each), so the division, the
// slowest step of a model cell's walk, is only made near the end.
inline bool coversTheCell(float total, float cell) {
  return total > static_cast<double>(cell) * 0.99985 && total / cell * 100.0f > 99.99f;
}
void HANDLEINTERSECTS(const Run& run, Worker& w, bool& first, int32_t priority, int32_t numberOfValues);

// Point sets.
[[nodiscard]] bool HANDLEPOINTFILE(Run& run, const std::string& line);
void ALLOCATEAPOINTFILE(Run& run);
void preparePointBins(Run& run);
bool POINTINCELL(const float cell[8], const PointSet& set, int32_t point);
bool BUFFERREACHESCELL(const float cell[8], const PointSet& set, int32_t point, float& distance);
void SEARCHFORCELLINPOINTS(const Run& run, Worker& w, int set, int32_t i, int32_t j, bool& first);
void SEARCHFORMIDDLEINPOINTS(const Run& run, Worker& w, int set, int32_t i, int32_t j, bool& first);

// Polygon sets: read a POLYGONFILE line and apply its polygons to the structure at once.
[[nodiscard]] bool HANDLEPOLYGONFILE(Run& run, const std::string& line);
// Applies the polygons in order, as the polygons of a generate file are, to the rows
// rowFrom..rowTo held; a cell middle or corner in a hole (or on its border) is outside the
// polygon.
void applyPolygonShapes(Run& run, const std::vector<PolygonShape>& shapes, PolygonUse use, int32_t rowFrom,
                        int32_t rowTo);
// POINTFILE and POLYGONFILE lines that name a vector layer (GDAL): the named items LAYER=,
// VALUE= or RADIUS=, or the file name of a vector format.
bool namesVectorLayer(frame::Frame& fr, const std::string& line, const std::string& name);
[[nodiscard]] bool handleVectorPointFile(Run& run, const std::string& line, const std::string& name);
[[nodiscard]] bool handleVectorPolygonFile(Run& run, const std::string& line, const std::string& name);
// Applies the kept polygon sets, in order, to the rows rowFrom..rowTo of the structure held.
void applyPolygonSets(Run& run, int32_t rowFrom, int32_t rowTo);
// Whether anything after the polygon files reads the structure's mask: the cell loop of a
// structure held in bands or with a set to compute, and the account of the rows when sources
// are recorded or a picture is drawn. Without a reader the polygons write the values alone.
bool polygonsKeepMask(const Run& run);
// Whether a polygon covers a point: POINTINPOLYGON for a convex polygon, for any other simple
// polygon a test that is exact for it; the border counts. Fewer than three vertices cover
// nothing.
bool polygonCovers(const std::vector<float>& polygon, float px, float py);
// The same for every sample point (xs[k], ys[j]) at once, row after row, as APPLYPOLYGON finds
// them (spacing: the distance between samples).
std::vector<uint8_t> polygonCoverage(const std::vector<float>& polygon, const std::vector<float>& xs,
                                     const std::vector<float>& ys, float spacing);

// TERVALAGRIDCREATE: start-up, structure, run driver and shutdown. Returns the exit status of a
// run that was not stopped: 0 for success, 2 when a step reported an error (the listing says which).
int TERVALAGRIDCREATE(Run& run);
// CREATEGRID: the run driver. Returns err.
[[nodiscard]] bool CREATEGRID(Run& run);
// ASSIGNINFORMATIONTOGRID: the cell loop. It decides the order and the memory: the whole
// structure at once, or bands of rows north to south; it hands the rows to `out` in output
// order, to be completed by the caller with finish(). Returns err.
[[nodiscard]] bool ASSIGNINFORMATIONTOGRID(Run& run, grid::GridWriter& out);
// Works out the grid-set plans; the cell loop calls it, tests may too.
void prepareGridPlans(Run& run);
// GETINFORMATION: the value of cell (i, j). A fatal finding throws frame::Failure.
float GETINFORMATION(const Run& run, Worker& w, int32_t i, int32_t j);

}  // namespace assign
