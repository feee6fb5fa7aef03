// Draws an ASC grid as a PNG picture: each cell a square of pixels coloured on a ramp from the
// lowest to the highest value, NODATA cells grey, with a legend of the ramp on the right.
// Needs nothing but the standard library: the PNG's deflate stream is written here.
//
//   picture <grid.asc> <picture.png> [title]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Grid {
  int ncols = 0, nrows = 0;
  double nodata = -9999;
  std::vector<double> v;  // north row first
};

bool readAsc(const std::string& name, Grid& g) {
  std::ifstream in(name);
  if (!in) return false;
  std::string key;
  double value;
  for (int k = 0; k < 6 && in >> key >> value; ++k) {
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key == "ncols") g.ncols = static_cast<int>(value);
    if (key == "nrows") g.nrows = static_cast<int>(value);
    if (key == "nodata_value") g.nodata = value;
  }
  g.v.resize(static_cast<size_t>(g.ncols) * static_cast<size_t>(g.nrows));
  for (double& x : g.v) {
    if (!(in >> x)) return false;
  }
  return g.ncols > 0 && g.nrows > 0;
}

using Rgb = std::array<uint8_t, 3>;

// Deep water blue through green and yellow to brown.
Rgb ramp(double t) {
  static const Rgb stops[] = {{24, 64, 160}, {60, 150, 200}, {90, 180, 110}, {230, 210, 90}, {150, 90, 50}};
  t = std::clamp(t, 0.0, 1.0) * 4.0;
  const int k = std::min(3, static_cast<int>(t));
  const double f = t - k;
  Rgb c;
  for (int i = 0; i < 3; ++i) c[i] = static_cast<uint8_t>(std::lround(stops[k][i] + f * (stops[k + 1][i] - stops[k][i])));
  return c;
}

// A 5 x 7 pixel font for the legend: digits, a few letters and signs.
const std::pair<char, std::array<uint8_t, 7>> kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}}, {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}}, {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}}, {' ', {0, 0, 0, 0, 0, 0, 0}},
};

struct Image {
  int w, h;
  std::vector<uint8_t> px;
  Image(int w_, int h_) : w(w_), h(h_), px(static_cast<size_t>(w_) * h_ * 3, 255) {}
  void set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
    p[0] = c[0];
    p[1] = c[1];
    p[2] = c[2];
  }
  void fill(int x0, int y0, int x1, int y1, Rgb c) {
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) set(x, y, c);
    }
  }
  // Text with each font pixel drawn as a square of the given size.
  void text(int x, int y, const std::string& s, int size = 2, Rgb c = {30, 30, 30}) {
    for (char ch : s) {
      for (const auto& [key, rows] : kFont) {
        if (key != ch) continue;
        for (int r = 0; r < 7; ++r) {
          for (int b = 0; b < 5; ++b) {
            if (rows[r] & (0x10 >> b)) fill(x + b * size, y + r * size, x + (b + 1) * size, y + (r + 1) * size, c);
          }
        }
      }
      x += 6 * size;
    }
  }
};

uint32_t crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t k = 0; k < 256; ++k) {
      uint32_t c = k;
      for (int b = 0; b < 8; ++b) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[k] = c;
    }
    ready = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xff] ^ (crc >> 8);
  return ~crc;
}

void put32(std::string& s, uint32_t v) {
  for (int k = 3; k >= 0; --k) s += static_cast<char>((v >> (8 * k)) & 0xff);
}

