#include "grid/writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "frame/format.h"
#include "frame/text.h"
#include "grid/structure.h"
#include "support.h"

using namespace grid;
using testing_support::TestFrame;

TEST(GridWriter, AscValuesMatchTheExponentFormForEveryFloat) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<uint32_t> bits;
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    uint32_t b = bits(rng);
    float v;
    std::memcpy(&v, &b, 4);
    if (!std::isfinite(v)) continue;
    std::string fast;
    appendAscValue(fast, v);
    ASSERT_EQ(fast, " " + frame::fmtE(v, 12, 6)) << v;
    ++checked;
  }
  for (float v : {0.0f, -0.0f, 1.5f, -999.999f, 9.9999995f, 99999.95f, 1.0e-45f, 3.4e38f, -1.0f, 0.5f}) {
    std::string fast;
    appendAscValue(fast, v);
    EXPECT_EQ(fast, " " + frame::fmtE(v, 12, 6)) << v;
  }
  EXPECT_GT(checked, 190000);
}

TEST(GridWriter, HeaderNumbersKeepTheirLayoutWhenExactAndOtherwiseReadBack) {
  EXPECT_EQ(ascHeaderNumber(100.0f, 10, 2), "    100.00");
  EXPECT_EQ(ascHeaderNumber(0.5f, 10, 2), "      0.50");
  EXPECT_EQ(ascHeaderNumber(0.001f, 10, 2), "     0.001");
  EXPECT_EQ(ascHeaderNumber(12345678.0f, 10, 2), "  12345678");
  EXPECT_EQ(ascHeaderNumber(100000.125f, 10, 2), "100000.125");
  EXPECT_EQ(hdrRealNumber(105.0), "105");
  EXPECT_EQ(hdrRealNumber(100.5), "100.500");
  EXPECT_EQ(hdrRealNumber(0.5), "0.500000");
  EXPECT_EQ(hdrRealNumber(100000.125), "100000.125");
  EXPECT_EQ(hdrRealNumber(10.0), "10");
  EXPECT_EQ(hdrRealNumber(-3.0), "-3.00000");  // truncation toward zero misses negative whole numbers
}

namespace {
Structure grid2x3() {
  Structure s;
  s.grid.ncols = 2;
  s.grid.nrows = 3;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.cellsize = 10;
  s.grid.dx = s.grid.dy = 10;
  s.grid.nodata = s.nodataOut = -999.999f;
  s.grid.values = {1, 2, 3, 4, 5, 6};  // row 1 (south) first
  s.assignMask.assign(6, 1);
  return s;
}
}  // namespace

TEST(GridWriter, AscLayoutNorthRowFirst) {
  TestFrame t;
  t.openListing();
  Structure s = grid2x3();
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("out.asc").string(), false, true));
  auto l = testing_support::readLines(t.path("out.asc"));
  ASSERT_EQ(l.size(), 9u);
  EXPECT_EQ(l[0], "ncols      2");
  EXPECT_EQ(l[1], "nrows      3");
  EXPECT_EQ(l[2], "xllcorner     100.00");
  EXPECT_EQ(l[3], "yllcorner     200.00");
  EXPECT_EQ(l[4], "cellsize      10.00");
  EXPECT_EQ(l[5], "nodata_value -999.999    ");
  EXPECT_EQ(l[6], " 0.500000E+01 0.600000E+01");
  EXPECT_EQ(l[8], " 0.100000E+01 0.200000E+01");
}

TEST(GridWriter, BilAndHeader) {
  TestFrame t;
  t.openListing();
  Structure s = grid2x3();
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "BIL", t.path("out").string(), false, true));
  auto h = testing_support::readLines(t.path("out.HDR"));
  std::vector<std::string> want = {"ByteOrder I",  "Layout BIL",        "nRows 3",          "nCols 2",
                                   "nBands 1",     "nBlocks 1",         "nBits 32",         "BandRowBytes 8",
                                   "TotalRowBytes 8", "BandGapBytes 0", "NoData -999.999",  "ULXmap 105",
                                   "ULYmap 225",   "Xdim 10",           "Ydim 10",          "PixelType FLOAT"};
  EXPECT_EQ(h, want);
  std::ifstream in(t.path("out.BIL"), std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(data.size(), 24u);
  float first;
  std::memcpy(&first, data.data(), 4);
  EXPECT_EQ(first, 5.0f);
}

TEST(GridWriter, EmptyResultsAreMarkedAndWideRowsWrap) {
  TestFrame t;
  t.openListing();
  Structure s;
  s.grid.ncols = 30;
  s.grid.nrows = 1;
  s.cellsize = 0.5f;
  s.grid.values.assign(30, -999.999f);
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("out.asc").string(), true, false));
  EXPECT_FALSE(testing_support::fs::exists(t.path("out.asc")));
  auto l = testing_support::readLines(t.path("out_EMPTY.ASC"));
  ASSERT_EQ(l.size(), 8u);
  EXPECT_EQ(l[6].size(), 28u * 13u);
  EXPECT_EQ(l[7].size(), 2u * 13u);
}

