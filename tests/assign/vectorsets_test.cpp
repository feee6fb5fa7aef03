#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>

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

namespace {

// A point file of many lines in the ways users write them: blank lines, Windows ends of line,
// blanks around items, lower-case exponents and Fortran's D exponent, a point's own radius given,
// left out or left blank. Its points, relative to the corner (0, 0), in `want`.
struct BigPointFile {
  std::string text = "NODATA_VALUE,-9999\nBUFFER,YES,10\n";
  std::vector<float> x, y, value, radius;
  explicit BigPointFile(int points) {
    char line[96];
    for (int k = 0; k < points; ++k) {
      const double px = 0.25 * (k % 4001), py = 0.5 * (k % 3001);
      const float v = static_cast<float>(k % 977) * 0.125f;
      float r = 10.0f;
      if (k % 1000 == 17) text += "   \n";
      const char* end = k % 7 == 3 ? "\r\n" : "\n";
      switch (k % 5) {
        case 0:
          std::snprintf(line, sizeof line, "%.2f,%.1f,%.3f%s", px, py, v, end);
          break;
        case 1:
          std::snprintf(line, sizeof line, " %.2f , %.1f,%.3fe0 , %d%s", px, py, v, k % 50, end);
          r = static_cast<float>(k % 50);
          break;
        case 2:
          std::snprintf(line, sizeof line, "%.2fd0,%.1fE0,%.3f,%s", px, py, v, end);
          break;
        case 3:
          std::snprintf(line, sizeof line, "%.2f,%.1f,%.3f,  ,7%s", px, py, v, end);
          break;
        default:
          std::snprintf(line, sizeof line, "%.2f,%.1f,%.3f,2.5e1%s", px, py, v, end);
          r = 25.0f;
      }
      text += line;
      x.push_back(static_cast<float>(px));
      y.push_back(static_cast<float>(py));
      value.push_back(v);
      radius.push_back(r);
    }
  }
};

void expectPoints(const PointSet& p, const BigPointFile& f) {
  ASSERT_EQ(p.count, static_cast<int32_t>(f.x.size()));
  for (size_t k = 0; k < f.x.size(); ++k) {
    ASSERT_EQ(p.x[k], f.x[k]) << "point " << k;
    ASSERT_EQ(p.y[k], f.y[k]) << "point " << k;
    ASSERT_EQ(p.value[k], f.value[k]) << "point " << k;
    ASSERT_EQ(p.radius[k], f.radius[k]) << "point " << k;
  }
}

}  // namespace

// Point files of millions of lines are read a block at a time, each block in pieces on every
// core; what a file gives must not depend on where the blocks and pieces end, nor on the number
// of cores, nor on a line somewhere that only the line-by-line reading understands.
TEST(PointFiles, ReadOnEveryCoreTheyGiveThePointsOfTheLineByLineReading) {
  BigPointFile f(300000);  // some 8 MB: blocks end inside it for any number of cores
  for (int threads : {1, 2, 3}) {
    for (bool backticks : {false, true}) {
      VectorRun v;
      v.run.fr.threads = threads;
      std::string text = f.text;
      if (backticks) {
        // A point written with backticks in the middle of the file, read the line-by-line way.
        const size_t at = text.find('\n', text.size() / 2) + 1;
        const size_t end = text.find('\n', at);
        text.replace(at, end - at,
                     "`" + text.substr(at, text.find(',', at) - at) + "`" +
                         text.substr(text.find(',', at), end - text.find(',', at)));
      }
      writeFile(v.t.path("points.txt"), text);
      ASSERT_FALSE(HANDLEPOINTFILE(v.run, "POINTFILE," + v.t.path("points.txt").string() + ",1"));
      SCOPED_TRACE("threads " + std::to_string(threads) + (backticks ? ", with backticks" : ""));
      expectPoints(v.run.pointSets.at(0), f);
    }
  }
}

