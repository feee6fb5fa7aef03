#include <gtest/gtest.h>

#include "assign/run.h"
#include "frame/startup.h"
#include "gdal/gdalroom.h"
#include "support.h"

using namespace assign;
using testing_support::errorBlock;
using testing_support::hasBlock;
using testing_support::TestFrame;
using testing_support::warningLines;
using testing_support::writeFile;

namespace {

// A run with a structure of 10 x 8 cells of 1 m at (0, 0) and its listing open.
struct VectorRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  explicit VectorRun(bool cell = false) {
    grid::Structure& s = run.structure;
    s.grid.ncols = 10;
    s.grid.nrows = 8;
    s.grid.nodata = -1;
    s.cellsize = s.grid.dx = s.grid.dy = 1;
    s.grid.valuesType = cell ? grid::ValuesAt::Cell : grid::ValuesAt::Middle;
    s.grid.values.assign(80, s.grid.nodata);
    s.assignMask.assign(80, 1);
    run.fr.threads = 1;
    auto f = std::make_unique<frame::TextOutputFile>();
    f->open(t.path("listing.out").string(), false);
    run.fr.units.connectOutput(11, t.path("listing.out").string(), std::move(f));
    run.fr.version = 4.0f;
    frame::PROGRM(run.fr, "TervalaGridCreate");
    frame::SETLU(run.fr, 11, "INIT");
    frame::PAGN2(run.fr, "INIT", " ");
  }
  std::vector<std::string> lines() {
    run.fr.units.output(11)->flush();
    return testing_support::readLines(t.path("listing.out"));
  }
  std::string geojson(const std::string& name, const std::string& features) {
    writeFile(t.path(name), "{\"type\":\"FeatureCollection\",\"features\":[" + features + "]}");
    return t.path(name).string();
  }
};

std::string feature(const std::string& geometry, const std::string& properties) {
  return "{\"type\":\"Feature\",\"properties\":{" + properties + "},\"geometry\":" + geometry + "}";
}

}  // namespace

TEST(VectorPointSets, FeaturesBecomePointsWithTheirValuesAndRadii) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  VectorRun v;
  const std::string path =
      v.geojson("wells.geojson",
                feature("{\"type\":\"Point\",\"coordinates\":[1.5,2.5]}", "\"HEAD\":1.25,\"REACH\":5") + "," +
                    feature("{\"type\":\"MultiPoint\",\"coordinates\":[[3,4],[5,6]]}", "\"HEAD\":2,\"REACH\":null") +
                    "," + feature("{\"type\":\"Point\",\"coordinates\":[7,7]}", "\"HEAD\":null,\"REACH\":1") + "," +
                    feature("null", "\"HEAD\":9,\"REACH\":1"));
  // The command's radius (item 4) fills the features that have none.
  ASSERT_FALSE(HANDLEPOINTFILE(v.run, "POINTFILE," + path + ",3,7,VALUE=HEAD,RADIUS=REACH"));
  ASSERT_EQ(v.run.pointSets.size(), 1u);
  const PointSet& p = v.run.pointSets[0];
  EXPECT_EQ(p.count, 4);
  EXPECT_EQ(p.x, (std::vector<float>{1.5f, 3, 5, 7}));
  EXPECT_EQ(p.y, (std::vector<float>{2.5f, 4, 6, 7}));
  EXPECT_EQ(p.value, (std::vector<float>{1.25f, 2, 2, -1}));  // no value: the structure's NODATA
  EXPECT_EQ(p.radius, (std::vector<float>{5, 7, 7, 1}));
  EXPECT_EQ(p.priority, 3);
  EXPECT_TRUE(p.buffered);
  EXPECT_TRUE(hasBlock(
      v.lines(), warningLines({" 1 feature(s) of " + path + " (layer wells) have no geometry; they are left out."})));
  // Named items at item 3: no priority, no radius; without RADIUS= the points have no buffers.
  ASSERT_FALSE(HANDLEPOINTFILE(v.run, "POINTFILE," + path + ",VALUE=HEAD"));
  const PointSet& q = v.run.pointSets[1];
  EXPECT_EQ(q.priority, 0);
  EXPECT_FALSE(q.buffered);
  EXPECT_EQ(q.radius, (std::vector<float>{-1, -1, -1, -1}));
  // RADIUS= without a radius on the line: a feature without one gets the smallest buffer.
  ASSERT_FALSE(HANDLEPOINTFILE(v.run, "POINTFILE," + path + ",,,VALUE=HEAD,RADIUS=REACH"));
  EXPECT_EQ(v.run.pointSets[2].radius, (std::vector<float>{5, 0.0001f, 0.0001f, 1}));
}

