// Writes benchmark workloads of realistic size, reproducibly from a seed.
//
//   generate <workload> <dir> [seed] [area] [input]
//
// area 2 doubles the structure's cells (twice the rows, the inputs reaching over them too);
// input 2 doubles the input on the same structure (more sets, finer input cells, more points,
// more polygons, a finer model grid). Both default to 1.
//
// Workloads:
//   same-grid   a 4000 x 4000 structure with two BIL grid sets on its own grid, AVERAGE, BIL output
//   asc-write   a 4000 x 4000 structure with one BIL grid set on its own grid, ASC output; GDAL:
//               gdal_translate -of AAIGrid of the same grid
//   regrid      a 3000 x 3000 BIL input (cell 7, an odd origin, 5% NODATA) onto a 2000 x 2000
//               structure of cell 10 related to CELL, METHOD-PER-SET AVERAGE, BIL output;
//               GDAL: gdalwarp -r average
//   points      one million points with values, a tenth with buffers of 5 to 40 m, on a
//               2000 x 2000 structure of cell 10 related to CELL, CLOSEST buffers, BIL output
//   polygons    one thousand star-shaped polygons of 200 vertices (ASSIGN) on a 4000 x 4000
//               MIDDLE structure, BIL output; GDAL: gdal_rasterize -burn of the same polygons
//   model-cell, model-middle
//               a curvilinear model grid of 500 x 500 cells (rotated, warped, some cells
//               inactive) onto a 2000 x 2000 structure related to CELL or MIDDLE, searching
//   model-cell-table, model-middle-table
//               the same, reading the table file that a searching run wrote (prepare.pcf)
//   huge        a 20000 x 20000 structure with one BIL grid set on its own grid, BIL output
//               (not in the default list: it needs 3.2 GB of disk and 3.6 GB of memory)
//   tif-read    a 4000 x 4000 structure with one grid set on its own grid from a tiled, DEFLATE-
//               compressed GeoTIFF of 32-bit floats (prepare.sh makes it from a BIL with
//               gdal_translate, untimed), BIL output; GDAL: gdal_translate of the GeoTIFF to a BIL
//   mixed       every kind of set at once on a 2000 x 2000 CELL structure: a grid on its grid,
//               a grid on another grid, points with buffers, polygons and a model grid
//   national    a 60000 x 60000 CELL structure of 5 m (300 x 300 km) with a BIL grid set on its
//               grid, a BIL set on a grid of 25 m, 100,000 points with buffers of 5 to 40 m and
//               1,000 star-shaped polygons (CLEAR), MEMORY,4096 in DEVICE.CNF: bands of rows.
//               NATIONAL_SIDE=6000 makes it 6000 x 6000 with the memory bound scaled to the
//               cells (the same bands, a hundredth of the work), or NATIONAL_MEMORY=n MiB;
//               14.4 GB of input at full size
//               (bench/national.sh runs it; not in run.sh's default list)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
};

struct Scale {
  int area = 1, input = 1;
};

void text(const std::string& path, const std::string& content) {
  std::ofstream(path) << content;
}

std::string structure(int cols, int rows, double cell, bool cellRelated) {
  return "STRUCTURE\n#COLUMNS," + std::to_string(cols) + "\n#ROWS," + std::to_string(rows) +
         "\nXLL,150000\nYLL,400000\nCELLSIZE," + std::to_string(cell) + "\nNODATA,-9999\nDATARELATEDTO," +
         (cellRelated ? "CELL" : "MIDDLE") + "\nEND:STRUCTURE\n";
}

