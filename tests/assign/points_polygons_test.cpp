#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "assign/run.h"
#include "grid/general.h"
#include "grid/grids.h"
#include "grid/structure.h"
#include "support.h"

using namespace assign;
using testing_support::TestFrame;
using testing_support::writeFile;

namespace {

std::vector<float> star(float cx, float cy, float r0, float r1, int points, float turn) {
  std::vector<float> v;
  for (int k = 0; k < 2 * points; ++k) {
    const double a = turn + k * std::numbers::pi / points;
    const double r = k % 2 ? r0 : r1;
    v.push_back(static_cast<float>(cx + r * std::cos(a)));
    v.push_back(static_cast<float>(cy + r * std::sin(a)));
  }
  return v;
}

std::vector<float> axis(float origin, float step, int n) {
  std::vector<float> a;
  for (int k = 0; k < n; ++k) a.push_back(origin + static_cast<float>(k) * step);
  return a;
}

void expectSameAsOneByOne(const std::vector<float>& poly, const std::vector<float>& xs, const std::vector<float>& ys,
                          float spacing) {
  auto got = polygonCoverage(poly, xs, ys, spacing);
  for (size_t j = 0; j < ys.size(); ++j) {
    for (size_t k = 0; k < xs.size(); ++k) {
      ASSERT_EQ(got[j * xs.size() + k], polygonCovers(poly, xs[k], ys[j]) ? 1 : 0) << "sample " << k << "," << j;
    }
  }
}

}  // namespace

TEST(PolygonCoverage, ConcavePolygonsAreCoveredExactly) {
  // A U shape: the notch is not covered; a point deep inside an arm is.
  const std::vector<float> u = {1, 1, 9, 1, 9, 7, 7, 7, 7, 3, 3, 3, 3, 7, 1, 7};
  EXPECT_TRUE(polygonCovers(u, 2, 6));
  EXPECT_FALSE(polygonCovers(u, 5, 5));
  EXPECT_TRUE(polygonCovers(u, 5, 3));  // on the border of the notch
  EXPECT_TRUE(polygonCovers(u, 1, 1));  // a vertex
  // Convex polygons give the answers of the convex test, border included.
  const std::vector<float> square = {0, 0, 4, 0, 4, 4, 0, 4};
  for (float x : {-1.0f, 0.0f, 2.0f, 4.0f, 4.5f}) {
    for (float y : {-1.0f, 0.0f, 2.0f, 4.0f}) {
      const float p[2] = {x, y};
      EXPECT_EQ(polygonCovers(square, x, y), grid::POINTINPOLYGON(p, square.data(), 4));
    }
  }
  EXPECT_FALSE(polygonCovers({0, 0, 5, 5}, 1, 1));  // no area, no cover
}

TEST(PolygonCoverage, RowByRowGivesTheSameAnswersAsEveryPointAlone) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int trial = 0; trial < 150; ++trial) {
    const float spacing = trial % 3 == 0 ? 1.0f : 0.37f;
    const float origin = trial % 2 ? 150000.0f : 0.0f;
    const auto xs = axis(origin + 0.5f * spacing, spacing, 60), ys = axis(origin + 0.5f * spacing, spacing, 50);
    const float cx = origin + 30 * spacing * u(rng), cy = origin + 25 * spacing * u(rng);
    std::vector<float> poly;
    switch (trial % 5) {
      case 0:  // a star: concave
        poly = star(cx, cy, 3 * spacing * (1 + u(rng)), 15 * spacing * (1 + u(rng)), 5 + trial % 7, u(rng));
        break;
      case 1:  // a regular polygon: convex
        poly = star(cx, cy, 10 * spacing, 10 * spacing, 6 + trial % 5, u(rng));
        break;
      case 2: {  // a rectangle on the sample lines, the worst case for borders
        const float x0 = xs[static_cast<size_t>(5 + trial % 20)], y0 = ys[static_cast<size_t>(3 + trial % 17)];
        poly = {x0, y0, x0 + 7 * spacing, y0, x0 + 7 * spacing, y0 + 5 * spacing, x0, y0 + 5 * spacing};
        break;
      }
      case 3: {  // an L on the sample lines: concave with flat edges through samples
        const float x0 = xs[10], y0 = ys[10], a = 12 * spacing, b = 4 * spacing;
        poly = {x0, y0, x0 + a, y0, x0 + a, y0 + b, x0 + b, y0 + b, x0 + b, y0 + a, x0, y0 + a};
        break;
      }
      default: {  // a comb whose 60 slanted teeth all begin on one height: many edges meet a row at once
        const float x0 = origin + 2 * spacing * u(rng), y0 = origin + 3 * spacing, top = y0 + 40 * spacing;
        poly = {x0, y0 - 2 * spacing, x0 + 52 * spacing, y0 - 2 * spacing};
        for (int tooth = 59; tooth >= 0; --tooth) {
          const float left = x0 + 0.85f * spacing * static_cast<float>(tooth) + 0.1f * spacing;
          poly.insert(poly.end(), {left + 0.7f * spacing, y0, left + 0.45f * spacing, top, left, y0});
        }
      }
    }
    expectSameAsOneByOne(poly, xs, ys, spacing);
  }
}

