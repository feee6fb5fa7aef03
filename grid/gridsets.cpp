#include "grid/gridsets.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <thread>

#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"
#include "grid/bigblocks.h"
#include "grid/bilheader.h"
#include "grid/gdalgrids.h"
#include "grid/general.h"
#include "grid/prj.h"
#include "grid/structure.h"

namespace grid {
namespace {

// The values of a list-directed read: numbers separated by blanks, commas or line ends,
// with the repeat form r*value. Reads the file in large blocks.
class ListReader {
 public:
  int open(const std::string& path) { return in_.open(path); }
  // Skips n text lines (the header).
  bool skipLines(int n) {
    while (n > 0) {
      if (pos_ >= len_ && !fill()) return false;
      const char* nl = static_cast<const char*>(std::memchr(buf_.data() + pos_, '\n', len_ - pos_));
      if (!nl) {
        pos_ = len_;
        continue;
      }
      pos_ = static_cast<size_t>(nl - buf_.data()) + 1;
      --n;
    }
    return true;
  }
  enum class Result { Value, End, Bad, ReadError };
  // The next value; repeat counts are expanded.
  Result next(float& v, std::string& token) {
    if (repeat_ > 0) {
      --repeat_;
      v = repeatValue_;
      return Result::Value;
    }
    if (!nextToken(token)) return error_ ? Result::ReadError : Result::End;
    const char* b = token.data();
    const char* e = b + token.size();
    auto r = std::from_chars(b, e, v);
    if (r.ec == std::errc() && r.ptr == e) return Result::Value;
    size_t star = token.find('*');
    if (star != std::string::npos) {
      int64_t count = 0;
      float value = 0;
      if (!frame::parseFortranInteger(std::string_view(token).substr(0, star), count) || count < 1 ||
          !frame::parseFortranReal(std::string_view(token).substr(star + 1), value)) {
        return Result::Bad;
      }
      repeat_ = count - 1;
      repeatValue_ = value;
      v = value;
      return Result::Value;
    }
    if (!frame::parseFortranReal(token, v)) return Result::Bad;
    return Result::Value;
  }

