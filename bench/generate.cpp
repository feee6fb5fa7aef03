// Writes benchmark workloads of realistic size, reproducibly from a seed.
//
//   generate <workload> <dir> [seed]
//
// Workloads:
//   same-grid   a 4000 x 4000 structure with two BIL grid sets on its own grid, AVERAGE, BIL output
//   regrid      a 3000 x 3000 BIL input (cell 7, an odd origin, 5% NODATA) onto a 2000 x 2000
//               structure of cell 10 related to CELL, METHOD-PER-SET AVERAGE, BIL output
//   points      one million points with values, a tenth with buffers of 5 to 40 m, on a
//               2000 x 2000 structure of cell 10 related to CELL, CLOSEST buffers, BIL output
//   model-cell, model-middle
//               a curvilinear model grid of 500 x 500 cells (rotated, warped, some cells
//               inactive) onto a 2000 x 2000 structure related to CELL or MIDDLE, searching
//   model-cell-table, model-middle-table
//               the same, reading the table file that a searching run wrote (prepare.pcf)
//   polygons    one thousand star-shaped polygons of 200 vertices (ASSIGN) on a 4000 x 4000
//               MIDDLE structure, BIL output; the same polygons as GeoJSON for gdal_rasterize
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
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
  double uniform() { return (next() >> 11) * (1.0 / 9007199254740992.0); }
};

void text(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

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

int sameGrid(const std::string& dir, Rng& rng) {
  const int n = 4000;
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       "STRUCTURE\n#COLUMNS,4000\n#ROWS,4000\nXLL,150000\nYLL,400000\nCELLSIZE,10\nNODATA,-9999\n"
       "DATARELATEDTO,CELL\nEND:STRUCTURE\n"
       "STOREFILE,BIL,result\nRUN-METHOD,AVERAGE\n"
       "TERVALAGRID,BIL,CELL,terrain,1\nTERVALAGRID,BIL,CELL,rain,1\n");
  writeBil(dir + "/terrain", n, n, 150000, 400000, 10, rng, 0.02);
  writeBil(dir + "/rain", n, n, 150000, 400000, 10, rng, 0.05);
  std::printf("cells %lld\n", static_cast<long long>(n) * n);
  return 0;
}

int regrid(const std::string& dir, Rng& rng) {
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       "STRUCTURE\n#COLUMNS,2000\n#ROWS,2000\nXLL,150000\nYLL,400000\nCELLSIZE,10\nNODATA,-9999\n"
       "DATARELATEDTO,CELL\nEND:STRUCTURE\n"
       "STOREFILE,BIL,result\nMETHOD-PER-SET,AVERAGE\nRUN-METHOD,AVERAGE\n"
       "TERVALAGRID,BIL,CELL,input\n");
  writeBil(dir + "/input", 3000, 3000, 150000 - 503.3, 400000 - 497.9, 7, rng, 0.05);
  // The same work for GDAL: the structure's extent and cell size, area-weighted average.
  text(dir + "/gdal.cmd", "gdalwarp -q -overwrite -r average -te 150000 400000 170000 420000 -tr 10 10 input.bil gdal.tif\n");
  std::printf("cells %lld\n", 2000LL * 2000LL);
  return 0;
}

int points(const std::string& dir, Rng& rng) {
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       "STRUCTURE\n#COLUMNS,2000\n#ROWS,2000\nXLL,150000\nYLL,400000\nCELLSIZE,10\nNODATA,-9999\n"
       "DATARELATEDTO,CELL\nEND:STRUCTURE\n"
       "STOREFILE,BIL,result\nMETHOD-PER-SET,ALL-VALUES,MULTIPLE-BUFFERS=CLOSEST\nRUN-METHOD,AVERAGE\n"
       "POINTFILE,gauges.txt,1\nPOINTFILE,wells.txt,0\n");
  // Gauges: 100000 points with their own buffer radius. Wells: 900000 points without buffers.
  std::ofstream g(dir + "/gauges.txt"), w(dir + "/wells.txt");
  g << "NODATA_VALUE,-9999\nBUFFER,YES,10\n";
  w << "NODATA_VALUE,-9999\n";
  char line[128];
  for (int k = 0; k < 1000000; ++k) {
    const double x = 150000 + 20000 * rng.uniform(), y = 400000 + 20000 * rng.uniform();
    const double v = 10 + 5 * rng.uniform();
    if (k % 10 == 0) {
      std::snprintf(line, sizeof line, "%.3f,%.3f,%.4f,%.2f\n", x, y, v, 5 + 35 * rng.uniform());
      g << line;
    } else {
      std::snprintf(line, sizeof line, "%.3f,%.3f,%.4f\n", x, y, rng.uniform() < 0.01 ? -9999.0 : v);
      w << line;
    }
  }
  std::printf("cells %lld\n", 2000LL * 2000LL);
  return 0;
}

