// Writes the inputs of the demo: a river valley of 4 x 3 km on a 25 m grid.
//
//   terrain.asc         ground level on the structure's own grid (160 x 120 cells of 25 m)
//   regional.bil/.hdr   a regional groundwater model: 100 m cells on another origin, west part
//   wells.txt           gauged groundwater levels at 14 wells, each with a buffer
//   dikes.gen           the dike bodies along the river (cleared: no level there)
//   sluice.gen          an opening in the north dike (computed again)
//   lake.gen            a lake with a fixed level
//   river.lga/.cco/.map a curvilinear model of the river channel: 81 x 7 grid points,
//                       parameters WATERLEVEL and VELOCITY
//
// Everything follows from formulas and a fixed seed, so the demo is the same on every machine.
//
//   valley <folder>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kX0 = 150000.0, kY0 = 400000.0;  // lower left corner of the valley
constexpr double kWidth = 4000.0, kHeight = 3000.0;
constexpr int kCols = 160, kRows = 120;
constexpr double kCell = 25.0;
static_assert(kCols * kCell == kWidth && kRows * kCell == kHeight, "the grid covers the valley");

// The river's centre line and its water level, falling eastwards.
double riverY(double x) {
  return kY0 + 1500.0 + 350.0 * std::sin(2.0 * kPi * (x - kX0) / 2500.0);
}
double riverLevel(double x) {
  return 10.6 - 0.0006 * (x - kX0);
}

// Ground level: a plain falling to the east, rising away from the river.
double ground(double x, double y) {
  const double d = std::fabs(y - riverY(x));
  const double plain = 12.0 - 0.0008 * (x - kX0);
  return plain + std::min(6.0, 0.004 * std::max(0.0, d - 80.0)) - (d < 80.0 ? 2.5 : 0.0);
}

// The groundwater level the regional model and the wells see: below ground, pulled towards
// the river's level near the river.
double groundwater(double x, double y) {
  const double d = std::fabs(y - riverY(x));
  const double g = ground(x, y) - 1.4;
  const double pull = std::exp(-d / 400.0);
  return pull * riverLevel(x) + (1.0 - pull) * g;
}

// A small fixed pseudo-random sequence (a linear congruential generator).
struct Random {
  uint64_t s = 20261208;
  double next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(s >> 11) / 9007199254740992.0;
  }
};

struct Binary {
  std::ofstream out;
  explicit Binary(const std::string& name) : out(name, std::ios::binary) {}
  void i32(int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) out.put(static_cast<char>((u >> (8 * k)) & 0xff));
  }
  void f32(double v) {
    const float f = static_cast<float>(v);
    uint32_t u;
    std::memcpy(&u, &f, 4);
    i32(static_cast<int32_t>(u));
  }
  void text(const std::string& s, size_t width) {
    std::string t = s.substr(0, width);
    t.resize(width, ' ');
    out.write(t.data(), static_cast<std::streamsize>(width));
  }
};

void terrain(const std::string& dir) {
  FILE* f = std::fopen((dir + "/terrain.asc").c_str(), "w");
  std::fprintf(f, "ncols %d\nnrows %d\nxllcorner %.1f\nyllcorner %.1f\ncellsize %.1f\nnodata_value -9999\n", kCols,
               kRows, kX0, kY0, kCell);
  for (int r = kRows - 1; r >= 0; --r) {
    for (int c = 0; c < kCols; ++c) {
      std::fprintf(f, "%s%.2f", c ? " " : "", ground(kX0 + (c + 0.5) * kCell, kY0 + (r + 0.5) * kCell));
    }
    std::fprintf(f, "\n");
  }
  std::fclose(f);
}

void regional(const std::string& dir) {
  // 100 m cells from an origin 50 m west and 70 m south of the valley; the model covers the
  // western three kilometres.
  const int cols = 31, rows = 32;
  const double x0 = kX0 - 50.0, y0 = kY0 - 70.0, d = 100.0;
  Binary bil(dir + "/regional.bil");
  for (int r = rows - 1; r >= 0; --r) {
    for (int c = 0; c < cols; ++c) bil.f32(groundwater(x0 + (c + 0.5) * d, y0 + (r + 0.5) * d) - 0.15);
  }
  FILE* h = std::fopen((dir + "/regional.hdr").c_str(), "w");
  std::fprintf(h,
               "BYTEORDER I\nLAYOUT BIL\nNROWS %d\nNCOLS %d\nNBANDS 1\nNBITS 32\nBANDROWBYTES %d\nTOTALROWBYTES %d\n"
               "ULXMAP %.1f\nULYMAP %.1f\nXDIM %.1f\nYDIM %.1f\nNODATA -9999\n",
               rows, cols, cols * 4, cols * 4, x0 + d / 2, y0 + rows * d - d / 2, d, d);
  std::fclose(h);
}

