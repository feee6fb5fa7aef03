#include "grid/writer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "frame/format.h"
#include "frame/text.h"
#include "grid/asc_reference.h"
#include "grid/prj.h"
#include "grid/structure.h"
#include "support.h"

using namespace grid;
using testing_support::errorBlock;
using testing_support::hasBlock;
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

// The fast formatter gives the first formatter's characters: at the edges of the float range
// (denormals, the largest float), at and beside every power of ten and of two, at rounding ties
// (exact halves in the seventh digit go to the even digit), where six nines round up into the
// next decade, at both zeros, and on a spread of random bit patterns.
TEST(GridWriter, FastAscValuesAreTheFirstFormattersCharacters) {
  std::vector<float> sample = {0.0f,          -0.0f,         FLT_MIN,
                               -FLT_MIN,      FLT_MAX,       -FLT_MAX,
                               FLT_TRUE_MIN,  -FLT_TRUE_MIN, std::nextafter(FLT_MIN, 0.0f),
                               -9999.0f,      -999.999f,     9.9999995f,
                               99999.95f,     999999.5f,     9999995.0f,
                               0.0009765625f, 1234565.0f,    1234575.0f,
                               1000005.0f,    1000015.0f,    16777215.0f,
                               0.1f,          0.3f,          1.5f,
                               2.5f,          100.0f,        1.0e-45f,
                               3.4e38f};
  for (int k = -45; k <= 38; ++k) {
    const float p = std::pow(10.0f, static_cast<float>(k));
    for (float v : {p, std::nextafter(p, 0.0f), std::nextafter(p, HUGE_VALF), 0.9999995f * p, 0.99999949f * p,
                    9.999995f * p, 5.0000005f * p})
      sample.push_back(v);
  }
  for (int e = -149; e <= 127; ++e) {
    const float p = std::ldexp(1.0f, e);
    sample.push_back(p);
    sample.push_back(std::nextafter(p, 0.0f));
    sample.push_back(1.5f * p);
  }
  for (float v = 1000000.0f; v <= 1000200.0f; v += 1.0f) sample.push_back(v);  // ties every tenth
  for (float v = 9999900.0f; v <= 10000100.0f; v += 1.0f) sample.push_back(v);
  std::mt19937 rng(16);
  std::uniform_int_distribution<uint32_t> bits;
  for (int i = 0; i < 300000; ++i) {
    const uint32_t b = bits(rng);
    float v;
    std::memcpy(&v, &b, 4);
    if (std::isfinite(v)) sample.push_back(v);
  }
  for (const float v : sample) {
    for (const float w : {v, -v}) {
      std::string fast, first;
      appendAscValue(fast, w);
      asc_reference::appendAscValue(first, w);
      ASSERT_EQ(fast, first) << std::hexfloat << w;
      if (!std::isfinite(w)) continue;  // products past the largest float
      char buf[16];
      ASSERT_EQ(std::string(buf, formatAscValue(buf, w)), first);
    }
  }
  for (const float v : {HUGE_VALF, -HUGE_VALF, std::nanf("")}) {
    std::string fast, first;
    appendAscValue(fast, v);
    asc_reference::appendAscValue(first, v);
    EXPECT_EQ(fast, first);
  }
}