TEST(PointFiles, LinesOfAnyLengthReadAsLineByLine) {
  // Point lines of some 10 to 80 characters, items of every written form (blanks around them,
  // signs, exponents e, E, d and D, a radius or none, a radius left blank), so that items and
  // commas fall on both sides of every sixteenth character. Read the fast way, and with a line
  // first that only the line-by-line reading takes (backticks), which sends the whole file that
  // way: the same points.
  std::mt19937 rng(5);
  auto blanks = [&] { return std::string(rng() % 5 == 0 ? rng() % 7 : 0, ' '); };
  auto number = [&] {
    char n[48];
    const double v = static_cast<double>(rng() % 2000000) / 64.0 - 100.0;
    static const char* const kForms[] = {"%.0f", "%.6e", "%.4fd0", "%+.3fE+00"};
    const size_t form = rng() % 6;
    if (form < std::size(kForms)) {
      std::snprintf(n, sizeof n, kForms[form], v);
    } else {
      std::snprintf(n, sizeof n, "%.*f", static_cast<int>(rng() % 9), v);
    }
    return blanks() + n + blanks();
  };
  std::string lines = "NODATA_VALUE,-9999\nBUFFER,YES,10\n";
  for (int k = 0; k < 12000; ++k) {
    std::string l = number() + "," + number() + "," + number();
    if (rng() % 3 == 0) l += "," + (rng() % 4 == 0 ? blanks() : blanks() + std::to_string(rng() % 50) + blanks());
    lines += l + (k % 11 == 0 ? "\r\n" : "\n");
  }
  VectorRun fast, byLine;
  writeFile(fast.t.path("points.txt"), lines);
  // Some 0.5 MB: one block of lines.
  ASSERT_LT(lines.size(), size_t{1} << 20);
  writeFile(byLine.t.path("points.txt"), lines.insert(lines.find('\n', lines.find("BUFFER")) + 1, "`1`,2,3\n"));
  ASSERT_FALSE(HANDLEPOINTFILE(fast.run, "POINTFILE," + fast.t.path("points.txt").string() + ",1"));
  ASSERT_FALSE(HANDLEPOINTFILE(byLine.run, "POINTFILE," + byLine.t.path("points.txt").string() + ",1"));
  const PointSet &a = fast.run.pointSets.at(0), &b = byLine.run.pointSets.at(0);
  ASSERT_EQ(a.count, 12000);
  ASSERT_EQ(b.count, a.count + 1);
  int differ = 0;
  for (size_t k = 0; k < a.x.size(); ++k)
    differ +=
        a.x[k] != b.x[k + 1] || a.y[k] != b.y[k + 1] || a.value[k] != b.value[k + 1] || a.radius[k] != b.radius[k + 1];
  EXPECT_EQ(differ, 0);
}

TEST(PointFiles, TheFirstBadLineInTheFileIsTheOneReported) {
  const BigPointFile f(300000);
  // Line numbers of the file: two of heading, then the points (and a blank line now and then).
  auto startOfLine = [](const std::string& text, size_t number) {
    size_t at = 0;
    for (size_t n = 1; n < number; ++n) at = text.find('\n', at) + 1;
    return at;
  };
  for (int threads : {1, 2}) {
    for (auto [first, second] : {std::pair<size_t, size_t>{5, 280000}, {200001, 200002}, {290000, 0}}) {
      VectorRun v;
      v.run.fr.threads = threads;
      std::string text = f.text;
      for (size_t bad : {second, first}) {  // the later one first: the earlier's place stays
        if (bad == 0) continue;
        const size_t at = startOfLine(text, bad);
        text.insert(at, bad == first ? "1,2,abc\n" : "1,2\n");
      }
      // The last line without an end of line and with a carriage return: not a number.
      text += "1,2,3\r";
      writeFile(v.t.path("points.txt"), text);
      const std::string name = v.t.path("points.txt").string();
      ASSERT_TRUE(HANDLEPOINTFILE(v.run, "POINTFILE," + name + ",1"));
      EXPECT_TRUE(
          hasBlock(v.lines(), {" The Point file " + name + " has a line that is not a point (x, y and value) in line " +
                                   std::to_string(first) + ":",
                               " 1,2,abc"}))
          << "threads " << threads << ", line " << first;
    }
  }
  // With no other fault, the carriage return of the last line is the fault, on its line.
  VectorRun v;
  v.run.fr.threads = 2;
  writeFile(v.t.path("points.txt"), f.text + "1,2,3\r");
  const std::string name = v.t.path("points.txt").string();
  ASSERT_TRUE(HANDLEPOINTFILE(v.run, "POINTFILE," + name + ",1"));
  const size_t lines = static_cast<size_t>(std::count(f.text.begin(), f.text.end(), '\n')) + 1;
  EXPECT_TRUE(
      hasBlock(v.lines(), {" The Point file " + name + " has a line that is not a point (x, y and value) in line " +
                               std::to_string(lines) + ":",
                           " 1,2,3\r"}));
}
