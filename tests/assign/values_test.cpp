#include <gtest/gtest.h>

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
