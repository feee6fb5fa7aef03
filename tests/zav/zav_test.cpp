#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "assign/run.h"
#include "assign/zavsearch.h"
#include "grid/general.h"
#include "support.h"
#include "zav/zavfiles.h"
#include "zav/zavobjects.h"

using namespace assign;
using testing_support::hasBlock;
using testing_support::TestFrame;

namespace {

void put32(std::string& s, int32_t v) {
  s.append(reinterpret_cast<const char*>(&v), 4);
}
void putF(std::string& s, float v) {
  s.append(reinterpret_cast<const char*>(&v), 4);
}

// A rotated, warped model grid of n x m points, with some absent points and inactive cells.
struct ModelGrid {
  int32_t n, m;
  std::vector<float> x, y;
  std::vector<int32_t> seg;
};

ModelGrid warped(int32_t n, int32_t m, unsigned seed) {
  ModelGrid g{n, m, {}, {}, {}};
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> jitter(-0.8f, 0.8f);
  for (int32_t j = 1; j <= m; ++j) {
    for (int32_t i = 1; i <= n; ++i) {
      const double u = (i - 1) * 10.0 + jitter(rng), v = (j - 1) * 8.0 + 1.5 * std::sin(i / 3.0);
      g.x.push_back(static_cast<float>(5000 + u * 0.8 - v * 0.6));
      g.y.push_back(static_cast<float>(7000 + u * 0.6 + v * 0.8));
    }
  }
  g.x[static_cast<size_t>(3 * n + 4)] = 0.0f;  // an absent grid point
  int32_t s = 0;
  for (int32_t j = 1; j <= m; ++j) {
    for (int32_t i = 1; i <= n; ++i) g.seg.push_back(i >= 2 && j >= 2 ? (++s % 11 == 0 ? -1 : s) : 0);
  }
  return g;
}

struct ZavRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  explicit ZavRun(const ModelGrid& g) {
    t.openListing();
    std::string lga, cco, map;
    put32(lga, g.n);
    put32(lga, g.m);
    put32(lga, (g.n - 1) * (g.m - 1));
    for (int k = 0; k < 4; ++k) put32(lga, 0);
    for (int32_t v : g.seg) put32(lga, v);
    put32(cco, g.m);
    put32(cco, g.n);
    for (int k = 0; k < 5; ++k) put32(cco, 0);
    for (int k = 0; k < 9; ++k) putF(cco, 0);
    for (float v : g.x) putF(cco, v);
    for (float v : g.y) putF(cco, v);
    map.append(160, ' ');
    put32(map, 1);
    put32(map, (g.n - 1) * (g.m - 1));
    map.append("LEVEL               ");
    for (int block = 0; block < 3; ++block) {
      put32(map, block);
      for (int32_t k = 1; k <= (g.n - 1) * (g.m - 1); ++k) putF(map, static_cast<float>(k) + 0.5f);
    }
    map.append(7, '\0');  // a block cut short
    testing_support::writeFile(t.path("g.lga"), lga);
    testing_support::writeFile(t.path("g.cco"), cco);
    testing_support::writeFile(t.path("g.map"), map);
    t.input(10, "LGA,G," + t.path("g.lga").string() + "\nCCO,G," + t.path("g.cco").string() + "\nMAP,G," +
                    t.path("g.map").string() + "\nZAV-OBJECT,OBJ\nBEGIN\nLGA,G\nCCO,G\nMAP,G\nEND\n");
    zav::DEFINEZAV(t.fr, run.zav, 10);
  }
  void use(const std::string& line) {
    zav::HANDLEZAVFILE(t.fr, run.zav, line);
    run.zav.uses.back().tableOwner = static_cast<int>(run.zav.uses.size());
  }
};

}  // namespace