int polygons(const std::string& dir, Rng& rng) {
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  text(dir + "/TervalaGridCreate.PCF",
       "STRUCTURE\n#COLUMNS,4000\n#ROWS,4000\nXLL,150000\nYLL,400000\nCELLSIZE,10\nNODATA,-9999\n"
       "END:STRUCTURE\nSTOREFILE,BIL,result\nPOLYGONFILE,stars.gen,ASSIGN,7.5\n");
  std::ofstream gen(dir + "/stars.gen"), json(dir + "/stars.geojson");
  json << "{\"type\":\"FeatureCollection\",\"features\":[\n";
  char buf[128];
  for (int p = 0; p < 1000; ++p) {
    const double cx = 150000 + 40000 * rng.uniform(), cy = 400000 + 40000 * rng.uniform();
    const double outer = 300 + 1700 * rng.uniform(), inner = outer * (0.35 + 0.3 * rng.uniform());
    const double turn = 6.283185307179586 * rng.uniform();
    std::snprintf(buf, sizeof buf, "%d,%.3f,%.3f\n", p + 1, cx, cy);
    gen << buf;
    json << (p ? ",\n" : "") << "{\"type\":\"Feature\",\"properties\":{},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[";
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
  text(dir + "/gdal.cmd",
       "gdal_rasterize -q -burn 7.5 -init -9999 -a_nodata -9999 -te 150000 400000 190000 440000 -tr 10 10 "
       "-ot Float32 -of EHdr stars.geojson gdal.bil\n");
  std::printf("cells %lld\n", 4000LL * 4000LL);
  return 0;
}

void put32(std::ofstream& o, int32_t v) { o.write(reinterpret_cast<const char*>(&v), 4); }
void putF(std::ofstream& o, float v) { o.write(reinterpret_cast<const char*>(&v), 4); }

int model(const std::string& dir, Rng& rng, bool cell, bool table) {
  const int32_t n = 501, m = 501;  // grid points: 500 x 500 cells
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
  // The grid covers the structure, turned by 20 degrees and gently warped.
  const double a = 0.349;
  std::vector<float> xs, ys;
  for (int32_t j = 1; j <= m; ++j) {
    for (int32_t i = 1; i <= n; ++i) {
      const double u = (i - 1) * 50.0 + 20 * std::sin(j / 30.0), v = (j - 1) * 50.0 + 20 * std::sin(i / 25.0);
      xs.push_back(static_cast<float>(150000 - 6000 + u * std::cos(a) - v * std::sin(a) + 8000));
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
  text(dir + "/DEVICE.CNF", "NEWPAGE,YES\n");
  const std::string structure = std::string("STRUCTURE\n#COLUMNS,2000\n#ROWS,2000\nXLL,150000\nYLL,400000\nCELLSIZE,10\n") +
                                "NODATA,-9999\nDATARELATEDTO," + (cell ? "CELL" : "MIDDLE") + "\nEND:STRUCTURE\n" +
                                "STOREFILE,BIL,result\nLGA,E,estuary.lga\nCCO,E,estuary.cco\nMAP,E,estuary.map\n" +
                                "ZAV-OBJECT,ESTUARY\nBEGIN\nLGA,E\nCCO,E\nMAP,E\nEND\n";
  if (table) {
    text(dir + "/prepare.pcf", structure + "USE-ZAV-OBJECT,ESTUARY,SALINITY,CELL,,,TABLE-CREATE=estuary.tab\n");
    text(dir + "/TervalaGridCreate.PCF", structure + "USE-ZAV-OBJECT,ESTUARY,SALINITY,CELL,,,TABLE-USE=estuary.tab\n");
  } else {
    text(dir + "/TervalaGridCreate.PCF", structure + "USE-ZAV-OBJECT,ESTUARY,SALINITY,CELL\n");
  }
  std::printf("cells %lld\n", 2000LL * 2000LL);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: generate <workload> <dir> [seed]\n");
    return 2;
  }
  const std::string w = argv[1], dir = argv[2];
  Rng rng{argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20261208ull};
  if (w == "same-grid") return sameGrid(dir, rng);
  if (w == "regrid") return regrid(dir, rng);
  if (w == "points") return points(dir, rng);
  if (w == "polygons") return polygons(dir, rng);
  if (w == "model-cell") return model(dir, rng, true, false);
  if (w == "model-middle") return model(dir, rng, false, false);
  if (w == "model-cell-table") return model(dir, rng, true, true);
  if (w == "model-middle-table") return model(dir, rng, false, true);
  std::fprintf(stderr, "unknown workload %s\n", w.c_str());
  return 2;
}
