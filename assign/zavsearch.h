#pragma once
// Zav uses in the cell loop: the table check of the driver, the preparation before the cell
// loop and the searches that carry the model's values onto the output cells. A fatal finding
// in a search throws frame::Failure.
#include <cmath>
#include <cstdint>
#include <vector>

#include "assign/run.h"
#include "assign/zavstate.h"
#include "zav/zav.h"

namespace assign {

// The table check: which use owns the table file it writes or reads, and the files opened.
// Returns err.
[[nodiscard]] bool checkZavTables(Run& run);
void prepareZavUses(Run& run);
void SEARCHFORMIDDLEINZAV(const Run& run, Worker& w, int use, int32_t i, int32_t j, bool& first);
void SEARCHFORCELLINZAV(const Run& run, Worker& w, int use, int32_t i, int32_t j, bool& first);
// GETCELL: the model cell holding the point, from the hint in h; on success h holds it.
bool GETCELL(const Run& run, const zav::ZavUse& u, const float p[2], ZavCellState& h);
// The part of the model searches that depends on the order of the cells (the hint, the tables
// read), for one output column in that order; s keeps the hints and kept lines from column to
// column. A fatal finding throws frame::Failure.
// mask: the column's cells to compute, rows 1..nrows, when the structure is not held whole.
// A column searched ahead (out.searchedAhead) is checked against the hint the pass brings.
void orderedZavColumn(const Run& run, int32_t i, ZavColumn& out, std::vector<ZavCellState>& s,
                      const uint8_t* mask = nullptr);
// Whether use k takes the findings of another use whose table it shares.
inline bool sharesTable(const zav::ZavUse& u, size_t k) {
  return u.tableOwner >= 1 && u.tableOwner - 1 != static_cast<int>(k);
}
// The record a middle gets from a model cell of the given segment: the segment's value,
// unless the segment has none or its value is the use's exclusion value (then false).
inline bool segmentRecord(const zav::ZavUse& u, int32_t segment, ValueRecord& rec) {
  if (segment < 1 || static_cast<size_t>(segment) > u.segmentValues.size()) return false;
  const float value = u.segmentValues[static_cast<size_t>(segment - 1)];
  if (!(std::fabs(value - u.exclusion) > 0.0001f)) return false;
  rec.value = value;
  rec.distance = 0.0f;
  rec.weight = 1.0f;
  rec.related = Related::Point;
  rec.priority = u.priority;
  return true;
}
// Whether a use's middles may be searched ahead of the ordered pass: a structure of middles and
// a use that looks for the cell holding each middle (no table read, none shared).
bool searchableAhead(const Run& run, size_t use);
// Searches the middles of column i for the uses searchableAhead allows, as the ordered pass
// would but from a fresh hint, into out (found, aheadEnd), so that the ordered pass only needs
// to check the column's first rows against the hint it brings from the column before.
void searchColumnAhead(const Run& run, int32_t i, ZavColumn& out, const uint8_t* mask = nullptr);

}  // namespace assign