void wells(const std::string& dir) {
  Random rnd;
  FILE* f = std::fopen((dir + "/wells.txt").c_str(), "w");
  std::fprintf(f, "NODATA_VALUE,-9999\nBUFFER,YES,60\n");
  for (int k = 0; k < 14; ++k) {
    const double x = kX0 + 200.0 + 3600.0 * rnd.next();
    double y = kY0 + 200.0 + 2600.0 * rnd.next();
    if (std::fabs(y - riverY(x)) < 150.0) y += 300.0;  // wells stand away from the river
    const double level = groundwater(x, y) + 0.3 * (rnd.next() - 0.5);
    if (k == 5) {
      std::fprintf(f, "%.1f,%.1f,-9999\n", x, y);  // a well that was dry: no value
    } else if (k % 4 == 0) {
      std::fprintf(f, "%.1f,%.1f,%.2f,90\n", x, y, level);  // a well with a larger reach
    } else {
      std::fprintf(f, "%.1f,%.1f,%.2f\n", x, y, level);
    }
  }
  std::fclose(f);
}

// A strip of the given half width along the river, offset from its centre line.
void dikeStrip(FILE* f, int id, double offset, double half) {
  std::fprintf(f, "%d AUTO\n", id);
  std::vector<std::pair<double, double>> ring;
  for (int k = 0; k <= 80; ++k) {
    const double x = kX0 + 50.0 * k;
    ring.emplace_back(x, riverY(x) + offset - half);
  }
  for (int k = 80; k >= 0; --k) {
    const double x = kX0 + 50.0 * k;
    ring.emplace_back(x, riverY(x) + offset + half);
  }
  ring.push_back(ring.front());
  for (const auto& [x, y] : ring) std::fprintf(f, "%.1f,%.1f\n", x, y);
  std::fprintf(f, "END\n");
}

void polygons(const std::string& dir) {
  FILE* f = std::fopen((dir + "/dikes.gen").c_str(), "w");
  dikeStrip(f, 1, 130.0, 12.0);
  dikeStrip(f, 2, -130.0, 12.0);
  std::fprintf(f, "END\n");
  std::fclose(f);
  // The sluice: a gap of 100 m in the north dike near x = 1800 m.
  f = std::fopen((dir + "/sluice.gen").c_str(), "w");
  const double x = kX0 + 1800.0, y = riverY(x) + 130.0;
  std::fprintf(f, "1 AUTO\n%.1f,%.1f\n%.1f,%.1f\n%.1f,%.1f\n%.1f,%.1f\n%.1f,%.1f\nEND\nEND\n", x - 50, y - 40, x + 50,
               y - 40, x + 50, y + 40, x - 50, y + 40, x - 50, y - 40);
  std::fclose(f);
  // The lake: an irregular outline in the north east, its level fixed by a weir.
  f = std::fopen((dir + "/lake.gen").c_str(), "w");
  std::fprintf(f, "1,%.1f,%.1f\n", kX0 + 3200.0, kY0 + 2550.0);
  const int n = 24;
  for (int k = 0; k <= n; ++k) {
    const double a = 2.0 * kPi * (k % n) / n;
    const double r = 260.0 + 60.0 * std::sin(3.0 * a) + 30.0 * std::cos(5.0 * a);
    std::fprintf(f, "%.1f,%.1f\n", kX0 + 3200.0 + 1.4 * r * std::cos(a), kY0 + 2550.0 + r * std::sin(a));
  }
  std::fprintf(f, "END\nEND\n");
  std::fclose(f);
}

void river(const std::string& dir) {
  const int n = 81, m = 7;  // grid points along and across the channel
  auto px = [&](int i) { return kX0 + 4000.0 * (i - 1) / (n - 1); };
  auto py = [&](int i, int j) { return riverY(px(i)) + 100.0 * (j - 4) / 3.0; };  // 200 m wide
  // LGA: a segment for every cell (n, m) with n, m >= 2; one layer.
  const int perLayer = (n - 1) * (m - 1);
  Binary lga(dir + "/river.lga");
  lga.i32(n);
  lga.i32(m);
  lga.i32(perLayer);
  for (int k = 0; k < 4; ++k) lga.i32(0);
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= n; ++i) lga.i32(i >= 2 && j >= 2 ? (i - 2) * (m - 1) + (j - 1) : 0);
  }
  // CCO: the grid points' coordinates.
  Binary cco(dir + "/river.cco");
  cco.i32(m);
  cco.i32(n);
  for (int k = 0; k < 5; ++k) cco.i32(0);
  for (int k = 0; k < 9; ++k) cco.f32(0.0);
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= n; ++i) cco.f32(px(i));
  }
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= n; ++i) cco.f32(py(i, j));
  }
  // MAP: one time block with the water level and the velocity of each segment.
  Binary map(dir + "/river.map");
  for (const char* t : {"Demo river channel", "water level (m) and velocity (m/s)", "one steady state", ""})
    map.text(t, 40);
  map.i32(2);
  map.i32(perLayer);
  map.text("WATERLEVEL", 20);
  map.text("VELOCITY", 20);
  map.i32(0);
  for (int i = 2; i <= n; ++i) {
    for (int j = 2; j <= m; ++j) {
      const double x = 0.5 * (px(i - 1) + px(i));
      const double across = std::fabs(j - 4.5) / 2.5;  // 0 in the middle, 1 at the banks
      map.f32(riverLevel(x) + 0.02 * (1.0 - across));
      map.f32(0.9 * (1.0 - across * across) + 0.05);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: valley <folder>\n";
    return 2;
  }
  const std::string dir = argv[1];
  terrain(dir);
  regional(dir);
  wells(dir);
  polygons(dir);
  river(dir);
  return 0;
}
