#include "grid/writer.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "frame/files.h"
#include "frame/format.h"
#include "frame/pager.h"
#include "frame/startup.h"
#include "frame/text.h"
#include "grid/gdalgrids.h"

namespace grid {
namespace {

bool readsBackAs(const std::string& text, float v) {
  if (text.find('*') != std::string::npos) return false;
  float back = 0;
  return frame::parseFortranReal(frame::trimmed(text), back) && back == v;
}

std::string shortest(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

std::string padLeft(const std::string& s, size_t w) { return s.size() >= w ? s : std::string(w - s.size(), ' ') + s; }

std::string errorNumber(int e) { return " Error number=" + frame::fmtI(e, 6, 6); }

}  // namespace

std::string ascHeaderNumber(float v, int w, int d) {
  std::string t = frame::fmtF(v, w, d);
  if (readsBackAs(t, v)) return t;
  // The fixed form loses the value (a tiny cell size, a coordinate too wide): write enough
  // digits to read back the same value.
  return padLeft(shortest(v), static_cast<size_t>(w));
}

std::string hdrRealNumber(double v) {
  const double k = std::trunc(v + 0.000001);
  if (std::fabs(k - v) <= 0.000001) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(k));
    return std::string(buf, r.ptr);
  }
  std::string g = frame::trimmed(frame::fmtG(v, 12, 6));
  const float f = static_cast<float>(v);
  if (readsBackAs(g, f)) return g;
  return shortest(f);
}

void appendAscValue(std::string& out, float v) {
  char buf[40];
  const double d = v;
  if (!std::isfinite(d)) {
    out += ' ';
    out += frame::fmtE(d, 12, 6);
    return;
  }
  char* p = buf;
  *p++ = ' ';
  if (d == 0.0) {
    std::memcpy(p, std::signbit(d) ? "-.000000E+00" : "0.000000E+00", 12);
    out.append(buf, 13);
    return;
  }
  // d.ddddde+XX from the exact value, correctly rounded, rearranged to 0.ddddddE+XX.
  char s[32];
  auto r = std::to_chars(s, s + sizeof s, std::fabs(d), std::chars_format::scientific, 5);
  const char* q = s;
  const char* end = r.ptr;
  const char digit0 = q[0];
  const char* frac = q + 2;  // five digits
  const char* e = frac + 5;  // 'e'
  int exp10 = 0;
  bool neg = e[1] == '-';
  for (const char* x = e + 2; x < end; ++x) exp10 = exp10 * 10 + (*x - '0');
  if (neg) exp10 = -exp10;
  exp10 += 1;
  if (d < 0) {
    *p++ = '-';
  } else {
    *p++ = '0';
  }
  *p++ = '.';
  *p++ = digit0;
  std::memcpy(p, frac, 5);
  p += 5;
  *p++ = 'E';
  *p++ = exp10 < 0 ? '-' : '+';
  const int a = exp10 < 0 ? -exp10 : exp10;
  *p++ = static_cast<char>('0' + a / 10);
  *p++ = static_cast<char>('0' + a % 10);
  out.append(buf, static_cast<size_t>(p - buf));
}

