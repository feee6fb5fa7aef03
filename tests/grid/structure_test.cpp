#include "grid/structure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "frame/frame.h"
#include "frame/text.h"
#include "grid/bilheader.h"
#include "grid/gridsets.h"
#include "support.h"

using namespace grid;
using testing_support::errorBlock;
using testing_support::hasBlock;
using testing_support::TestFrame;
using testing_support::writeFile;

namespace {
// Reads the structure from a command file; the listing is open as after start-up.
bool readStructure(TestFrame& t, const std::string& pcf, Structure& s) {
  t.openListing();
  t.input(10, pcf);
  return GETTERVALAGRIDSTRUCTURE(t.fr, s);
}
std::string named(TestFrame& t, const std::string& file) {
  return t.path(file).string();
}
}  // namespace

TEST(Structure, BasicDescriptionWithDefaults) {
  TestFrame t;
  Structure s;
  ASSERT_FALSE(readStructure(t, "STRUCTURE\n#COLUMNS,10\n#ROWS,5\nEND:STRUCTURE\n", s));
  EXPECT_EQ(s.grid.ncols, 10);
  EXPECT_EQ(s.grid.nrows, 5);
  EXPECT_EQ(s.grid.xll, 0.0f);
  EXPECT_EQ(s.cellsize, 1.0f);
  EXPECT_EQ(s.grid.nodata, -999.999f);
  EXPECT_EQ(s.grid.valuesType, grid::ValuesAt::Middle);
  EXPECT_EQ(s.grid.values.size(), 50u);
  EXPECT_TRUE(s.assignMask.empty());  // every cell to compute, until a polygon takes one
  EXPECT_TRUE(s.computes(49));
  EXPECT_EQ(s.grid.values[49], -999.999f);
}

// The rows held are written in full whatever the block held before: a band after a larger one
// reuses its memory, whose values are not cleared when it is sized; the mask of the band before
// (a polygon's) goes, and the one a polygon asks for has every cell to compute.
TEST(Structure, HeldRowsAreAllNodataAndToComputeInAReusedBlock) {
  Structure s;
  s.grid.ncols = 1031;
  s.grid.nrows = 1200;
  s.grid.nodata = -9999.0f;
  s.grid.values.assign(static_cast<size_t>(1031) * 1200, 7.0f);
  s.assignMask.assign(s.grid.values.size(), 0);
  ASSERT_TRUE(holdStructureRows(s, 11, 1100));
  ASSERT_EQ(s.grid.values.size(), static_cast<size_t>(1031) * 1090);
  EXPECT_EQ(std::count(s.grid.values.begin(), s.grid.values.end(), -9999.0f),
            static_cast<std::ptrdiff_t>(s.grid.values.size()));
  EXPECT_EQ(s.grid.rowLow, 11);
  EXPECT_TRUE(s.assignMask.empty());
  EXPECT_TRUE(s.computes(0) && s.computes(s.grid.values.size() - 1));
  EXPECT_EQ(s.maskCells(), nullptr);
  holdMask(s);
  ASSERT_EQ(s.assignMask.size(), s.grid.values.size());
  EXPECT_EQ(std::count(s.assignMask.begin(), s.assignMask.end(), uint8_t{1}),
            static_cast<std::ptrdiff_t>(s.assignMask.size()));
  s.assignMask[5] = 0;
  holdMask(s);  // a mask made is kept
  EXPECT_FALSE(s.computes(5));
  EXPECT_EQ(s.maskCells(), s.assignMask.data());
  // The next band of the same size starts with every cell to compute again.
  ASSERT_TRUE(holdStructureRows(s, 21, 1110));
  EXPECT_TRUE(s.computes(5));
}

// Rows filled beside the main thread: once settled they are what a fill on the spot gives,
// also when the next rows held need a larger block while the fill of the last is still going
// (the block must not be freed under it), and the tasks keep their order.
TEST(Structure, RowsFilledBesideAreAllNodataAndToComputeOnceSettled) {
  Structure s;
  s.grid.ncols = 2001;
  s.grid.nrows = 3000;
  s.grid.nodata = -1.0f;
  ASSERT_TRUE(holdStructureRows(s, 1, 1500, Fill::Beside));
  holdMask(s, Fill::Beside);
  s.grid.nodata = -9999.0f;
  ASSERT_TRUE(holdStructureRows(s, 1, 3000, Fill::Beside));  // a larger block
  ASSERT_EQ(s.grid.values.size(), static_cast<size_t>(2001) * 3000);
  EXPECT_TRUE(s.assignMask.empty());
  holdMask(s, Fill::Beside);
  s.work.settle();
  EXPECT_EQ(std::count(s.grid.values.begin(), s.grid.values.end(), -9999.0f),
            static_cast<std::ptrdiff_t>(s.grid.values.size()));
  ASSERT_EQ(s.assignMask.size(), s.grid.values.size());
  EXPECT_EQ(std::count(s.assignMask.begin(), s.assignMask.end(), uint8_t{1}),
            static_cast<std::ptrdiff_t>(s.assignMask.size()));
  // A mask asked for on the spot waits for the one beside and keeps it.
  s.assignMask[7] = 0;
  ASSERT_TRUE(holdStructureRows(s, 1, 3000, Fill::Beside));
  holdMask(s, Fill::Beside);
  holdMask(s);
  EXPECT_TRUE(s.computes(7));
  // A structure moved takes its pending fill along.
  ASSERT_TRUE(holdStructureRows(s, 1, 2000, Fill::Beside));
  Structure moved = std::move(s);
  moved.work.settle();
  EXPECT_EQ(moved.grid.values.front(), -9999.0f);
  EXPECT_EQ(moved.grid.values.back(), -9999.0f);
}

