#include "grid/rowreaders.h"

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
#include <thread>

#include "frame/format.h"
#include "frame/messages.h"
#include "frame/text.h"
#include "grid/bilheader.h"
#include "grid/gridsets.h"
#include "grid/structure.h"

namespace grid {

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
    if (frame::shortDecimal(std::string_view(token), v)) return Result::Value;
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

namespace {

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

// Whether every value of the row is a finite number (its exponent bits not all set): looked at
// whole, without stopping at the first, so that the compiler takes many values at a time.
bool allFinite(const float* row, size_t n) {
  uint32_t bad = 0;
  for (size_t c = 0; c < n; ++c) {
    uint32_t bits;
    std::memcpy(&bits, row + c, sizeof bits);
    bad |= static_cast<uint32_t>((bits & 0x7f800000u) == 0x7f800000u);
  }
  return bad == 0;
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
      if (allFinite(row, nc)) continue;
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

}  // namespace

std::string RowReader::faultPlace() const {
  return "row " + std::to_string(faultRow_ + 1) + ", column " + std::to_string(faultColumn_ + 1);
}

AscRowReader::AscRowReader() = default;
AscRowReader::~AscRowReader() = default;

int AscRowReader::open(const std::string& path, const std::string& dataName, const GridDescription& d, bool nanNodata) {
  path_ = path;
  dataName_ = dataName;
  describe(d, nanNodata);
  fault_ = RowFault::None;
  return restart();
}

int AscRowReader::restart() {
  next_ = 0;
  in_ = std::make_unique<ListReader>();
  const int e = in_->open(path_);
  if (e != 0) return e;
  // The values start after the six header lines; -1 when the file has fewer.
  return in_->skipLines(6) ? 0 : -1;
}

void AscRowReader::describe(const GridDescription& d, bool nanNodata) {
  ncols_ = d.ncols;
  nrows_ = d.nrows;
  nodata_ = d.nodata;
  nanNodata_ = nanNodata;
}

bool AscRowReader::nextRow(float* row) {
  const size_t nc = static_cast<size_t>(ncols_);
  for (size_t c = 0; c < nc; ++c) {
    ListReader::Result res = in_->next(row[c], token_);
    if (res == ListReader::Result::Value) {
      if (std::isfinite(row[c])) continue;
      if (nanNodata_ && std::isnan(row[c])) {
        row[c] = nodata_;
        continue;
      }
      res = ListReader::Result::Bad;
    }
    const RowFault f = res == ListReader::Result::End         ? RowFault::End
                       : res == ListReader::Result::ReadError ? RowFault::ReadError
                                                              : RowFault::NotANumber;
    return failed(f, next_, static_cast<int64_t>(c));
  }
  ++next_;
  return true;
}

bool AscRowReader::seekRow(int64_t north) {
  // The file is stored north first: a row passed already is reached from the start again.
  if (north < next_ && restart() != 0) return failed(RowFault::ReadError, north);
  skipped_.resize(static_cast<size_t>(ncols_));
  while (next_ < north) {
    if (!nextRow(skipped_.data())) return false;
  }
  return true;
}

std::vector<std::string> AscRowReader::faultMessage() const {
  const std::string where = faultPlace();
  if (fault_ == RowFault::End) {
    return {" The Tervala file " + dataName_ + " holds fewer values than its header says:",
            " the values end at " + where + " of " + std::to_string(nrows_) + " rows of " + std::to_string(ncols_) +
                " columns."};
  }
  if (fault_ == RowFault::ReadError) return {" The Tervala file " + dataName_ + " could not be read at " + where + "."};
  return {" The Tervala file " + dataName_ + " holds a value that is not a number at " + where + ":", " " + token_};
}

int BilRowReader::open(const std::string& path, const std::string& dataName, const GridDescription& d,
                       bool sixteenBit) {
  path_ = path;
  dataName_ = dataName;
  ncols_ = d.ncols;
  nrows_ = d.nrows;
  sixteenBit_ = sixteenBit;
  fault_ = RowFault::None;
  next_ = 0;
  raw_.resize(static_cast<size_t>(std::max(ncols_, 0)) * (sixteenBit ? 2 : 4));
  return bin_.open(path);
}

bool BilRowReader::nextRow(float* row) {
  if (!bin_.read(raw_.data(), raw_.size())) return failed(RowFault::ReadError, next_);
  const size_t nc = static_cast<size_t>(ncols_);
  if (sixteenBit_) {
    frame::le::loadFloats<int16_t>(raw_.data(), row, nc);
  } else {
    frame::le::loadFloats<float>(raw_.data(), row, nc);
    for (size_t c = 0; c < nc; ++c) {
      if (!std::isfinite(row[c])) return failed(RowFault::NotANumber, next_, static_cast<int64_t>(c));
    }
  }
  ++next_;
  return true;
}

bool BilRowReader::seekRow(int64_t north) {
  if (north == next_ && bin_.position() == static_cast<uint64_t>(north) * raw_.size()) return true;
  if (!bin_.seek(static_cast<uint64_t>(north) * raw_.size())) return failed(RowFault::ReadError, north);
  next_ = north;
  return true;
}

std::vector<std::string> BilRowReader::faultMessage() const {
  if (fault_ == RowFault::NotANumber) {
    return {" The Tervala file " + dataName_ + " holds a value that is not a number at " + faultPlace() + "."};
  }
  return {" The Tervala file " + dataName_ + " could not be read."};
}

bool BilRowReader::readInPlace(GridDescription& d, int threads, frame::ProgressCounter& progress) {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed(RowFault::ReadError, 0);
  const int64_t rowBytes = 4 * static_cast<int64_t>(d.ncols);
  threads = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(threads, rowBytes * d.nrows / (int64_t{4} << 20))));
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
  if (stop.row == INT64_MAX) return true;
  return failed(stop.readFailed ? RowFault::ReadError : RowFault::NotANumber, stop.row, stop.column);
}

