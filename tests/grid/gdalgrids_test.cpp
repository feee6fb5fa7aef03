#include "grid/gdalgrids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "frame/files.h"
#include "gdal/crs.h"
#include "gdal/gdalroom.h"
#include "gdal/raster.h"
#include "gdal/tiffwriter.h"
#include "grid/gridsets.h"
#include "support.h"

using namespace grid;
using testing_support::errorBlock;
using testing_support::hasBlock;
using testing_support::TestFrame;
using testing_support::warningLines;
using testing_support::writeFile;

namespace {

// Writes a GeoTIFF of ncols x nrows cells of 10 m with its lower-left corner at (100, 200);
// the value of the cell in column c, row r (both from 0, row 0 in the north) is value(c, r).
template <typename Value>
bool writeTiff(const std::string& path, int64_t ncols, int64_t nrows, Value value, std::string& message,
               int64_t rowsPerCall = 100) {
  gdalroom::TiffLayout layout;
  layout.ncols = ncols;
  layout.nrows = nrows;
  layout.xll = 100;
  layout.yll = 200;
  layout.cellsize = 10;
  layout.nodata = -9999;
  gdalroom::TiffWriter out;
  if (!out.open(path, layout, message)) return false;
  std::vector<float> rows;
  for (int64_t r = 0; r < nrows; r += rowsPerCall) {
    const int64_t count = std::min(rowsPerCall, nrows - r);
    rows.clear();
    for (int64_t k = 0; k < count; ++k) {
      for (int64_t c = 0; c < ncols; ++c) rows.push_back(value(c, r + k));
    }
    if (!out.writeRows(rows.data(), count, message)) return false;
  }
  return out.commit(message);
}

Structure structure3x2() {
  Structure s;
  s.grid.xll = 100;
  s.grid.yll = 200;
  s.grid.dx = s.grid.dy = s.cellsize = 10;
  s.grid.ncols = 3;
  s.grid.nrows = 2;
  return s;
}

// A VRT over band 1 of a GeoTIFF, with its own geotransform and NODATA.
std::string vrt(const std::string& source, const std::string& geotransform, const std::string& nodata = "") {
  return "<VRTDataset rasterXSize=\"3\" rasterYSize=\"2\">\n  <GeoTransform>" + geotransform +
         "</GeoTransform>\n  <VRTRasterBand dataType=\"Float32\" band=\"1\">\n" +
         (nodata.empty() ? "" : "    <NoDataValue>" + nodata + "</NoDataValue>\n") +
         "    <SimpleSource><SourceFilename relativeToVRT=\"0\">" + source +
         "</SourceFilename><SourceBand>1</SourceBand></SimpleSource>\n  </VRTRasterBand>\n</VRTDataset>\n";
}

bool hasLine(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& l : lines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

TEST(GdalRasters, GeoTiffWrittenInRowsIsReadBackCellForCellInStripsAndWindows) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  TestFrame t;
  const std::string path = t.path("big.tif").string();
  // 300 columns: two tiles across, the second one partly outside the grid.
  auto value = [](int64_t c, int64_t r) {
    return (c + r) % 17 == 0 ? -9999.0f : static_cast<float>(c) * 0.25f - static_cast<float>(r);
  };
  std::string message;
  ASSERT_TRUE(writeTiff(path, 300, 261, value, message, 77)) << message;
  for (const auto& e : std::filesystem::directory_iterator(t.dir)) {
    EXPECT_EQ(e.path().filename(), "big.tif") << "a temporary file was left";
  }
  gdalroom::RasterReader in;
  ASSERT_TRUE(in.open(path, 1, true, message)) << message;
  const gdalroom::RasterInfo& info = in.info();
  EXPECT_EQ(info.ncols, 300);
  EXPECT_EQ(info.nrows, 261);
  EXPECT_EQ(info.xll, 100.0);
  EXPECT_EQ(info.yll, 200.0);
  EXPECT_EQ(info.dx, 10.0);
  EXPECT_EQ(info.dy, 10.0);
  EXPECT_TRUE(info.hasNodata);
  EXPECT_EQ(info.nodata, -9999.0);
  EXPECT_EQ(info.dataType, "Float32");
  EXPECT_EQ(info.driver, "GTiff");
  EXPECT_EQ(info.blockRows, 256);
  const int64_t step = in.rowsPerRead();
  EXPECT_GE(step, 256);
  std::vector<float> strip;
  for (int64_t first = 0; first < 261; first += step) {
    const int64_t count = std::min(step, 261 - first);
    strip.resize(static_cast<size_t>(count * 300));
    ASSERT_TRUE(in.readRows(first, count, strip.data(), message)) << message;
    for (int64_t k = 0; k < count; ++k) {
      for (int64_t c = 0; c < 300; ++c) ASSERT_EQ(strip[static_cast<size_t>(k * 300 + c)], value(c, first + k));
    }
  }
  // A window across the tile boundaries.
  strip.assign(20 * 3, 0.0f);
  ASSERT_TRUE(in.readWindow(250, 254, 20, 3, strip.data(), message)) << message;
  for (int64_t k = 0; k < 3; ++k) {
    for (int64_t c = 0; c < 20; ++c) EXPECT_EQ(strip[static_cast<size_t>(k * 20 + c)], value(250 + c, 254 + k));
  }
  EXPECT_FALSE(in.readWindow(290, 0, 20, 1, strip.data(), message));
}

TEST(GdalRasters, AnUnfinishedGeoTiffLeavesNothingBehind) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  TestFrame t;
  writeFile(t.path("keep.tif"), "the old file");
  gdalroom::TiffLayout layout;
  layout.ncols = 4;
  layout.nrows = 3;
  std::string message;
  {
    gdalroom::TiffWriter out;
    ASSERT_TRUE(out.open(t.path("keep.tif").string(), layout, message)) << message;
    const float row[4] = {1, 2, 3, 4};
    ASSERT_TRUE(out.writeRows(row, 1, message));
    EXPECT_FALSE(out.commit(message));  // two rows are missing
    EXPECT_FALSE(out.writeRows(row, 3, message));
  }
  {
    gdalroom::TiffWriter out;
    ASSERT_TRUE(out.open(t.path("gone.tif").string(), layout, message)) << message;
  }  // never committed
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(t.dir)) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"keep.tif"});
  gdalroom::TiffWriter out;
  layout.ncols = 0;
  EXPECT_FALSE(out.open(t.path("empty.tif").string(), layout, message));
}

