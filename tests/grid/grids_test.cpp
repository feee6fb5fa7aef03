#include "grid/grids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "grid/general.h"
#include "support.h"

using namespace grid;
using testing_support::TestFrame;

namespace {

GridDescription regular(float xll, float yll, float d, int nc, int nr) {
  GridDescription g;
  g.xll = xll;
  g.yll = yll;
  g.dx = g.dy = d;
  g.ncols = nc;
  g.nrows = nr;
  return g;
}

// The clipping as written out, with the general intersection for every crossing.
std::vector<float> referenceClip(const float c[8], std::vector<float> w, float s) {
  float minx = w[0], maxx = w[0], miny = w[1], maxy = w[1];
  for (size_t i = 0; i < w.size(); i += 2) {
    minx = std::min(minx, w[i]);
    maxx = std::max(maxx, w[i]);
    miny = std::min(miny, w[i + 1]);
    maxy = std::max(maxy, w[i + 1]);
  }
  if (maxx <= c[0] || minx >= c[2] || maxy <= c[1] || miny >= c[5]) return {};
  for (int e = 0; e < 4; ++e) {
    const int f = (e + 1) % 4;
    const float edge[4] = {c[2 * e], c[2 * e + 1], c[2 * f], c[2 * f + 1]};
    std::vector<float> out;
    const size_t m = w.size() / 2;
    for (size_t i = 0; i < m; ++i) {
      const size_t j = (i + 1) % m;
      const float vi[2] = {w[2 * i], w[2 * i + 1]}, vj[2] = {w[2 * j], w[2 * j + 1]};
      const bool a = POINTATINSIDEOFLINE(edge, vi, s), b = POINTATINSIDEOFLINE(edge, vj, s);
      const float seg[4] = {vi[0], vi[1], vj[0], vj[1]};
      float x[2];
      bool found = false;
      if (a && b) {
        out.insert(out.end(), {vj[0], vj[1]});
      } else if (a) {
        INTERSECTION(edge, seg, "FREE", found, x);
        out.insert(out.end(), {x[0], x[1]});
      } else if (b) {
        INTERSECTION(edge, seg, "FREE", found, x);
        out.insert(out.end(), {x[0], x[1], vj[0], vj[1]});
      }
    }
    if (out.empty()) return {};
    w = out;
  }
  return w;
}

}  // namespace

TEST(GridQueries, PointsInCellsAndGrids) {
  const float cell[8] = {10, 10, 20, 10, 20, 20, 10, 20};
  for (float x : {10.0f, 15.0f, 20.0f}) {
    for (float y : {10.0f, 20.0f}) {
      const float p[2] = {x, y};
      EXPECT_TRUE(POINTINGRIDCELL(p, cell));
    }
  }
  const float out[2] = {20.001f, 15};
  EXPECT_FALSE(POINTINGRIDCELL(out, cell));
  GridDescription g = regular(0, 0, 10, 10, 5);
  const double corner[2] = {100, 50}, beyond[2] = {100.5, 10};
  EXPECT_TRUE(POINTINRECTANGULARGRID(corner, g));
  EXPECT_FALSE(POINTINRECTANGULARGRID(beyond, g));
  GridDescription axes = g;
  axes.gridKind = "AXIS ";
  axes.xAxis = {0, 1, 5};
  axes.yAxis = {0, 2};
  const double inAxes[2] = {4, 1};
  EXPECT_TRUE(POINTINRECTANGULARGRID(inAxes, axes));
  EXPECT_FALSE(POINTINRECTANGULARGRID(corner, axes));
}

