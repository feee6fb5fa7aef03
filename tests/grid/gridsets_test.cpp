#include "grid/gridsets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "frame/littleendian.h"
#include "support.h"

using namespace grid;
using testing_support::errorBlock;
using testing_support::hasBlock;
using testing_support::TestFrame;
using testing_support::writeFile;

namespace {

Structure structure3x2() {
  Structure s;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.grid.dx = s.grid.dy = s.cellsize = 10;
  s.grid.ncols = 3;
  s.grid.nrows = 2;
  return s;
}

const char* kAsc = "ncols 3\nnrows 2\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -9999\n";

void writeBil(TestFrame& t, const std::string& base, int nbits, const std::vector<double>& values, size_t keep = 0) {
  writeFile(t.path(base + ".hdr"), "nrows 2\nncols 3\nnbits " + std::to_string(nbits) +
                                       "\nulxmap 105\nulymap 215\nxdim 10\nydim 10\nnodata -9999\n");
  std::string data;
  for (double v : values) {
    unsigned char b[4];
    if (nbits == 16) {
      frame::le::store(b, static_cast<int16_t>(v));
    } else {
      frame::le::store(b, static_cast<float>(v));
    }
    data.append(reinterpret_cast<const char*>(b), nbits == 16 ? 2 : 4);
  }
  if (keep) data.resize(keep);
  writeFile(t.path(base + ".bil"), data);
}

bool handle(TestFrame& t, GridSets& g, const std::string& line, const std::string& method = "AVERAGE") {
  return HANDLETERVALAGRID(t.fr, structure3x2(), g, method, line, 1);
}

}  // namespace

TEST(GridSets, AscValuesNorthRowFirstWithPriorityAndValues) {
  TestFrame t;
  t.openListing();
  writeFile(t.path("a.asc"), std::string(kAsc) + "1 2\n3\n4, 5 2*6.5\n");
  GridSets g;
  ASSERT_FALSE(handle(t, g, "TERVALAGRID,ASC,MIDDLE," + t.path("a").string() + ",7,#VALUES=2"));
  const GridDescription& d = g.descriptions[0];
  EXPECT_EQ(d.valuesType, grid::ValuesAt::Middle);
  EXPECT_EQ(d.priority, 7);
  EXPECT_EQ(d.numberOfValues, 2);
  EXPECT_TRUE(d.sameGeometry);
  EXPECT_EQ(d.at(1, 2), 1.0f);
  EXPECT_EQ(d.at(3, 2), 3.0f);
  EXPECT_EQ(d.at(1, 1), 4.0f);
  EXPECT_EQ(d.at(3, 1), 6.5f);
  // #VALUES in the place of the priority is not a priority.
  GridSets h;
  ASSERT_FALSE(handle(t, h, "TERVALAGRID,ASC,," + t.path("a.asc").string() + ",#VALUES=3"));
  EXPECT_EQ(h.descriptions[0].priority, 0);
  EXPECT_EQ(h.descriptions[0].numberOfValues, 3);
  EXPECT_EQ(h.descriptions[0].valuesType, grid::ValuesAt::Cell);
}

TEST(GridSets, AscCentreHeaderIsMovedToTheCorner) {
  TestFrame t;
  t.openListing();
  writeFile(t.path("c.asc"),
            "ncols 3\nnrows 2\nxllcenter 105\nyllcenter 205\ncellsize 10\nnodata_value -9999\n1 2 3 4 5 6\n");
  GridSets g;
  ASSERT_FALSE(handle(t, g, "TERVALAGRID,ASC,CELL," + t.path("c.asc").string()));
  EXPECT_EQ(g.descriptions[0].xll, 100.0f);
  EXPECT_TRUE(g.descriptions[0].sameGeometry);
}