// A smooth field with noise, like a terrain or a rainfall surface; a share of NODATA cells.
void writeBil(const std::string& base, int ncols, int nrows, double xll, double yll, double cell, Rng& rng,
              double nodataShare) {
  char hdr[512];
  std::snprintf(hdr, sizeof hdr,
                "BYTEORDER I\nLAYOUT BIL\nNROWS %d\nNCOLS %d\nNBANDS 1\nNBITS 32\nBANDROWBYTES %d\n"
                "TOTALROWBYTES %d\nULXMAP %.6f\nULYMAP %.6f\nXDIM %.6f\nYDIM %.6f\nNODATA -9999\nPIXELTYPE FLOAT\n",
                nrows, ncols, ncols * 4, ncols * 4, xll + 0.5 * cell, yll + nrows * cell - 0.5 * cell, cell, cell);
  text(base + ".hdr", hdr);
  std::ofstream out(base + ".bil", std::ios::binary);
  std::vector<float> row(static_cast<size_t>(ncols));
  for (int r = 0; r < nrows; ++r) {
    for (int c = 0; c < ncols; ++c) {
      double v = 100.0 + 20.0 * std::sin(c * 0.01) * std::cos(r * 0.013) + 5.0 * rng.uniform();
      row[static_cast<size_t>(c)] = rng.uniform() < nodataShare ? -9999.0f : static_cast<float>(v);
    }
    out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size() * 4));
  }
}

// The cells of the structure, and the memory the grids themselves need: 5 bytes a structure
// cell (value and mask) plus each input set's values (4 bytes a grid value; 16 bytes a point:
// x, y, value, radius; a model: its segment numbers, its grid points' x and y, and the used
// parameter's value per segment). Polygons are applied as they are read and keep nothing.
void done(long long cells, long long inputBytes) {
  std::printf("cells %lld\nneed %lld\n", cells, 5 * cells + inputBytes);
}

int sameGrid(const std::string& dir, Rng& rng, Scale sc) {
  const int n = 4000, rows = 4000 * sc.area;
  std::string pcf = structure(n, rows, 10, true) + "STOREFILE,BIL,result\nRUN-METHOD,AVERAGE\n";
  for (int k = 0; k < 2 * sc.input; ++k) {
    const std::string name = "set" + std::to_string(k);
    writeBil(dir + "/" + name, n, rows, 150000, 400000, 10, rng, 0.02 + 0.01 * k);
    pcf += "TERVALAGRID,BIL,CELL," + name + ",1\n";
  }
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF", pcf);
  done(static_cast<long long>(n) * rows, 2LL * sc.input * 4 * n * rows);
  return 0;
}

int huge(const std::string& dir, Rng& rng, Scale sc) {
  const int n = 20000, rows = 20000 * sc.area;
  writeBil(dir + "/terrain", n, rows, 150000, 400000, 10, rng, 0.02);
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       structure(n, rows, 10, false) + "STOREFILE,BIL,result\nTERVALAGRID,BIL,MIDDLE,terrain\n");
  done(static_cast<long long>(n) * rows, 4LL * n * rows);
  return 0;
}

int ascWrite(const std::string& dir, Rng& rng, Scale sc) {
  const int n = 4000, rows = 4000 * sc.area;
  writeBil(dir + "/terrain", n, rows, 150000, 400000, 10, rng, 0.02);
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       structure(n, rows, 10, false) + "STOREFILE,ASC,result.asc\nTERVALAGRID,BIL,MIDDLE,terrain\n");
  text(dir + "/gdal.cmd", "gdal_translate -q -of AAIGrid terrain.bil gdal.asc\n");
  done(static_cast<long long>(n) * rows, 4LL * n * rows);
  return 0;
}

int tifRead(const std::string& dir, Rng& rng, Scale sc) {
  const int n = 4000, rows = 4000 * sc.area;
  writeBil(dir + "/terrain", n, rows, 150000, 400000, 10, rng, 0.02);
  text(dir + "/prepare.sh",
       "gdal_translate -q -co TILED=YES -co COMPRESS=DEFLATE -co PREDICTOR=3 terrain.bil terrain.tif\n"
       "rm terrain.bil terrain.hdr\n");
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       structure(n, rows, 10, false) + "STOREFILE,BIL,result\nTERVALAGRID,TIF,MIDDLE,terrain.tif\n");
  text(dir + "/gdal.cmd", "gdal_translate -q -of EHdr terrain.tif gdal.bil\n");
  done(static_cast<long long>(n) * rows, 4LL * n * rows);
  return 0;
}