TEST(GridQueries, FractionalIndicesWithTheBoundaryRule) {
  GridDescription g = regular(0, 0, 10, 10, 10);
  float out[2];
  auto col = [&](double x) {
    const double p[2] = {x, 5};
    GETRELATIVEINDICESINRECTANGULAR(p, g, out);
    return out[0];
  };
  EXPECT_FLOAT_EQ(col(25), 3.5f);
  EXPECT_FLOAT_EQ(col(20), 2.999f);
  EXPECT_FLOAT_EQ(col(0), 1.0f);
  EXPECT_FLOAT_EQ(col(100), 10.999f);
  EXPECT_FLOAT_EQ(col(100.5f), -1.0f);
  GridDescription axes = g;
  axes.gridKind = "AXIS ";
  const double p[2] = {25, 25};
  GETRELATIVEINDICESINRECTANGULAR(p, axes, out);
  EXPECT_EQ(out[0], -1.0f);
  EXPECT_EQ(out[1], -1.0f);
}

TEST(Clipping, SquaresTouchingAndContained) {
  TestFrame t;
  PolygonClipper clip;
  const float cell[8] = {10, 10, 20, 10, 20, 20, 10, 20};
  const float big[8] = {0, 0, 20, 0, 20, 20, 0, 20};
  clip.CLIPPOLYGON(cell, big, 4, 1.0f);
  EXPECT_EQ(clip.count(), 4);
  EXPECT_EQ(SETPOLYGONAREA(clip.vertices(), clip.count()), 100.0f);
  const float beside[8] = {20, 10, 30, 10, 30, 20, 20, 20};
  clip.CLIPPOLYGON(cell, beside, 4, 1.0f);
  EXPECT_EQ(clip.count(), 0);
  const float inside[8] = {12, 12, 14, 12, 14, 15, 12, 15};
  clip.CLIPPOLYGON(cell, inside, 4, 1.0f);
  ASSERT_EQ(clip.count(), 4);
  EXPECT_EQ(SETPOLYGONAREA(clip.vertices(), 4), 6.0f);
  // A rotated square that passes the box test but lies outside one edge: nothing.
  const float diamond[8] = {19, 21.5f, 21.5f, 19, 24, 21.5f, 21.5f, 24};
  clip.CLIPPOLYGON(cell, diamond, 4, 1.0f);
  EXPECT_EQ(clip.count(), 0);
}

TEST(Clipping, RectanglesGiveTheSameVerticesAsTheGeneralIntersection) {
  TestFrame t;
  PolygonClipper clip;
  std::mt19937 rng(42);
  // Coordinates on coarse steps and at map scale, so that shared edges and corners occur.
  std::uniform_int_distribution<int> step(0, 12);
  for (float base : {0.0f, 150000.0f, 5432101.0f}) {
    for (int trial = 0; trial < 20000; ++trial) {
      const float q = 2.5f;
      float cx0 = base + q * static_cast<float>(step(rng)), cy0 = base + q * static_cast<float>(step(rng));
      float cx1 = cx0 + q * static_cast<float>(1 + step(rng) % 4),
            cy1 = cy0 + q * static_cast<float>(1 + step(rng) % 4);
      float px0 = base + q * static_cast<float>(step(rng)) + (trial % 3 == 0 ? 0.3f : 0.0f),
            py0 = base + q * static_cast<float>(step(rng));
      float px1 = px0 + q * static_cast<float>(1 + step(rng) % 5),
            py1 = py0 + q * static_cast<float>(1 + step(rng) % 5);
      const float cell[8] = {cx0, cy0, cx1, cy0, cx1, cy1, cx0, cy1};
      const float poly[8] = {px0, py0, px1, py0, px1, py1, px0, py1};
      clip.CLIPPOLYGON(cell, poly, 4, 1.0f);
      std::vector<float> got(clip.vertices(), clip.vertices() + 2 * clip.count());
      std::vector<float> want = referenceClip(cell, std::vector<float>(poly, poly + 8), 1.0f);
      ASSERT_EQ(got, want) << "cell " << cx0 << "," << cy0 << " poly " << px0 << "," << py0;
    }
  }
}