TEST(GridSets, BilSixteenAndThirtyTwoBits) {
  TestFrame t;
  t.openListing();
  writeBil(t, "i", 16, {-5, 2, 3, 4, 5, 6});
  writeBil(t, "f", 32, {1.5, 2, 3, 4, 5, 6});
  GridSets g;
  ASSERT_FALSE(handle(t, g, "TERVALAGRID,BIL,CELL," + t.path("i").string(), "MINORITY"));
  EXPECT_TRUE(g.sixteenBit);
  EXPECT_EQ(g.descriptions[0].at(1, 2), -5.0f);
  ASSERT_FALSE(handle(t, g, "TERVALAGRID,BIL,CELL," + t.path("f").string()));
  EXPECT_FALSE(g.sixteenBit);
  EXPECT_EQ(g.descriptions[1].at(1, 2), 1.5f);
  EXPECT_EQ(g.descriptions[1].at(3, 1), 6.0f);
  EXPECT_EQ(g.descriptions[1].xll, 100.0f);
  EXPECT_EQ(g.descriptions[1].yll, 200.0f);
}

TEST(GridSets, MajorityNeedsWholeNonNegativeValues) {
  TestFrame t;
  t.openListing();
  writeFile(t.path("ok.asc"), std::string(kAsc) + "0 3 -9999 1 2 3\n");
  writeFile(t.path("bad.asc"), std::string(kAsc) + "0 3 2.5 1 2 3\n");
  GridSets g;
  EXPECT_FALSE(handle(t, g, "TERVALAGRID,ASC,," + t.path("ok.asc").string(), "MAJORITY"));
  EXPECT_FALSE(handle(t, g, "TERVALAGRID,ASC,," + t.path("bad.asc").string(), "AVERAGE"));
  EXPECT_TRUE(handle(t, g, "TERVALAGRID,ASC,," + t.path("bad.asc").string(), "MAJORITY"));
  EXPECT_TRUE(hasBlock(t.lines(), errorBlock({" When Majority or Minority is asked for the",
                                              " values in a grid file must be positive integers.", "", "",
                                              "   File: " + t.path("bad.asc").string()})));
  // A 16-bit raster with a negative value: refused under MAJORITY, accepted under MINORITY.
  TestFrame u;
  u.openListing();
  writeBil(u, "i", 16, {-5, 2, 3, 4, 5, 6});
  GridSets h;
  EXPECT_TRUE(handle(u, h, "TERVALAGRID,BIL,," + u.path("i").string(), "MAJORITY"));
}

TEST(GridSets, FaultsNameTheLineOrTheFile) {
  TestFrame t;
  writeFile(t.path("short.asc"), std::string(kAsc) + "1 2 3 4 5\n");
  writeFile(t.path("nan.asc"), std::string(kAsc) + "1 2 3 nan 5 6\n");
  writeBil(t, "short", 32, {1, 2, 3, 4, 5, 6}, 20);
  struct Case {
    std::string line;
    std::vector<std::string> message;
  } cases[] = {
      {"TERVALAGRID,,CELL,X",
       {" No file type for a TERVALA grid file in line:", "", "   Command line: TERVALAGRID,,CELL,X"}},
      {"TERVALAGRID,GRD,CELL,X",
       {" File type for a TERVALA grid file must be ASC or BIL:", "", "", "TERVALAGRID,GRD,CELL,X",
        " (Also TIF, a GeoTIFF, and GDAL, any raster GDAL reads.)"}},
      {"TERVALAGRID,ASC,AREA,X",
       {" No correct assignment of vaules type in a TERVALA grid file.", " It must be CELL or MIDDLE.", "",
        "   Command line: TERVALAGRID,ASC,AREA,X"}},
      {"TERVALAGRID,ASC,CELL",
       {" No file descriptor for a TERVALA grid file.", "", "   Command line: TERVALAGRID,ASC,CELL"}},
      {"TERVALAGRID,ASC,CELL," + t.path("none").string(),
       {" The Tervala file " + t.path("none").string() + ".ASC could not be opened.", " Error number=000002"}},
      {"TERVALAGRID,ASC,CELL," + t.path("short.asc").string(),
       {" The Tervala file " + t.path("short.asc").string() + " holds fewer values than its header says:",
        " the values end at row 2, column 3 of 2 rows of 3 columns."}},
      {"TERVALAGRID,ASC,CELL," + t.path("nan.asc").string(),
       {" The Tervala file " + t.path("nan.asc").string() + " holds a value that is not a number at row 2, column 1:",
        " nan"}},
      {"TERVALAGRID,BIL,CELL," + t.path("short").string(),
       {" The Tervala file " + t.path("short.BIL").string() + " is shorter than its header says:",
        " it holds 20 bytes, the header asks for 24."}},
  };
  for (const auto& c : cases) {
    TestFrame u;
    u.openListing();
    GridSets g;
    EXPECT_TRUE(handle(u, g, c.line)) << c.line;
    EXPECT_TRUE(hasBlock(u.lines(), errorBlock(c.message))) << c.line;
  }
}

