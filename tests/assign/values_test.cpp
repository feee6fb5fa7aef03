#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "assign/run.h"

using namespace assign;

namespace {
ValueRecord rec(float v, float w, int32_t p = 0) {
  ValueRecord r;
  r.value = v;
  r.weight = w;
  r.priority = p;
  return r;
}
float run(const std::string& method, const std::vector<ValueRecord>& list, float nodata = -999.999f) {
  RunSettings s;
  s.runMethod = method;
  s.derive();
  return combineValues(list, s, nodata);
}
}  // namespace

TEST(RunMethods, AverageIsAreaWeightedAndPlainForUnweightedValues) {
  EXPECT_EQ(run("AVERAGE", {rec(10, 3), rec(20, 1)}), 12.5f);
  EXPECT_EQ(run("AVERAGE", {rec(1, -1), rec(2, -1), rec(6, -1)}), 3.0f);
  // Unweighted values count as weight 1 beside area weights: never outside the inputs' range.
  EXPECT_EQ(run("AVERAGE", {rec(10, 4), rec(20, -1)}), 12.0f);
  // A result within 0.0001 of NODATA is NODATA.
  EXPECT_EQ(run("AVERAGE", {rec(-999.9991f, 1)}), -999.999f);
  EXPECT_EQ(run("AVERAGE", {}), -999.999f);
}

TEST(RunMethods, OnlyTheHighestPriorityCountsWhateverTheOrder) {
  EXPECT_EQ(run("AVERAGE", {rec(1, 1, 0), rec(9, 1, 5), rec(3, 1, 0), rec(11, 1, 5)}), 10.0f);
  EXPECT_EQ(run("AVERAGE", {rec(9, 1, 5), rec(1, 1, 0)}), 9.0f);
  EXPECT_EQ(run("MAXIMUM", {rec(100, 1, -1), rec(2, 1, 0), rec(3, 1, 0)}), 3.0f);
  EXPECT_EQ(run("MINIMUM", {rec(5, 1, 2), rec(-4, 1, 2), rec(-100, 1, 1)}), -4.0f);
}

TEST(RunMethods, ClassesWithTiesToTheLowestClass) {
  EXPECT_EQ(run("MAJORITY", {rec(2, 1), rec(3, 1), rec(2, 1)}), 2.0f);
  EXPECT_EQ(run("MAJORITY", {rec(3, 1), rec(2, 1)}), 2.0f);
  EXPECT_EQ(run("MAJORITY", {rec(3, 5), rec(2, 1), rec(2, 1)}), 3.0f);
  EXPECT_EQ(run("MINORITY", {rec(2.9f, 1), rec(2.1f, 1), rec(5, 1)}), 5.0f);
  EXPECT_EQ(run("MINORITY", {rec(2.9f, 1), rec(2.1f, 1)}), 2.0f);
  EXPECT_EQ(run("MINORITY", {rec(4, 1), rec(7, 1)}), 4.0f);
  // Unweighted values count once each instead of choosing no class.
  EXPECT_EQ(run("MAJORITY", {rec(4, -1), rec(7, -1), rec(7, -1)}), 7.0f);
  // No class at all (every value below 1): NODATA.
  EXPECT_EQ(run("MAJORITY", {rec(0, 1), rec(0.5f, 1)}), -999.999f);
  // Huge class numbers need no table of that size.
  EXPECT_EQ(run("MAJORITY", {rec(3.0e9f, 1), rec(2, 1), rec(3.0e9f, 1)}), 3.0e9f);
}

TEST(RunMethods, ValuesNearTheFloatLimitStayExact) {
  // Large areas times large values would overflow in single precision.
  EXPECT_EQ(run("AVERAGE", {rec(3.0e38f, 1.0e12f), rec(3.0e38f, 1.0e12f)}), 3.0e38f);
  EXPECT_EQ(run("AVERAGE", {rec(-3.0e38f, 1.0e12f), rec(3.0e38f, 1.0e12f)}), 0.0f);
  // Classes beyond any integer type are still told apart and given back as they came.
  EXPECT_EQ(run("MAJORITY", {rec(3.0e38f, 1), rec(2.0e38f, 2), rec(3.0e38f, 2)}), 3.0e38f);
  EXPECT_EQ(run("MINORITY", {rec(3.0e38f, 1), rec(1.0e19f, 2)}), 3.0e38f);
}

TEST(CellCoverage, TheQuickTestAgreesWithTheDivision) {
  // Pieces covering a cell: every total within a thousand float steps of where the division
  // turns, for cell areas from the smallest float to the largest, and the odd ones (zero, a
  // negative area, infinity, NaN), answered as total / cell * 100 > 99.99 answers them.
  const float limit = std::numeric_limits<float>::max();
  std::vector<float> cells = {std::numeric_limits<float>::denorm_min(),
                              3e-42f,
                              1e-38f,
                              1e-20f,
                              0.01f,
                              1.0f,
                              99.99f,
                              100.0f,
                              1234.5f,
                              6.25e6f,
                              3e20f,
                              1e38f,
                              limit};
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> spread(1.0f, 10.0f);
  for (int k = 0; k < 300; ++k) cells.push_back(spread(rng) * std::pow(10.0f, static_cast<float>(k % 70 - 35)));
  int turned = 0;
  for (const float cell : cells) {
    const float turn = cell * 0.9999f;
    float total = turn;
    for (int step = 0; step < 1000; ++step) total = std::nextafter(total, 0.0f);
    for (int step = 0; step < 2000; ++step, total = std::nextafter(total, limit)) {
      const bool want = total / cell * 100.0f > 99.99f;
      ASSERT_EQ(coversTheCell(total, cell), want) << cell << " " << total;
      turned += want;
    }
  }
  EXPECT_GT(turned, 100000);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (const float cell : {0.0f, -0.0f, -100.0f, inf, -inf, nan}) {
    for (const float total : {0.0f, 1e-40f, 1.0f, 99.995f, 100.0f, 1e30f, limit, inf, nan}) {
      EXPECT_EQ(coversTheCell(total, cell), total / cell * 100.0f > 99.99f) << cell << " " << total;
    }
  }
}