TEST(Clipping, RectangleAreaWithoutClippingIsTheClippedArea) {
  TestFrame t;
  PolygonClipper clip;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> jitter(-1.0f, 1.0f);
  // Near powers of two, near zero, at map scale and with tiny cells.
  for (float base : {0.0f, 1.0f, 131072.0f, 150000.0f, 4194304.0f, 5432101.0f, 1.0e-3f}) {
    int fast = 0, slow = 0;
    for (float size : {10.0f, 7.0f, 0.5f, 3.0e-4f}) {
      for (int trial = 0; trial < 3000; ++trial) {
        const float cx0 = base + size * std::round(jitter(rng) * 4), cy0 = base + size * std::round(jitter(rng) * 4);
        const float cx1 = cx0 + size, cy1 = cy0 + size;
        const float px0 = cx0 + size * jitter(rng) * 1.5f, py0 = cy0 + size * jitter(rng) * 1.5f;
        const float px1 = px0 + size * (0.3f + std::fabs(jitter(rng))),
                    py1 = py0 + size * (0.3f + std::fabs(jitter(rng)));
        float area = -1.0f;
        if (!rectangleOverlapArea(cx0, cy0, cx1, cy1, px0, py0, px1, py1, area)) {
          ++slow;
          continue;
        }
        ++fast;
        const float cell[8] = {cx0, cy0, cx1, cy0, cx1, cy1, cx0, cy1};
        const float poly[8] = {px0, py0, px1, py0, px1, py1, px0, py1};
        clip.CLIPPOLYGON(cell, poly, 4, 1.0f);
        const float want = clip.count() == 0 ? 0.0f : SETPOLYGONAREA(clip.vertices(), clip.count());
        ASSERT_EQ(area, want) << cx0 << " " << cy0 << " " << px0 << " " << py0 << " " << px1 << " " << py1;
      }
    }
    // Map coordinates take the short way nearly always.
    if (base >= 131072.0f) {
      EXPECT_GT(fast, 2 * slow) << base;
    }
  }
}

