#pragma once
// What the model searches keep while the cell loop runs: per Zav use and worker, the search
// hint and the table line kept for a later cell; per output column, what the ordered pass found.
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace assign {

// Per Zav use: the search hint, a table line kept for a later cell, and what the use found
// for the current cell (for the uses that share its table).
struct ZavCellState {
  int32_t hintN = 0, hintM = 0;
  bool hintFound = false;
  bool kept = false;
  std::string line;  // the table line read last
  int32_t keptColumn = 0, keptRow = 0, keptSegment = 0;
  float keptArea = 0.0f;
  bool found = false;                             // MIDDLE: a model cell holds the middle
  std::vector<std::pair<int32_t, float>> pieces;  // segment number and overlap area
  // The CELL walk's start for the cell's X minimum tried last, and its X buckets for the X
  // range tried last: a column's cells share them.
  float walkX0 = std::numeric_limits<float>::quiet_NaN();
  size_t walkFrom = 0;
  float bucketX0 = std::numeric_limits<float>::quiet_NaN(), bucketX1 = 0.0f;
  int32_t walkBx0 = 0, walkBx1 = 0;
  // Per output row, its lower and upper Y and their buckets as last found: every column meets
  // the same rows, and the bucket is a division away.
  struct RowBuckets {
    float y0 = std::numeric_limits<float>::quiet_NaN(), y1 = 0.0f;
    int32_t by0 = 0, by1 = 0;
  };
  std::vector<RowBuckets> rowBuckets;
  // The walk for the X range, walk start and Y buckets tried last: the model cells that meet
  // the range in X, with their Y ranges.
  struct WalkCell {
    uint32_t pos;
    float ymin, ymax;
  };
  std::vector<WalkCell> columnWalk;
  float columnX0 = std::numeric_limits<float>::quiet_NaN(), columnX1 = 0.0f;
  size_t columnFrom = 0;
  int32_t columnBy0 = 0, columnBy1 = 0;
};

// What the one ordered pass of a run with model uses found for one output column: per use, the
// model cell that holds each middle (scan index, -1 none) and what a TABLE-USE table gives per
// cell, and the TABLE-CREATE lines the column writes, kept until the columns before it are
// written.
struct ZavColumn {
  int32_t column = 0;
  int32_t rowsOrdered = 0;  // the rows done, all of them unless a table line stopped the pass
  std::vector<std::vector<int32_t>> found;
  std::vector<std::vector<uint8_t>> tableFound;
  std::vector<std::vector<int32_t>> tableSegment;
  std::vector<std::vector<uint32_t>> pieceStart;  // per row, into pieces
  std::vector<std::vector<std::pair<int32_t, float>>> pieces;
  std::vector<std::string> out;
  // A column whose middles a worker searched ahead, from a hint of its own (see
  // searchColumnAhead): per use, the hint after its last row.
  bool searchedAhead = false;
  std::vector<size_t> rowUses;  // the uses the ordered pass takes row by row
  struct Hint {
    int32_t n = 0, m = 0;
    bool found = false;
  };
  std::vector<Hint> aheadEnd;
};

}  // namespace assign
