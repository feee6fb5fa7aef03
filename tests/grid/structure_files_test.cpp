// The STRUCTURE block with its grid file held in memory: the geometry taken from an ASC or BIL
// header, and the whole message block the user sees for each fault of the block or the file.
#include <gtest/gtest.h>

#include <cerrno>

#include "grid/structure.h"
#include "support.h"

using namespace grid;
using testing_support::errorBlock;
using testing_support::hasBlock;
using testing_support::MemoryFrame;

namespace {

// Reads the STRUCTURE block of a command file; the listing is open as after start-up.
bool readStructure(MemoryFrame& m, const std::string& block, Structure& s) {
  m.openListing();
  m.commands("STRUCTURE\n" + block + "\nEND:STRUCTURE\n");
  return GETTERVALAGRIDSTRUCTURE(m.fr, s);
}

const char* kDem = "ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 10\nNODATA_value -1\n";

}  // namespace

TEST(StructureFiles, GeometryFromTheHeaderOfTheStructuresFile) {
  // ASC: the six header lines, found in another spelling; the grid's values are not read.
  MemoryFrame m;
  m.files.addFile("maps/dem.asc", std::string(kDem) + "1 2 3 4\n");
  Structure s;
  ASSERT_FALSE(readStructure(m, "FILE,ASC,MAPS\\DEM", s));
  EXPECT_EQ(s.grid.ncols, 4);
  EXPECT_EQ(s.grid.nrows, 3);
  EXPECT_EQ(s.grid.xll, 100.0);
  EXPECT_EQ(s.cellsize, 10.0);
  EXPECT_EQ(s.grid.nodata, -1.0f);
  EXPECT_EQ(s.fileType, "ASC");
  // Cell centres move half a cell to the corner, and the block's keywords beat the header.
  MemoryFrame c;
  c.files.addFile("dem.asc", "ncols 4\nnrows 3\nxllcenter 100\nyllcenter 200\ncellsize 10\nnodata_value -1\r\n");
  Structure t;
  ASSERT_FALSE(readStructure(c, "FILE,ASC,dem\n#ROWS,2\nNODATA,-9", t));
  EXPECT_EQ(t.grid.xll, 95.0);
  EXPECT_EQ(t.grid.yll, 195.0);
  EXPECT_EQ(t.grid.nrows, 2);
  EXPECT_EQ(t.grid.nodata, -9.0f);
  // BIL: the header beside it gives the corner from the upper-left cell middle.
  MemoryFrame b;
  b.files.addFile("g.hdr", "nrows 10\nncols 4\nulxmap 100.5\nulymap 209.5\nxdim 1\nydim 1\nnodata -5\n");
  Structure u;
  ASSERT_FALSE(readStructure(b, "FILE,,g.bil", u));
  EXPECT_EQ(u.fileType, "BIL");
  EXPECT_EQ(u.grid.xll, 100.0);
  EXPECT_EQ(u.grid.yll, 200.0);
  EXPECT_EQ(u.grid.nodata, -5.0f);
}

TEST(StructureFiles, FaultsOfTheFileShowTheirWholeBlock) {
  struct Case {
    const char* why;
    std::string file;  // dem.asc's text; empty: no such file
    int error;         // the file cannot be read
    std::vector<std::string> message;
  } cases[] = {
      {"missing", "", 0, {" The structure file DEM.ASC could not be opened.", " Error number=000002"}},
      {"unreadable", kDem, EACCES, {" The structure file DEM.ASC could not be opened.", " Error number=000013"}},
      {"short", "ncols 4\nnrows 3\n", 0, {" The structure file DEM.ASC ends before its six header lines."}},
      {"a line left out",
       "ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 10\n1 2 3 4\n",
       0,
       {" The header of the structure file DEM.ASC must have six lines:",
        " ncols, nrows, xllcorner, yllcorner, cellsize and nodata_value."}},
      {"not a number",
       "ncols 4\nnrows three\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -1\n",
       0,
       {" The header of the structure file DEM.ASC holds a line whose value is not a number:", " nrows three"}},
  };
  for (const auto& c : cases) {
    MemoryFrame m;
    if (!c.file.empty()) m.files.addFile("dem.ASC", c.file);
    if (c.error != 0) m.files.failOn("dem.ASC", c.error);
    Structure s;
    EXPECT_TRUE(readStructure(m, "FILE,ASC,dem", s)) << c.why;
    EXPECT_TRUE(hasBlock(m.lines(), errorBlock(c.message))) << c.why;
    EXPECT_TRUE(m.fr.ended) << c.why;
  }
  // A folder under the structure file's name.
  MemoryFrame f;
  f.files.addFolder("dem.ASC");
  Structure s;
  EXPECT_TRUE(readStructure(f, "FILE,ASC,dem", s));
  EXPECT_TRUE(hasBlock(f.lines(), errorBlock({" The structure file DEM.ASC could not be opened.",
                                              " Error number=0000" + std::to_string(EISDIR)})));
}

TEST(StructureFiles, AMissingBilHeaderStopsTheRunWithCode100) {
  MemoryFrame m;
  Structure s;
  try {
    (void)readStructure(m, "FILE,BIL,g", s);
    FAIL() << "the run went on without the header";
  } catch (const frame::Stop& stop) {
    EXPECT_EQ(stop.code, 100);
  }
  EXPECT_TRUE(
      hasBlock(m.lines(), errorBlock({" The BIL header file G.HDR could not be opened.", " Error number=000002"})));
}

TEST(StructureFiles, FaultsOfTheBlockShowTheirWholeBlock) {
  struct Case {
    std::string block;
    std::vector<std::string> message;
  } cases[] = {
      {"FILE,GRD,x",
       {" The structure file must be of type BIL or ASC.", " Structure given: GRD",
        " (Also TIF, a GeoTIFF, and GDAL, any raster GDAL reads.)"}},
      {"FILE,ASC", {" No name found for the structure file in the FILE command"}},
      {"#COLUMNS,3", {" In the structure #ROWS is not found.", " Please correct."}},
      {"#ROWS,3", {" In the structure #COLUMNS is not found.", " Please correct."}},
      {"#COLUMNS,3\n#ROWS,2\nDATARELATEDTO,POINT",
       {" No correct assignement of values type in the structure.", " It must be CELL or MIDDLE.", "",
        "   Command line: DATARELATEDTO,POINT"}},
      {"#COLUMNS,3\n#ROWS,2\nCELLSIZE,-2",
       {" The cell size of the structure must be greater than 0.", " Cell size given: -2.00000"}},
      {"#COLUMNS,3\n#ROWS,2\nXLL,2.0E15",
       {" The structure reaches beyond 1.0E+15, farther than any map reaches.",
        " Check XLL, YLL, CELLSIZE and the numbers of columns and rows."}},
  };
  for (const auto& c : cases) {
    MemoryFrame m;
    Structure s;
    EXPECT_TRUE(readStructure(m, c.block, s)) << c.block;
    EXPECT_TRUE(hasBlock(m.lines(), errorBlock(c.message))) << c.block;
  }
  // A NaN NODATA from the header needs a NODATA line.
  MemoryFrame n;
  n.files.addFile("dem.asc", "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value nan\n");
  Structure s;
  EXPECT_TRUE(readStructure(n, "FILE,ASC,dem.asc", s));
  EXPECT_TRUE(hasBlock(n.lines(), errorBlock({" The NODATA value of the structure is not a number (NaN).",
                                              " Give a NODATA line in the STRUCTURE block."})));
}