TEST(BlockWork, TasksRunOneAfterTheOtherInTheOrderGiven) {
  std::vector<int> order;
  BlockWork w;
  for (int k = 0; k < 20; ++k) {
    w.then([&order, k] {
      if (k % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      order.push_back(k);
    });
  }
  w.settle();
  ASSERT_EQ(order.size(), 20u);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(order[static_cast<size_t>(k)], k);
  w.settle();  // nothing pending: returns at once
}

TEST(Structure, AscFileWithCentresAndKeywordOverrides) {
  TestFrame t;
  writeFile(t.path("dem.asc"), "ncols 4\nnrows 3\nxllcenter 100\nyllcenter 200\ncellsize 10\nNODATA_value -1\n");
  Structure s;
  ASSERT_FALSE(readStructure(t, "STRUCTURE\nFILE,ASC," + named(t, "dem") + "\nDATARELATEDTO,CELL\nEND:STRUCTURE\n", s));
  EXPECT_EQ(s.grid.xll, 95.0f);
  EXPECT_EQ(s.grid.yll, 195.0f);
  EXPECT_EQ(s.grid.nodata, -1.0f);
  EXPECT_EQ(s.grid.valuesType, grid::ValuesAt::Cell);

  TestFrame u;
  writeFile(u.path("dem.asc"), "ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 10\nNODATA_value -1\n");
  Structure s2;
  ASSERT_FALSE(readStructure(u, "STRUCTURE\nFILE,ASC," + named(u, "dem.asc") + "\nCELLSIZE,5\nEND:STRUCTURE\n", s2));
  EXPECT_EQ(s2.grid.xll, 100.0f);
  EXPECT_EQ(s2.cellsize, 5.0f);
  EXPECT_EQ(s2.grid.dx, 5.0f);
}

TEST(Structure, BilHeaderGivesCornerFromUpperLeftMiddle) {
  TestFrame t;
  writeFile(t.path("g.hdr"), "nrows 10\nncols 4\nulxmap 100.5\nulymap 209.5\nxdim 1\nydim 1\n");
  Structure s;
  ASSERT_FALSE(readStructure(t, "STRUCTURE\nFILE,," + named(t, "g.bil") + "\nEND:STRUCTURE\n", s));
  EXPECT_EQ(s.grid.xll, 100.0f);
  EXPECT_EQ(s.grid.yll, 200.0f);
  EXPECT_EQ(s.grid.nodata, -999.999f);  // the header gave none
}

TEST(Structure, FaultsAreReportedAndEndTheRun) {
  struct Case {
    std::string block;
    std::vector<std::string> message;
  } cases[] = {
      {"FILE,GRD,x",
       {" The structure file must be of type BIL or ASC.", " Structure given: GRD",
        " (Also TIF, a GeoTIFF, and GDAL, any raster GDAL reads.)"}},
      {"FILE,ASCII,x",
       {" The structure file must be of type BIL or ASC.", " Structure given: ASCII",
        " (Also TIF, a GeoTIFF, and GDAL, any raster GDAL reads.)"}},
      {"FILE,ASC", {" No name found for the structure file in the FILE command"}},
      {"#COLUMNS,3", {" In the structure #ROWS is not found.", " Please correct."}},
      {"#COLUMNS,3\n#ROWS,2\nDATARELATEDTO,POINT",
       {" No correct assignement of values type in the structure.", " It must be CELL or MIDDLE.", "",
        "   Command line: DATARELATEDTO,POINT"}},
      {"#COLUMNS,3\n#ROWS,2\nCELLSIZE,0",
       {" The cell size of the structure must be greater than 0.", " Cell size given: 0.00000"}},
      {"FILE,ASC,/nonexistent/dem",
       {" The structure file /NONEXISTENT/DEM.ASC could not be opened.", " Error number=000002"}},
  };
  for (const auto& c : cases) {
    TestFrame t;
    Structure s;
    EXPECT_TRUE(readStructure(t, "STRUCTURE\n" + c.block + "\nEND:STRUCTURE\n", s)) << c.block;
    EXPECT_TRUE(hasBlock(t.lines(), errorBlock(c.message))) << c.block;
  }
}

TEST(Structure, AscHeaderWithoutItsSixLinesIsRefused) {
  TestFrame t;
  writeFile(t.path("g.asc"), "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n5 6\n");
  Structure s;
  EXPECT_TRUE(readStructure(t, "STRUCTURE\nFILE,ASC," + named(t, "g.asc") + "\nEND:STRUCTURE\n", s));
  EXPECT_TRUE(hasBlock(t.lines(), errorBlock({" The header of the structure file " + frame::upper(named(t, "g.asc")) +
                                                  " must have six lines:",
                                              " ncols, nrows, xllcorner, yllcorner, cellsize and nodata_value."})));
}

TEST(Separator, RunsOfBlanksBecomeOneSeparator) {
  std::string l = "  ncols    10  ";
  SETSEPARATOR(l, ',');
  EXPECT_EQ(l, "ncols,10");
  l = "a, b";
  SETSEPARATOR(l, ',');
  EXPECT_EQ(l, "a,,b");
  l = "a\tb";
  SETSEPARATOR(l, ',');
  EXPECT_EQ(l, "a\tb");
}

TEST(BilHeader, DefaultsAndTheNodataRule) {
  TestFrame t;
  t.openListing();
  writeFile(t.path("g.hdr"), "ncols 100\nnrows 2\nulxmap 0.5\nulymap 1.5\nxdim 1\nydim 1\nnodata -1\n* comment\n");
  BilHeader h = READBILHDR(t.fr, t.path("g.bil").string(), "NOSTRUCTURE");
  EXPECT_EQ(h.nbits, 32);
  EXPECT_EQ(h.byteOrder, "I");
  EXPECT_TRUE(h.nodataGiven());
  writeFile(t.path("n.hdr"),
            "ncols 100\nnrows 2\nulxmap 0.5\nulymap 1.5\nxdim 1\nydim 1\nnbits 16\nbandrowbytes 200\n");
  BilHeader n = READBILHDR(t.fr, t.path("n.bil").string(), "STRUCTURE");
  EXPECT_FALSE(n.nodataGiven());
  EXPECT_EQ(n.nbits, 16);
}

TEST(BilHeader, EveryFaultIsListedInCheckOrder) {
  TestFrame t;
  t.openListing();
  writeFile(t.path("g.hdr"),
            "BYTEORDER M\nNBITS 8\nNCOLS 4\nULXMAP -1.76758\nULYMAP 3\nXDIM 10\nYDIM 10.0001\nBANDROWBYTES 400\n");
  try {
    READBILHDR(t.fr, t.path("g.bil").string(), "NOSTRUCTURE");
    FAIL();
  } catch (const frame::Stop& s) {
    EXPECT_EQ(s.code, 100);
  }
  EXPECT_TRUE(hasBlock(
      t.lines(),
      errorBlock(
          {" in BIL header file " + t.path("g.HDR").string() + ":", "", "   + no line found with the number of rows",
           "   + no, complete, positioning found of the grid (ULXmap or ULYmap)",
           "   + the size of the grid cells must be equal in x- and y-direction (xdim=ydim)",
           "   + The Byteorder is not I (=little-endian)", "   + The number of bits must be 16 (Integer) or 32 (Float)",
           "   + BandRowBytes does not give the correct number of bytes in a row",
           "       (BandRowBytes=nCols*nBits/8)", "   + the Nodata value not found", "",
           " The BIL file can not be used by TervalaGridCreate,",
           " if you want to use this file warn the Administrator"})));
}

TEST(BilHeader, TotalRowBytesMustAgree) {
  TestFrame t;
  t.openListing();
  writeFile(t.path("g.hdr"),
            "NCOLS 4\nNROWS 1\nULXMAP 1\nULYMAP 3\nXDIM 1\nYDIM 1\nNODATA 0\nBANDROWBYTES 16\nTOTALROWBYTES 20\n");
  EXPECT_THROW(READBILHDR(t.fr, t.path("g.bil").string(), "NOSTRUCTURE"), frame::Stop);
  auto l = t.lines();
  EXPECT_NE(std::find(l.begin(), l.end(), "     it must be equal to BandRowBytes (0000000016)"), l.end());
}

TEST(GridSetHelpers, SameGeometryAndParwhere) {
  Structure s;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.grid.dx = s.grid.dy = 10;
  s.grid.ncols = 3;
  s.grid.nrows = 2;
  GridDescription d = s.grid;
  d.xll = 100.0005f;
  EXPECT_TRUE(EQUALSBASICSTRUCTURE(s, d));
  d.xll = 100.01f;
  EXPECT_FALSE(EQUALSBASICSTRUCTURE(s, d));
  d = s.grid;
  d.ncols = 4;
  EXPECT_FALSE(EQUALSBASICSTRUCTURE(s, d));
  EXPECT_EQ(PARWHERE("#VALUES", "TERVALAGRID,ASC,CELL,G.ASC,#VALUES=3"), 5);
  EXPECT_EQ(PARWHERE("#VALUES", "TERVALAGRID,ASC,,G.ASC,#VALUES=3"), 5);
  EXPECT_EQ(PARWHERE("#values", "TERVALAGRID,ASC,CELL,G.ASC,2,#VALUES=3"), 6);
  EXPECT_EQ(PARWHERE("#VALUES", "TERVALAGRID,ASC,CELL,G.ASC,2"), 0);
}