namespace {

struct PointRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  explicit PointRun(bool cell) {
    grid::Structure& s = run.structure;
    s.grid.ncols = 40;
    s.grid.nrows = 30;
    s.grid.xll = 1000;
    s.grid.yll = 2000;
    s.cellsize = s.grid.dx = s.grid.dy = 5;
    s.grid.valuesType = cell ? grid::ValuesAt::Cell : grid::ValuesAt::Middle;
    s.grid.values.assign(1200, s.grid.nodata);
    s.assignMask.assign(1200, 1);
  }
};

// The records of one cell found the straightforward way: every point of the set tried.
std::vector<std::pair<float, float>> bruteForce(const Run& run, const PointSet& p, int32_t i, int32_t j, bool cell) {
  const grid::Structure& s = run.structure;
  // The cell relative to the structure's corner, where the searches work.
  const float x0 = static_cast<float>((i - 1) * s.cellsize), x1 = static_cast<float>(i * s.cellsize);
  const float y0 = static_cast<float>((j - 1) * s.cellsize), y1 = static_cast<float>(j * s.cellsize);
  const float c[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
  const float m[2] = {static_cast<float>((i - 0.5) * s.cellsize), static_cast<float>((j - 0.5) * s.cellsize)};
  std::vector<std::pair<float, float>> out;
  for (int32_t k = 0; k < p.count; ++k) {
    if (!(std::fabs(p.value[static_cast<size_t>(k)] - p.nodata) > 0.0001f)) continue;
    float d = 0;
    bool in;
    if (!p.buffered) {
      in = cell ? POINTINCELL(c, p, k)
                : std::fabs(p.x[static_cast<size_t>(k)] - m[0]) < 0.001f &&
                      std::fabs(p.y[static_cast<size_t>(k)] - m[1]) < 0.001f;
    } else if (cell) {
      in = BUFFERREACHESCELL(c, p, k, d);
    } else {
      const float q[2] = {p.x[static_cast<size_t>(k)], p.y[static_cast<size_t>(k)]};
      d = grid::DISTANCE(q, m);
      in = d <= p.radius[static_cast<size_t>(k)];
    }
    if (in) out.push_back({p.value[static_cast<size_t>(k)], d});
  }
  return out;
}

}  // namespace

