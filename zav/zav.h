#pragma once
// Results of the water-quality model: the LGA, CCO and MAP files, the Zav objects that join
// one of each, and the Zav uses that turn an object's parameter into an input set.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/files.h"
#include "grid/bigblocks.h"

namespace zav {

// Segment numbers of the model's curvilinear grid, N x M, the first index fastest.
struct LgaFile {
  std::string id, fileName;
  int32_t m = 0, n = 0;
  int32_t item3 = 0, item4 = 0;
  int32_t items5to7[3] = {0, 0, 0};
  int32_t segmentsPerLayer = 0;
  int32_t smallestPositive = 100000;
  int32_t largestNegative = -100000;
  int32_t smallestNegative = 0;
  std::vector<int32_t> grid;
  int32_t at(int32_t in, int32_t im) const {
    return grid[static_cast<size_t>(im - 1) * static_cast<size_t>(n) + static_cast<size_t>(in - 1)];
  }
};

// Coordinates of the grid points, N x M, the first index fastest; 0.0 marks an absent point.
struct CcoFile {
  std::string id, fileName;
  int32_t m = 0, n = 0;
  int32_t items3to5[3] = {0, 0, 0};
  int32_t p = 0;
  int32_t item7 = 0;
  std::vector<float> extra;
  std::vector<float> x, y;
  float xmin = 0.0f, ymin = 0.0f, xmax = 0.0f, ymax = 0.0f;
  float xAt(int32_t in, int32_t im) const {
    return x[static_cast<size_t>(im - 1) * static_cast<size_t>(n) + static_cast<size_t>(in - 1)];
  }
  float yAt(int32_t in, int32_t im) const {
    return y[static_cast<size_t>(im - 1) * static_cast<size_t>(n) + static_cast<size_t>(in - 1)];
  }
};

// A MAP file stays open: its values are read when the cell loop needs them.
struct MapFile {
  std::string id, fileName;
  std::string heading[4];
  int32_t np = 0, ns = 0;
  int32_t layers = 0;
  int32_t timeBlocks = 0;
  int unit = -1;
  std::vector<std::string> names;
  std::vector<int32_t> timeStamps;
  uint64_t dataStart = 0;
  std::shared_ptr<frame::BinaryInputFile> file;
};

struct ZavFiles {
  std::vector<LgaFile> lga;
  std::vector<CcoFile> cco;
  std::vector<MapFile> map;
};

struct ZavObject {
  std::string lgaId, ccoId, mapId, objectId;
  int lgaNr = -1, ccoNr = -1, mapNr = -1;
};

// The corners of a model cell: (n, m), (n-1, m), (n-1, m-1), (n, m-1).
struct CellCorners {
  float corners[8] = {};
  bool valid = false;
  float area = 0.0f;
};

// A valid model cell of a use, as the cell searches walk them. No member has a default: a
// use's cells are sized unfilled and every member is written as each cell is collected.
struct ZavCell {
  float corners[8];
  float xmin, xmax, ymin, ymax;
  int32_t n, m;
  float big;     // the largest magnitude among the corners' coordinates
  int8_t turn;   // grid::quadTurn of the corners: 0 unless plainly convex (such a cell is always clipped)
  bool limited;  // grid::coordinatesLimited of the corners
};

// What a model value stands for: a whole model cell (CELL), or the model cell's grid point
// (GRID-POINT).
enum class UseRelated : uint8_t { Cell, GridPoint };
// What a use does with its table file: none, writes it (TABLE-CREATE) or reads it (TABLE-USE).
enum class TableMode : uint8_t { None, Create, Use };

// One USE-ZAV-OBJECT line.
struct ZavUse {
  UseRelated related = UseRelated::Cell;
  int32_t priority = 0;
  int32_t parameterIndex = -1;
  float exclusion = -999.0f;
  int32_t numberOfValues = 0;
  std::vector<float> segmentValues;
  std::string objectId;
  std::string parameterName;
  TableMode tableMode = TableMode::None;
  std::string tableName;
  int tableUnit = -1;
  int tableOwner = -1;  // from 1
  // Prepared by the cell loop.
  int object = -1, lgaNr = -1, ccoNr = -1, mapNr = -1;
  int32_t n = 0, m = 0;
  float extent[4] = {};                                          // X minimum, X maximum, Y minimum, Y maximum
  std::vector<ZavCell, grid::UnfilledAllocator<ZavCell>> cells;  // the valid cells, ascending by X minimum
  std::vector<float> cellXmin;                                   // their X minima, for the binary search of the walk
  float widestCell = 0.0f;
  // A bucket grid over the extent: for every bucket the valid cells that may hold a point in
  // it (walkBucket, by position in cells), and the valid grid points with segments in it.
  int32_t bucketsX = 0, bucketsY = 0;
  float bucketOrigin[2] = {}, bucketSize[2] = {1.0f, 1.0f};
  std::vector<uint32_t> pointBucketStart, pointBucketItems;  // items: scan index of a grid point
  std::vector<int32_t> validScan;  // per scan index (n-2)*(M-1)+(m-2): position in cells, -1 when not valid
  // For a structure of middles and a CELL use, per scan index of a valid cell its segment
  // number (0 elsewhere): what the workers look up for the cells found ahead.
  std::vector<int32_t> scanSegment;
  // Per bucket the positions in cells of the cells whose box touches it, for the CELL walk.
  std::vector<uint32_t> walkBucketStart, walkBucketItems;
};

// Reads a table file of TABLE-USE line by line.
using TableReader = frame::LineReader;

struct ZavState {
  ZavFiles files;
  std::vector<ZavObject> objects;
  std::vector<ZavUse> uses;
};

}  // namespace zav