// The GeoTIFF's temporary file is one of the run's pending temporaries: a signal removes it,
// one left by a killed process is removed by the next writer of the same target, and a file
// committed with SYNC is in place whole.
TEST(GdalRasters, TheGeoTiffTemporaryIsRemovedOnASignalAndByTheNextRun) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  TestFrame t;
  auto names = [&] {
    std::vector<std::string> n;
    for (const auto& e : std::filesystem::directory_iterator(t.dir)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  };
  gdalroom::TiffLayout layout;
  layout.ncols = 300;
  layout.nrows = 2;
  std::string message;
  const std::vector<float> rows(600, 7.0f);
  {
    gdalroom::TiffWriter out;
    ASSERT_TRUE(out.open(t.path("out.tif").string(), layout, message)) << message;
    ASSERT_TRUE(out.writeRows(rows.data(), 1, message)) << message;
    const auto during = names();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind("out.tif.tmp.", 0), 0u) << during[0];
    // What the signal handler does before the process ends.
    frame::removePendingTemporaries();
    EXPECT_TRUE(names().empty());
    out.abandon();
  }
  // A temporary of a process that no longer lives (pid 4194303 is beyond what runs here).
  std::string host;
  {
    gdalroom::TiffWriter out;
    ASSERT_TRUE(out.open(t.path("out.tif").string(), layout, message)) << message;
    const std::string n = names().at(0);  // out.tif.tmp.<host>.<pid>.<6>
    host = n.substr(12, n.find('.', 12) - 12);
  }
  // A run reads a folder once for such names: the next run is one writing into another folder.
  std::filesystem::create_directory(t.path("next"));
  const std::string stale = "next/out.tif.tmp." + host + ".4194303.abcdef";
  writeFile(t.path(stale), "left by a killed run");
  layout.sync = true;
  gdalroom::TiffWriter out;
  ASSERT_TRUE(out.open(t.path("next/out.tif").string(), layout, message)) << message;
  EXPECT_FALSE(std::filesystem::exists(t.path(stale)));
  ASSERT_TRUE(out.writeRows(rows.data(), 2, message)) << message;
  ASSERT_TRUE(out.commit(message)) << message;
  EXPECT_TRUE(std::filesystem::exists(t.path("next/out.tif")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path("next")), {}), 1);
  gdalroom::RasterReader in;
  ASSERT_TRUE(in.open(t.path("next/out.tif").string(), 1, true, message)) << message;
  std::vector<float> back(600);
  ASSERT_TRUE(in.readRows(0, 2, back.data(), message)) << message;
  EXPECT_EQ(back, rows);
}