TEST(VectorPointSets, CsvFilesGivePointsFromTheirCoordinateColumns) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  VectorRun v;
  writeFile(v.t.path("wells.csv"), "id,x,y,head\nA,1.5,2.5,10.25\nB,3,4,\n");
  ASSERT_FALSE(HANDLEPOINTFILE(v.run, "POINTFILE," + v.t.path("wells.csv").string() + ",,,VALUE=HEAD"));
  const PointSet& p = v.run.pointSets[0];
  EXPECT_EQ(p.x, (std::vector<float>{1.5f, 3}));
  EXPECT_EQ(p.y, (std::vector<float>{2.5f, 4}));
  EXPECT_EQ(p.value, (std::vector<float>{10.25f, -1}));
}

TEST(VectorPointSets, WhatCannotBeUsedIsRefusedWithTheReason) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  // The reason as the listing gives it, after "The Point file <name> could not be read: ".
  struct Case {
    std::string features, items, reason;
  } cases[] = {
      {feature("{\"type\":\"Point\",\"coordinates\":[1,2]}", "\"HEAD\":1"), ",VALUE=DEPTH",
       "layer p has no field DEPTH."},
      {feature("{\"type\":\"Point\",\"coordinates\":[1,2]}", "\"NAME\":\"well\""), ",VALUE=NAME",
       "field NAME of layer p is not numeric."},
      {feature("{\"type\":\"LineString\",\"coordinates\":[[1,2],[3,4]]}", "\"HEAD\":1"), ",VALUE=HEAD",
       "feature 0 of layer p is a Line String, not a point or multipoint."},
      {feature("{\"type\":\"Point\",\"coordinates\":[1,2]}", "\"HEAD\":1"), ",VALUE=HEAD,LAYER=OTHER",
       "it has no layer OTHER."},
  };
  for (const auto& c : cases) {
    VectorRun v;
    const std::string path = v.geojson("p.geojson", c.features);
    EXPECT_TRUE(HANDLEPOINTFILE(v.run, "POINTFILE," + path + c.items)) << c.items;
    EXPECT_TRUE(hasBlock(v.lines(), errorBlock({" The Point file " + path + " could not be read: " + c.reason})))
        << c.items;
  }
  // Without VALUE= the field that holds the values is not known.
  VectorRun v;
  const std::string path = v.geojson("p.geojson", feature("{\"type\":\"Point\",\"coordinates\":[1,2]}", "\"HEAD\":1"));
  EXPECT_TRUE(HANDLEPOINTFILE(v.run, "POINTFILE," + path));
  EXPECT_TRUE(
      hasBlock(v.lines(), errorBlock({" The Point file " + path + " is a vector layer: name the field that holds",
                                      " the values with VALUE=field.", "   Command line: POINTFILE," + path})));
}

TEST(VectorPolygonSets, HolesAreLeftAloneAndEachPolygonGetsItsValue) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  VectorRun v;
  // A square ring with a hole whose border runs through cell middles (x = 3.5), then a
  // polygon without a value over its eastern part.
  const std::string path = v.geojson(
      "lakes.geojson",
      feature("{\"type\":\"Polygon\",\"coordinates\":[[[1,1],[9,1],[9,7],[1,7],[1,1]],"
              "[[3.5,3],[6,3],[6,5],[3.5,5],[3.5,3]]]}",
              "\"CODE\":4") +
          "," + feature("{\"type\":\"Polygon\",\"coordinates\":[[[8,0],[10,0],[10,8],[8,8],[8,0]]]}", "\"CODE\":null"));
  ASSERT_FALSE(HANDLEPOLYGONFILE(v.run, "POLYGONFILE," + path + ",ASSIGN,9,VALUE=CODE"));
  const grid::GridDescription& g = v.run.structure.grid;
  std::string rows;
  for (int32_t r = 8; r >= 1; --r) {
    for (int32_t c = 1; c <= 10; ++c) {
      const float x = g.at(c, r);
      rows += x == -1 ? '.' : static_cast<char>('0' + static_cast<int>(x));
      EXPECT_EQ(v.run.structure.assignMask[g.index(c, r)], x == -1 ? 1 : 0);
    }
    rows += "\n";
  }
  // Middles at y = 0.5 .. 7.5: rows 2..6 lie in the ring (y 1..7 covers 1.5..6.5).
  EXPECT_EQ(rows,
            "........99\n"
            ".444444499\n"
            ".444444499\n"
            ".44...4499\n"
            ".44...4499\n"
            ".444444499\n"
            ".444444499\n"
            "........99\n");
}

TEST(VectorPolygonSets, ValueFieldsGoWithAssignOnly) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  VectorRun v;
  const std::string path =
      v.geojson("l.geojson", feature("{\"type\":\"Polygon\",\"coordinates\":[[[1,1],[2,1],[2,2],[1,1]]]}", "\"C\":1"));
  EXPECT_TRUE(HANDLEPOLYGONFILE(v.run, "POLYGONFILE," + path + ",CLEAR,,VALUE=C"));
  EXPECT_TRUE(hasBlock(v.lines(),
                       errorBlock({" The Polygon file " + path + " names a value field (VALUE=) but does not ASSIGN:",
                                   " the values of a field are assigned; write ASSIGN as the type of use.",
                                   "   Command line: POLYGONFILE," + path + ",CLEAR,,VALUE=C"})));
}
