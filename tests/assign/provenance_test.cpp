#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "assign/run.h"

using namespace assign;

namespace {
// A candidate value and the set (in the cell loop's order) that gave it.
struct Tagged {
  ValueRecord r;
  int32_t set;
};
Tagged rec(float v, int32_t set, int32_t p = 0, float w = 1.0f) {
  ValueRecord r;
  r.value = v;
  r.weight = w;
  r.priority = p;
  return {r, set};
}
// The value the run method gives, and the set the source grid names for it. Consecutive
// records of one set are one run, as the cell loop records them.
int32_t winner(const std::string& method, const std::vector<Tagged>& tagged) {
  RunSettings s;
  s.runMethod = method;
  s.derive();
  std::vector<ValueRecord> list;
  std::vector<SetRun> runs;
  for (const auto& t : tagged) {
    if (runs.empty() || runs.back().set != t.set) runs.push_back({t.set, static_cast<uint32_t>(list.size()), 0});
    list.push_back(t.r);
    runs.back().end = static_cast<uint32_t>(list.size());
  }
  const float v = combineValues(list, s, -9999.0f);
  return winningSet(list, runs, s, v);
}
}  // namespace

TEST(SourceOfAValue, OnlyTheWinningPriorityCountsAndSeveralSetsAreCombined) {
  // A set of a higher priority wins wherever it stands in the list.
  EXPECT_EQ(winner("AVERAGE", {rec(1, 0, 0), rec(2, 1, 5), rec(3, 2, 0)}), 1);
  EXPECT_EQ(winner("AVERAGE", {rec(2, 1, 5), rec(1, 0, 0)}), 1);
  // Many values of one set are that set; two sets of one priority averaged are combined.
  EXPECT_EQ(winner("AVERAGE", {rec(1, 3), rec(2, 3), rec(3, 3)}), 3);
  EXPECT_EQ(winner("AVERAGE", {rec(1, 3), rec(2, 4)}), kSourceCombined);
  EXPECT_EQ(winner("AVERAGE", {rec(1, 3, 1), rec(5, 3, 1), rec(2, 4, 0)}), 3);
  // One value: its set, whatever the method.
  for (const char* m : {"AVERAGE", "MAXIMUM", "MINIMUM", "MAJORITY", "MINORITY"})
    EXPECT_EQ(winner(m, {rec(4, 7)}), 7) << m;
}

TEST(SourceOfAValue, ExtremesAndClassesNameTheSetsThatHeldThem) {
  // MAXIMUM and MINIMUM: the set holding the kept value; on a tie the first, as the method keeps it.
  EXPECT_EQ(winner("MAXIMUM", {rec(5, 0), rec(7, 1)}), 1);
  EXPECT_EQ(winner("MAXIMUM", {rec(8, 0), rec(8, 1)}), 0);
  EXPECT_EQ(winner("MINIMUM", {rec(5, 0), rec(7, 1)}), 0);
  EXPECT_EQ(winner("MAXIMUM", {rec(9, 0, 0), rec(7, 1, 1)}), 1);
  // MAJORITY: the sets whose values fall in the chosen class; MINORITY alike.
  EXPECT_EQ(winner("MAJORITY", {rec(2, 0), rec(2.5f, 1), rec(3, 2)}), kSourceCombined);
  EXPECT_EQ(winner("MAJORITY", {rec(2, 0), rec(2.5f, 0), rec(3, 2)}), 0);
  EXPECT_EQ(winner("MAJORITY", {rec(3, 0), rec(2, 0), rec(2, 1), rec(2, 1)}), kSourceCombined);
  EXPECT_EQ(winner("MAJORITY", {rec(3, 0), rec(3, 0), rec(2, 1), rec(4, 2)}), 0);
  EXPECT_EQ(winner("MAJORITY", {rec(4, 0), rec(3, 1)}), 1);  // tie: the lowest class
  EXPECT_EQ(winner("MINORITY", {rec(2, 0), rec(2, 1), rec(3, 2)}), 2);
}

TEST(SetNumbers, FollowTheCommandFileWhateverTheKind) {
  Provenance pv;
  auto add = [&](SetKind k, size_t line) {
    SetRecord s;
    s.kind = k;
    s.line = line;
    pv.sets.push_back(s);
  };
  // Read as the driver reads them: grids, points, model uses, then polygon files.
  add(SetKind::Grid, 20);
  add(SetKind::Grid, 12);
  add(SetKind::Points, 15);
  add(SetKind::Model, 30);
  // A polygon file on line 10 comes before all of them, one on line 25 after three.
  EXPECT_EQ(pv.numberAt(10), 1);
  add(SetKind::Polygons, 10);
  EXPECT_EQ(pv.numberAt(25), 5);
  add(SetKind::Polygons, 25);
  pv.number();
  std::vector<int32_t> numbers;
  for (const auto& s : pv.sets) numbers.push_back(s.number);
  EXPECT_EQ(numbers, (std::vector<int32_t>{4, 2, 3, 6, 1, 5}));
  // The cell loop's order: grid sets, point sets, model uses.
  EXPECT_EQ(pv.searched, (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_EQ(pv.codeOf(2), 3);
  EXPECT_EQ(pv.codeOf(-1), kSourceCombined);
}

// The cells a polygon file covered, one bit a cell: runs that start and end inside a word, on
// its edges and across several words, overlapping runs counted once, and rows written by two
// threads whose runs meet inside one word.
TEST(CoveredCells, RunsOfBitsAreCountedOnceWhateverTheirEdges) {
  CellBits bits;
  bits.reset(1000);
  EXPECT_EQ(bits.count(), 0);
  std::vector<uint8_t> expected(1000, 0);
  auto cover = [&](size_t from, size_t count) {
    bits.setRun(from, count);
    std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(from), count, uint8_t{1});
  };
  cover(3, 5);     // inside one word
  cover(64, 64);   // exactly one word
  cover(60, 200);  // across words, over the last run
  cover(999, 1);   // the last cell
  cover(500, 0);   // nothing
  EXPECT_EQ(bits.count(), std::count(expected.begin(), expected.end(), uint8_t{1}));
  for (size_t k = 0; k < 1000; ++k) ASSERT_EQ((bits.words[k / 64] >> (k % 64)) & 1, expected[k]) << k;

  // Rows of 37 cells, odd rows on one thread and even rows on another, each row covered whole.
  CellBits rows;
  rows.reset(37 * 400);
  std::thread odd([&] {
    for (size_t r = 1; r < 400; r += 2) rows.setRun(r * 37, 37);
  });
  for (size_t r = 0; r < 400; r += 2) rows.setRun(r * 37, 37);
  odd.join();
  EXPECT_EQ(rows.count(), 37 * 400);
}