int regrid(const std::string& dir, Rng& rng, Scale sc) {
  const double cell = 7.0 / std::sqrt(static_cast<double>(sc.input));
  const int in = static_cast<int>(std::lround(3000 * std::sqrt(static_cast<double>(sc.input))));
  writeBil(dir + "/input", in, in * sc.area, 150000 - 503.3, 400000 - 497.9, cell, rng, 0.05);
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF", structure(2000, 2000 * sc.area, 10, true) +
                                           "STOREFILE,BIL,result\nMETHOD-PER-SET,AVERAGE\nRUN-METHOD,AVERAGE\n"
                                           "TERVALAGRID,BIL,CELL,input\n");
  // The same work for GDAL: the structure's extent and cell size, area-weighted average.
  text(dir + "/gdal.cmd", "gdalwarp -q -overwrite -r average -te 150000 400000 170000 " +
                              std::to_string(400000 + 20000 * sc.area) + " -tr 10 10 input.bil gdal.tif\n");
  done(2000LL * 2000LL * sc.area, 4LL * in * in * sc.area);
  return 0;
}

void writePoints(const std::string& dir, Rng& rng, int count, double height) {
  // Gauges: a tenth with their own buffer radius. Wells: the rest, without buffers.
  std::ofstream g(dir + "/gauges.txt"), w(dir + "/wells.txt");
  g << "NODATA_VALUE,-9999\nBUFFER,YES,10\n";
  w << "NODATA_VALUE,-9999\n";
  char line[128];
  for (int k = 0; k < count; ++k) {
    const double x = 150000 + 20000 * rng.uniform(), y = 400000 + height * rng.uniform();
    const double v = 10 + 5 * rng.uniform();
    if (k % 10 == 0) {
      std::snprintf(line, sizeof line, "%.3f,%.3f,%.4f,%.2f\n", x, y, v, 5 + 35 * rng.uniform());
      g << line;
    } else {
      std::snprintf(line, sizeof line, "%.3f,%.3f,%.4f\n", x, y, rng.uniform() < 0.01 ? -9999.0 : v);
      w << line;
    }
  }
}

// The peer of the points workload for GDAL: every point of both files in one CSV (gdal.csv,
// through gdal.vrt), gridded by gdal_grid's nearest point within one radius, 20 m, to the
// structure's extent and cells. Named gdal.* so that the floor does not read them.
void writeGdalPoints(const std::string& dir, int columns, int rows, double cell) {
  std::ofstream csv(dir + "/gdal.csv");
  csv << "x,y,value\n";
  for (const char* name : {"/gauges.txt", "/wells.txt"}) {
    std::ifstream in(dir + name);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] < '0' || line[0] > '9') continue;  // the heading lines
      const size_t third = line.find(',', line.find(',') + 1);
      csv << line.substr(0, line.find(',', third + 1)) << '\n';
    }
  }
  text(dir + "/gdal.vrt",
       "<OGRVRTDataSource><OGRVRTLayer name=\"gdal\"><SrcDataSource>gdal.csv</SrcDataSource>"
       "<GeometryType>wkbPoint</GeometryType><GeometryField encoding=\"PointFromColumns\" x=\"x\" y=\"y\"/>"
       "</OGRVRTLayer></OGRVRTDataSource>\n");
  char cmd[512];
  std::snprintf(cmd, sizeof cmd,
                "gdal_grid -q -a nearest:radius1=20:radius2=20:nodata=-9999 -zfield value -l gdal -txe 150000 %.0f "
                "-tye 400000 %.0f -outsize %d %d -of EHdr -ot Float32 gdal.vrt gdal.bil\n",
                150000 + columns * cell, 400000 + rows * cell, columns, rows);
  text(dir + "/gdal.cmd", cmd);
}

int points(const std::string& dir, Rng& rng, Scale sc) {
  writePoints(dir, rng, 1000000 * sc.input * sc.area, 20000.0 * sc.area);
  writeGdalPoints(dir, 2000, 2000 * sc.area, 10.0);
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF", structure(2000, 2000 * sc.area, 10, true) +
                                           "STOREFILE,BIL,result\nMETHOD-PER-SET,ALL-VALUES,MULTIPLE-BUFFERS=CLOSEST\n"
                                           "RUN-METHOD,AVERAGE\nPOINTFILE,gauges.txt,1\nPOINTFILE,wells.txt,0\n");
  done(2000LL * 2000LL * sc.area, 16LL * 1000000 * sc.input * sc.area);
  return 0;
}

