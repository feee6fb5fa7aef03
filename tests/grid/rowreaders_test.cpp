#include "grid/rowreaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "frame/littleendian.h"
#include "grid/gridsets.h"
#include "support.h"

using namespace grid;
using testing_support::TestFrame;
using testing_support::writeFile;

namespace {

GridDescription grid3x4() {
  GridDescription d;
  d.ncols = 3;
  d.nrows = 4;
  d.dx = d.dy = 10;
  d.nodata = -9999;
  return d;
}

// 32-bit or 16-bit BIL bytes of values, in file order.
std::string bilBytes(const std::vector<double>& values, bool sixteen) {
  std::string out;
  for (double v : values) {
    unsigned char b[4];
    if (sixteen) {
      frame::le::store(b, static_cast<int16_t>(v));
    } else {
      frame::le::store(b, static_cast<float>(v));
    }
    out.append(reinterpret_cast<const char*>(b), sixteen ? 2 : 4);
  }
  return out;
}

std::vector<float> rowOf(RowReader& in) {
  std::vector<float> row(static_cast<size_t>(in.ncols()));
  EXPECT_TRUE(in.nextRow(row.data()));
  return row;
}

}  // namespace

// Both readers hand out the rows north to south and reach any row again: the BIL one by
// seeking, the ASC one by reading on, or from its start for a row passed already.
TEST(RowReaders, RowsNorthToSouthAndAnyRowAgain) {
  TestFrame t;
  const GridDescription d = grid3x4();
  writeFile(t.path("g.asc"),
            "ncols 3\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 10\nnodata_value -9999\n"
            "1 2 3\n4,5,6 7 2*8\n10 11 12\n");
  writeFile(t.path("g.bil"), bilBytes({1, 2, 3, 4, 5, 6, 7, 8, 8, 10, 11, 12}, false));
  writeFile(t.path("s.bil"), bilBytes({1, 2, 3, 4, 5, 6, 7, 8, 8, 10, -11, 12}, true));
  AscRowReader asc;
  BilRowReader bil, bil16;
  ASSERT_EQ(asc.open(t.path("g.asc").string(), "g.asc", d, false), 0);
  ASSERT_EQ(bil.open(t.path("g.bil").string(), "g.bil", d, false), 0);
  ASSERT_EQ(bil16.open(t.path("s.bil").string(), "s.bil", d, true), 0);
  for (RowReader* in :
       {static_cast<RowReader*>(&asc), static_cast<RowReader*>(&bil), static_cast<RowReader*>(&bil16)}) {
    EXPECT_EQ(rowOf(*in), (std::vector<float>{1, 2, 3})) << in->dataName();
    ASSERT_TRUE(in->seekRow(2));
    EXPECT_EQ(rowOf(*in), (std::vector<float>{7, 8, 8})) << in->dataName();
    ASSERT_TRUE(in->seekRow(1));  // north of the last row read
    EXPECT_EQ(rowOf(*in), (std::vector<float>{4, 5, 6})) << in->dataName();
    ASSERT_TRUE(in->seekRow(3));
    const std::vector<float> last = rowOf(*in);
    EXPECT_EQ(last[1], in == &bil16 ? -11.0f : 11.0f) << in->dataName();
  }
}

// Each fault is told with the row and column counted from 1 from the north-west corner, in the
// words of the first reading of the file.
TEST(RowReaders, FaultsTellTheRowAndColumn) {
  TestFrame t;
  const GridDescription d = grid3x4();
  const std::string head = "ncols 3\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 10\nnodata_value -9999\n";
  writeFile(t.path("short.asc"), head + "1 2 3 4 5 6 7\n");
  writeFile(t.path("bad.asc"), head + "1 2 3 4 5 x7\n");
  writeFile(t.path("nan.bil"), bilBytes({1, 2, 3, 4, 5, 6, 7, 8, std::nan(""), 10, 11, 12}, false));
  writeFile(t.path("cut.bil"), bilBytes({1, 2, 3, 4, 5}, false));
  auto firstFault = [&](RowReader& in) {
    std::vector<float> row(3);
    for (int k = 0; k < 4; ++k) {
      if (!in.nextRow(row.data())) return in.faultMessage();
    }
    return std::vector<std::string>{};
  };
  AscRowReader shortAsc, badAsc;
  ASSERT_EQ(shortAsc.open(t.path("short.asc").string(), "short.asc", d, false), 0);
  ASSERT_EQ(badAsc.open(t.path("bad.asc").string(), "bad.asc", d, false), 0);
  EXPECT_EQ(firstFault(shortAsc),
            (std::vector<std::string>{" The Tervala file short.asc holds fewer values than its header says:",
                                      " the values end at row 3, column 2 of 4 rows of 3 columns."}));
  EXPECT_EQ(shortAsc.fault(), RowFault::End);
  EXPECT_EQ(firstFault(badAsc),
            (std::vector<std::string>{
                " The Tervala file bad.asc holds a value that is not a number at row 2, column 3:", " x7"}));
  BilRowReader nanBil, cutBil;
  ASSERT_EQ(nanBil.open(t.path("nan.bil").string(), "nan.bil", d, false), 0);
  ASSERT_EQ(cutBil.open(t.path("cut.bil").string(), "cut.bil", d, false), 0);
  EXPECT_EQ(
      firstFault(nanBil),
      (std::vector<std::string>{" The Tervala file nan.bil holds a value that is not a number at row 3, column 3."}));
  EXPECT_EQ(firstFault(cutBil), (std::vector<std::string>{" The Tervala file cut.bil could not be read."}));
  EXPECT_EQ(cutBil.faultRow(), 1);
  EXPECT_FALSE(cutBil.seekRow(9));
  EXPECT_EQ(cutBil.fault(), RowFault::ReadError);
}