TEST(Clipping, AxisParallelCellsClipAsTheGeneralPassesDo) {
  TestFrame t;
  PolygonClipper clip;
  std::mt19937 rng(11);
  // Vertices on a lattice that holds the cell's lines (vertices on them, edges along them,
  // shared coordinates), and free ones: rotated and warped quadrilaterals, some not convex.
  std::uniform_int_distribution<int> lattice(-2, 6);
  std::uniform_real_distribution<float> free(-1.5f, 5.5f);
  int clipped = 0, straight = 0;
  PolygonClipper direct;
  std::vector<float> many;
  for (int k = 0; k < 40; ++k) {
    const float a = 0.157f * static_cast<float>(k);
    many.insert(many.end(), {5.0f * std::cos(a), 5.0f * std::sin(a)});
  }
  for (float base : {0.0f, -2.5f, 150000.0f, 5432101.0f}) {
    for (int trial = 0; trial < 30000; ++trial) {
      const float q = 2.5f;
      const float x0 = base, y0 = base + q, x1 = base + 4 * q, y1 = base + 3 * q;
      // Lower left first, or the corners turned round; and the inside on either side.
      const float ccw[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
      const float turned[8] = {x1, y1, x0, y1, x0, y0, x1, y0};
      const float* cell = trial % 5 == 4 ? turned : ccw;
      const float s = trial % 7 == 6 ? -1.0f : 1.0f;
      float poly[8];
      for (int k = 0; k < 8; ++k) {
        const float u = trial % 2 == 0 ? q * static_cast<float>(lattice(rng)) : q * free(rng);
        poly[k] = base + u;
      }
      clip.CLIPPOLYGON(cell, poly, 4, s);
      const std::vector<float> got(clip.vertices(), clip.vertices() + 2 * clip.count());
      ASSERT_EQ(got, referenceClip(cell, std::vector<float>(poly, poly + 8), s))
          << "base " << base << " trial " << trial;
      clipped += clip.count() > 0;
      // Straight to the passes where the caller has seen the boxes meet: the same vertices,
      // also after a clipper has held a longer polygon.
      const auto [minx, maxx] = std::minmax({poly[0], poly[2], poly[4], poly[6]});
      const auto [miny, maxy] = std::minmax({poly[1], poly[3], poly[5], poly[7]});
      const bool boxesMeet = !(maxx <= cell[0] || minx >= cell[2] || maxy <= cell[1] || miny >= cell[5]);
      ASSERT_TRUE(axisClipCell(cell, s));
      ASSERT_TRUE(coordinatesLimited(poly, 4));
      if (!boxesMeet) continue;
      if (trial % 3 == 0) direct.CLIPPOLYGON(cell, many.data(), static_cast<int>(many.size() / 2), 1.0f);
      direct.CLIPQUADINAXISCELL(cell, poly, s);
      ASSERT_EQ(std::vector<float>(direct.vertices(), direct.vertices() + 2 * direct.count()), got)
          << "base " << base << " trial " << trial;
      ++straight;
    }
  }
  EXPECT_GT(clipped, 40000);
  EXPECT_GT(straight, 40000);
  EXPECT_FALSE(axisClipCell(std::array<float, 8>{0, 0, 10, 1, 10, 10, 0, 10}.data(), 1.0f));
  EXPECT_FALSE(axisClipCell(std::array<float, 8>{0, 0, 10, 0, 10, 10, 0, 10}.data(), 0.5f));
  EXPECT_FALSE(axisClipCell(std::array<float, 8>{0, 0, 2e15f, 0, 2e15f, 10, 0, 10}.data(), 1.0f));
  EXPECT_FALSE(coordinatesLimited(std::array<float, 8>{0, 0, 1, 0, 1, std::nanf(""), 0, 1}.data(), 4));
  // A coordinate that is not a number, anywhere but first (where the box test already sees it):
  // the general passes, whatever they make of it.
  auto same = [](const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
      if (!(a[k] == b[k] || (std::isnan(a[k]) && std::isnan(b[k])))) return false;
    }
    return true;
  };
  const float cell[8] = {0, 0, 10, 0, 10, 10, 0, 10};
  for (int at = 2; at < 8; ++at) {
    for (int trial = 0; trial < 200; ++trial) {
      float poly[8];
      for (float& v : poly) v = 2.5f * free(rng);
      poly[at] = std::nanf("");
      clip.CLIPPOLYGON(cell, poly, 4, 1.0f);
      const std::vector<float> got(clip.vertices(), clip.vertices() + 2 * clip.count());
      ASSERT_TRUE(same(got, referenceClip(cell, std::vector<float>(poly, poly + 8), 1.0f))) << at << " " << trial;
    }
  }
}

