#pragma once
// The state of one run: the frame, the structure, the run settings, the set tables and the
// value list of the current cell. main builds one; tests build their own.
#include <cstdint>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "grid/griddesc.h"
#include "grid/gridsets.h"

namespace assign {

struct RunSettings {
  std::string storeType = "BIL";
  std::string storeName;
  bool indicateEmpty = false;
  std::string methodPerSet = "ALL-VALUES";
  std::string multipleBuffers = "CLOSEST";
  std::string runMethod = "AVERAGE";
  int32_t numberOfValues = 1;  // #VALUES of the run
};

enum class Related : uint8_t { Cell, Point };
inline const char* relatedText(Related r) { return r == Related::Cell ? "CELL " : "POINT"; }

// One candidate value of the current cell.
struct ValueRecord {
  float value = 0.0f;
  float distance = 0.0f;
  float weight = 0.0f;  // an area, 1.0, or -1.0 for an unweighted value
  Related related = Related::Cell;
  int32_t priority = 0;
};

// The current cell: corners lower-left, lower-right, upper-right, upper-left, and middle.
struct CellGeometry {
  float corners[8] = {};
  float middle[2] = {};
};

struct Run {
  Run(frame::Console& console, frame::Clock& clock, std::vector<std::string> args)
      : fr(console, clock, std::move(args)) {}
  frame::Frame fr;
  grid::Structure structure;
  RunSettings settings;
  grid::GridSets gridSets;
  std::vector<ValueRecord> values;  // the value list of the current cell
  CellGeometry cell;
  bool valuesFound = false;
};

// ADDAVALUE: appends a record; with first set the list is emptied first.
inline void ADDAVALUE(std::vector<ValueRecord>& list, const ValueRecord& record, bool& first) {
  if (first) {
    list.clear();
    first = false;
  }
  list.push_back(record);
}

// Reduces the value list to one value: the records of the highest priority present, combined
// by the run method. Unweighted records (-1.0) count as weight 1.
float combineValues(const std::vector<ValueRecord>& list, const RunSettings& settings, float nodata);

// CREATEGRID: the run driver. Returns err.
bool CREATEGRID(Run& run);
// ASSIGNINFORMATIONTOGRID: the cell loop. Returns err.
bool ASSIGNINFORMATIONTOGRID(Run& run);
// GETINFORMATION: the value of cell (i, j).
float GETINFORMATION(Run& run, int32_t i, int32_t j, bool& err);

}  // namespace assign
