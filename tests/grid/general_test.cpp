#include "grid/general.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <sstream>

using namespace grid;

TEST(PlaneGeometry, PointInConvexPolygonCountsTheBorder) {
  const float square[8] = {0, 0, 1, 0, 1, 1, 0, 1};
  const float clockwise[8] = {0, 0, 0, 1, 1, 1, 1, 0};
  for (const float* poly : {square, clockwise}) {
    const float in[2] = {0.5f, 0.5f}, edge[2] = {1, 0.5f}, vertex[2] = {0, 0}, out[2] = {1.5f, 0.5f};
    EXPECT_TRUE(POINTINPOLYGON(in, poly, 4));
    EXPECT_TRUE(POINTINPOLYGON(edge, poly, 4));
    EXPECT_TRUE(POINTINPOLYGON(vertex, poly, 4));
    EXPECT_FALSE(POINTINPOLYGON(out, poly, 4));
  }
  std::ostringstream dbg;
  const float p[2] = {2, 2};
  EXPECT_FALSE(POINTINPOLYGON(p, square, 4, &dbg));
  EXPECT_NE(dbg.str().find(" PointInPolygon=F"), std::string::npos);
  EXPECT_NE(dbg.str().find(" Vertex"), std::string::npos);
  // A degenerate polygon reads nothing beyond its vertices.
  const float seg[4] = {0, 0, 1, 1};
  const float onSeg[2] = {0.5f, 0.5f};
  EXPECT_TRUE(POINTINPOLYGON(onSeg, seg, 2));
}

TEST(PlaneGeometry, DistancesAndPointsOnLines) {
  const float p[2] = {3, 4}, q[2] = {0, 0};
  EXPECT_FLOAT_EQ(DISTANCE(p, q), 5.0f);
  const float vertical[4] = {0, 0, 0, 10}, diagonal[4] = {0, 0, 10, 10}, horizontal[4] = {0, 2, 8, 2};
  EXPECT_FLOAT_EQ(DISTANCEPOINTTOLINE(p, vertical), 3.0f);
  EXPECT_FLOAT_EQ(DISTANCEPOINTTOLINE(p, diagonal), 1.0f / std::sqrt(2.0f));
  EXPECT_FLOAT_EQ(DISTANCEPOINTTOLINE(p, horizontal), 2.0f);
  const float five[2] = {5, 5}, eleven[2] = {11, 11};
  EXPECT_TRUE(POINTBETWEENLINEPOINTS(five, diagonal));
  EXPECT_FALSE(POINTBETWEENLINEPOINTS(eleven, diagonal));
  EXPECT_TRUE(POINTBETWEENLINEPOINTS(five, diagonal));
  EXPECT_TRUE(POINTONLINE(eleven, diagonal));
  const float beside[2] = {20, 7};  // horizontal segment: only x is tested
  const float span[4] = {0, 0, 30, 0};
  EXPECT_TRUE(POINTBETWEENLINEPOINTS(beside, span));
}

TEST(PlaneGeometry, LineIntersections) {
  const float xAxis[4] = {0, 0, 1, 0}, x2[4] = {2, -1, 2, 1}, parallel[4] = {0, 1, 1, 1};
  bool found = false;
  float at[2];
  INTERSECTION(xAxis, x2, "FREE", found, at);
  EXPECT_TRUE(found);
  EXPECT_EQ(at[0], 2.0f);
  EXPECT_EQ(at[1], 0.0f);
  INTERSECTION(xAxis, parallel, "FREE", found, at);
  EXPECT_FALSE(found);
  INTERSECTION(xAxis, x2, "INSEGMENTS", found, at);
  EXPECT_FALSE(found);  // the lines meet outside the first segment
  const float touching[4] = {1, 0, 1, 5};
  INTERSECTION(xAxis, touching, "INSEGMENTS", found, at);
  EXPECT_TRUE(found);
  int ival = 0;
  float x, y;
  LINES_EXP_INT_2D(ival, x, y, 0, 0, 1, 0, 0, 0, 5, 0);
  EXPECT_EQ(ival, 2);  // the same line
  LINES_EXP_INT_2D(ival, x, y, 3, 3, 3, 3, 0, 0, 1, 1);
  EXPECT_EQ(ival, 1);  // a point on the other line
  LINES_EXP_INT_2D(ival, x, y, 3, 3, 3, 3, 3, 4, 3, 4);
  EXPECT_EQ(ival, 0);
  double u, v;
  LINE_SEG_CONTAINS_POINT_2D(0, 0, 0, 0, 1, 1, u, v);
  EXPECT_EQ(u, 0.5);
  EXPECT_EQ(v, DBL_MAX);
  LINE_SEG_CONTAINS_POINT_2D(0, 0, 10, 0, 5, 2, u, v);
  EXPECT_DOUBLE_EQ(u, 0.5);
  EXPECT_DOUBLE_EQ(v, 0.2);
  const double a[2][2] = {{1, 2}, {2, 4}};
  double b[2][2], det;
  RMAT2_INVERSE(a, b, det);
  EXPECT_EQ(det, 0.0);
  EXPECT_EQ(b[0][0], 0.0);
}

TEST(PlaneGeometry, PolygonAreaEitherWayRound) {
  const float ccw[8] = {0, 0, 2, 0, 2, 2, 0, 2}, cw[8] = {0, 0, 0, 2, 2, 2, 2, 0};
  EXPECT_EQ(SETPOLYGONAREA(ccw, 4), 4.0f);
  EXPECT_EQ(SETPOLYGONAREA(cw, 4), 4.0f);
  EXPECT_EQ(SETPOLYGONAREA(ccw, 0), 0.0f);
}
