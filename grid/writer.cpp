#include "grid/writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "frame/files.h"
#include "frame/format.h"
#include "frame/littleendian.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "gdal/tiffwriter.h"
#include "grid/gdalgrids.h"
#include "grid/prj.h"
#include "grid/structure.h"

namespace grid {
namespace {

bool readsBackAs(const std::string& text, float v) {
  if (text.find('*') != std::string::npos) return false;
  float back = 0;
  return frame::parseFortranReal(frame::trimmed(text), back) && back == v;
}

bool readsBackAs(const std::string& text, double v) {
  if (text.find('*') != std::string::npos) return false;
  double back = 0;
  return frame::parseFortranReal(frame::trimmed(text), back) && back == v;
}

std::string shortest(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

// The fewest digits that read back as the same double, in fixed notation.
std::string shortest(double v) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

// Whether two number texts give the same double, as a GIS reading them compares them.
bool sameNumber(const std::string& a, const std::string& b) {
  const std::string ta = frame::trimmed(a), tb = frame::trimmed(b);
  double x = 0, y = 0;
  const auto ra = std::from_chars(ta.data(), ta.data() + ta.size(), x);
  const auto rb = std::from_chars(tb.data(), tb.data() + tb.size(), y);
  return ra.ec == std::errc() && rb.ec == std::errc() && ra.ptr == ta.data() + ta.size() &&
         rb.ptr == tb.data() + tb.size() && x == y;
}

std::string padLeft(const std::string& s, size_t w) {
  return s.size() >= w ? s : std::string(w - s.size(), ' ') + s;
}

std::string errorNumber(int e) {
  return " Error number=" + frame::fmtI(e, 6, 6);
}

// The map position of the middle of the upper-left cell, as a header reader takes it back:
// readers find the grid's edge as this position minus (x) or plus (y) half a cell, so the
// position is chosen among the doubles next to the exact middle such that that sum gives the
// edge to the last bit.
double cellMiddleGivingEdge(double edge, double halfCell, bool minus) {
  const double middle = minus ? edge + halfCell : edge - halfCell;
  double up = middle, down = middle;
  for (int k = 0; k <= 8; ++k) {
    for (double c : {up, down}) {
      if ((minus ? c - halfCell : c + halfCell) == edge) return c;
    }
    up = std::nextafter(up, HUGE_VAL);
    down = std::nextafter(down, -HUGE_VAL);
  }
  return middle;
}

std::string hdrNodata(float v) {
  std::string nd = frame::trimmed(frame::fmtG(v, 12, 6));
  if (!readsBackAs(nd, v)) nd = shortest(v);
  return nd;
}

}  // namespace

std::string ascHeaderNumber(double v, int w, int d) {
  std::string t = frame::fmtF(v, w, d);
  if (readsBackAs(t, v)) return t;
  // The fixed form loses the value (a fine cell size, a position with more decimals, a
  // coordinate too wide): write enough digits to read back the same value.
  return padLeft(shortest(v), static_cast<size_t>(w));
}

std::string hdrRealNumber(double v) {
  const double k = std::trunc(v + 0.000001);
  // Written as an integer only when it is one: a position a millionth off an integer keeps
  // its decimals.
  if (k == v && std::fabs(k) < 1e18) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(k));
    return std::string(buf, r.ptr);
  }
  std::string g = frame::trimmed(frame::fmtG(v, 12, 6));
  if (readsBackAs(g, v)) return g;
  return shortest(v);
}