namespace {

// The checks of the grid a header describes that do not depend on the file's format. Returns
// err.
bool checkGrid(frame::Frame& fr, const GridDescription& d, const std::string& dataName) {
  if (d.ncols < 0 || d.nrows < 0 || !(d.dx > 0.0) || !(d.dy > 0.0)) {
    return frame::endWithListedError(
        fr, {" The Tervala file " + dataName + " has no valid grid:",
             " the numbers of columns and rows must not be negative and the cell size must be positive."});
  }
  if (!withinCoordinateLimit(d)) {
    return frame::endWithListedError(fr, {" The Tervala file " + dataName + " has no valid grid:",
                                          " its corners lie beyond 1.0E+15, farther than any map reaches."});
  }
  return false;
}

bool cannotOpen(frame::Frame& fr, const std::string& dataName, int e) {
  return frame::endWithListedError(
      fr, {" The Tervala file " + dataName + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
}

}  // namespace

bool openAscRows(frame::Frame& fr, const std::string& name, frame::UnitLease& unit, GridDescription& d,
                 bool& sixteenBit, std::unique_ptr<AscRowReader>& reader) {
  // The six header lines, then the values, north row first.
  const std::string dataName = frame::GUMEXT(name, "ASC");
  const std::string path = frame::resolveInputName(dataName);
  std::vector<std::string> head;
  bool openFailed = false;
  const int e = frame::isDirectory(path) ? EISDIR : frame::readTextRecords(path, head, openFailed, 6);
  if (e != 0) return cannotOpen(fr, dataName, e);
  // The values are opened before the header is checked, so that a file that cannot be opened
  // is reported as such whatever its header (one of fewer than six lines is the header's fault).
  auto in = std::make_unique<AscRowReader>();
  const int opened = in->open(path, dataName, d, false);
  if (opened > 0) return cannotOpen(fr, dataName, opened);
  unit.connect(dataName);
  AscHeader h;
  AscHeaderResult r = readAscHeader(fr, head, h);
  if (r != AscHeaderResult::Ok) {
    return frame::endWithListedError(fr, ascHeaderMessage(r, "Tervala file " + dataName, h));
  }
  d.ncols = h.ncols;
  d.nrows = h.nrows;
  d.xll = h.xll;
  d.yll = h.yll;
  d.dx = d.dy = h.cellsize;
  d.nodata = h.nodata;
  // A NaN nodata_value (GDAL's for float grids) marks the NaN cells as missing values: they
  // are read as a number no cell holds, since NaN equals nothing.
  const bool nanNodata = std::isnan(d.nodata);
  if (nanNodata) d.nodata = std::numeric_limits<float>::lowest();
  d.gridKind = "BASIC";
  sixteenBit = false;
  if (checkGrid(fr, d, dataName)) return true;
  // Every ASC value takes at least a digit and a separator: a header that asks for more values
  // than the file can hold is found out before the grid is allocated.
  const uint64_t cells = static_cast<uint64_t>(d.ncols) * static_cast<uint64_t>(d.nrows);
  const uint64_t size = frame::fileSize(path);
  if (cells > 0 && 2 * cells - 1 > size) {
    return frame::endWithListedError(fr, {" The Tervala file " + dataName + " holds fewer values than its header says:",
                                          " " + std::to_string(size) + " bytes cannot hold " + std::to_string(d.nrows) +
                                              " rows of " + std::to_string(d.ncols) + " columns."});
  }
  // The reader learns the grid's size and nodata now that the header gave them.
  in->describe(d, nanNodata);
  reader = std::move(in);
  return false;
}

bool openBilRows(frame::Frame& fr, const std::string& name, frame::UnitLease& unit, GridDescription& d,
                 bool& sixteenBit, std::unique_ptr<BilRowReader>& reader) {
  // The header file beside it, then the binary rows, north row first.
  BilHeader h = READBILHDR(fr, name, "NOSTRUCTURE");
  sixteenBit = h.nbits == 16;
  d.ncols = h.ncols;
  d.nrows = h.nrows;
  d.xll = h.ulxmap - 0.5 * h.xdim;
  d.yll = h.ulymap + 0.5 * h.ydim - static_cast<double>(h.nrows) * h.ydim;
  d.dx = h.xdim;
  d.dy = h.ydim;
  d.nodata = h.nodata;
  d.gridKind = "BASIC";
  const std::string dataName = frame::GUMEXT(name, "BIL");
  auto in = std::make_unique<BilRowReader>();
  const int e = in->open(frame::resolveInputName(dataName), dataName, d, sixteenBit);
  if (e != 0) return cannotOpen(fr, dataName, e);
  unit.connect(dataName);
  const uint64_t need = static_cast<uint64_t>(h.ncols) * static_cast<uint64_t>(h.nrows) * (sixteenBit ? 2u : 4u);
  if (in->fileSize() < need) {
    return frame::endWithListedError(fr, {" The Tervala file " + dataName + " is shorter than its header says:",
                                          " it holds " + std::to_string(in->fileSize()) +
                                              " bytes, the header asks for " + std::to_string(need) + "."});
  }
  if (checkGrid(fr, d, dataName)) return true;
  reader = std::move(in);
  return false;
}

}  // namespace grid