// Star-shaped polygons of 200 vertices, as a generate file and as GeoJSON.
void writeStars(const std::string& dir, Rng& rng, int count, double width, double height, double minR, double maxR) {
  std::ofstream gen(dir + "/stars.gen"), json(dir + "/stars.geojson");
  json << "{\"type\":\"FeatureCollection\",\"features\":[\n";
  char buf[128];
  for (int p = 0; p < count; ++p) {
    const double cx = 150000 + width * rng.uniform(), cy = 400000 + height * rng.uniform();
    const double outer = minR + (maxR - minR) * rng.uniform(), inner = outer * (0.35 + 0.3 * rng.uniform());
    const double turn = 6.283185307179586 * rng.uniform();
    std::snprintf(buf, sizeof buf, "%d,%.3f,%.3f\n", p + 1, cx, cy);
    gen << buf;
    json << (p ? ",\n" : "")
         << "{\"type\":\"Feature\",\"properties\":{},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[";
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k < 200; ++k) {
      const double a = turn + k * 3.141592653589793 / 100.0;
      const double r = (k % 2 ? inner : outer) * (0.9 + 0.2 * rng.uniform());
      ring.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    ring.push_back(ring.front());
    for (size_t k = 0; k < ring.size(); ++k) {
      std::snprintf(buf, sizeof buf, "%.3f,%.3f\n", ring[k].first, ring[k].second);
      gen << buf;
      std::snprintf(buf, sizeof buf, "%s[%.3f,%.3f]", k ? "," : "", ring[k].first, ring[k].second);
      json << buf;
    }
    gen << "END\n";
    json << "]]}}";
  }
  gen << "END\n";
  json << "\n]}\n";
}

int polygons(const std::string& dir, Rng& rng, Scale sc) {
  writeStars(dir, rng, 1000 * sc.input * sc.area, 40000, 40000.0 * sc.area, 300, 2000);
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       structure(4000, 4000 * sc.area, 10, false) + "STOREFILE,BIL,result\nPOLYGONFILE,stars.gen,ASSIGN,7.5\n");
  text(dir + "/gdal.cmd", "gdal_rasterize -q -burn 7.5 -init -9999 -a_nodata -9999 -te 150000 400000 190000 " +
                              std::to_string(400000 + 40000 * sc.area) +
                              " -tr 10 10 -ot Float32 -of EHdr stars.geojson gdal.bil\n");
  done(4000LL * 4000LL * sc.area, 0);
  return 0;
}

void put32(std::ofstream& o, int32_t v) {
  o.write(reinterpret_cast<const char*>(&v), 4);
}
void putF(std::ofstream& o, float v) {
  o.write(reinterpret_cast<const char*>(&v), 4);
}

// A rotated, gently warped model grid of cells x rows cells of the given size, with model
// files; for a doubled area the caller gives it twice the rows.
void writeModel(const std::string& dir, Rng& rng, int32_t cells, int32_t rows, double size, int area) {
  const int32_t n = cells + 1, m = rows + 1;
  std::ofstream lga(dir + "/estuary.lga", std::ios::binary), cco(dir + "/estuary.cco", std::ios::binary),
      map(dir + "/estuary.map", std::ios::binary);
  const int32_t segments = (n - 1) * (m - 1);
  put32(lga, n);
  put32(lga, m);
  put32(lga, segments);
  for (int k = 0; k < 4; ++k) put32(lga, 0);
  int32_t s = 0;
  for (int32_t j = 1; j <= m; ++j) {
    for (int32_t i = 1; i <= n; ++i) put32(lga, i >= 2 && j >= 2 ? (rng.uniform() < 0.03 ? -1 : ++s) : 0);
  }
  put32(cco, m);
  put32(cco, n);
  for (int k = 0; k < 5; ++k) put32(cco, 0);
  for (int k = 0; k < 9; ++k) putF(cco, 0.0f);
  const double a = 0.349;
  (void)area;
  std::vector<float> xs, ys;
  for (int32_t j = 1; j <= m; ++j) {
    for (int32_t i = 1; i <= n; ++i) {
      const double u = (i - 1) * size + 0.4 * size * std::sin(j / 30.0),
                   v = (j - 1) * size + 0.4 * size * std::sin(i / 25.0);
      xs.push_back(static_cast<float>(150000 + 2000 + u * std::cos(a) - v * std::sin(a)));
      ys.push_back(static_cast<float>(400000 - 6000 + u * std::sin(a) + v * std::cos(a)));
    }
  }
  for (float v : xs) putF(cco, v);
  for (float v : ys) putF(cco, v);
  char head[41];
  std::snprintf(head, sizeof head, "%-40s", "bench estuary");
  for (int k = 0; k < 4; ++k) map.write(head, 40);
  put32(map, 2);
  put32(map, segments);
  map.write("SALINITY            OXYGEN              ", 40);
  for (int t = 0; t < 2; ++t) {
    put32(map, t * 3600);
    for (int32_t k = 0; k < segments; ++k) {
      putF(map, static_cast<float>(5 + 30 * rng.uniform()));
      putF(map, static_cast<float>(6 + 4 * rng.uniform()));
    }
  }
}