TEST(Clipping, QuadrilateralsPlainlyAroundOrApartNeedNoClipping) {
  TestFrame t;
  PolygonClipper clip;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double pi = std::acos(-1.0);
  int around = 0, apart = 0, unsure = 0;
  for (float base : {0.0f, 150000.0f, 433000.0f, 5432101.0f}) {
    const double step = std::max(static_cast<double>(base) * 0x1p-23, 0x1p-23);  // about one float step
    for (int trial = 0; trial < 20000; ++trial) {
      const float w = trial % 3 == 0 ? 10.0f : 0.5f;
      const float x0 = base + 10.0f, y0 = base + 20.0f, x1 = x0 + w, y1 = y0 + w;
      const float cell[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
      const double cx = (static_cast<double>(x0) + x1) / 2, cy = (static_cast<double>(y0) + y1) / 2;
      // Each edge's line at a chosen distance from the cell's nearest corner: inside it by a
      // fraction of a float step up to a thousand, or (one edge) beyond it.
      const double turn = unit(rng) * pi / 2;
      const bool beyond = trial % 4 == 3;
      double a[4], b[4], o[4];
      for (int k = 0; k < 4; ++k) {
        const double angle = turn + k * pi / 2 + (unit(rng) - 0.5) * 0.3;
        a[k] = std::cos(angle);
        b[k] = std::sin(angle);
        const double reach = std::fabs(a[k]) * (x1 - x0) / 2 + std::fabs(b[k]) * (y1 - y0) / 2;
        const double d = step * std::pow(10.0, unit(rng) * 3.3 - 0.5);
        o[k] = reach + (beyond && k == 0 ? -2 * reach - d : d + (k == 2 ? unit(rng) * w : 0.0));
      }
      // The corners where the lines a x + b y = o meet, one after the other.
      float quad[8];
      for (int k = 0; k < 4; ++k) {
        const int n = (k + 1) % 4;
        const double det = a[k] * b[n] - b[k] * a[n];
        quad[2 * k] = static_cast<float>(cx + (o[k] * b[n] - b[k] * o[n]) / det);
        quad[2 * k + 1] = static_cast<float>(cy + (a[k] * o[n] - o[k] * a[n]) / det);
      }
      float big = 0.0f;
      for (float v : quad) big = std::max(big, std::fabs(v));
      const QuadOnCell place = placeQuad(quad, quadTurn(quad), big, axisCell(cell, 1.0f));
      const std::vector<float> want = referenceClip(cell, std::vector<float>(quad, quad + 8), 1.0f);
      if (place == QuadOnCell::Apart) {
        ++apart;
        ASSERT_TRUE(want.empty()) << "base " << base << " trial " << trial;
      } else if (place == QuadOnCell::CellInside) {
        ++around;
        ASSERT_FALSE(want.empty());
        ASSERT_EQ(SETPOLYGONAREA(want.data(), static_cast<int>(want.size() / 2)), cornerArea(cell))
            << "base " << base << " trial " << trial;
      } else {
        ++unsure;
      }
    }
  }
  EXPECT_GT(around, 2500);
  EXPECT_GT(apart, 3000);
  EXPECT_GT(unsure, 20000);
}

TEST(Clipping, CornerAreaIsTheAreaInEveryOrderOrNone) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> free(-1.0f, 1.0f);
  int same = 0, differs = 0;
  for (int trial = 0; trial < 150000; ++trial) {
    // Map coordinates (whose products and sums are exact), and coordinates and sizes of widely
    // different magnitudes, where the order of the sum sometimes changes its rounding.
    float x0, y0, x1, y1;
    if (trial % 10 == 0) {
      const float base = trial % 20 ? 433000.0f : 150000.0f;
      x0 = base + 50.0f * free(rng);
      y0 = base + 50.0f * free(rng);
      x1 = x0 + 0.37f * (2.0f + free(rng));
      y1 = y0 + 10.0f;
    } else {
      auto wide = [&](float lo) { return std::ldexp(lo + free(rng), static_cast<int>(free(rng) * 30)); };
      x0 = wide(1.0f);
      y0 = wide(1.0f);
      x1 = x0 + wide(2.0f);
      y1 = y0 + wide(2.0f);
      if (!(x0 < x1 && y0 < y1)) continue;
    }
    const float c[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
    const float area = cornerArea(c);
    std::vector<float> areas;
    for (int start = 0; start < 4; ++start) {
      float fwd[8], back[8];
      for (int k = 0; k < 4; ++k) {
        const int f = (start + k) % 4, b = (start - k + 4) % 4;
        fwd[2 * k] = c[2 * f];
        fwd[2 * k + 1] = c[2 * f + 1];
        back[2 * k] = c[2 * b];
        back[2 * k + 1] = c[2 * b + 1];
      }
      areas.push_back(SETPOLYGONAREA(fwd, 4));
      areas.push_back(SETPOLYGONAREA(back, 4));
    }
    const bool allSame = std::all_of(areas.begin(), areas.end(), [&](float a) { return a == areas[0]; });
    if (allSame) {
      ++same;
      ASSERT_EQ(area, areas[0]) << trial;
    } else {
      ++differs;
      ASSERT_TRUE(std::isnan(area)) << trial;
    }
  }
  EXPECT_GT(same, 100000);
  EXPECT_GT(differs, 50);
}