TEST(GdalRasters, SouthUpGridsAreTurnedAndRotatedOnesRefusedWithTheReason) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  TestFrame t;
  std::string message;
  const std::string base = t.path("base.tif").string();
  ASSERT_TRUE(writeTiff(
      base, 3, 2, [](int64_t c, int64_t r) { return static_cast<float>(10 * r + c); }, message));
  // South up: the file's first row is the southern one.
  writeFile(t.path("south.vrt"), vrt(base, "100, 10, 0, 200, 0, 10"));
  gdalroom::RasterReader in;
  ASSERT_TRUE(in.open(t.path("south.vrt").string(), 1, false, message)) << message;
  EXPECT_EQ(in.info().yll, 200.0);
  float rows[6];
  ASSERT_TRUE(in.readRows(0, 2, rows, message));
  EXPECT_EQ(std::vector<float>(rows, rows + 6), (std::vector<float>{10, 11, 12, 0, 1, 2}));
  ASSERT_TRUE(in.readRows(1, 1, rows, message));
  EXPECT_EQ(std::vector<float>(rows, rows + 3), (std::vector<float>{0, 1, 2}));
  struct Case {
    std::string file, text, reason;
    bool geoTiffOnly;
    int band;
  } refused[] = {
      {"rotated.vrt", vrt(base, "100, 10, 0.5, 220, 0, -10"), "rotated", false, 1},
      {"band.vrt", vrt(base, "100, 10, 0, 220, 0, -10"), "has 1 band(s), band 2 was asked for", false, 2},
      {"vrt.tif", vrt(base, "100, 10, 0, 220, 0, -10"), "not a GeoTIFF", true, 1},
      {"text.tif", "not a raster at all\n", "not a GeoTIFF", true, 1},
      {"nothing.vrt", "<VRTDataset", "cannot open it as a raster", false, 1},
  };
  for (const auto& c : refused) {
    writeFile(t.path(c.file), c.text);
    gdalroom::RasterReader r;
    EXPECT_FALSE(r.open(t.path(c.file).string(), c.band, c.geoTiffOnly, message)) << c.file;
    EXPECT_NE(message.find(c.reason), std::string::npos) << c.file << ": " << message;
  }
  gdalroom::takeMessages();
}