TEST(PointSets, CellsFindTheirPointsInFileOrderAsTryingEveryPoint) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> ux(995, 1205), uy(1995, 2155), ur(0, 12);
  for (int pass = 0; pass < 4; ++pass) {
    const bool buffered = pass % 2 == 1;
    // The lists by row, as most runs have them, and by column, as a run with models has them.
    const bool byColumn = pass >= 2;
    for (bool cell : {true, false}) {
      PointRun pr(cell);
      PointSet p;
      p.nodata = -9999;
      p.buffered = buffered;
      for (int k = 0; k < 400; ++k) {
        // Some points on cell borders and middles, some with huge buffers.
        float x = ux(rng), y = uy(rng);
        if (k % 5 == 0) x = 1000 + 5.0f * std::round((x - 1000) / 5);
        if (k % 7 == 0) y = 2002.5f + 5.0f * std::round((y - 2002.5f) / 5);
        p.x.push_back(x - 1000);  // relative to the structure's corner, as the reader stores them
        p.y.push_back(y - 2000);
        p.value.push_back(k % 13 == 0 ? -9999.0f : static_cast<float>(k));
        p.radius.push_back(k == 7 ? 5000.0f : ur(rng));
      }
      p.count = static_cast<int32_t>(p.x.size());
      p.listLimit = 200;  // so that the large buffers are tried everywhere
      pr.run.pointSets.push_back(p);
      pr.run.settings.methodPerSet = "ALL-VALUES";
      pr.run.settings.multipleBuffers = "ALL-VALUES";
      pr.run.settings.derive();
      if (byColumn) pr.run.zav.uses.emplace_back();  // a model use: the lists go by column
      preparePointBins(pr.run);
      pr.run.zav.uses.clear();
      ASSERT_EQ(pr.run.pointSets[0].byColumn, byColumn);
      // Along rows, as most runs go, and along columns, as runs with models go.
      for (bool alongRows : {true, false}) {
        Worker w;
        for (int32_t n = 0; n < 40 * 30; ++n) {
          {
            const int32_t i = alongRows ? n % 40 + 1 : n / 30 + 1;
            const int32_t j = alongRows ? n / 40 + 1 : n % 30 + 1;
            const grid::Structure& s = pr.run.structure;
            const float c[8] = {s.edge(i - 1), s.edge(j - 1), s.edge(i),     s.edge(j - 1),
                                s.edge(i),     s.edge(j),     s.edge(i - 1), s.edge(j)};
            std::copy(c, c + 8, w.cell.corners);
            w.cell.middle[0] = s.middle(i);
            w.cell.middle[1] = s.middle(j);
            w.values.clear();
            bool first = true;
            if (cell) {
              SEARCHFORCELLINPOINTS(pr.run, w, 0, i, j, first);
            } else {
              SEARCHFORMIDDLEINPOINTS(pr.run, w, 0, i, j, first);
            }
            auto want = bruteForce(pr.run, pr.run.pointSets[0], i, j, cell);
            ASSERT_EQ(w.values.size(), want.size()) << i << "," << j;
            for (size_t k = 0; k < want.size(); ++k) {
              EXPECT_EQ(w.values[k].value, want[k].first);
              if (buffered) {
                EXPECT_EQ(w.values[k].distance, want[k].second);
              }
            }
          }
        }
      }
    }
  }
}

TEST(PointSets, BuffersReachCellsByCornerEdgeOrInside) {
  PointSet p;
  p.x = {5, 15, 12, 30};
  p.y = {5, 5, 12, 30};
  p.radius = {1, 5, 2.9f, 1};
  p.value = {1, 2, 3, 4};
  const float c[8] = {0, 0, 10, 0, 10, 10, 0, 10};
  float d = -1;
  EXPECT_TRUE(BUFFERREACHESCELL(c, p, 0, d));
  EXPECT_EQ(d, 0.0f);  // inside
  EXPECT_TRUE(BUFFERREACHESCELL(c, p, 1, d));
  EXPECT_EQ(d, 5.0f);  // the right edge
  EXPECT_TRUE(BUFFERREACHESCELL(c, p, 2, d));
  EXPECT_FLOAT_EQ(d, std::sqrt(8.0f));  // the corner (10, 10)
  EXPECT_FALSE(BUFFERREACHESCELL(c, p, 3, d));
}