// A grid not held whole is checked when read and read again in windows of rows, north to
// south, overlapping or not, from ASC (read on) and BIL (by seeking) alike.
TEST(GridSets, RowWindowsReadAgainAsTheWholeGrid) {
  TestFrame t;
  t.openListing();
  // Four rows: the values are 10 * row + column, row 4 (north) first in the file.
  std::string asc = "ncols 3\nnrows 4\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -9999\n";
  std::string bil;
  for (int r = 4; r >= 1; --r) {
    for (int c = 1; c <= 3; ++c) {
      asc += std::to_string(10 * r + c) + (c == 3 ? "\n" : " ");
      unsigned char b[4];
      frame::le::store(b, static_cast<float>(10 * r + c));
      bil.append(reinterpret_cast<const char*>(b), 4);
    }
  }
  writeFile(t.path("w.asc"), asc);
  writeFile(t.path("w.bil"), bil);
  writeFile(t.path("w.hdr"), "nrows 4\nncols 3\nulxmap 105\nulymap 235\nxdim 10\nydim 10\nnodata -9999\n");
  for (const char* type : {"ASC", "BIL"}) {
    GridSets g;
    g.keepLimit = 0;  // nothing held whole
    ASSERT_FALSE(HANDLETERVALAGRID(t.fr, structure3x2(), g, "AVERAGE",
                                   std::string("TERVALAGRID,") + type + ",CELL," + t.path("w").string(), 1));
    ASSERT_FALSE(g.sources[0].kept);
    GridDescription& d = g.descriptions[0];
    EXPECT_TRUE(d.values.empty()) << type;
    // Windows as bands of a structure ask for them: overlapping, then apart, then one row.
    const int32_t windows[][2] = {{3, 4}, {2, 3}, {1, 1}, {1, 1}};
    for (const auto& w : windows) {
      ASSERT_FALSE(loadGridRows(t.fr, g, 0, w[0], w[1])) << type;
      ASSERT_EQ(d.values.size(), static_cast<size_t>(3 * (w[1] - w[0] + 1)));
      for (int32_t r = w[0]; r <= w[1]; ++r) {
        for (int32_t c = 1; c <= 3; ++c) EXPECT_EQ(d.at(c, r), static_cast<float>(10 * r + c)) << type << " " << r;
      }
    }
    // Asked for rows north of the last window (a new run of bands): read from the start again.
    ASSERT_FALSE(loadGridRows(t.fr, g, 0, 4, 4));
    EXPECT_EQ(d.at(2, 4), 42.0f) << type;
  }
}