namespace {

// 10^k for k = -34 .. 51, each the double nearest to it.
constexpr int kPowLow = -34;
constexpr double kPow10[] = {1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22,
                             1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,
                             1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,
                             1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,
                             1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,
                             1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,  1e39,  1e40,  1e41,  1e42,  1e43,
                             1e44,  1e45,  1e46,  1e47,  1e48,  1e49,  1e50,  1e51};

constexpr char kTwoDigits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The six digits and decimal exponent of a finite, nonzero value, correctly rounded (ties to
// even) from its exact binary value: digits in 100000..999999, value ~ 0.digits * 10^exp10.
void sixDigitsExact(double a, uint32_t& digits, int& exp10) {
  char s[32];
  auto r = std::to_chars(s, s + sizeof s, a, std::chars_format::scientific, 5);
  digits = static_cast<uint32_t>(s[0] - '0');
  for (int k = 2; k < 7; ++k) digits = digits * 10 + static_cast<uint32_t>(s[k] - '0');
  int e = 0;
  for (const char* x = s + 9; x < r.ptr; ++x) e = e * 10 + (*x - '0');
  exp10 = (s[8] == '-' ? -e : e) + 1;
}

}  // namespace

char* formatAscValue(char* p, float v) {
  const double d = v;
  *p++ = ' ';
  if (d == 0.0) {
    std::memcpy(p, std::signbit(d) ? "-.000000E+00" : "0.000000E+00", 12);
    return p + 12;
  }
  const double a = std::fabs(d);
  // The value scaled into [10^5, 10^6): one multiplication by a power of ten that is off by at
  // most half a unit in the last place, so the scaled value is off by less than 3e-10. The
  // rounding to six digits is taken from it unless the scaled value lies that close to a half,
  // where the exact digits decide (a tie, as 2^-10 = 0.0009765625, goes to the even digit).
  uint64_t bits;
  std::memcpy(&bits, &a, 8);
  const int e2 = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
  int k = 5 - ((e2 * 78913) >> 18);
  double sc = a * kPow10[k - kPowLow];
  while (sc >= 1e6) sc = a * kPow10[--k - kPowLow];
  while (sc < 1e5) sc = a * kPow10[++k - kPowLow];
  uint32_t n = static_cast<uint32_t>(sc);
  const double frac = sc - static_cast<double>(n);
  int exp10 = 6 - k;
  if (std::fabs(frac - 0.5) < 1e-7) {
    sixDigitsExact(a, n, exp10);
  } else {
    if (frac > 0.5) ++n;
    if (n == 1000000) {
      n = 100000;
      ++exp10;
    }
  }
  *p++ = d < 0 ? '-' : '0';
  *p++ = '.';
  const uint32_t hi = n / 10000, mid = (n / 100) % 100, lo = n % 100;
  std::memcpy(p, kTwoDigits + 2 * hi, 2);
  std::memcpy(p + 2, kTwoDigits + 2 * mid, 2);
  std::memcpy(p + 4, kTwoDigits + 2 * lo, 2);
  p += 6;
  *p++ = 'E';
  *p++ = exp10 < 0 ? '-' : '+';
  const int ae = exp10 < 0 ? -exp10 : exp10;
  std::memcpy(p, kTwoDigits + 2 * ae, 2);
  return p + 2;
}

void appendAscValue(std::string& out, float v) {
  if (!std::isfinite(v)) {
    out += ' ';
    out += frame::fmtE(v, 12, 6);
    return;
  }
  char buf[16];
  out.append(buf, static_cast<size_t>(formatAscValue(buf, v) - buf));
}

GridWriter::GridWriter() = default;
GridWriter::~GridWriter() = default;

std::string tileName(const std::string& name, const std::string& fileType, int32_t k, int32_t n) {
  const std::string stem = frame::GUMEXT(name, " ");
  // The user's spelling of the extension is kept, as for the whole grid.
  std::string ext = fileType;
  const std::string whole = frame::GUMEXT(name, fileType);
  if (whole.size() > fileType.size() && whole[whole.size() - fileType.size() - 1] == '.') {
    ext = whole.substr(whole.size() - fileType.size());
  }
  std::string number = std::to_string(k);
  const size_t width = std::max<size_t>(3, std::to_string(n).size());
  if (number.size() < width) number.insert(0, width - number.size(), '0');
  return stem + "_t" + number + "." + ext;
}

void GridWriter::open(frame::Frame& fr, const Structure& s, const std::string& fileType, const std::string& fileName,
                      int32_t top, int32_t bottom, bool progress) {
  type_ = fileType;
  top_ = top;
  bottom_ = bottom;
  next_ = top;
  tile_ = s.tileCount > 0;
  name_ = frame::trimRight(fileName);
  if (progress) progress_ = std::make_unique<frame::ProgressCounter>(fr, "Writing information", top - bottom + 1);
  unit_ = std::make_unique<frame::UnitLease>(fr.units);
  threads_ = fr.cores();
  openFiles(fr, s, tile_ ? tileName(name_, tileType(), s.tileNumber, s.tileCount) : name_);
}

void GridWriter::openFiles(frame::Frame& fr, const Structure& s, const std::string& name, bool emptyMarked) {
  // A name marked empty keeps its dots: the extension is added after the marker as it stands,
  // so "out.v1.asc" becomes "out.v1_EMPTY.ASC".
  auto withExtension = [&](const char* ext) { return emptyMarked ? name + "." + ext : frame::GUMEXT(name, ext); };
  const GridDescription& g = s.grid;
  openError_ = 0;
  failedName_.clear();
  text_.clear();
  const int32_t rows = top_ - bottom_ + 1;
  const double cs = s.cellsize;
  // The lower-left corner of the rows written: the structure's, or a tile's.
  const double yll = g.yll + static_cast<double>(bottom_ - 1) * cs;
  if (type_ == "TIF" || type_ == "COG") {
    dataName_ = emptyMarked ? name + ".TIF" : geoTiffName(name);
    gdalroom::TiffLayout layout;
    layout.ncols = g.ncols;
    layout.nrows = rows;
    layout.xll = static_cast<double>(g.xll);
    layout.yll = yll;
    layout.cellsize = cs;
    layout.nodata = s.nodataOut;
    layout.crsWkt = s.crsWkt;
    layout.cloudOptimized = type_ == "COG";
    layout.threads = fr.threads;
    layout.sync = fr.syncOutputs;
    tiff_ = std::make_unique<gdalroom::TiffWriter>();
    tiffMessage_.clear();
    strip_.clear();
    stripRows_ = 0;
    if (!tiff_->open(frame::nativeName(dataName_), layout, tiffMessage_)) openError_ = 1;
    return;
  }
  if (type_ == "ASC") {
    dataName_ = withExtension("ASC");
    openError_ = data_.open(frame::nativeName(dataName_), fr.syncOutputs);
    if (openError_ != 0) return;
    unit_->connect(dataName_);
    // The six keywords start in column 1, which every GIS reader expects.
    auto count = [](int32_t n) {
      std::string t = frame::fmtI(n, 6);
      return t.find('*') == std::string::npos ? t : std::to_string(n);
    };
    text_ += "ncols " + count(g.ncols) + "\n";
    text_ += "nrows " + count(rows) + "\n";
    text_ += "xllcorner " + ascHeaderNumber(g.xll, 10, 2) + "\n";
    text_ += "yllcorner " + ascHeaderNumber(yll, 10, 2) + "\n";
    text_ += "cellsize " + ascHeaderNumber(s.cellsize, 10, 2) + "\n";
    std::string nd = frame::fmtG(s.nodataOut, 12, 6);
    if (!readsBackAs(nd, s.nodataOut)) nd = padLeft(shortest(s.nodataOut), 12);
    text_ += "nodata_value " + nd + "\n";
    // A NODATA cell must read back as the header's nodata_value, or a GIS takes it for data:
    // where the cell's own form gives another number, the header's text is written instead.
    nodataOut_ = s.nodataOut;
    nodataCell_.clear();
    appendAscValue(nodataCell_, s.nodataOut);
    if (!sameNumber(nodataCell_, nd)) nodataCell_ = " " + padLeft(frame::trimmed(nd), 12);
    data_.write(text_.data(), text_.size());
    text_.clear();
    openPrj(fr, s, dataName_);
    return;
  }
  if (type_ != "BIL") return;
  hdrName_ = withExtension("HDR");
  dataName_ = withExtension("BIL");
  openError_ = hdr_.open(frame::nativeName(hdrName_), fr.syncOutputs);
  if (openError_ != 0) {
    failedName_ = hdrName_;
    return;
  }
  const std::string dim = hdrRealNumber(cs);
  std::string text;
  text += "ByteOrder I\n";
  text += "Layout BIL\n";
  text += "nRows " + std::to_string(rows) + "\n";
  text += "nCols " + std::to_string(g.ncols) + "\n";
  text += "nBands 1\n";
  text += "nBlocks 1\n";
  text += "nBits 32\n";
  text += "BandRowBytes " + std::to_string(4LL * g.ncols) + "\n";
  text += "TotalRowBytes " + std::to_string(4LL * g.ncols) + "\n";
  text += "BandGapBytes 0\n";
  text += "NoData " + hdrNodata(s.nodataOut) + "\n";
  // The upper-left corner that an ASC header of the same rows gives: xll, and yll plus the
  // rows (so both outputs of a grid are placed alike to the last digit).
  const double top = yll + static_cast<double>(rows) * cs;
  text += "ULXmap " + hdrRealNumber(cellMiddleGivingEdge(g.xll, 0.5 * cs, true)) + "\n";
  text += "ULYmap " + hdrRealNumber(cellMiddleGivingEdge(top, 0.5 * cs, false)) + "\n";
  text += "Xdim " + dim + "\n";
  text += "Ydim " + dim + "\n";
  // Readers that do not know the pixel type would take the values as unsigned integers.
  text += "PixelType FLOAT\n";
  hdr_.write(text.data(), text.size());
  openError_ = data_.open(frame::nativeName(dataName_), fr.syncOutputs);
  if (openError_ != 0) {
    failedName_ = dataName_;
    hdr_.abandon();
    return;
  }
  unit_->connect(dataName_);
  raw_.resize(static_cast<size_t>(g.ncols) * 4);
  openPrj(fr, s, dataName_);
}

void GridWriter::openPrj(frame::Frame& fr, const Structure& s, const std::string& gridName) {
  // The .prj goes beside the grid when the structure has a coordinate reference system; it is
  // put in place right after the grid, so that a GIS never finds the grid placed in another
  // system's coordinates.
  prjUsed_ = false;
  if (s.crsWkt.empty()) return;
  prjName_ = prjNameBeside(gridName);
  const int e = prj_.open(frame::nativeName(prjName_), fr.syncOutputs);
  if (e != 0) {
    openError_ = e;
    failedName_ = prjName_;
    data_.abandon();
    hdr_.abandon();
    return;
  }
  prj_.write(s.crsWkt.data(), s.crsWkt.size());
  prj_.write("\n", 1);
  prjUsed_ = true;
}

int GridWriter::commitPrj(const std::vector<std::string>& gridFiles) {
  if (!prjUsed_) return 0;
  prjUsed_ = false;
  const int e = prj_.commit();
  if (e != 0) {
    for (const auto& g : gridFiles) frame::removeFile(frame::nativeName(g));
  }
  return e;
}

void GridWriter::rows(const Structure& s, int32_t from, int32_t to) {
  const GridDescription& g = s.grid;
  const size_t nc = static_cast<size_t>(g.ncols);
  if (type_ == "ASC" && openError_ == 0) {
    ascRows(s, from, to);
    return;
  }
  if (type_ == "BIL" && !tiff_ && frame::le::nativeIsLittle && openError_ == 0) {
    // The floats as they lie in memory are the file's bytes: the rows go from there, north first.
    std::vector<frame::AtomicOutputFile::Block> rows;
    for (int32_t r = from; r >= to; --r, --next_) {
      if (progress_) progress_->turn();
      rows.push_back({g.values.data() + g.index(1, r), nc * 4});
    }
    data_.writeBlocks(rows);
    return;
  }
  for (int32_t r = from; r >= to; --r, --next_) {
    if (progress_) progress_->turn();
    if (openError_ != 0) continue;
    const float* row = g.values.data() + g.index(1, r);
    writeRow(row, nc);
  }
}

char* GridWriter::formatAscRow(char* p, const float* row, size_t nc) const {
  for (size_t c = 0; c < nc; ++c) {
    const float v = row[c];
    if (v == nodataOut_) {
      std::memcpy(p, nodataCell_.data(), nodataCell_.size());
      p += nodataCell_.size();
    } else if (std::isfinite(v)) {
      p = formatAscValue(p, v);
    } else {
      const std::string t = " " + frame::fmtE(v, 12, 6);
      std::memcpy(p, t.data(), t.size());
      p += t.size();
    }
    if ((c + 1) % 28 == 0 || c + 1 == nc) *p++ = '\n';
  }
  return p;
}

size_t GridWriter::ascRowBound(size_t nc) const {
  size_t cell = std::max<size_t>(nodataCell_.size(), 13);
  for (double x : {HUGE_VAL, -HUGE_VAL, std::nan("")}) cell = std::max(cell, 1 + frame::fmtE(x, 12, 6).size());
  return nc * cell + nc / 28 + 1;
}

void GridWriter::ascRows(const Structure& s, int32_t from, int32_t to) {
  // The rows are turned into text in pieces of about a megabyte, a round of one piece per core
  // at a time, and the pieces are written in row order: the file is the same for any number of
  // threads, and the text held stays a few megabytes whatever the grid. While one round is
  // written, the next is being turned into text: the writing (the system's copy into the file)
  // and the formatting then share the cores instead of taking turns.
  const GridDescription& g = s.grid;
  const size_t nc = static_cast<size_t>(g.ncols);
  const size_t rowBound = ascRowBound(nc);
  const int32_t pieceRows = static_cast<int32_t>(std::max<size_t>(1, (size_t{1} << 20) / rowBound));
  const int32_t rows = from - to + 1;
  int threads = std::min(threads_, (rows + pieceRows - 1) / pieceRows);
  threads = std::max(threads, 1);
  if (text_.size() > 0) {
    data_.write(text_.data(), text_.size());
    text_.clear();
  }
  // The rounds: piece t of a round covers rows first down to last.
  std::vector<std::vector<std::pair<int32_t, int32_t>>> rounds;
  for (int32_t hi = from; hi >= to;) {
    std::vector<std::pair<int32_t, int32_t>> span;
    for (int t = 0; t < threads && hi >= to; ++t) {
      const int32_t lo = std::max(to, hi - pieceRows + 1);
      span.emplace_back(hi, lo);
      hi = lo - 1;
    }
    rounds.push_back(std::move(span));
  }
  // Two sets of pieces: the round being written and the one being formatted.
  std::vector<std::string> pieces[2] = {std::vector<std::string>(static_cast<size_t>(threads)),
                                        std::vector<std::string>(static_cast<size_t>(threads))};
  std::vector<size_t> used[2] = {std::vector<size_t>(static_cast<size_t>(threads)),
                                 std::vector<size_t>(static_cast<size_t>(threads))};
  auto format = [&](int set, size_t t, int32_t first, int32_t last) {
    std::string& buf = pieces[set][t];
    const size_t need = rowBound * static_cast<size_t>(first - last + 1);
    if (buf.size() < need) buf.resize(need);
    char* p = buf.data();
    for (int32_t r = first; r >= last; --r) p = formatAscRow(p, g.values.data() + g.index(1, r), nc);
    used[set][t] = static_cast<size_t>(p - buf.data());
  };
  // Formats round k into set k % 2 on threads of its own; the caller joins them.
  auto start = [&](size_t k, std::vector<std::thread>& helpers) {
    const int set = static_cast<int>(k % 2);
    for (size_t t = 0; t < rounds[k].size(); ++t)
      helpers.emplace_back(format, set, t, rounds[k][t].first, rounds[k][t].second);
  };
  auto joinAll = [](std::vector<std::thread>& helpers) {
    for (auto& h : helpers) h.join();
    helpers.clear();
  };
  std::vector<std::thread> ahead;
  if (threads == 1 || rounds.size() == 1) {
    // One core, or a single round: nothing to overlap.
    for (size_t k = 0; k < rounds.size(); ++k) {
      const auto& span = rounds[k];
      if (span.size() == 1) {
        format(static_cast<int>(k % 2), 0, span[0].first, span[0].second);
      } else {
        start(k, ahead);
        joinAll(ahead);
      }
      writePieces(pieces[k % 2], used[k % 2], span);
    }
    return;
  }
  start(0, ahead);
  for (size_t k = 0; k < rounds.size(); ++k) {
    joinAll(ahead);
    if (k + 1 < rounds.size()) start(k + 1, ahead);
    writePieces(pieces[k % 2], used[k % 2], rounds[k]);
  }
}

void GridWriter::writePieces(const std::vector<std::string>& pieces, const std::vector<size_t>& used,
                             const std::vector<std::pair<int32_t, int32_t>>& span) {
  std::vector<frame::AtomicOutputFile::Block> blocks;
  for (size_t t = 0; t < span.size(); ++t) blocks.push_back({pieces[t].data(), used[t]});
  data_.writeBlocks(blocks);
  for (const auto& [first, last] : span) {
    for (int32_t r = first; r >= last; --r, --next_) {
      if (progress_) progress_->turn();
    }
  }
}

void GridWriter::writeRow(const float* row, size_t nc) {
  if (tiff_) {
    // Whole rows of the GeoTIFF's tiles at a time, so that GDAL completes each tile at once.
    strip_.insert(strip_.end(), row, row + nc);
    if (++stripRows_ == 256) flushStrip();
    return;
  }
  if (type_ == "ASC") {
    const size_t at = text_.size();
    text_.resize(at + ascRowBound(nc));
    text_.resize(static_cast<size_t>(formatAscRow(text_.data() + at, row, nc) - text_.data()));
    if (text_.size() > (1 << 20) - 4096) {
      data_.write(text_.data(), text_.size());
      text_.clear();
    }
    return;
  }
  if (type_ != "BIL") return;
  if constexpr (frame::le::nativeIsLittle) {
    data_.write(row, nc * 4);  // the floats as they lie in memory are the file's bytes
    return;
  }
  frame::le::storeFloats(raw_.data(), row, nc);
  data_.write(raw_.data(), nc * 4);
}

void GridWriter::flushStrip() {
  if (stripRows_ > 0 && openError_ == 0 && !tiff_->writeRows(strip_.data(), stripRows_, tiffMessage_)) openError_ = 1;
  strip_.clear();
  stripRows_ = 0;
}

std::string GridWriter::tileType() const {
  return type_ == "COG" ? "TIF" : type_;
}

void GridWriter::abandon() {
  data_.abandon();
  hdr_.abandon();
  prj_.abandon();
  prjUsed_ = false;
  if (tiff_) tiff_->abandon();
}

bool GridWriter::finish(frame::Frame& fr, const Structure& s, bool indicateEmpty, bool gridHasValues) {
  if (!tile_ && indicateEmpty && !gridHasValues) {
    // No cell has a value: the grid is NODATA throughout and goes under the "_EMPTY" name
    // instead of the one it was written under.
    abandon();
    unit_->release();
    openFiles(fr, s, frame::GUMEXT(name_, " ") + "_EMPTY", true);
    const std::vector<float> empty(static_cast<size_t>(s.grid.ncols), s.grid.nodata);
    for (int32_t r = top_; r >= bottom_ && openError_ == 0; --r) writeRow(empty.data(), empty.size());
  }
  if (tiff_) {
    flushStrip();
    if (openError_ == 0 && !tiff_->commit(tiffMessage_)) openError_ = 1;
    listGdalMessages(fr);
    if (openError_ != 0) {
      tiff_->abandon();
      return frame::endWithListedError(fr,
                                       {" The file " + dataName_ + " could not be written: " + sentence(tiffMessage_)});
    }
    fr.resultName = dataName_;
    if (tile_) return writeMosaic(fr, s);
    return false;
  }
  std::string failed = failedName_.empty() ? dataName_ : failedName_;
  if (openError_ != 0) {
    abandon();
    return frame::endWithListedError(fr, {" The file " + failed + " could not be opened.", errorNumber(openError_)});
  }
  // The .prj is completed before the grid is put in place, and committed right after it.
  auto prjFailed = [&](int e) {
    return frame::endWithListedError(fr, {" The file " + prjName_ + " could not be written.", errorNumber(e)});
  };
  if (prjUsed_) {
    const int e = prj_.complete();
    if (e != 0) {
      prjUsed_ = false;
      unit_->release();
      data_.abandon();
      hdr_.abandon();
      return prjFailed(e);
    }
  }
  if (type_ == "ASC") {
    data_.write(text_.data(), text_.size());
    text_.clear();
    int e = data_.commit();
    unit_->release();
    if (e != 0) {
      prj_.abandon();
      return frame::endWithListedError(fr, {" The file " + dataName_ + " could not be written.", errorNumber(e)});
    }
    e = commitPrj({dataName_});
    if (e != 0) return prjFailed(e);
  } else if (type_ == "BIL") {
    // Both are completed before either is put in place, so that the two appear (or replace
    // the old pair) one right after the other.
    int e = data_.complete();
    unit_->release();
    if (e != 0) {
      hdr_.abandon();
      prj_.abandon();
      return frame::endWithListedError(fr, {" The file " + dataName_ + " could not be written.", errorNumber(e)});
    }
    e = hdr_.complete();
    if (e != 0) {
      data_.abandon();
      prj_.abandon();
      return frame::endWithListedError(fr, {" The file " + hdrName_ + " could not be written.", errorNumber(e)});
    }
    e = data_.commit();
    if (e != 0) {
      hdr_.abandon();
      prj_.abandon();
      return frame::endWithListedError(fr, {" The file " + dataName_ + " could not be written.", errorNumber(e)});
    }
    e = hdr_.commit();
    if (e != 0) {
      prj_.abandon();
      frame::removeFile(frame::nativeName(dataName_));
      return frame::endWithListedError(fr, {" The file " + hdrName_ + " could not be written.", errorNumber(e)});
    }
    e = commitPrj({dataName_, hdrName_});
    if (e != 0) return prjFailed(e);
  }
  fr.resultName = dataName_;
  if (tile_) return writeMosaic(fr, s);
  return false;
}

bool GridWriter::writeMosaic(frame::Frame& fr, const Structure& s) {
  // The mosaic of every tile as one raster: it needs only the structure and the number of
  // tiles, so whichever tile ends last leaves the same file.
  const GridDescription& g = s.grid;
  const std::string vrtName = frame::GUMEXT(name_, " ") + ".vrt";
  auto number = [](double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return std::string(buf);
  };
  auto base = [](const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
  };
  const double cs = s.cellsize;
  const double ytop = static_cast<double>(g.yll) + static_cast<double>(g.nrows) * cs;
  const std::string nc = std::to_string(g.ncols);
  std::string x;
  x += "<VRTDataset rasterXSize=\"" + nc + "\" rasterYSize=\"" + std::to_string(g.nrows) + "\">\n";
  x += "  <GeoTransform>" + number(g.xll) + ", " + number(cs) + ", 0, " + number(ytop) + ", 0, " + number(-cs) +
       "</GeoTransform>\n";
  x += "  <VRTRasterBand dataType=\"Float32\" band=\"1\">\n";
  x += "    <NoDataValue>" + hdrNodata(s.nodataOut) + "</NoDataValue>\n";
  for (int32_t k = 1; k <= s.tileCount; ++k) {
    int32_t top = 0, bottom = 0;
    tileRows(g.nrows, k, s.tileCount, top, bottom);
    const std::string rows = std::to_string(top - bottom + 1);
    const std::string tile = tileName(name_, tileType(), k, s.tileCount);
    const bool tif = tiff_ != nullptr;
    const std::string file = base(tif              ? geoTiffName(tile)
                                  : type_ == "ASC" ? frame::GUMEXT(tile, "ASC")
                                                   : frame::GUMEXT(tile, "BIL"));
    x += "    <SimpleSource>\n";
    x += "      <SourceFilename relativeToVRT=\"1\">" + file + "</SourceFilename>\n";
    x += "      <SourceBand>1</SourceBand>\n";
    // A GeoTIFF's blocks are its tiles: GDAL learns them from the file.
    if (!tif) {
      x += "      <SourceProperties RasterXSize=\"" + nc + "\" RasterYSize=\"" + rows +
           "\" DataType=\"Float32\" BlockXSize=\"" + nc + "\" BlockYSize=\"1\"/>\n";
    }
    x += "      <SrcRect xOff=\"0\" yOff=\"0\" xSize=\"" + nc + "\" ySize=\"" + rows + "\"/>\n";
    x += "      <DstRect xOff=\"0\" yOff=\"" + std::to_string(g.nrows - top) + "\" xSize=\"" + nc + "\" ySize=\"" +
         rows + "\"/>\n";
    x += "    </SimpleSource>\n";
  }
  x += "  </VRTRasterBand>\n</VRTDataset>\n";
  frame::AtomicOutputFile vrt;
  int e = vrt.open(frame::nativeName(vrtName));
  if (e == 0) {
    vrt.write(x.data(), x.size());
    e = vrt.commit();
  }
  if (e != 0) return frame::endWithListedError(fr, {" The file " + vrtName + " could not be written.", errorNumber(e)});
  if (!s.crsWkt.empty()) {
    // The mosaic's coordinate reference system beside it, as beside every tile.
    const std::string prjName = prjNameBeside(vrtName);
    frame::AtomicOutputFile prj;
    e = prj.open(frame::nativeName(prjName), fr.syncOutputs);
    if (e == 0) {
      prj.write(s.crsWkt.data(), s.crsWkt.size());
      prj.write("\n", 1);
      e = prj.commit();
    }
    if (e != 0)
      return frame::endWithListedError(fr, {" The file " + prjName + " could not be written.", errorNumber(e)});
  }
  return false;
}

bool WRITEINFORMATIONTOGRID(frame::Frame& fr, const Structure& s, const std::string& fileType,
                            const std::string& fileName, bool indicateEmpty, bool gridHasValues) {
  GridWriter w;
  w.open(fr, s, fileType, fileName, s.grid.nrows, 1, true);
  w.rows(s, s.grid.nrows, 1);
  return w.finish(fr, s, indicateEmpty, gridHasValues);
}

}  // namespace grid
