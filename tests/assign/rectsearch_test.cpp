#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "assign/run.h"
#include "support.h"

using namespace assign;
using testing_support::TestFrame;

namespace {

// One run's sets laid out around a structure whose corner is (x, y): a grid set of 7.25 m cells
// shifted by (-9.625, -12.875) and points with buffers, all at the same places relative to
// the corner. The offsets are sums of powers of two, so the relative positions are the same
// numbers wherever the corner lies.
struct Layout {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  Layout(double x, double y, bool cell) {
    grid::Structure& s = run.structure;
    s.grid.ncols = 60;
    s.grid.nrows = 50;
    s.grid.xll = x;
    s.grid.yll = y;
    s.cellsize = s.grid.dx = s.grid.dy = 10;
    s.grid.nodata = -9999;
    s.grid.valuesType = cell ? grid::ValuesAt::Cell : grid::ValuesAt::Middle;
    s.grid.values.assign(3000, s.grid.nodata);
    s.assignMask.assign(3000, 1);
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> value(0, 100);
    grid::GridDescription d;
    d.ncols = 90;
    d.nrows = 75;
    d.xll = x - 9.625;
    d.yll = y - 12.875;
    d.dx = d.dy = 7.25;
    d.nodata = -9999;
    d.valuesType = grid::ValuesAt::Cell;
    for (int k = 0; k < 90 * 75; ++k) d.values.push_back(k % 31 == 0 ? -9999.0f : value(rng));
    run.gridSets.descriptions.push_back(d);
    run.gridSets.sets.push_back(grid::GridSet{"RECTANGULAR", 0});
    // The points come through the reader, which puts them relative to the corner.
    std::string points = "NODATA_VALUE =-9999\nBUFFER,YES,0\n";
    std::uniform_int_distribution<int> at(-80, 2480);
    for (int k = 0; k < 300; ++k) {
      char line[160];
      std::snprintf(line, sizeof line, "%.17g,%.17g,%.9g,%g\n", x + at(rng) / 4.0, y + at(rng) / 5.0 * 1.25, value(rng),
                    (k % 7) * 2.5);
      points += line;
    }
    testing_support::writeFile(t.path("points.txt"), points);
    EXPECT_FALSE(HANDLEPOINTFILE(run, "POINTFILE," + t.path("points.txt").string() + ",1"));
    EXPECT_EQ(run.pointSets.at(0).count, 300);
    run.settings.methodPerSet = "AVERAGE";
    run.settings.derive();
    prepareGridPlans(run);
    preparePointBins(run);
    run.needsGeometry = true;
  }
  std::vector<float> values() {
    std::vector<float> out;
    for (int32_t j = 1; j <= 50; ++j) {
      for (int32_t i = 1; i <= 60; ++i) out.push_back(GETINFORMATION(run, run.mainThreadWorker, i, j));
    }
    return out;
  }
};

}  // namespace

// The searches work relative to the structure's corner: the same layout gives the very same
// values near (0, 0), at RD and at UTM coordinates, for whole cells and for cell middles.
TEST(SearchesRelativeToTheCorner, SameValuesWhereverTheMapLies) {
  for (bool cell : {true, false}) {
    const std::vector<float> nearOrigin = Layout(0, 0, cell).values();
    int withValue = 0;
    for (float v : nearOrigin) withValue += v != -9999.0f;
    EXPECT_GT(withValue, 2000);
    for (const auto& [x, y] : {std::pair{155000.0, 463000.0}, std::pair{650000.0, 5800000.0}}) {
      const std::vector<float> far = Layout(x, y, cell).values();
      ASSERT_EQ(far.size(), nearOrigin.size());
      for (size_t k = 0; k < far.size(); ++k) {
        ASSERT_EQ(far[k], nearOrigin[k]) << "cell " << k % 60 + 1 << "," << k / 60 + 1 << " at " << x << "," << y
                                         << (cell ? " CELL" : " MIDDLE");
      }
    }
  }
}