TEST(GdalGridSets, GeoTiffSetsAreReadAsBilSetsAreAndNanNodataBecomesTheSetsNodata) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  TestFrame t;
  t.openListing();
  std::string message;
  // The northern row 1 2 3, the southern 4 NODATA 6, as the BIL raster of the grid set tests.
  const std::string tif = t.path("a.tif").string();
  ASSERT_TRUE(writeTiff(
      tif, 3, 2,
      [](int64_t c, int64_t r) {
        return r == 1 && c == 1 ? -9999.0f : 1.0f + static_cast<float>(c) + static_cast<float>(3 * r);
      },
      message));
  GridSets g;
  EXPECT_FALSE(
      HANDLETERVALAGRID(t.fr, structure3x2(), g, "AVERAGE", "TERVALAGRID,TIF,MIDDLE," + tif + ",3,#VALUES=2", 1));
  ASSERT_EQ(g.descriptions.size(), 1u);
  const GridDescription& d = g.descriptions[0];
  EXPECT_EQ(std::vector<float>(d.values.begin(), d.values.end()), (std::vector<float>{4, -9999, 6, 1, 2, 3}));
  EXPECT_EQ(d.priority, 3);
  EXPECT_EQ(d.numberOfValues, 2);
  EXPECT_EQ(d.valuesType, grid::ValuesAt::Middle);
  EXPECT_TRUE(d.sameGeometry);
  EXPECT_EQ(d.nodata, -9999.0f);
  EXPECT_FALSE(g.sixteenBit);
  // BAND= at item 5 is not a priority.
  EXPECT_FALSE(HANDLETERVALAGRID(t.fr, structure3x2(), g, "AVERAGE", "TERVALAGRID,TIF,CELL," + tif + ",BAND=1", 1));
  EXPECT_EQ(g.descriptions[1].priority, 0);
  // A band whose NODATA is NaN: its NaN cells become the set's NODATA, -999.999.
  const std::string nan = t.path("nan.tif").string();
  ASSERT_TRUE(writeTiff(
      nan, 3, 2, [](int64_t c, int64_t) { return c == 2 ? NAN : 5.0f; }, message));
  writeFile(t.path("nan.vrt"), vrt(nan, "100, 10, 0, 220, 0, -10", "nan"));
  EXPECT_FALSE(
      HANDLETERVALAGRID(t.fr, structure3x2(), g, "AVERAGE", "TERVALAGRID,GDAL,CELL," + t.path("nan.vrt").string(), 1));
  EXPECT_EQ(g.descriptions[2].nodata, -999.999f);
  EXPECT_EQ(std::vector<float>(g.descriptions[2].values.begin(), g.descriptions[2].values.end()),
            (std::vector<float>{5, 5, -999.999f, 5, 5, -999.999f}));
  // A south-up raster: its first row is the southern one.
  writeFile(t.path("south.vrt"), vrt(tif, "100, 10, 0, 200, 0, 10"));
  EXPECT_FALSE(HANDLETERVALAGRID(t.fr, structure3x2(), g, "AVERAGE",
                                 "TERVALAGRID,GDAL,CELL," + t.path("south.vrt").string(), 1));
  EXPECT_EQ(std::vector<float>(g.descriptions[3].values.begin(), g.descriptions[3].values.end()),
            (std::vector<float>{1, 2, 3, 4, -9999, 6}));
  // NaN cells where NODATA is a number are an error, as in a BIL raster.
  TestFrame u;
  u.openListing();
  GridSets h;
  EXPECT_TRUE(HANDLETERVALAGRID(u.fr, structure3x2(), h, "AVERAGE", "TERVALAGRID,TIF,CELL," + nan, 1));
  EXPECT_TRUE(hasBlock(
      u.lines(), errorBlock({" The Tervala file " + nan + " holds a value that is not a number at row 1, column 3."})));
  // MAJORITY refuses values that are not whole.
  TestFrame v;
  v.openListing();
  const std::string half = v.path("half.tif").string();
  ASSERT_TRUE(writeTiff(
      half, 3, 2, [](int64_t, int64_t) { return 2.5f; }, message));
  EXPECT_TRUE(HANDLETERVALAGRID(v.fr, structure3x2(), h, "MAJORITY", "TERVALAGRID,TIF,CELL," + half, 1));
  EXPECT_TRUE(hasBlock(v.lines(),
                       errorBlock({" When Majority or Minority is asked for the",
                                   " values in a grid file must be positive integers.", "", "", "   File: " + half})));
}

