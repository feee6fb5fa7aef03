#include "grid/general.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
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

TEST(PlaneGeometry, PointInQuadIsPointInPolygonWrittenOut) {
  // The general loop (taken with a debug stream) against the four-vertex one, on points at
  // vertices, on edges, a float step either side of them and free, for quadrilaterals that are
  // convex, not convex, turned either way and degenerate (an edge of length zero).
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::ostringstream sink;
  int inside = 0, outside = 0;
  for (int trial = 0; trial < 40000; ++trial) {
    const float base = trial % 2 ? 0.0f : 150000.0f;
    float q[8];
    for (float& v : q) v = base + 10.0f * u(rng);
    if (trial % 9 == 0) {
      q[2] = q[0];
      q[3] = q[1];
    }
    float p[2];
    const int k = static_cast<int>(rng() % 4), n = (k + 1) % 4;
    const float t = trial % 3 == 0 ? 0.5f : 0.5f + 0.5f * u(rng);
    p[0] = q[2 * k] + t * (q[2 * n] - q[2 * k]);
    p[1] = q[2 * k + 1] + t * (q[2 * n + 1] - q[2 * k + 1]);
    switch (trial % 5) {
      case 0:
        p[0] = std::nextafter(p[0], 1e9f);
        break;
      case 1:
        p[1] = std::nextafter(p[1], -1e9f);
        break;
      case 2:
        p[0] = q[2 * k], p[1] = q[2 * k + 1];
        break;
      case 3:
        p[0] = base + 10.0f * u(rng), p[1] = base + 10.0f * u(rng);
        break;
      default:
        break;
    }
    const bool want = POINTINPOLYGON(p, q, 4, &sink);
    ASSERT_EQ(pointInQuad(p, q), want) << trial;
    (want ? inside : outside)++;
    sink.str("");
  }
  EXPECT_GT(inside, 6000);
  EXPECT_GT(outside, 5000);
}

TEST(PlaneGeometry, PointInQuadAgreesWhereSinglePrecisionCannotDecide) {
  // The quick answer from single-precision products is only taken where it is certain; these
  // are the places where it is not: cross products near the 1e-10 bound (coordinates of a
  // millimetre and less), points a float step beside the edges of cells far from the origin,
  // quadrilaterals whose corners lie on one line or on one point, coordinates near the limit,
  // and corners that are not numbers.
  std::mt19937 rng(29);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::ostringstream sink;
  const float scales[] = {1e-6f, 1e-5f, 3e-5f, 1e-3f, 1.0f, 1e5f, 6e6f, 1e14f};
  const float nan = std::nanf(""), inf = INFINITY;
  int quick = 0;
  for (int trial = 0; trial < 200000; ++trial) {
    const float scale = scales[trial % 8];
    const float base = trial % 3 == 0 ? 0.0f : scale * 4.0f;
    float q[8];
    for (float& v : q) v = base + scale * u(rng);
    switch (trial % 13) {
      case 0:  // all four corners on one line
        for (int k = 1; k < 4; ++k) {
          const float t = u(rng);
          q[2 * k] = q[0] + t * (q[2] - q[0]);
          q[2 * k + 1] = q[1] + t * (q[3] - q[1]);
        }
        break;
      case 1:  // all four on one point
        for (int k = 1; k < 4; ++k) q[2 * k] = q[0], q[2 * k + 1] = q[1];
        break;
      case 2:
        q[static_cast<size_t>(rng() % 8)] = trial % 2 ? nan : inf;
        break;
      default:
        break;
    }
    float p[2];
    const int k = static_cast<int>(rng() % 4), n = (k + 1) % 4;
    const float t = 0.5f + 0.5f * u(rng);
    p[0] = q[2 * k] + t * (q[2 * n] - q[2 * k]);
    p[1] = q[2 * k + 1] + t * (q[2 * n + 1] - q[2 * k + 1]);
    const int steps = static_cast<int>(rng() % 4);
    for (int s = 0; s < steps; ++s) p[trial % 2] = std::nextafter(p[trial % 2], trial % 4 < 2 ? 1e30f : -1e30f);
    if (trial % 7 == 0) p[0] = base + scale * u(rng), p[1] = base + scale * u(rng);
    const bool want = POINTINPOLYGON(p, q, 4, &sink);
    ASSERT_EQ(pointInQuad(p, q), want) << "trial " << trial << " scale " << scale;
    sink.str("");
#if defined(__SSE2__)
    int positive = 0;
    quick += certainCrossSigns(p, q, positive) == 0xF;
#endif
  }
#if defined(__SSE2__)
  // Both ways are taken: the quick answer mostly, the double products where it is not certain.
  EXPECT_GT(quick, 50000);
  EXPECT_LT(quick, 190000);
#endif
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