// The nearest reach of a buffer taken the long way: every corner and every edge whose foot lies
// on it, each distance against the radius. BUFFERREACHESCELL takes only the nearest corner's
// square root; it must give the same answer and the same float, radii on the very distances
// included.
TEST(PointSets, BuffersReachAsEveryCornerAndEdgeTriedInTurn) {
  auto longWay = [](const float c[8], float px, float py, float r, float& best) {
    const float p[2] = {px, py};
    if (grid::POINTINGRIDCELL(p, c)) {
      best = 0.0f;
      return true;
    }
    bool reached = false;
    auto reach = [&](float d) {
      if (!reached || d < best) best = d;
      reached = true;
    };
    for (int k = 0; k < 4; ++k) {
      const float d = grid::DISTANCE(p, c + 2 * k);
      if (d <= r) reach(d);
    }
    for (int k = 0; k < 4; ++k) {
      const int m = (k + 1) % 4;
      const float edge[4] = {c[2 * k], c[2 * k + 1], c[2 * m], c[2 * m + 1]};
      const float d = grid::DISTANCEPOINTTOLINE(p, edge);
      if (d <= r && grid::POINTBETWEENLINEPOINTS(p, edge)) reach(d);
    }
    return reached;
  };
  std::mt19937 rng(16);
  for (const float size : {10.0f, 0.25f, 1000.0f}) {
    // A cell far from the corner of the structure, so that the coordinates round.
    const float x0 = 3 * size + 0.1f, y0 = 7 * size + 0.3f, x1 = x0 + size, y1 = y0 + size;
    const float c[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
    std::uniform_real_distribution<float> u(-1.5f * size, 2.5f * size), ur(0.0f, 1.5f * size);
    PointSet p;
    for (int k = 0; k < 20000; ++k) {
      const float px = x0 + u(rng), py = y0 + u(rng);
      p.x.push_back(px);
      p.y.push_back(py);
      const float q[2] = {px, py};
      // A third of the radii are the distance to a corner exactly, or a step either side of it.
      const float corner = grid::DISTANCE(q, c + 2 * (k % 4));
      p.radius.push_back(k % 3 == 0 ? corner : k % 3 == 1 ? std::nextafter(corner, k % 2 ? 0.0f : 1e9f) : ur(rng));
      p.value.push_back(1.0f);
    }
    for (int32_t k = 0; k < static_cast<int32_t>(p.x.size()); ++k) {
      float want = -1.0f, got = -1.0f;
      const size_t q = static_cast<size_t>(k);
      const bool wanted = longWay(c, p.x[q], p.y[q], p.radius[q], want);
      ASSERT_EQ(BUFFERREACHESCELL(c, p, k, got), wanted) << "point " << k << " of cells of " << size;
      if (wanted) {
        ASSERT_EQ(got, want) << "point " << k << " of cells of " << size;
      }
    }
  }
}

// Sets of many points are binned on every core, each taking a share of the points; the bins
// must come out as one core makes them: each row's cells in column order, a cell's points in
// file order, the points tried everywhere in file order.
TEST(PointSets, BinnedOnEveryCoreTheyAreBinnedAsOnOne) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> ux(990, 1210), uy(1990, 2160), ur(0, 12);
  for (bool buffered : {false, true}) {
    PointSet p;
    p.nodata = -9999;
    p.buffered = buffered;
    for (int k = 0; k < 100000; ++k) {
      p.x.push_back(ux(rng) - 1000);
      p.y.push_back(uy(rng) - 2000);
      p.value.push_back(k % 13 == 0 ? -9999.0f : static_cast<float>(k));
      p.radius.push_back(k % 997 == 0 ? 5000.0f : ur(rng));
    }
    p.count = static_cast<int32_t>(p.x.size());
    p.listLimit = 200;
    std::vector<PointSet> binned;
    for (int threads : {1, 2, 3}) {
      PointRun pr(true);
      pr.run.fr.threads = threads;
      pr.run.pointSets.push_back(p);
      preparePointBins(pr.run);
      binned.push_back(pr.run.pointSets[0]);
    }
    for (size_t n = 1; n < binned.size(); ++n) {
      EXPECT_EQ(binned[n].lineStart, binned[0].lineStart);
      EXPECT_EQ(binned[n].everywhere, binned[0].everywhere);
      ASSERT_EQ(binned[n].entries.size(), binned[0].entries.size());
      for (size_t e = 0; e < binned[0].entries.size(); ++e) {
        ASSERT_EQ(binned[n].entries[e].across, binned[0].entries[e].across) << e;
        ASSERT_EQ(binned[n].entries[e].point, binned[0].entries[e].point) << e;
      }
    }
    EXPECT_EQ(binned[0].everywhere.empty(), !buffered);
  }
}