// A 32-bit BIL large enough to be read on several threads lands row for row where a reading
// row by row puts it (north row first in the file, south row first in memory), for any
// THREADS; the first value that is not a number in file order is the one reported, wherever
// the threads' shares of the rows begin; under MAJORITY a row north of it that fails the
// class check is reported instead.
TEST(GridSets, LargeBilReadStraightIntoPlaceOnAnyThreads) {
  const int nc = 1000, nr = 2300;  // 9.2 MB: two shares of rows
  auto make = [&](TestFrame& t, const std::string& base, std::vector<std::pair<int, float>> cells) {
    writeFile(t.path(base + ".hdr"), "nrows " + std::to_string(nr) + "\nncols " + std::to_string(nc) +
                                         "\nnbits 32\nulxmap 105\nulymap " + std::to_string(200 + nr * 10 - 5) +
                                         "\nxdim 10\nydim 10\nnodata -9999\n");
    std::vector<float> v(static_cast<size_t>(nc) * nr);
    for (size_t k = 0; k < v.size(); ++k) v[k] = static_cast<float>(k % 1000003);  // file order
    for (auto [at, x] : cells) v[static_cast<size_t>(at)] = x;
    writeFile(t.path(base + ".bil"), std::string(reinterpret_cast<const char*>(v.data()), v.size() * 4));
  };
  Structure s;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.grid.dx = s.grid.dy = s.cellsize = 10;
  s.grid.ncols = nc;
  s.grid.nrows = nr;
  for (int threads : {1, 2, 3}) {
    TestFrame t;
    t.openListing();
    t.fr.threads = threads;
    make(t, "g", {});
    GridSets g;
    ASSERT_FALSE(HANDLETERVALAGRID(t.fr, s, g, "AVERAGE", "TERVALAGRID,BIL,CELL," + t.path("g").string(), 1));
    const GridDescription& d = g.descriptions.back();
    ASSERT_EQ(d.values.size(), static_cast<size_t>(nc) * nr);
    bool same = true;
    for (int r = 1; r <= nr && same; ++r) {
      for (int c = 1; c <= nc; ++c) {
        const size_t fileAt = static_cast<size_t>(nr - r) * nc + static_cast<size_t>(c - 1);
        same = same && d.at(c, r) == static_cast<float>(fileAt % 1000003);
      }
    }
    EXPECT_TRUE(same) << "THREADS=" << threads;
    // Not-a-number values in every share: the northern one is named, the western in its row.
    const float nan = std::nanf(""), inf = HUGE_VALF;
    make(t, "bad", {{1900 * nc + 7, nan}, {700 * nc + 999, nan}, {700 * nc + 500, inf}, {1200 * nc, nan}});
    GridSets b;
    EXPECT_TRUE(HANDLETERVALAGRID(t.fr, s, b, "AVERAGE", "TERVALAGRID,BIL,CELL," + t.path("bad").string(), 1));
    auto l = t.lines();
    EXPECT_TRUE(hasBlock(l, errorBlock({" The Tervala file " + t.path("bad.BIL").string() +
                                        " holds a value that is not a number at row 701, column 501."})))
        << "THREADS=" << threads;
    TestFrame u;
    u.openListing();
    u.fr.threads = threads;
    make(u, "class", {{1100 * nc, 2.5f}, {1200 * nc, nan}});
    GridSets m;
    EXPECT_TRUE(HANDLETERVALAGRID(u.fr, s, m, "MAJORITY", "TERVALAGRID,BIL,CELL," + u.path("class").string(), 1));
    l = u.lines();
    EXPECT_TRUE(hasBlock(l, errorBlock({" When Majority or Minority is asked for the",
                                        " values in a grid file must be positive integers.", "", "",
                                        "   File: " + u.path("class").string() + ".BIL"})))
        << "THREADS=" << threads;
    TestFrame w;
    w.openListing();
    w.fr.threads = threads;
    make(w, "late", {{1300 * nc, 2.5f}, {1200 * nc, nan}});
    GridSets n;
    EXPECT_TRUE(HANDLETERVALAGRID(w.fr, s, n, "MAJORITY", "TERVALAGRID,BIL,CELL," + w.path("late").string(), 1));
    l = w.lines();
    EXPECT_EQ(std::find(l.begin(), l.end(), " values in a grid file must be positive integers."), l.end());
  }
}