TEST(GridWriter, OpenFailureLeavesNothingAndReports) {
  TestFrame t;
  t.openListing();
  Structure s = grid2x3();
  EXPECT_TRUE(WRITEINFORMATIONTOGRID(t.fr, s, "BIL", t.path("missing/out").string(), false, true));
  auto l = t.lines();
  bool found = false;
  for (const auto& line : l) found |= line.find("could not be opened.") != std::string::npos;
  EXPECT_TRUE(found);
  EXPECT_NE(std::find(l.begin(), l.end(), " Error number=000002"), l.end());
  EXPECT_FALSE(testing_support::fs::exists(t.path("missing")));
}

namespace {
std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

// Rows handed on in bands give the file that the whole grid gives; a tile is a georeferenced
// grid of its own rows; the tiles' rows stacked north first are the whole grid's.
TEST(GridWriter, BandsAndTilesWriteTheWholeGridsBytes) {
  TestFrame t;
  t.openListing();
  Structure s;
  s.grid.ncols = 2;
  s.grid.nrows = 5;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.cellsize = s.grid.dx = s.grid.dy = 10;
  s.grid.nodata = s.nodataOut = -999.999f;
  for (int k = 0; k < 10; ++k) s.grid.values.push_back(static_cast<float>(k) + 0.5f);
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "BIL", t.path("whole").string(), false, true));
  {
    GridWriter w;
    w.open(t.fr, s, "BIL", t.path("banded").string(), 5, 1, false);
    w.rows(s, 5, 4);
    w.rows(s, 3, 3);
    w.rows(s, 2, 1);
    ASSERT_FALSE(w.finish(t.fr, s, false, true));
  }
  EXPECT_EQ(slurp(t.path("banded.BIL")), slurp(t.path("whole.BIL")));
  EXPECT_EQ(slurp(t.path("banded.HDR")), slurp(t.path("whole.HDR")));
  std::string stacked;
  s.tileCount = 2;
  for (int32_t k = 1; k <= 2; ++k) {
    s.tileNumber = k;
    int32_t top = 0, bottom = 0;
    tileRows(5, k, 2, top, bottom);
    GridWriter w;
    w.open(t.fr, s, "BIL", t.path("out.bil").string(), top, bottom, false);
    w.rows(s, top, bottom);
    ASSERT_FALSE(w.finish(t.fr, s, true, false));  // a tile keeps its name, empty or not
    stacked += slurp(t.path(tileName("out.bil", "BIL", k, 2)));
  }
  EXPECT_EQ(stacked, slurp(t.path("whole.BIL")));
  // Tile 1 holds the northern rows 5 down to 4 (2 = 5/2 rows): its corner lies 30 up.
  auto h = testing_support::readLines(t.path("out_t001.HDR"));
  EXPECT_EQ(h[2], "nRows 2");
  EXPECT_EQ(h[12], "ULYmap 245");
  auto h2 = testing_support::readLines(t.path("out_t002.HDR"));
  EXPECT_EQ(h2[2], "nRows 3");
  EXPECT_EQ(h2[12], "ULYmap 225");
  const std::string vrt = slurp(t.path("out.vrt"));
  EXPECT_NE(vrt.find("<SourceFilename relativeToVRT=\"1\">out_t002.bil</SourceFilename>"), std::string::npos);
  EXPECT_NE(vrt.find("<DstRect xOff=\"0\" yOff=\"2\" xSize=\"2\" ySize=\"3\"/>"), std::string::npos);
  EXPECT_NE(vrt.find("<GeoTransform>100, 10, 0, 250, 0, -10</GeoTransform>"), std::string::npos);
  EXPECT_EQ(tileName("dir/run.asc", "ASC", 7, 1000), "dir/run_t0007.asc");
}

// A grid written in bands with no value goes, with INDICATE-EMPTY, under the "_EMPTY" name
// only, as the whole grid does.
TEST(GridWriter, EmptyBandedGridGoesUnderTheEmptyName) {
  TestFrame t;
  t.openListing();
  Structure s;
  s.grid.ncols = 3;
  s.grid.nrows = 2;
  s.cellsize = 1;
  s.grid.nodata = s.nodataOut = -1.0f;
  s.grid.values.assign(6, -1.0f);
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("a.asc").string(), true, false));
  GridWriter w;
  w.open(t.fr, s, "ASC", t.path("b.asc").string(), 2, 1, false);
  w.rows(s, 2, 1);
  ASSERT_FALSE(w.finish(t.fr, s, true, false));
  EXPECT_FALSE(std::filesystem::exists(t.path("b.asc")));
  EXPECT_EQ(slurp(t.path("b_EMPTY.ASC")), slurp(t.path("a_EMPTY.ASC")));
}