// An ASC file is the same text for any number of threads and any bands of rows: header, every
// value as the first formatter gives it, 28 values a line, NODATA cells as the header's
// nodata_value, non-finite values in their own form; with rows enough for many pieces.
TEST(GridWriter, AscTextIsTheSameOnAnyNumberOfThreads) {
  Structure s;
  s.grid.ncols = 3001;
  s.grid.nrows = 97;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.cellsize = s.grid.dx = s.grid.dy = 10;
  s.grid.nodata = s.nodataOut = -9999.125f;  // not exact in six digits: written as in the header
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(-500.0f, 5000.0f);
  for (int64_t k = 0; k < int64_t{3001} * 97; ++k) {
    float v = value(rng);
    if (k % 17 == 0) v = -9999.125f;
    if (k == 5000) v = HUGE_VALF;
    if (k == 7000) v = std::nanf("");
    if (k % 101 == 0) v = std::ldexp(1.0f, -10 - static_cast<int>(k % 30));  // ties
    s.grid.values.push_back(v);
  }
  std::string expected =
      "ncols   3001\nnrows     97\nxllcorner     100.00\nyllcorner     200.00\n"
      "cellsize      10.00\nnodata_value    -9999.125\n";
  for (int32_t r = 97; r >= 1; --r) {
    for (int32_t c = 1; c <= 3001; ++c) {
      const float v = s.grid.at(c, r);
      if (v == -9999.125f) {
        expected += "    -9999.125";
      } else {
        asc_reference::appendAscValue(expected, v);
      }
      if (c % 28 == 0 || c == 3001) expected += '\n';
    }
  }
  for (int threads : {1, 2, 3}) {
    TestFrame t;
    t.openListing();
    t.fr.threads = threads;
    ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("whole.asc").string(), false, true));
    std::ifstream in(t.path("whole.asc"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(text == expected) << "THREADS=" << threads;
    GridWriter w;
    w.open(t.fr, s, "ASC", t.path("banded.asc").string(), 97, 1, false);
    w.rows(s, 97, 60);
    w.rows(s, 59, 59);
    w.rows(s, 58, 1);
    ASSERT_FALSE(w.finish(t.fr, s, false, true));
    std::ifstream in2(t.path("banded.asc"), std::ios::binary);
    const std::string banded((std::istreambuf_iterator<char>(in2)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(banded == expected) << "THREADS=" << threads;
  }
}

TEST(GridWriter, HeaderNumbersKeepTheirLayoutWhenExactAndOtherwiseReadBack) {
  EXPECT_EQ(ascHeaderNumber(100.0, 10, 2), "    100.00");
  EXPECT_EQ(ascHeaderNumber(0.5, 10, 2), "      0.50");
  EXPECT_EQ(ascHeaderNumber(0.001, 10, 2), "     0.001");
  EXPECT_EQ(ascHeaderNumber(12345678.0, 10, 2), "  12345678");
  EXPECT_EQ(ascHeaderNumber(100000.125, 10, 2), "100000.125");
  // Real-world corners: a UTM northing, RD coordinates, a cell of three arc seconds.
  EXPECT_EQ(ascHeaderNumber(5800000.25, 10, 2), "5800000.25");
  EXPECT_EQ(ascHeaderNumber(463000.375, 10, 2), "463000.375");
  EXPECT_EQ(ascHeaderNumber(-180.0, 10, 2), "   -180.00");
  EXPECT_EQ(ascHeaderNumber(0.000833333333, 10, 2), "0.000833333333");
  EXPECT_EQ(ascHeaderNumber(58000000.25, 10, 2), "58000000.25");
  EXPECT_EQ(hdrRealNumber(105.0), "105");
  EXPECT_EQ(hdrRealNumber(100.5), "100.500");
  EXPECT_EQ(hdrRealNumber(0.5), "0.500000");
  EXPECT_EQ(hdrRealNumber(100000.125), "100000.125");
  EXPECT_EQ(hdrRealNumber(10.0), "10");
  EXPECT_EQ(hdrRealNumber(-3.0), "-3.00000");  // truncation toward zero misses negative whole numbers
  // Six digits would move these; a millionth off an integer is not the integer.
  EXPECT_EQ(hdrRealNumber(650000.5), "650000.5");
  EXPECT_EQ(hdrRealNumber(5800001.5), "5800001.5");
  EXPECT_EQ(hdrRealNumber(100.0000001), "100.0000001");
  EXPECT_EQ(hdrRealNumber(0.000833333333), "0.000833333333");
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
  std::vector<std::string> want = {"ByteOrder I",     "Layout BIL",     "nRows 3",         "nCols 2",
                                   "nBands 1",        "nBlocks 1",      "nBits 32",        "BandRowBytes 8",
                                   "TotalRowBytes 8", "BandGapBytes 0", "NoData -999.999", "ULXmap 105",
                                   "ULYmap 225",      "Xdim 10",        "Ydim 10",         "PixelType FLOAT"};
  EXPECT_EQ(h, want);
  std::ifstream in(t.path("out.BIL"), std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(data.size(), 24u);
  float first;
  std::memcpy(&first, data.data(), 4);
  EXPECT_EQ(first, 5.0f);
}

// Both headers give a reader the asked corner and cell size to the last bit, the BIL one through
// the middle of the upper-left cell: read back as a structure, each gives the same grid.
TEST(GridWriter, BothHeadersPlaceTheGridExactlyAtAnyCoordinates) {
  struct Case {
    double xll, yll, cs;
    int32_t nc, nr;
  };
  for (const Case& c : {Case{650000.25, 5800000.25, 0.5, 4, 3}, Case{155000.125, 463000.375, 0.25, 7, 5},
                        Case{-180.0, -90.0, 0.000833333333, 4, 3}, Case{12.3, -45.6, 0.1, 3, 1000}}) {
    TestFrame t;
    t.openListing();
    Structure s;
    s.grid.ncols = c.nc;
    s.grid.nrows = c.nr;
    s.grid.xll = c.xll;
    s.grid.yll = c.yll;
    s.cellsize = s.grid.dx = s.grid.dy = c.cs;
    s.grid.values.assign(static_cast<size_t>(c.nc) * static_cast<size_t>(c.nr), 1.0f);
    s.assignMask.assign(s.grid.values.size(), 1);
    ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("out.asc").string(), false, true));
    ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "BIL", t.path("out").string(), false, true));
    auto value = [](const std::vector<std::string>& lines, const std::string& key) {
      for (const auto& l : lines) {
        if (l.rfind(key + " ", 0) == 0) return std::stod(l.substr(key.size() + 1));
      }
      return -1.0;
    };
    auto asc = testing_support::readLines(t.path("out.asc"));
    auto hdr = testing_support::readLines(t.path("out.HDR"));
    EXPECT_EQ(value(asc, "xllcorner"), c.xll);
    EXPECT_EQ(value(asc, "yllcorner"), c.yll);
    EXPECT_EQ(value(asc, "cellsize"), c.cs);
    EXPECT_EQ(value(hdr, "Xdim"), c.cs);
    // As GDAL and every reader of these headers take the upper-left corner.
    EXPECT_EQ(value(hdr, "ULXmap") - 0.5 * value(hdr, "Xdim"), c.xll) << c.xll;
    EXPECT_EQ(value(hdr, "ULYmap") + 0.5 * value(hdr, "Ydim"), c.yll + c.nr * c.cs) << c.yll;
  }
}