// What a model of cells x rows cells holds: segment numbers and x, y of its grid points, and
// one parameter's value per segment.
long long modelBytes(long long cells, long long rows) {
  const long long points = (cells + 1) * (rows + 1);
  return 12 * points + 4 * cells * rows;
}

const char* kModelDeclarations =
    "LGA,E,estuary.lga\nCCO,E,estuary.cco\nMAP,E,estuary.map\nZAV-OBJECT,ESTUARY\nBEGIN\nLGA,E\nCCO,E\nMAP,E\nEND\n";

int model(const std::string& dir, Rng& rng, Scale sc, bool cell, bool table) {
  // input 2: a finer model grid of twice the cells over the same area.
  const double fine = std::sqrt(static_cast<double>(sc.input));
  const int32_t side = static_cast<int32_t>(std::lround(500 * fine));
  writeModel(dir, rng, side, side * sc.area, 50.0 / fine, sc.area);
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  const std::string head = structure(2000, 2000 * sc.area, 10, cell) + "STOREFILE,BIL,result\n" + kModelDeclarations;
  if (table) {
    text(dir + "/prepare.pcf", head + "USE-ZAV-OBJECT,ESTUARY,SALINITY,CELL,,,TABLE-CREATE=estuary.tab\n");
    text(dir + "/TervalaGridCreate.PCF", head + "USE-ZAV-OBJECT,ESTUARY,SALINITY,CELL,,,TABLE-USE=estuary.tab\n");
  } else {
    text(dir + "/TervalaGridCreate.PCF", head + "USE-ZAV-OBJECT,ESTUARY,SALINITY,CELL\n");
  }
  done(2000LL * 2000LL * sc.area, modelBytes(side, side * sc.area));
  return 0;
}

int mixed(const std::string& dir, Rng& rng, Scale sc) {
  const int rows = 2000 * sc.area;
  const double height = 20000.0 * sc.area;
  writeBil(dir + "/terrain", 2000, rows, 150000, 400000, 10, rng, 0.02);
  const double cell = 7.0 / std::sqrt(static_cast<double>(sc.input));
  const int in = static_cast<int>(std::lround(3000 * std::sqrt(static_cast<double>(sc.input))));
  writeBil(dir + "/rain", in, in * sc.area, 150000 - 503.3, 400000 - 497.9, cell, rng, 0.05);
  writePoints(dir, rng, 200000 * sc.input * sc.area, height);
  writeStars(dir, rng, 100 * sc.input * sc.area, 20000, height, 100, 600);
  const double fine = std::sqrt(static_cast<double>(sc.input));
  writeModel(dir, rng, static_cast<int32_t>(std::lround(250 * fine)),
             static_cast<int32_t>(std::lround(250 * fine)) * sc.area, 80.0 / fine, sc.area);
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       structure(2000, rows, 10, true) + "STOREFILE,BIL,result\nMETHOD-PER-SET,ALL-VALUES\nRUN-METHOD,AVERAGE\n" +
           "TERVALAGRID,BIL,CELL,terrain,0\nTERVALAGRID,BIL,CELL,rain,1\nPOINTFILE,gauges.txt,2\nPOINTFILE,wells.txt,"
           "2\n" +
           kModelDeclarations + "USE-ZAV-OBJECT,ESTUARY,SALINITY,CELL,,3\nPOLYGONFILE,stars.gen,ASSIGN,7.5\n");
  const long long side = std::lround(250 * fine);
  done(2000LL * rows, 4LL * 2000 * rows + 4LL * in * in * sc.area + 16LL * 200000 * sc.input * sc.area +
                          modelBytes(side, side * sc.area));
  return 0;
}