bool WRITEINFORMATIONTOGRID(frame::Frame& fr, const Structure& s, const std::string& fileType,
                            const std::string& fileName, bool indicateEmpty, bool valuesFound) {
  const GridDescription& g = s.grid;
  // 1.
  frame::ProgressCounter progress(fr, "Writing information", g.nrows);
  // 2.
  std::string name = frame::trimRight(fileName);
  if (indicateEmpty && !valuesFound) name = frame::GUMEXT(name, " ") + "_EMPTY";
  // A GeoTIFF (TIF), or a Cloud-Optimized one (COG), is written through GDAL.
  if (fileType == "TIF" || fileType == "COG") return writeGeoTiff(fr, s, name, fileType == "COG");
  // 3.
  const int unit = fr.units.FREEFILE(100);
  const size_t nc = static_cast<size_t>(g.ncols);
  if (fileType == "ASC") {
    // 4.
    const std::string ascName = frame::GUMEXT(name, "ASC");
    frame::AtomicOutputFile out;
    int e = out.open(frame::nativeName(ascName));
    if (e != 0)
      return frame::endWithListedError(fr, {" The file " + ascName + " could not be opened.", errorNumber(e)});
    fr.units.connectName(unit, ascName);
    // The six keywords start in column 1, which every GIS reader expects.
    std::string text;
    auto count = [](int32_t n) {
      std::string t = frame::fmtI(n, 6);
      return t.find('*') == std::string::npos ? t : std::to_string(n);
    };
    text += "ncols " + count(g.ncols) + "\n";
    text += "nrows " + count(g.nrows) + "\n";
    text += "xllcorner " + ascHeaderNumber(g.xll, 10, 2) + "\n";
    text += "yllcorner " + ascHeaderNumber(g.yll, 10, 2) + "\n";
    text += "cellsize " + ascHeaderNumber(s.cellsize, 10, 2) + "\n";
    std::string nd = frame::fmtG(s.nodataOut, 12, 6);
    if (!readsBackAs(nd, s.nodataOut)) nd = padLeft(shortest(s.nodataOut), 12);
    text += "nodata_value " + nd + "\n";
    out.write(text.data(), text.size());
    text.clear();
    text.reserve(1 << 20);
    for (int32_t r = g.nrows; r >= 1; --r) {
      const float* row = g.values.data() + g.index(1, r);
      for (size_t c = 0; c < nc; ++c) {
        appendAscValue(text, row[c]);
        if ((c + 1) % 28 == 0 || c + 1 == nc) text += '\n';
      }
      if (text.size() > (1 << 20) - 4096) {
        out.write(text.data(), text.size());
        text.clear();
      }
      progress.turn();
    }
    out.write(text.data(), text.size());
    e = out.commit();
    fr.units.close(unit);
    if (e != 0)
      return frame::endWithListedError(fr, {" The file " + ascName + " could not be written.", errorNumber(e)});
    return false;
  }
  if (fileType == "BIL") {
    // 5.
    const std::string hdrName = frame::GUMEXT(name, "HDR");
    const std::string bilName = frame::GUMEXT(name, "BIL");
    frame::AtomicOutputFile hdr, bil;
    int e = hdr.open(frame::nativeName(hdrName));
    if (e != 0)
      return frame::endWithListedError(fr, {" The file " + hdrName + " could not be opened.", errorNumber(e)});
    const double cs = s.cellsize;
    std::string nd = frame::trimmed(frame::fmtG(s.nodataOut, 12, 6));
    if (!readsBackAs(nd, s.nodataOut)) nd = shortest(s.nodataOut);
    const std::string dim = hdrRealNumber(cs);
    std::string text;
    text += "ByteOrder I\n";
    text += "Layout BIL\n";
    text += "nRows " + std::to_string(g.nrows) + "\n";
    text += "nCols " + std::to_string(g.ncols) + "\n";
    text += "nBands 1\n";
    text += "nBlocks 1\n";
    text += "nBits 32\n";
    text += "BandRowBytes " + std::to_string(4LL * g.ncols) + "\n";
    text += "TotalRowBytes " + std::to_string(4LL * g.ncols) + "\n";
    text += "BandGapBytes 0\n";
    text += "NoData " + nd + "\n";
    text += "ULXmap " + hdrRealNumber(static_cast<double>(g.xll) + 0.5 * cs) + "\n";
    text += "ULYmap " + hdrRealNumber(static_cast<double>(g.yll) + g.nrows * cs - 0.5 * cs) + "\n";
    text += "Xdim " + dim + "\n";
    text += "Ydim " + dim + "\n";
    // Readers that do not know the pixel type would take the values as unsigned integers.
    text += "PixelType FLOAT\n";
    hdr.write(text.data(), text.size());
    e = bil.open(frame::nativeName(bilName));
    if (e != 0) {
      hdr.abandon();
      return frame::endWithListedError(fr, {" The file " + bilName + " could not be opened.", errorNumber(e)});
    }
    fr.units.connectName(unit, bilName);
    std::vector<unsigned char> raw(nc * 4);
    uint16_t probe = 1;
    const bool little = *reinterpret_cast<unsigned char*>(&probe) == 1;
    for (int32_t r = g.nrows; r >= 1; --r) {
      const float* row = g.values.data() + g.index(1, r);
      if (little) {
        bil.write(row, nc * 4);  // the floats as they lie in memory are the file's bytes
      } else {
        for (size_t c = 0; c < nc; ++c) {
          uint32_t bits;
          std::memcpy(&bits, &row[c], 4);
          raw[4 * c] = static_cast<unsigned char>(bits);
          raw[4 * c + 1] = static_cast<unsigned char>(bits >> 8);
          raw[4 * c + 2] = static_cast<unsigned char>(bits >> 16);
          raw[4 * c + 3] = static_cast<unsigned char>(bits >> 24);
        }
        bil.write(raw.data(), raw.size());
      }
      progress.turn();
    }
    e = bil.commit();
    fr.units.close(unit);
    if (e != 0) {
      hdr.abandon();
      return frame::endWithListedError(fr, {" The file " + bilName + " could not be written.", errorNumber(e)});
    }
    e = hdr.commit();
    if (e != 0) {
      frame::removeFile(frame::nativeName(bilName));
      return frame::endWithListedError(fr, {" The file " + hdrName + " could not be written.", errorNumber(e)});
    }
  }
  return false;
}

}  // namespace grid