// The structure's coordinate reference system goes beside both kinds of output, as it is held.
TEST(GridWriter, ThePrjFileGoesBesideEveryOutput) {
  TestFrame t;
  t.openListing();
  Structure s = grid2x3();
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("plain.asc").string(), false, true));
  EXPECT_FALSE(testing_support::fs::exists(t.path("plain.prj")));
  s.crsWkt = "PROJCS[\"RD_New\"]";
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("out.asc").string(), false, true));
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "BIL", t.path("grid").string(), false, true));
  EXPECT_EQ(testing_support::readLines(t.path("out.prj")), std::vector<std::string>{s.crsWkt});
  EXPECT_EQ(testing_support::readLines(t.path("grid.prj")), std::vector<std::string>{s.crsWkt});
  // An empty result: the .prj follows the marked name.
  s.grid.values.assign(6, s.grid.nodata);
  ASSERT_FALSE(WRITEINFORMATIONTOGRID(t.fr, s, "BIL", t.path("none").string(), true, false));
  EXPECT_TRUE(testing_support::fs::exists(t.path("none_EMPTY.prj")));
  // A .prj that cannot be written (a directory holds its name) leaves no grid behind.
  testing_support::fs::create_directory(t.path("blocked.prj"));
  EXPECT_TRUE(WRITEINFORMATIONTOGRID(t.fr, s, "ASC", t.path("blocked.asc").string(), false, true));
  EXPECT_FALSE(testing_support::fs::exists(t.path("blocked.asc")));
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
  EXPECT_TRUE(
      hasBlock(t.lines(), errorBlock({" The file " + t.path("missing/out").string() + ".HDR could not be opened.",
                                      " Error number=000002"})));
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

// Tiles at UTM coordinates: every tile's header places its rows exactly (its corner is the
// structure's plus the rows south of it, in double precision), and every tile and the mosaic get
// the structure's .prj beside them.
TEST(GridWriter, TilesArePlacedExactlyAndCarryTheirPrj) {
  auto value = [](const std::vector<std::string>& lines, const std::string& key) {
    for (const auto& l : lines) {
      if (l.rfind(key + " ", 0) == 0) return std::stod(l.substr(key.size() + 1));
    }
    return -1.0;
  };
  for (const char* type : {"ASC", "BIL"}) {
    TestFrame t;
    t.openListing();
    Structure s;
    s.grid.ncols = 3;
    s.grid.nrows = 7;
    s.grid.xll = 650000.25;
    s.grid.yll = 5800000.1;
    s.cellsize = s.grid.dx = s.grid.dy = 0.3;
    s.crsWkt = "PROJCS[\"WGS_1984_UTM_Zone_31N\"]";
    s.grid.values.assign(21, 2.0f);
    s.assignMask.assign(21, 1);
    s.tileCount = 3;
    for (int32_t k = 1; k <= 3; ++k) {
      s.tileNumber = k;
      int32_t top = 0, bottom = 0;
      tileRows(7, k, 3, top, bottom);
      GridWriter w;
      w.open(t.fr, s, type, t.path("out").string(), top, bottom, false);
      w.rows(s, top, bottom);
      ASSERT_FALSE(w.finish(t.fr, s, false, true));
      const std::string tile = tileName("out", type, k, 3);
      EXPECT_EQ(testing_support::readLines(t.path(prjNameBeside(tile))), std::vector<std::string>{s.crsWkt}) << tile;
      const double yll = s.grid.yll + (bottom - 1) * s.cellsize;
      if (std::string(type) == "ASC") {
        auto h = testing_support::readLines(t.path(tile));
        EXPECT_EQ(value(h, "xllcorner"), s.grid.xll);
        EXPECT_EQ(value(h, "yllcorner"), yll) << tile;
        EXPECT_EQ(value(h, "cellsize"), s.cellsize);
      } else {
        auto h = testing_support::readLines(t.path(frame::GUMEXT(tile, "HDR")));
        EXPECT_EQ(value(h, "ULXmap") - 0.5 * value(h, "Xdim"), s.grid.xll);
        EXPECT_EQ(value(h, "ULYmap") + 0.5 * value(h, "Ydim"), yll + (top - bottom + 1) * s.cellsize) << tile;
      }
    }
    EXPECT_EQ(testing_support::readLines(t.path("out.prj")), std::vector<std::string>{s.crsWkt});
    char top[40];
    std::snprintf(top, sizeof top, "%.17g", s.grid.yll + 7 * s.cellsize);
    EXPECT_NE(slurp(t.path("out.vrt")).find("<GeoTransform>650000.25, 0.29999999999999999, 0, " + std::string(top)),
              std::string::npos);
  }
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