namespace {

// A run with a structure held whole (or in bands) of 3000 x 2500 cells of 2 m at (5000, 7000),
// its rows filled beside as a run fills them (large enough for the fill to take a while), and
// its listing open.
struct PolygonFileRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  PolygonFileRun(bool whole, int threads) {
    grid::Structure& s = run.structure;
    s.grid.ncols = 3000;
    s.grid.nrows = 2500;
    s.grid.xll = 5000;
    s.grid.yll = 7000;
    s.grid.nodata = -9;
    s.cellsize = s.grid.dx = s.grid.dy = 2;
    s.whole = whole;
    if (whole) grid::holdStructureRows(s, 1, s.grid.nrows, grid::Fill::Beside);
    run.fr.threads = threads;
    auto f = std::make_unique<frame::TextOutputFile>();
    f->open(t.path("listing.out").string(), false);
    run.fr.units.connectOutput(11, t.path("listing.out").string(), std::move(f));
    frame::PROGRM(run.fr, "TervalaGridCreate");
    frame::SETLU(run.fr, 11, "INIT");
    frame::PAGN2(run.fr, "INIT", " ");
  }
  // The values after the polygon file, the structure held whole or band by band as a run does.
  std::vector<float> values(const std::string& line, bool& failed) {
    grid::Structure& s = run.structure;
    failed = HANDLEPOLYGONFILE(run, line);
    if (!failed && !s.whole) {
      grid::holdStructureRows(s, 1, s.grid.nrows);
      grid::holdMask(s);
      applyPolygonSets(run, 1, s.grid.nrows);
    }
    s.work.settle();
    return std::vector<float>(s.grid.values.begin(), s.grid.values.end());
  }
};

// A generate polygon file of stars: many small ones, and two of 9000 vertices each.
std::string starFile(int badAfter = -1) {
  std::mt19937 rng(20261209);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::string text;
  for (int p = 0; p < 302; ++p) {
    if (p == badAfter) text += std::to_string(p + 1) + " AUTO\n5010.5,7010.5\nnot a vertex\nEND\n";
    const bool big = p == 150 || p == 151;
    const float r1 = big ? 300.0f : 4.0f + 60.0f * u(rng);
    const auto v = star(5000.0f + 6000.0f * u(rng), 7000.0f + 5000.0f * u(rng), r1 * 0.4f, r1,
                        big ? 4500 : 3 + static_cast<int>(10 * u(rng)), 6.0f * u(rng));
    text += std::to_string(p + 1) + " AUTO\n";
    for (size_t k = 0; k <= v.size(); k += 2) {
      const size_t q = k % v.size();
      text += std::to_string(v[q]) + "," + std::to_string(v[q + 1]) + "\n";
    }
    text += "END\n";
  }
  return text + "END\n";
}

}  // namespace

// A structure held whole takes the polygons while the file is read, on as many threads as
// asked; the cells are what reading the whole file first and then applying it band by band
// gives, though the rows were still being filled when the reading began. A file that stops on
// a bad line midway stops the run without a hang.
TEST(PolygonFiles, AppliedWhileReadTheyCoverWhatTheFileReadFirstCovers) {
  PolygonFileRun first(false, 1);
  writeFile(first.t.path("stars.gen"), starFile());
  bool failed = false;
  const auto expected = first.values("POLYGONFILE," + first.t.path("stars.gen").string() + ",ASSIGN,7.5", failed);
  ASSERT_FALSE(failed);
  ASSERT_GT(std::count(expected.begin(), expected.end(), 7.5f), 20000);
  ASSERT_GT(std::count(expected.begin(), expected.end(), -9.0f), 20000);
  for (int threads : {1, 2, 3}) {
    PolygonFileRun whole(true, threads);
    writeFile(whole.t.path("stars.gen"), starFile());
    const auto got = whole.values("POLYGONFILE," + whole.t.path("stars.gen").string() + ",ASSIGN,7.5", failed);
    ASSERT_FALSE(failed);
    EXPECT_EQ(whole.run.provenance.polygonCount, 302);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << threads << " threads";
  }
  PolygonFileRun bad(true, 2);
  writeFile(bad.t.path("stars.gen"), starFile(200));
  bad.values("POLYGONFILE," + bad.t.path("stars.gen").string() + ",ASSIGN,7.5", failed);
  EXPECT_TRUE(failed);
}
