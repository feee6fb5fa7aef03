#include "grid/prj.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "frame/text.h"
#include "gdal/crs.h"
#include "gdal/gdalroom.h"
#include "grid/structure.h"
#include "support.h"

using namespace grid;
using testing_support::errorBlock;
using testing_support::hasBlock;
using testing_support::TestFrame;
using testing_support::warningLines;
using testing_support::writeFile;

namespace {
bool readStructure(TestFrame& t, const std::string& pcf, Structure& s) {
  t.openListing();
  t.input(10, pcf);
  return GETTERVALAGRIDSTRUCTURE(t.fr, s);
}
bool has(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(text) != std::string::npos; });
}
const char* kBasic = "STRUCTURE\n#COLUMNS,4\n#ROWS,3\nXLL,155000.125\nYLL,463000.375\nCELLSIZE,0.25\n";
}  // namespace

TEST(CoordinateSystem, FromTheCrsLineOrTheFileBesideTheStructureFile) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  gdalroom::CoordinateSystem rd;
  std::string why;
  ASSERT_TRUE(gdalroom::crsFromEpsg(28992, rd, why)) << why;
  EXPECT_EQ(rd.esriWkt.rfind("PROJCS[\"RD_New\"", 0), 0u) << rd.esriWkt;
  {
    TestFrame t;
    Structure s;
    ASSERT_FALSE(readStructure(t, std::string(kBasic) + "CRS,EPSG:28992\nEND:STRUCTURE\n", s));
    EXPECT_EQ(s.crsWkt, rd.esriWkt);
    EXPECT_EQ(s.crsName, "Amersfoort / RD New (EPSG:28992)");
    EXPECT_TRUE(hasBlock(t.lines(),
                         {"", " Coordinate reference system: Amersfoort / RD New (EPSG:28992)",
                          " taken from the CRS line: EPSG:28992.", " Every output gets it in a .prj file beside it."}));
  }
  {
    // A WKT file named on the CRS line (its name upper-cased, as the block reads it).
    TestFrame t;
    writeFile(t.path("rd.wkt"), rd.esriWkt + "\n");
    Structure s;
    ASSERT_FALSE(readStructure(t, std::string(kBasic) + "CRS," + t.path("rd.wkt").string() + "\nEND:STRUCTURE\n", s));
    EXPECT_EQ(s.crsWkt, rd.esriWkt);
  }
  {
    // The .prj beside the structure's file; a CRS line would count over it.
    TestFrame t;
    writeFile(t.path("dem.asc"), "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -1\n");
    writeFile(t.path("dem.prj"), rd.esriWkt);
    Structure s;
    ASSERT_FALSE(readStructure(t, "STRUCTURE\nFILE,ASC," + t.path("dem.asc").string() + "\nEND:STRUCTURE\n", s));
    EXPECT_EQ(s.crsWkt, rd.esriWkt);
    EXPECT_NE(s.crsSource.find("beside the structure file"), std::string::npos);
    Structure u;
    TestFrame t2;
    writeFile(t2.path("dem.asc"), "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -1\n");
    writeFile(t2.path("dem.prj"), rd.esriWkt);
    ASSERT_FALSE(readStructure(
        t2, "STRUCTURE\nFILE,ASC," + t2.path("dem.asc").string() + "\nCRS,EPSG:32631\nEND:STRUCTURE\n", u));
    EXPECT_EQ(u.crsName, "WGS 84 / UTM zone 31N (EPSG:32631)");
    EXPECT_TRUE(
        hasBlock(t2.lines(), warningLines({" The file " + frame::upper(t2.path("dem").string()) +
                                               ".prj beside the structure file names Amersfoort / RD New;",
                                           " the CRS line names WGS 84 / UTM zone 31N (EPSG:32631), which is used."})));
  }
  {
    TestFrame t;
    Structure s;
    ASSERT_FALSE(readStructure(t, std::string(kBasic) + "END:STRUCTURE\n", s));
    EXPECT_TRUE(s.crsWkt.empty());
    EXPECT_FALSE(has(t.lines(), "Coordinate reference system"));
  }
}