int national(const std::string& dir, Rng& rng, Scale sc) {
  const char* given = std::getenv("NATIONAL_SIDE");
  const int side = given ? std::atoi(given) : 60000, rows = side * sc.area;
  const double cell = 5.0, width = side * cell, height = rows * cell;
  writeBil(dir + "/elevation", side, rows, 150000, 400000, cell, rng, 0.02);
  // The other grid: 25 m cells, shifted off the structure's lines, reaching a little beyond.
  const double coarse = 25.0;
  const int in = side / 5 + 2, inRows = rows / 5 + 2;
  writeBil(dir + "/landuse", in, inRows, 150000 - 23.7, 400000 - 21.3, coarse, rng, 0.05);
  {
    std::ofstream p(dir + "/wells.txt");
    p << "NODATA_VALUE,-9999\nBUFFER,YES,10\n";
    char line[128];
    for (int k = 0; k < 100000 * sc.input; ++k) {
      const double x = 150000 + width * rng.uniform(), y = 400000 + height * rng.uniform();
      std::snprintf(line, sizeof line, "%.3f,%.3f,%.4f,%.2f\n", x, y, 10 + 5 * rng.uniform(), 5 + 35 * rng.uniform());
      p << line;
    }
  }
  // Polygons that cover the same share of the area at every size.
  writeStars(dir, rng, 1000 * sc.input, width, height, width / 600, width / 100);
  // The memory bound as the full size has it, scaled to the cells, or NATIONAL_MEMORY (MiB).
  const char* memory = std::getenv("NATIONAL_MEMORY");
  const double bound = memory && *memory
                           ? std::atof(memory)
                           : std::max(16.0, 4096.0 * (static_cast<double>(side) * rows) / (60000.0 * 60000.0));
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\nMEMORY," + std::to_string(static_cast<int>(bound)) + "\n");
  text(dir + "/TervalaGridCreate.PCF",
       structure(side, rows, cell, true) + "STOREFILE,BIL,result\nMETHOD-PER-SET,ALL-VALUES\nRUN-METHOD,AVERAGE\n" +
           "TERVALAGRID,BIL,CELL,elevation,0\nTERVALAGRID,BIL,CELL,landuse,1\nPOINTFILE,wells.txt,2\n" +
           "POLYGONFILE,stars.gen,CLEAR\n");
  done(static_cast<long long>(side) * rows, 4LL * side * rows + 4LL * in * inRows + 16LL * 100000 * sc.input);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: generate <workload> <dir> [seed] [area] [input]\n");
    return 2;
  }
  const std::string w = argv[1], dir = argv[2];
  Rng rng{argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20261208ull};
  Scale sc;
  if (argc > 4) sc.area = std::atoi(argv[4]);
  if (argc > 5) sc.input = std::atoi(argv[5]);
  if (w == "same-grid") return sameGrid(dir, rng, sc);
  if (w == "asc-write") return ascWrite(dir, rng, sc);
  if (w == "tif-read") return tifRead(dir, rng, sc);
  if (w == "huge") return huge(dir, rng, sc);
  if (w == "regrid") return regrid(dir, rng, sc);
  if (w == "points") return points(dir, rng, sc);
  if (w == "polygons") return polygons(dir, rng, sc);
  if (w == "model-cell") return model(dir, rng, sc, true, false);
  if (w == "model-middle") return model(dir, rng, sc, false, false);
  if (w == "model-cell-table") return model(dir, rng, sc, true, true);
  if (w == "model-middle-table") return model(dir, rng, sc, false, true);
  if (w == "mixed") return mixed(dir, rng, sc);
  if (w == "national") return national(dir, rng, sc);
  std::fprintf(stderr, "unknown workload %s\n", w.c_str());
  return 2;
}