void chunk(std::ofstream& out, const char* type, const std::string& data) {
  std::string c;
  put32(c, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  c += body;
  put32(c, crc32(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
  out.write(c.data(), static_cast<std::streamsize>(c.size()));
}

// Deflate with the fixed Huffman codes and one kind of match: a run of the byte just written
// (distance 1). With each row filtered against the row above or the pixel to the left, the flat
// areas of a grid picture become long runs of zeros, which this packs well.
class Deflater {
 public:
  void literal(int v) {
    if (v < 144) {
      code(0x30 + v, 8);
    } else if (v < 256) {
      code(0x190 + v - 144, 9);
    } else if (v < 280) {
      code(v - 256, 7);
    } else {
      code(0xC0 + v - 280, 8);
    }
  }
  // A match of length 3..258 at distance 1.
  void run(int length) {
    static const int base[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                               35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int k = 28;
    while (base[k] > length) --k;
    literal(257 + k);
    bits(static_cast<uint32_t>(length - base[k]), extra[k]);
    code(0, 5);  // distance code 0: distance 1
  }
  void end() {
    literal(256);
    if (nbits_ > 0) out_ += static_cast<char>(acc_ & 0xff);
    acc_ = 0;
    nbits_ = 0;
  }
  void start() { bits(0x3, 3); }  // the last block, fixed codes
  std::string out_;

 private:
  // Extra bits go least significant first; Huffman codes most significant first.
  void bits(uint32_t v, int n) {
    acc_ |= v << nbits_;
    nbits_ += n;
    while (nbits_ >= 8) {
      out_ += static_cast<char>(acc_ & 0xff);
      acc_ >>= 8;
      nbits_ -= 8;
    }
  }
  void code(uint32_t c, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; ++i) r |= ((c >> i) & 1u) << (n - 1 - i);
    bits(r, n);
  }
  uint32_t acc_ = 0;
  int nbits_ = 0;
};

bool writePng(const std::string& name, const Image& img) {
  // Each row: the filter byte (1: less the pixel to the left, 2: less the pixel above), then
  // the filtered RGB bytes.
  const size_t stride = static_cast<size_t>(img.w) * 3;
  std::string raw;
  for (int y = 0; y < img.h; ++y) {
    const uint8_t* row = &img.px[static_cast<size_t>(y) * stride];
    const bool up = y > 0 && std::equal(row, row + stride, row - stride);
    raw += static_cast<char>(up ? 2 : 1);
    for (size_t i = 0; i < stride; ++i) {
      const uint8_t before = up ? row[i - stride] : (i >= 3 ? row[i - 3] : 0);
      raw += static_cast<char>(static_cast<uint8_t>(row[i] - before));
    }
  }
  Deflater d;
  d.start();
  for (size_t at = 0; at < raw.size();) {
    const unsigned char c = static_cast<unsigned char>(raw[at]);
    d.literal(c);
    size_t n = 0;
    while (at + 1 + n < raw.size() && n < 258 && raw[at + 1 + n] == raw[at]) ++n;
    if (n >= 3) {
      d.run(static_cast<int>(n));
    } else {
      n = 0;
    }
    at += 1 + n;
  }
  d.end();
  std::string z = "\x78\x01";  // zlib header: deflate, 32 KiB window
  z += d.out_;
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put32(z, (b << 16) | a);
  std::string ihdr;
  put32(ihdr, static_cast<uint32_t>(img.w));
  put32(ihdr, static_cast<uint32_t>(img.h));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, adaptive filters, no interlace
  std::ofstream out(name, std::ios::binary);
  out.write("\x89PNG\r\n\x1a\n", 8);
  chunk(out, "IHDR", ihdr);
  chunk(out, "IDAT", z);
  chunk(out, "IEND", "");
  return static_cast<bool>(out);
}

std::string label(double v) {
  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(1);
  s << v << " m";
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: picture <grid.asc> <picture.png> [title]\n";
    return 2;
  }
  Grid g;
  if (!readAsc(argv[1], g)) {
    std::cerr << "picture: cannot read the ASC grid " << argv[1] << "\n";
    return 1;
  }
  double lo = INFINITY, hi = -INFINITY;
  for (double x : g.v) {
    if (std::fabs(x - g.nodata) < 1e-4 * std::max(1.0, std::fabs(g.nodata))) continue;
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  if (!(hi >= lo)) lo = hi = 0.0;
  if (hi == lo) hi = lo + 1.0;
  const int scale = std::max(1, 640 / std::max(g.ncols, g.nrows));
  const int mapW = g.ncols * scale, mapH = g.nrows * scale;
  const int top = argc > 3 ? 34 : 10;
  Image img(mapW + 150, std::max(mapH + top + 10, 260));
  if (argc > 3) img.text(10, 8, argv[3]);
  const Rgb grey = {170, 170, 170};
  for (int r = 0; r < g.nrows; ++r) {
    for (int c = 0; c < g.ncols; ++c) {
      const double x = g.v[static_cast<size_t>(r) * g.ncols + c];
      const bool none = std::fabs(x - g.nodata) < 1e-4 * std::max(1.0, std::fabs(g.nodata));
      img.fill(10 + c * scale, top + r * scale, 10 + (c + 1) * scale, top + (r + 1) * scale, none ? grey : ramp((x - lo) / (hi - lo)));
    }
  }
  // The legend: the ramp from high (top) to low, five labels, and the NODATA swatch.
  const int lx = mapW + 24, ly = top, lh = 180;
  for (int y = 0; y < lh; ++y) img.fill(lx, ly + y, lx + 20, ly + y + 1, ramp(1.0 - static_cast<double>(y) / (lh - 1)));
  for (int k = 0; k <= 4; ++k) {
    const int y = ly + k * (lh - 1) / 4;
    img.fill(lx + 20, y, lx + 25, y + 1, {30, 30, 30});
    img.text(lx + 29, y - 7, label(hi - k * (hi - lo) / 4), 2);
  }
  img.fill(lx, ly + lh + 14, lx + 20, ly + lh + 28, grey);
  img.text(lx + 29, ly + lh + 14, "NODATA", 2);
  if (!writePng(argv[2], img)) {
    std::cerr << "picture: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