TEST(CoordinateSystem, CrsLinesThatNameNoSystemEndTheRun) {
  // The CRS line's item, and the reason line; a reason that GDAL words is checked in part.
  struct Case {
    std::string item, reason;
    bool whole;
  };
  std::vector<Case> cases = {
      {"EPSG:28992X", " an EPSG code is a positive whole number (EPSG:28992)", true},
      {"NO-SUCH-FILE.PRJ", " it is neither an EPSG code (EPSG:28992) nor an existing .prj or WKT file", true}};
  if (gdalroom::builtIn()) {
    cases.push_back({"EPSG:999999", "EPSG:999999", false});
  } else {
    cases.push_back({"EPSG:28992", " " + gdalroom::notBuiltInMessage(), true});
  }
  for (const auto& c : cases) {
    TestFrame t;
    Structure s;
    EXPECT_TRUE(readStructure(t, std::string(kBasic) + "CRS," + c.item + "\nEND:STRUCTURE\n", s)) << c.item;
    const auto l = t.lines();
    std::vector<std::string> message = {" The coordinate reference system of the structure could not be taken from",
                                        "   CRS," + c.item};
    if (c.whole) message.push_back(c.reason);
    EXPECT_TRUE(hasBlock(l, errorBlock(message))) << c.item;
    EXPECT_TRUE(has(l, c.reason)) << c.item;
  }
  // Not a coordinate system at all.
  TestFrame t;
  writeFile(t.path("junk.prj"), "this is no WKT");
  Structure s;
  EXPECT_TRUE(readStructure(t, std::string(kBasic) + "CRS," + t.path("junk.prj").string() + "\nEND:STRUCTURE\n", s));
}

TEST(CoordinateSystem, WithoutGdalTheFileBesideTheStructureIsCopiedAsItStands) {
  if (gdalroom::builtIn()) GTEST_SKIP() << "built with GDAL: the file is read";
  TestFrame t;
  writeFile(t.path("dem.asc"), "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -1\n");
  writeFile(t.path("DEM.PRJ"), "PROJCS[\"RD_New\"]\n");
  Structure s;
  ASSERT_FALSE(readStructure(t, "STRUCTURE\nFILE,ASC," + t.path("dem.asc").string() + "\nEND:STRUCTURE\n", s));
  EXPECT_EQ(s.crsWkt, "PROJCS[\"RD_New\"]");
}

TEST(CoordinateSystem, SetsInAnotherSystemAreWarnedAboutNotReprojected) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  gdalroom::CoordinateSystem rd, utm;
  std::string why;
  ASSERT_TRUE(gdalroom::crsFromEpsg(28992, rd, why));
  ASSERT_TRUE(gdalroom::crsFromEpsg(32631, utm, why));
  TestFrame t;
  t.openListing();
  Structure s;
  s.crsWkt = rd.esriWkt;
  s.crsName = rd.name;
  writeFile(t.path("same.prj"), rd.esriWkt);
  writeFile(t.path("other.prj"), utm.esriWkt);
  writeFile(t.path("junk.prj"), "no WKT");
  warnOnOtherCrs(t.fr, s, t.path("same.asc").string());
  warnOnOtherCrs(t.fr, s, t.path("none.asc").string());
  EXPECT_FALSE(has(t.lines(), "WARNING"));
  warnOnOtherCrs(t.fr, s, t.path("other.txt").string());
  EXPECT_TRUE(hasBlock(t.lines(), warningLines({" The file " + t.path("other.prj").string() +
                                                    " names the coordinate reference system WGS 84 / UTM zone 31N,",
                                                " the structure's is Amersfoort / RD New (EPSG:28992).",
                                                " The coordinates of " + t.path("other.txt").string() +
                                                    " are used as they stand, without reprojection."})));
  // A structure without a CRS has nothing to compare.
  Structure none;
  TestFrame u;
  u.openListing();
  writeFile(u.path("other.prj"), utm.esriWkt);
  warnOnOtherCrs(u.fr, none, u.path("other.asc").string());
  EXPECT_FALSE(has(u.lines(), "WARNING"));
}