TEST(GdalGridSets, BadBandsAndCoordinateSystemsAreNamedInTheListing) {
  if (!gdalroom::builtIn()) GTEST_SKIP() << "built without GDAL";
  TestFrame t;
  t.openListing();
  std::string message;
  const std::string tif = t.path("a.tif").string();
  ASSERT_TRUE(writeTiff(
      tif, 3, 2, [](int64_t, int64_t) { return 1.0f; }, message));
  GridSets g;
  EXPECT_TRUE(HANDLETERVALAGRID(t.fr, structure3x2(), g, "AVERAGE", "TERVALAGRID,TIF,CELL," + tif + ",BAND=0", 1));
  EXPECT_TRUE(hasBlock(t.lines(), errorBlock({" The item BAND= of a TERVALA grid file must be a band number from 1.",
                                              "   Command line: TERVALAGRID,TIF,CELL," + tif + ",BAND=0"})));
  // Two systems that are not the same are named; the same system written twice is not warned of.
  const std::string rd =
      "PROJCS[\"Amersfoort / RD New\",GEOGCS[\"Amersfoort\",DATUM[\"Amersfoort\",SPHEROID[\"Bessel "
      "1841\",6377397.155,299.1528128]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
      "PROJECTION[\"Oblique_Stereographic\"],PARAMETER[\"latitude_of_origin\",52.1561605555556],"
      "PARAMETER[\"central_meridian\",5.38763888888889],PARAMETER[\"scale_factor\",0.9999079],"
      "PARAMETER[\"false_easting\",155000],PARAMETER[\"false_northing\",463000],UNIT[\"metre\",1],"
      "AUTHORITY[\"EPSG\",\"28992\"]]";
  const std::string wgs =
      "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],"
      "UNIT[\"degree\",0.0174532925199433],AUTHORITY[\"EPSG\",\"4326\"]]";
  EXPECT_EQ(gdalroom::sameCrs(rd, rd), gdalroom::Sameness::Same);
  EXPECT_EQ(gdalroom::sameCrs(rd, wgs), gdalroom::Sameness::Different);
  EXPECT_EQ(gdalroom::crsName(wgs), "WGS 84 (EPSG:4326)");
  TestFrame u;
  u.openListing();
  Structure s = structure3x2();
  s.crsWkt = rd;
  warnOtherCrs(u.fr, s, "A.TIF", rd);
  EXPECT_FALSE(hasLine(u.lines(), "WARNING"));
  warnOtherCrs(u.fr, s, "A.TIF", wgs);
  EXPECT_TRUE(hasBlock(u.lines(),
                       warningLines({" The coordinate reference system of A.TIF differs from the structure's:",
                                     "   A.TIF: WGS 84 (EPSG:4326)", "   structure: Amersfoort / RD New (EPSG:28992)",
                                     " Its coordinates are taken as they stand; nothing is reprojected."})));
}

TEST(GdalGridSets, NamesOfTifAndGdalRasters) {
  EXPECT_EQ(gdalRasterName("DEM", "TIF"), "DEM.TIF");
  EXPECT_EQ(gdalRasterName("DIR.V2/DEM", "TIF"), "DIR.V2/DEM.TIF");
  EXPECT_EQ(gdalRasterName("DEM.TIFF", "TIF"), "DEM.TIFF");
  EXPECT_EQ(gdalRasterName("MOSAIC.VRT", "GDAL"), "MOSAIC.VRT");
  EXPECT_EQ(gdalRasterName("DEM", "GDAL"), "DEM");
  EXPECT_TRUE(gdalRasterType("TIF"));
  EXPECT_TRUE(gdalRasterType("GDAL"));
  EXPECT_FALSE(gdalRasterType("TIFF"));
  EXPECT_EQ(sentence("no driver"), "no driver.");
  EXPECT_EQ(sentence("rebuild it."), "rebuild it.");
}
