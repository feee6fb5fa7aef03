#include "grid/sourcegrid.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "frame/files.h"
#include "frame/format.h"
#include "frame/text.h"
#include "gdal/tiffwriter.h"
#include "grid/gdalgrids.h"
#include "grid/writer.h"

namespace grid {
namespace {

std::string integer(int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string count(int32_t n) {
  std::string t = frame::fmtI(n, 6);
  return t.find('*') == std::string::npos ? t : integer(n);
}

}  // namespace

int writeSourceGrid(const Structure& s, const std::string& type, const std::string& name, int bits, bool sync,
                    std::string& failedName, std::string& reason) {
  const GridDescription& g = s.grid;
  const size_t nc = static_cast<size_t>(g.ncols);
  auto codeAt = [&](int32_t r, size_t c) { return s.source[static_cast<size_t>(r - 1) * nc + c]; };
  if (type == "TIF") {
    failedName = geoTiffName(frame::trimRight(name));
    gdalroom::TiffLayout layout;
    layout.ncols = g.ncols;
    layout.nrows = g.nrows;
    layout.xll = static_cast<double>(g.xll);
    layout.yll = static_cast<double>(g.yll);
    layout.cellsize = static_cast<double>(s.cellsize);
    layout.nodata = 0.0f;
    layout.crsWkt = s.crsWkt;
    layout.sync = sync;
    layout.integerBits = bits == 32 ? 32 : 16;
    gdalroom::TiffWriter out;
    bool ok = out.open(frame::nativeName(failedName), layout, reason);
    // The rows north first, a row of the file's tiles at a time.
    std::vector<int32_t> strip;
    for (int32_t top = g.nrows; ok && top >= 1; top -= 256) {
      const int32_t count = std::min(256, top);
      strip.resize(static_cast<size_t>(count) * nc);
      for (int32_t k = 0; k < count; ++k) {
        const int32_t* row = s.source.data() + static_cast<size_t>(top - k - 1) * nc;
        std::copy(row, row + nc, strip.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(k) * nc));
      }
      ok = out.writeRows(strip.data(), count, reason);
    }
    if (ok) ok = out.commit(reason);
    if (!ok) {
      out.abandon();
      return EIO;
    }
    return 0;
  }
  if (type == "ASC") {
    failedName = frame::GUMEXT(frame::trimRight(name), "ASC");
    frame::AtomicOutputFile out;
    int e = out.open(frame::nativeName(failedName), sync);
    if (e != 0) return e;
    // The header as the grid's own, so that the two lie on one another in a GIS.
    std::string text;
    text += "ncols " + count(g.ncols) + "\n";
    text += "nrows " + count(g.nrows) + "\n";
    text += "xllcorner " + ascHeaderNumber(g.xll, 10, 2) + "\n";
    text += "yllcorner " + ascHeaderNumber(g.yll, 10, 2) + "\n";
    text += "cellsize " + ascHeaderNumber(s.cellsize, 10, 2) + "\n";
    text += "nodata_value 0\n";
    out.write(text.data(), text.size());
    text.clear();
    for (int32_t r = g.nrows; r >= 1; --r) {
      for (size_t c = 0; c < nc; ++c) {
        if (c > 0) text += ' ';
        char buf[16];
        auto res = std::to_chars(buf, buf + sizeof buf, codeAt(r, c));
        text.append(buf, res.ptr);
      }
      text += '\n';
      if (text.size() > (1 << 20)) {
        out.write(text.data(), text.size());
        text.clear();
      }
    }
    out.write(text.data(), text.size());
    return out.commit();
  }
  // BIL: the data, then the header; both or neither.
  const std::string hdrName = frame::GUMEXT(frame::trimRight(name), "HDR");
  const std::string bilName = frame::GUMEXT(frame::trimRight(name), "BIL");
  const size_t bytes = bits == 32 ? 4 : 2;
  frame::AtomicOutputFile hdr, bil;
  failedName = hdrName;
  int e = hdr.open(frame::nativeName(hdrName), sync);
  if (e != 0) return e;
  const double cs = s.cellsize;
  const std::string dim = hdrRealNumber(cs);
  std::string text;
  text += "ByteOrder I\n";
  text += "Layout BIL\n";
  text += "nRows " + integer(g.nrows) + "\n";
  text += "nCols " + integer(g.ncols) + "\n";
  text += "nBands 1\n";
  text += "nBlocks 1\n";
  text += "nBits " + integer(static_cast<int64_t>(bytes) * 8) + "\n";
  text += "BandRowBytes " + integer(static_cast<int64_t>(bytes) * g.ncols) + "\n";
  text += "TotalRowBytes " + integer(static_cast<int64_t>(bytes) * g.ncols) + "\n";
  text += "BandGapBytes 0\n";
  text += "NoData 0\n";
  text += "ULXmap " + hdrRealNumber(static_cast<double>(g.xll) + 0.5 * cs) + "\n";
  text += "ULYmap " + hdrRealNumber(static_cast<double>(g.yll) + g.nrows * cs - 0.5 * cs) + "\n";
  text += "Xdim " + dim + "\n";
  text += "Ydim " + dim + "\n";
  text += "PixelType SIGNEDINT\n";
  hdr.write(text.data(), text.size());
  failedName = bilName;
  e = bil.open(frame::nativeName(bilName), sync);
  if (e != 0) {
    hdr.abandon();
    return e;
  }
  std::vector<unsigned char> raw(nc * bytes);
  for (int32_t r = g.nrows; r >= 1; --r) {
    for (size_t c = 0; c < nc; ++c) {
      const uint32_t v = static_cast<uint32_t>(codeAt(r, c));
      for (size_t b = 0; b < bytes; ++b) raw[bytes * c + b] = static_cast<unsigned char>(v >> (8 * b));
    }
    bil.write(raw.data(), raw.size());
  }
  // Both are completed before either is put in place, so that the two appear one right after
  // the other.
  e = bil.complete();
  if (e != 0) {
    hdr.abandon();
    return e;
  }
  failedName = hdrName;
  e = hdr.complete();
  if (e != 0) {
    bil.abandon();
    return e;
  }
  failedName = bilName;
  e = bil.commit();
  if (e != 0) {
    hdr.abandon();
    return e;
  }
  failedName = hdrName;
  e = hdr.commit();
  if (e != 0) {
    frame::removeFile(frame::nativeName(bilName));
    return e;
  }
  return 0;
}

}  // namespace grid