// An ASC grid whose nodata_value is NaN gives its NaN cells as missing values when its rows are
// read again band by band, as the whole reading does: the two ways of running give one grid.
TEST(RowReaders, NanCellsAreMissingValuesInBandsToo) {
  TestFrame t;
  t.openListing();
  writeFile(t.path("n.asc"),
            "ncols 3\nnrows 2\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value NaN\n1 nan 3\nNaN 5 6\n");
  Structure s;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.grid.dx = s.grid.dy = s.cellsize = 10;
  s.grid.ncols = 3;
  s.grid.nrows = 2;
  const std::string line = "TERVALAGRID,ASC,CELL," + t.path("n.asc").string();
  GridSets whole, banded;
  banded.keepLimit = 0;
  ASSERT_FALSE(HANDLETERVALAGRID(t.fr, s, whole, "AVERAGE", line, 1));
  ASSERT_FALSE(HANDLETERVALAGRID(t.fr, s, banded, "AVERAGE", line, 1));
  ASSERT_FALSE(banded.sources[0].kept);
  const float missing = whole.descriptions[0].nodata;
  EXPECT_EQ(whole.descriptions[0].at(2, 2), missing);
  for (int32_t r : {2, 1}) {
    ASSERT_FALSE(loadGridRows(t.fr, banded, 0, r, r));
    for (int32_t c = 1; c <= 3; ++c)
      EXPECT_EQ(banded.descriptions[0].at(c, r), whole.descriptions[0].at(c, r)) << r << " " << c;
  }
}

// A file cut short after its first reading is reported at the row the reading again stopped
// at, counted from the north, for either format.
TEST(RowReaders, FileChangedDuringTheRunNamesTheRow) {
  Structure s;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.grid.dx = s.grid.dy = s.cellsize = 10;
  s.grid.ncols = 3;
  s.grid.nrows = 4;
  for (const char* type : {"ASC", "BIL"}) {
    TestFrame t;
    t.openListing();
    const std::string head = "ncols 3\nnrows 4\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -9999\n";
    writeFile(t.path("c.asc"), head + "1 2 3\n4 5 6\n7 8 9\n10 11 12\n");
    writeFile(t.path("c.bil"), bilBytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, false));
    writeFile(t.path("c.hdr"), "nrows 4\nncols 3\nulxmap 105\nulymap 235\nxdim 10\nydim 10\nnodata -9999\n");
    GridSets g;
    g.keepLimit = 0;
    ASSERT_FALSE(HANDLETERVALAGRID(t.fr, s, g, "AVERAGE",
                                   std::string("TERVALAGRID,") + type + ",CELL," + t.path("c").string(), 1));
    ASSERT_FALSE(loadGridRows(t.fr, g, 0, 4, 4));
    // Two rows remain: the third from the north is missing.
    writeFile(t.path("c.asc"), head + "1 2 3\n4 5 6\n");
    writeFile(t.path("c.bil"), bilBytes({1, 2, 3, 4, 5, 6}, false));
    g.sources[0].stream.reset();  // a new run of bands opens the file again
    EXPECT_TRUE(loadGridRows(t.fr, g, 0, 1, 3)) << type;
    const auto l = t.lines();
    const std::string want = " The Tervala file " + g.sources[0].dataName + " could not be read again at row 3:";
    EXPECT_NE(std::find(l.begin(), l.end(), want), l.end()) << type;
  }
}