TEST(ZavFiles, HeadersCountsAndClassification) {
  ModelGrid g = warped(6, 5, 1);
  ZavRun z(g);
  const auto& f = z.run.zav.files;
  ASSERT_EQ(f.lga.size(), 1u);
  EXPECT_EQ(zav::GETMAXINDEX(f, 1, "LGA", "N"), 6);
  EXPECT_EQ(zav::GETMAXINDEX(f, 1, "CCO", "M"), 5);
  EXPECT_EQ(f.lga[0].smallestPositive, 1);
  EXPECT_EQ(f.lga[0].largestNegative, -1);
  EXPECT_EQ(zav::GETMAXSEGMENTINLGAID(f, "G"), 20);
  EXPECT_EQ(zav::GETMAXSEGMENTINLGAID(f, "NONE"), 0);
  EXPECT_EQ(f.map[0].timeBlocks, 3);  // the block cut short does not count
  EXPECT_EQ(f.map[0].layers, 1);
  // Grid points at 0.0 do not widen the extent.
  float e[4];
  zav::GETGRIDEXTENT(f, e, 1);
  EXPECT_GT(e[0], 4000.0f);
  const zav::CellCorners bad = zav::GETCELLCORNERS(f, 1, 5, 4);  // has the absent point (5, 4)
  EXPECT_FALSE(bad.valid);
  const zav::CellCorners ok = zav::GETCELLCORNERS(f, 1, 2, 2);
  EXPECT_TRUE(ok.valid);
  EXPECT_GT(ok.area, 0.0f);
  std::vector<float> values;
  z.use("USE-ZAV-OBJECT,OBJ,LEVEL");
  zav::READVALUESFROMZAV(z.t.fr, z.run.zav, 1, "START", "LEVEL", 1, 1, values);
  ASSERT_EQ(values.size(), 20u);
  EXPECT_EQ(values[0], 1.5f);
}

TEST(ZavSearch, GetcellFindsWhatTheFullScanFinds) {
  ModelGrid g = warped(30, 25, 2);
  ZavRun z(g);
  z.use("USE-ZAV-OBJECT,OBJ,LEVEL");
  prepareZavUses(z.run);
  const zav::ZavUse& u = z.run.zav.uses[0];
  // The straightforward search written out: hinted cell, neighbours, then every cell in scan order.
  auto holds = [&](int32_t n, int32_t m, const float p[2]) {
    if (n < 2 || n > u.n || m < 2 || m > u.m) return false;
    const zav::CellCorners c = zav::GETCELLCORNERS(z.run.zav.files, u.ccoNr, n, m);
    return c.valid && grid::POINTINPOLYGON(p, c.corners, 4);
  };
  ZavCellState fast, slow;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> px(4880, 5260), py(6990, 7380), step(-6, 6);
  float p[2] = {5100, 7100};
  for (int k = 0; k < 20000; ++k) {
    // Mostly short steps (the hint helps), sometimes a jump, sometimes exactly on a grid point.
    if (k % 50 == 0) {
      p[0] = px(rng);
      p[1] = py(rng);
    } else {
      p[0] += step(rng);
      p[1] += step(rng);
    }
    if (k % 97 == 0) {
      const size_t q = static_cast<size_t>(k) % g.x.size();
      p[0] = g.x[q];
      p[1] = g.y[q];
    }
    bool want = false;
    if (slow.hintFound && holds(slow.hintN, slow.hintM, p)) {
      want = true;
    } else {
      slow.hintFound = false;
      for (int32_t n = slow.hintN - 1; n <= slow.hintN + 1 && !want; ++n) {
        for (int32_t m = slow.hintM - 1; m <= slow.hintM + 1 && !want; ++m) {
          if ((n != slow.hintN || m != slow.hintM) && holds(n, m, p)) {
            slow.hintN = n;
            slow.hintM = m;
            want = true;
          }
        }
      }
      for (int32_t n = 2; n <= u.n && !want; ++n) {
        for (int32_t m = 2; m <= u.m && !want; ++m) {
          if (holds(n, m, p)) {
            slow.hintN = n;
            slow.hintM = m;
            want = true;
          }
        }
      }
      slow.hintFound = want;
    }
    const bool got = GETCELL(z.run, u, p, fast);
    ASSERT_EQ(got, want) << k;
    if (want) {
      ASSERT_EQ(fast.hintN, slow.hintN) << k;
      ASSERT_EQ(fast.hintM, slow.hintM) << k;
    }
  }
}