 private:
  static bool isSep(char c) { return c == ' ' || c == ',' || c == '\n' || c == '\r' || c == '\t'; }
  bool fill() {
    if (eof_) return false;
    // Keep nothing: tokens are assembled in nextToken across blocks.
    buf_.resize(1 << 20);
    long n = in_.readBlock(buf_.data(), buf_.size());
    if (n < 0) {
      error_ = true;
      eof_ = true;
      return false;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    len_ = static_cast<size_t>(n);
    pos_ = 0;
    return true;
  }
  bool nextToken(std::string& token) {
    token.clear();
    for (;;) {
      while (pos_ < len_ && isSep(buf_[pos_])) ++pos_;
      if (pos_ < len_) break;
      if (!fill()) return false;
    }
    for (;;) {
      size_t start = pos_;
      while (pos_ < len_ && !isSep(buf_[pos_])) ++pos_;
      token.append(buf_.data() + start, pos_ - start);
      if (pos_ < len_ || !fill()) return true;
    }
  }

  frame::BlockReader in_;
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false, error_ = false;
  int64_t repeat_ = 0;
  float repeatValue_ = 0;
};

// Where a straight read of a 32-bit BIL stopped: the first row (counted from the north) and
// column holding a value that is not a number, or the row at which reading failed.
struct BilStop {
  int64_t row = INT64_MAX;
  int64_t column = 0;
  bool readFailed = false;
};

// Reads n bytes at offset into the iovecs, however the system splits the transfer.
bool preadAll(int fd, struct iovec* iov, int count, off_t offset) {
  while (count > 0) {
    const ssize_t got = ::preadv(fd, iov, std::min(count, IOV_MAX), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    offset += got;
    size_t left = static_cast<size_t>(got);
    while (count > 0 && left >= iov->iov_len) {
      left -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0 && left > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + left;
      iov->iov_len -= left;
    }
  }
  return true;
}

// Rows north..north+count-1 (counted from the north, 0 first) of a little-endian 32-bit BIL
// straight into their places in d (rows south first), a batch of rows per system call; stops
// at the first value that is not a number.
BilStop readBilRows(int fd, const GridDescription& d, float* values, int64_t north, int64_t count) {
  BilStop stop;
  const size_t nc = static_cast<size_t>(d.ncols);
  const size_t rowBytes = 4 * nc;
  if (rowBytes == 0) return stop;
  const int64_t batch =
      std::max<int64_t>(1, std::min<int64_t>(IOV_MAX, (int64_t{4} << 20) / static_cast<int64_t>(rowBytes)));
  std::vector<struct iovec> iov(static_cast<size_t>(batch));
  for (int64_t at = north; at < north + count; at += batch) {
    const int64_t m = std::min(batch, north + count - at);
    for (int64_t k = 0; k < m; ++k) {
      const int64_t memRow = d.nrows - 1 - (at + k);  // rows lie south first in memory
      iov[static_cast<size_t>(k)] = {values + static_cast<size_t>(memRow) * nc, rowBytes};
    }
    if (!preadAll(fd, iov.data(), static_cast<int>(m), static_cast<off_t>(at) * static_cast<off_t>(rowBytes))) {
      stop.row = at;
      stop.readFailed = true;
      return stop;
    }
    for (int64_t k = 0; k < m; ++k) {
      const float* row = values + static_cast<size_t>(d.nrows - 1 - (at + k)) * nc;
      for (size_t c = 0; c < nc; ++c) {
        if (!std::isfinite(row[c])) {
          stop.row = at + k;
          stop.column = static_cast<int64_t>(c);
          return stop;
        }
      }
    }
  }
  return stop;
}

bool littleEndianHost() {
  const uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

}  // namespace

bool integralValue(float v, float nodata) {
  if (std::fabs(v - nodata) <= 0.000001f) return true;
  if (v < 0.0f) return false;
  const double k = std::trunc(static_cast<double>(v) + 0.000001);
  return std::fabs(k - v) <= 0.000001;
}

bool EQUALSBASICSTRUCTURE(const Structure& s, const GridDescription& d) {
  const GridDescription& g = s.grid;
  return std::fabs(d.yll - g.yll) < 0.001 && std::fabs(d.xll - g.xll) < 0.001 && std::fabs(d.dy - g.dy) < 0.001 &&
         std::fabs(d.dx - g.dx) < 0.001 && d.ncols == g.ncols && d.nrows == g.nrows;
}

int PARWHERE(std::string_view name, std::string_view line) {
  // Items counted as the positional items of the line, so that the answer says whether the
  // named parameter stands where a positional one is looked for.
  const std::string key = frame::upper(name);
  const std::string l = frame::upper(line);
  int item = 1;
  size_t start = 0;
  for (size_t i = 0; i <= l.size(); ++i) {
    if (i == l.size() || l[i] == ',') {
      if (l.substr(start, i - start).find(key) != std::string::npos) return item;
      ++item;
      start = i + 1;
    }
  }
  return 0;
}

bool withinCoordinateLimit(const GridDescription& d) {
  const double x0 = d.xll, y0 = d.yll;
  const double x1 = x0 + static_cast<double>(d.ncols) * d.dx, y1 = y0 + static_cast<double>(d.nrows) * d.dy;
  for (double v : {x0, y0, x1, y1}) {
    if (!(std::fabs(v) <= kCoordinateLimit)) return false;
  }
  return true;
}

// An ASC or BIL grid file opened for reading: its data file's name and what reading its rows
// needs to know.
struct OpenGrid {
  std::string dataName;
  bool bil16 = false;
  bool nanNodata = false;  // NaN cells are missing values (an ASC file whose nodata_value is NaN)
  ListReader asc;
  frame::BinaryInputFile bin;
};

// Opens an ASC or BIL grid file on unit, reads its header into d and checks the grid it
// describes. Returns err.
bool openGridFile(frame::Frame& fr, GridSets& g, GridDescription& d, const std::string& type, const std::string& name,
                  int unit, OpenGrid& o) {
  if (type == "ASC") {
    // ASC: the six header lines, then the values, north row first.
    o.dataName = frame::GUMEXT(name, "ASC");
    const std::string path = frame::resolveInputName(o.dataName);
    std::vector<std::string> head;
    bool openFailed = false;
    int e = frame::isDirectory(path) ? EISDIR : frame::readTextRecords(path, head, openFailed, 6);
    if (e == 0) e = o.asc.open(path);
    if (e != 0) {
      return frame::endWithListedError(
          fr, {" The Tervala file " + o.dataName + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
    }
    fr.units.connectName(unit, o.dataName);
    AscHeader h;
    AscHeaderResult r = readAscHeader(fr, head, h);
    if (r != AscHeaderResult::Ok) {
      fr.units.close(unit);
      return frame::endWithListedError(fr, ascHeaderMessage(r, "Tervala file " + o.dataName, h));
    }
    o.asc.skipLines(6);
    d.ncols = h.ncols;
    d.nrows = h.nrows;
    d.xll = h.xll;
    d.yll = h.yll;
    d.dx = d.dy = h.cellsize;
    d.nodata = h.nodata;
    // A NaN nodata_value (GDAL's for float grids) marks the NaN cells as missing values: they
    // are read as a number no cell holds, since NaN equals nothing.
    if (std::isnan(d.nodata)) {
      o.nanNodata = true;
      d.nodata = std::numeric_limits<float>::lowest();
    }
    d.gridKind = "BASIC";
    g.sixteenBit = false;
  } else {
    // BIL: the header file beside it, then the binary rows, north row first.
    BilHeader h = READBILHDR(fr, name, "NOSTRUCTURE");
    g.sixteenBit = h.nbits == 16;
    o.bil16 = g.sixteenBit;
    d.ncols = h.ncols;
    d.nrows = h.nrows;
    d.xll = h.ulxmap - 0.5 * h.xdim;
    d.yll = h.ulymap + 0.5 * h.ydim - static_cast<double>(h.nrows) * h.ydim;
    d.dx = h.xdim;
    d.dy = h.ydim;
    d.nodata = h.nodata;
    d.gridKind = "BASIC";
    o.dataName = frame::GUMEXT(name, "BIL");
    int e = o.bin.open(frame::resolveInputName(o.dataName));
    if (e != 0) {
      return frame::endWithListedError(
          fr, {" The Tervala file " + o.dataName + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
    }
    fr.units.connectName(unit, o.dataName);
    const uint64_t need = static_cast<uint64_t>(h.ncols) * static_cast<uint64_t>(h.nrows) * (o.bil16 ? 2u : 4u);
    if (o.bin.size() < need) {
      fr.units.close(unit);
      return frame::endWithListedError(fr, {" The Tervala file " + o.dataName + " is shorter than its header says:",
                                            " it holds " + std::to_string(o.bin.size()) +
                                                " bytes, the header asks for " + std::to_string(need) + "."});
    }
  }
  if (d.ncols < 0 || d.nrows < 0 || !(d.dx > 0.0) || !(d.dy > 0.0)) {
    fr.units.close(unit);
    return frame::endWithListedError(
        fr, {" The Tervala file " + o.dataName + " has no valid grid:",
             " the numbers of columns and rows must not be negative and the cell size must be positive."});
  }
  if (!withinCoordinateLimit(d)) {
    fr.units.close(unit);
    return frame::endWithListedError(fr, {" The Tervala file " + o.dataName + " has no valid grid:",
                                          " its corners lie beyond 1.0E+15, farther than any map reaches."});
  }
  // Every ASC value takes at least a digit and a separator: a header that asks for more values
  // than the file can hold is found out before the grid is allocated.
  if (type == "ASC") {
    const uint64_t cells = static_cast<uint64_t>(d.ncols) * static_cast<uint64_t>(d.nrows);
    const uint64_t size = frame::fileSize(frame::resolveInputName(o.dataName));
    if (cells > 0 && 2 * cells - 1 > size) {
      fr.units.close(unit);
      return frame::endWithListedError(
          fr, {" The Tervala file " + o.dataName + " holds fewer values than its header says:",
               " " + std::to_string(size) + " bytes cannot hold " + std::to_string(d.nrows) + " rows of " +
                   std::to_string(d.ncols) + " columns."});
    }
  }
  return false;
}

// A 32-bit BIL held whole on a little-endian host: the file's floats are the grid's, so each
// thread reads its share of the rows straight into place, in rounds so that the progress
// display keeps going; the first value that is not a number, in file order, is reported as a
// row-by-row reading reports it. Returns err.
bool readBilInPlace(frame::Frame& fr, GridDescription& d, const GridSource& src, const std::string& dataName, int unit,
                    bool check, frame::ProgressCounter& progress) {
  const size_t nc = static_cast<size_t>(d.ncols);
  // The file's floats are the grid's: each thread reads its share of the rows straight
  // into place, in rounds so that the progress display keeps going; the first value that is
  // not a number, in file order, is reported as a row-by-row reading reports it.
  const int fd = ::open(src.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fr.units.close(unit);
    return frame::endWithListedError(fr, {" The Tervala file " + dataName + " could not be read."});
  }
  const int64_t rowBytes = 4 * static_cast<int64_t>(nc);
  const int threads = static_cast<int>(std::max<int64_t>(
      1, std::min<int64_t>(fr.threads > 0 ? fr.threads : std::max(1u, std::thread::hardware_concurrency()),
                           rowBytes * d.nrows / (int64_t{4} << 20))));
  const int64_t share = std::max<int64_t>(1, (int64_t{16} << 20) / std::max<int64_t>(rowBytes, 1));
  BilStop stop;
  for (int64_t at = 0; at < d.nrows && stop.row == INT64_MAX;) {
    std::vector<BilStop> found(static_cast<size_t>(threads));
    std::vector<std::thread> helpers;
    int64_t next = at;
    std::vector<std::pair<int64_t, int64_t>> parts;
    const int64_t each = std::min(share, (d.nrows - at + threads - 1) / threads);
    for (int t = 0; t < threads && next < d.nrows; ++t) {
      const int64_t m = std::min(each, d.nrows - next);
      parts.emplace_back(next, m);
      next += m;
    }
    for (size_t t = 1; t < parts.size(); ++t) {
      helpers.emplace_back([&, t] { found[t] = readBilRows(fd, d, d.values.data(), parts[t].first, parts[t].second); });
    }
    found[0] = readBilRows(fd, d, d.values.data(), parts[0].first, parts[0].second);
    for (auto& h : helpers) h.join();
    for (size_t t = 0; t < parts.size() && stop.row == INT64_MAX; ++t) stop = found[t];
    progress.turns(next - at);
    at = next;
  }
  ::close(fd);
  // Rows are checked as they are read: a row north of the stop that fails the class check
  // is reported first.
  if (check) {
    const int64_t checked = std::min<int64_t>(stop.row, d.nrows);
    const size_t from = static_cast<size_t>(d.nrows - checked) * nc;
    for (size_t k = from; k < d.values.size(); ++k) {
      if (!integralValue(d.values[k], d.nodata)) {
        fr.units.close(unit);
        return frame::endWithListedError(
            fr, {" When Majority or Minority is asked for the", " values in a grid file must be positive integers.",
                 " ", " ", "   File: " + dataName});
      }
    }
  }
  if (stop.row != INT64_MAX) {
    fr.units.close(unit);
    if (stop.readFailed)
      return frame::endWithListedError(fr, {" The Tervala file " + dataName + " could not be read."});
    return frame::endWithListedError(
        fr, {" The Tervala file " + dataName + " holds a value that is not a number at row " +
             std::to_string(stop.row + 1) + ", column " + std::to_string(stop.column + 1) + "."});
  }
  fr.units.close(unit);
  return false;
}

// Reads the rows of an opened ASC or BIL file from north to south into the grid (held whole) or
// into scratch (checked only), checking each row. Returns err.
bool readRowsNorthFirst(frame::Frame& fr, GridDescription& d, const GridSource& src, OpenGrid& o, bool asc, int unit,
                        bool check, std::vector<float>& scratch, frame::ProgressCounter& progress) {
  const size_t nc = static_cast<size_t>(d.ncols);
  const std::string& dataName = o.dataName;
  const bool bil16 = o.bil16;
  const bool nanNodata = o.nanNodata;
  std::vector<unsigned char> raw(nc * (bil16 ? 2 : 4));
  std::string token;
  for (int32_t r = d.nrows; r >= 1; --r) {
    float* row = src.kept ? d.values.data() + d.index(1, r) : scratch.data();
    if (asc) {
      for (size_t c = 0; c < nc; ++c) {
        ListReader::Result res = o.asc.next(row[c], token);
        if (res == ListReader::Result::Value) {
          if (std::isfinite(row[c])) continue;
          if (nanNodata && std::isnan(row[c])) {
            row[c] = d.nodata;
            continue;
          }
          res = ListReader::Result::Bad;
        }
        fr.units.close(unit);
        const std::string where = "row " + std::to_string(d.nrows - r + 1) + ", column " + std::to_string(c + 1);
        if (res == ListReader::Result::End) {
          return frame::endWithListedError(
              fr, {" The Tervala file " + dataName + " holds fewer values than its header says:",
                   " the values end at " + where + " of " + std::to_string(d.nrows) + " rows of " +
                       std::to_string(d.ncols) + " columns."});
        }
        if (res == ListReader::Result::ReadError) {
          return frame::endWithListedError(fr,
                                           {" The Tervala file " + dataName + " could not be read at " + where + "."});
        }
        return frame::endWithListedError(
            fr,
            {" The Tervala file " + dataName + " holds a value that is not a number at " + where + ":", " " + token});
      }
    } else {
      if (!o.bin.read(raw.data(), raw.size())) {
        fr.units.close(unit);
        return frame::endWithListedError(fr, {" The Tervala file " + dataName + " could not be read."});
      }
      if (bil16) {
        for (size_t c = 0; c < nc; ++c) {
          const int16_t v = static_cast<int16_t>(raw[2 * c] | (raw[2 * c + 1] << 8));
          row[c] = static_cast<float>(v);
        }
      } else {
        for (size_t c = 0; c < nc; ++c) {
          const uint32_t bits = static_cast<uint32_t>(raw[4 * c]) | (static_cast<uint32_t>(raw[4 * c + 1]) << 8) |
                                (static_cast<uint32_t>(raw[4 * c + 2]) << 16) |
                                (static_cast<uint32_t>(raw[4 * c + 3]) << 24);
          float v;
          std::memcpy(&v, &bits, 4);
          if (!std::isfinite(v)) {
            fr.units.close(unit);
            return frame::endWithListedError(
                fr, {" The Tervala file " + dataName + " holds a value that is not a number at row " +
                     std::to_string(d.nrows - r + 1) + ", column " + std::to_string(c + 1) + "."});
          }
          row[c] = v;
        }
      }
    }
    if (check) {
      for (size_t c = 0; c < nc; ++c) {
        if (!integralValue(row[c], d.nodata)) {
          fr.units.close(unit);
          return frame::endWithListedError(
              fr, {" When Majority or Minority is asked for the", " values in a grid file must be positive integers.",
                   " ", " ", "   File: " + dataName});
        }
      }
    }
    progress.turn();
  }
  return false;
}

bool HANDLETERVALAGRID(frame::Frame& fr, const Structure& s, GridSets& g, const std::string& runMethod,
                       const std::string& line, int lineCount) {
  std::string type, values, name, item;
  // The file type: ASC, BIL, or a raster GDAL reads.
  if (frame::PARAM(fr, line, 2, type) <= 0) {
    return frame::endWithListedError(
        fr, {" No file type for a TERVALA grid file in line:", " ", "   Command line: " + line});
  }
  if (type != "BIL" && type != "ASC" && !gdalRasterType(type)) {
    return frame::endWithListedError(fr, {" File type for a TERVALA grid file must be ASC or BIL:", " ", " ", line,
                                          " (Also TIF, a GeoTIFF, and GDAL, any raster GDAL reads.)"});
  }
  // What the values stand for: whole cells or the cells' middles.
  frame::PARAM(fr, line, 3, values);
  if (values.empty()) values = "CELL";
  if (values != "CELL" && values != "MIDDLE") {
    return frame::endWithListedError(fr, {" No correct assignment of vaules type in a TERVALA grid file.",
                                          " It must be CELL or MIDDLE.", " ", "   Command line: " + line});
  }
  // The file's name.
  if (frame::PARAM(fr, line, 4, name, ",", 200) <= 0) {
    return frame::endWithListedError(fr,
                                     {" No file descriptor for a TERVALA grid file.", " ", "   Command line: " + line});
  }
  // A unit for the file, and the set's place among the grid sets.
  const int unit = fr.units.FREEFILE(100);
  g.descriptions.emplace_back();
  g.sets.push_back(GridSet{"RECTANGULAR", static_cast<int>(g.descriptions.size()) - 1});
  GridDescription& d = g.descriptions.back();
  g.sources.resize(g.descriptions.size());
  // Item 5 is the priority unless it is a named item (#VALUES=, or BAND= of a GDAL raster).
  if (PARWHERE("#VALUES", line) != 5) {
    if (frame::PARAM(fr, line, 5, item, ",=") > 0 && !(gdalRasterType(type) && item.rfind("BAND=", 0) == 0)) {
      frame::UNFORM(fr, line, 5, "I4", d.priority);
    }
  }
  frame::NAMEDV(fr, line, "#VALUES", "I4", d.numberOfValues);
  if (gdalRasterType(type)) {
    const bool err = readGdalGridSet(fr, s, g, d, type, values, name, line, runMethod, lineCount);
    fr.units.close(unit);
    return err;
  }

  OpenGrid o;
  if (openGridFile(fr, g, d, type, name, unit, o)) return true;
  const std::string& dataName = o.dataName;
  const bool bil16 = o.bil16;
  warnOnOtherCrs(fr, s, dataName);
  // Whether the set lies on the structure's own grid, and what its values stand for.
  d.sameGeometry = EQUALSBASICSTRUCTURE(s, d);
  d.valuesType = values == "CELL" ? ValuesAt::Cell : ValuesAt::Middle;
  // The values are held whole when the run keeps them; otherwise every row is still read
  // and checked here, and the cell loop reads the rows again band by band.
  const uint64_t cells = static_cast<uint64_t>(d.ncols) * static_cast<uint64_t>(d.nrows);
  GridSource& src = g.sources.back();
  src.asc = type == "ASC";
  src.sixteenBit = bil16;
  src.dataName = dataName;
  src.path = frame::resolveInputName(dataName);
  src.kept = g.keptBytes + 4 * cells <= g.keepLimit;
  std::vector<float> scratch;
  try {
    if (src.kept) {
      roomForFill(d.values, cells);
      d.values.resize(cells);
      g.keptBytes += 4 * cells;
    } else {
      scratch.resize(static_cast<size_t>(d.ncols));
    }
  } catch (const std::bad_alloc&) {
    fr.units.close(unit);
    return frame::endWithListedError(fr, {" The Tervala file " + dataName + " of " + std::to_string(d.ncols) +
                                          " columns and " + std::to_string(d.nrows) + " rows does not fit in memory."});
  }
  // The progress display of the reading, a turn a row.
  frame::ProgressCounter progress(fr, "Read grid file " + frame::fmtI(lineCount, 2, 2), d.nrows);
  // The rows from north to south; under MAJORITY (and MINORITY, but for 16-bit BIL, whose
  // values are integers) every value must be a class number.
  const bool check = runMethod == "MAJORITY" || (runMethod == "MINORITY" && !bil16);
  if (type != "ASC" && !bil16 && src.kept && littleEndianHost() && d.nrows > 0) {
    return readBilInPlace(fr, d, src, dataName, unit, check, progress);
  }
  if (readRowsNorthFirst(fr, d, src, o, type == "ASC", unit, check, scratch, progress)) return true;
  // Read and checked: the file is closed.
  fr.units.close(unit);
  return false;
}

bool startRowWindow(frame::Frame& fr, GridDescription& d, std::vector<float>& held, const std::string& dataName,
                    int32_t lo, int32_t hi, int32_t& heldLo, int32_t& heldHi) {
  const size_t nc = static_cast<size_t>(d.ncols);
  // The rows held before that the new window holds too are kept.
  held.swap(d.values);
  heldLo = d.rowLow;
  heldHi = nc == 0 ? heldLo - 1 : heldLo + static_cast<int32_t>(held.size() / nc) - 1;
  try {
    d.values.assign(static_cast<size_t>(hi - lo + 1) * nc, 0.0f);
  } catch (const std::bad_alloc&) {
    return frame::endWithListedError(fr, {" The rows " + std::to_string(lo) + " to " + std::to_string(hi) +
                                          " of the Tervala file " + dataName + " do not fit in memory."});
  }
  d.rowLow = lo;
  return false;
}

// The reader of a grid that is read again band by band: an ASC file goes on from the row where
// the last band ended (it is stored north first), a BIL file seeks to each row.
struct RowStream {
  std::unique_ptr<ListReader> asc;
  frame::BinaryInputFile bin;
  int32_t next = 0;  // ASC: the row the file gives next
  std::vector<unsigned char> raw;
  std::vector<float> held;
};

bool loadGridRows(frame::Frame& fr, GridSets& g, int description, int32_t lo, int32_t hi) {
  GridDescription& d = g.descriptions[static_cast<size_t>(description)];
  GridSource& src = g.sources[static_cast<size_t>(description)];
  if (src.kept || lo > hi) return false;
  if (src.gdalStream) return loadGdalGridRows(fr, g, description, lo, hi);
  const size_t nc = static_cast<size_t>(d.ncols);
  auto failed = [&](int32_t r) {
    return frame::endWithListedError(fr, {" The Tervala file " + src.dataName + " could not be read again at row " +
                                              std::to_string(d.nrows - r + 1) + ":",
                                          " it was changed or removed during the run."});
  };
  auto openAsc = [&](RowStream& st) {
    st.asc = std::make_unique<ListReader>();
    if (st.asc->open(src.path) != 0 || !st.asc->skipLines(6)) return false;
    st.next = d.nrows;
    return true;
  };
  if (!src.stream) {
    auto st = std::make_shared<RowStream>();
    const bool ok = src.asc ? openAsc(*st) : st->bin.open(src.path) == 0;
    if (!ok) return failed(hi);
    st->raw.resize(nc * (src.sixteenBit ? 2 : 4));
    src.stream = st;
  }
  RowStream& st = *src.stream;
  int32_t heldLo = 0, heldHi = 0;
  if (startRowWindow(fr, d, st.held, src.dataName, lo, hi, heldLo, heldHi)) return true;
  std::string token;
  for (int32_t r = hi; r >= lo; --r) {
    float* row = d.values.data() + d.index(1, r);
    if (r >= heldLo && r <= heldHi) {
      std::copy_n(st.held.data() + static_cast<size_t>(r - heldLo) * nc, nc, row);
      continue;
    }
    if (src.asc) {
      if (st.next < r && !openAsc(st)) return failed(r);  // asked for a row passed already
      for (; st.next >= r; --st.next) {
        for (size_t c = 0; c < nc; ++c) {
          float v = 0.0f;
          if (st.asc->next(v, token) != ListReader::Result::Value) return failed(st.next);
          if (st.next == r) row[c] = v;
        }
      }
      continue;
    }
    const uint64_t at = static_cast<uint64_t>(d.nrows - r) * st.raw.size();
    if (!st.bin.seek(at) || !st.bin.read(st.raw.data(), st.raw.size())) return failed(r);
    const unsigned char* raw = st.raw.data();
    for (size_t c = 0; c < nc; ++c) {
      if (src.sixteenBit) {
        row[c] = static_cast<float>(static_cast<int16_t>(raw[2 * c] | (raw[2 * c + 1] << 8)));
      } else {
        const uint32_t bits = static_cast<uint32_t>(raw[4 * c]) | (static_cast<uint32_t>(raw[4 * c + 1]) << 8) |
                              (static_cast<uint32_t>(raw[4 * c + 2]) << 16) |
                              (static_cast<uint32_t>(raw[4 * c + 3]) << 24);
        std::memcpy(&row[c], &bits, 4);
      }
    }
  }
  std::vector<float>().swap(st.held);
  return false;
}

}  // namespace grid