TEST(ZavSearch, NearestGridPointAndCellWalkMatchTheStraightforwardOnes) {
  ModelGrid g = warped(20, 16, 4);
  for (const char* kind : {"GRID-POINT", "CELL"}) {
    ZavRun z(g);
    z.use(std::string("USE-ZAV-OBJECT,OBJ,LEVEL,") + kind);
    z.run.structure.grid.valuesType = std::string(kind) == "CELL" ? grid::ValuesAt::Cell : grid::ValuesAt::Middle;
    z.run.settings.derive();
    prepareZavUses(z.run);
    const zav::ZavUse& u = z.run.zav.uses[0];
    const bool gridPoint = std::string(kind) == "GRID-POINT";
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> px(4900, 5180), py(7000, 7260);
    Worker w;
    int checked = 0;
    for (int k = 0; k < 3000; ++k) {
      const float x0 = std::round(px(rng)), y0 = std::round(py(rng)), size = k % 3 == 0 ? 25.0f : 4.0f;
      const float c[8] = {x0, y0, x0 + size, y0, x0 + size, y0 + size, x0, y0 + size};
      std::copy(c, c + 8, w.cell.corners);
      w.cell.middle[0] = x0 + size / 2;
      w.cell.middle[1] = y0 + size / 2;
      w.values.clear();
      bool first = true;
      if (gridPoint) {
        SEARCHFORMIDDLEINZAV(z.run, w, 0, 1, 1, first);
        // Written out: the nearest valid grid point with a segment, first in scan order on a tie,
        // once a cell holds the middle.
        if (!w.zav[0].found) continue;
        float best = 0;
        int32_t seg = -1;
        bool any = false;
        for (int32_t n = 2; n <= u.n; ++n) {
          for (int32_t m = 2; m <= u.m; ++m) {
            const zav::CellCorners cc = zav::GETCELLCORNERS(z.run.zav.files, u.ccoNr, n, m);
            const int32_t s = zav::GETSEGMENTNRFORINDICES(z.run.zav.files, u.lgaNr, n, m);
            if (!cc.valid || s < 1) continue;
            const float d = grid::DISTANCE(w.cell.middle, cc.corners);
            if (!any || d < best) {
              best = d;
              seg = s;
              any = true;
            }
          }
        }
        ASSERT_EQ(w.zav[0].pieces.front().first, seg) << k;
        ++checked;
      } else {
        SEARCHFORCELLINZAV(z.run, w, 0, 1, 1, first);
        // Written out: every cell of the sorted list tried, with the 99.99 per cent stop.
        std::vector<std::pair<int32_t, float>> want;
        bool inside = false;
        for (int q = 0; q < 4; ++q) {
          const float box[8] = {u.extent[0], u.extent[2], u.extent[1], u.extent[2],
                                u.extent[1], u.extent[3], u.extent[0], u.extent[3]};
          inside = inside || grid::POINTINPOLYGON(c + 2 * q, box, 4);
        }
        if (inside) {
          grid::PolygonClipper clip;
          float total = 0;
          const float area = grid::SETPOLYGONAREA(c, 4);
          for (const auto& zc : u.cells) {
            if (!(zc.xmin < c[4] && zc.xmax > c[0])) continue;
            clip.CLIPPOLYGON(c, zc.corners, 4, 1.0f);
            const float a = clip.count() ? grid::SETPOLYGONAREA(clip.vertices(), clip.count()) : 0.0f;
            if (a > 0) {
              want.push_back({zav::GETSEGMENTNRFORINDICES(z.run.zav.files, u.lgaNr, zc.n, zc.m), a});
              total += a;
              if (total / area * 100.0f > 99.99f) break;
            }
          }
        }
        ASSERT_EQ(w.zav[0].pieces, want) << k;
        checked += !want.empty();
      }
    }
    EXPECT_GT(checked, 500) << kind;
  }
}

TEST(ZavObjects, LayersMustBeWholeAndFilesGiven) {
  ModelGrid g = warped(6, 5, 1);
  ZavRun z(g);
  // 1.5 times the segments of a layer: the layers do not match.
  z.run.zav.files.map[0].ns = 30;
  EXPECT_THROW(zav::CHECKZAVOBJECT(z.t.fr, z.run.zav, 1), frame::Stop);
  TestFrame t;
  t.openListing();
  zav::ZavState state;
  state.objects.push_back(zav::ZavObject{"", "", "", "LONE", -1, -1, -1});
  EXPECT_THROW(zav::CHECKZAVOBJECT(t.fr, state, 1), frame::Stop);
  EXPECT_TRUE(hasBlock(
      t.lines(), {" ***********ERROR", " ZAV-Object: LONE", " The block must name an LGA, a CCO and a MAP file."}));
}
