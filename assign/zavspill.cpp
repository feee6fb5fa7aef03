#include "assign/zavspill.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "frame/files.h"

namespace assign {

namespace {

constexpr size_t kBuffer = size_t(1) << 20;

}  // namespace

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) ::close(fd_);
}

int ScratchFile::open(const std::string& folder) {
  const std::string dir = folder.empty() ? "." : folder;
  int fd = -1;
  if (frame::unnamedTemporariesAllowed()) fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // No unnamed files here: a named one, gone from the folder before anything is written.
    std::string tmpl = dir + "/.tervala-scratch.XXXXXX";
    std::vector<char> t(tmpl.begin(), tmpl.end());
    t.push_back('\0');
    fd = ::mkstemp(t.data());
    if (fd < 0) return errno;
    ::unlink(t.data());
  }
  fd_ = fd;
  buf_.reserve(kBuffer);
  return 0;
}

uint64_t ScratchFile::append(const void* data, size_t n) {
  const uint64_t at = size_;
  const char* p = static_cast<const char*>(data);
  size_ += n;
  while (n > 0) {
    const size_t take = std::min(n, kBuffer - buf_.size());
    buf_.insert(buf_.end(), p, p + take);
    p += take;
    n -= take;
    if (buf_.size() == kBuffer) flush();
  }
  return at;
}

int ScratchFile::flush() {
  size_t done = 0;
  while (done < buf_.size() && err_ == 0) {
    const ssize_t w = ::pwrite(fd_, buf_.data() + done, buf_.size() - done, static_cast<off_t>(written_ + done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      err_ = w < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(w);
  }
  written_ += buf_.size();
  buf_.clear();
  return err_;
}

bool ScratchFile::readAt(uint64_t offset, void* dst, size_t n) const {
  char* p = static_cast<char*>(dst);
  while (n > 0) {
    const ssize_t r = ::pread(fd_, p, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return true;
}

int ZavSpill::open(const std::string& folder, int32_t ncols, size_t uses) {
  uses_ = uses;
  cursor_.assign(static_cast<size_t>(ncols) + 1, 0);
  end_.assign(static_cast<size_t>(ncols) + 1, 0);
  return file_.open(folder);
}

void ZavSpill::encode(int32_t top, int32_t bottom, size_t uses, const std::vector<uint32_t>& counts,
                      const std::vector<uint32_t>& rowStart, const std::vector<ZavPiece>& pieces, std::string& record) {
  record.clear();
  auto put = [&](const void* p, size_t n) { record.append(static_cast<const char*>(p), n); };
  // North first, the order in which the bands read them.
  for (int32_t j = top; j >= bottom; --j) {
    const size_t r = static_cast<size_t>(j - bottom);
    const size_t total = rowStart[r + 1] - rowStart[r];
    if (total == 0) continue;
    put(&j, sizeof j);
    put(counts.data() + r * uses, uses * sizeof(uint32_t));
    put(pieces.data() + rowStart[r], total * sizeof(ZavPiece));
  }
}

void ZavSpill::addColumn(int32_t i, const std::string& record) {
  const size_t c = static_cast<size_t>(i);
  cursor_[c] = file_.append(record.data(), record.size());
  end_[c] = cursor_[c] + record.size();
}

bool ZavSpill::load(int32_t lo, int32_t hi, int32_t rowsLeft, ZavBand& band) {
  const size_t uses = uses_;
  const int32_t nc = static_cast<int32_t>(cursor_.size()) - 1;
  const size_t h = static_cast<size_t>(hi - lo + 1);
  band.lo = lo;
  band.hi = hi;
  band.ncols = nc;
  band.uses = uses;
  band.start.assign(static_cast<size_t>(nc) * h * uses + 1, 0);
  band.pieces.clear();
  const size_t header = sizeof(int32_t) + uses * sizeof(uint32_t);
  uint32_t* start = band.start.data();
  std::vector<uint32_t> counts(uses);
  for (int32_t i = 1; i <= nc; ++i) {
    const size_t c = static_cast<size_t>(i);
    // What the band holds of this column is read in one go, its share of what is left guessed
    // from the rows left, and read on when the guess falls short.
    const uint64_t left = end_[c] - cursor_[c];
    size_t have = 0, pos = 0;
    bool readError = false;
    auto ensure = [&](size_t n) {
      if (have - pos >= n) return true;
      const uint64_t rest = left - have, need = n - (have - pos);
      if (need > rest) return false;
      const uint64_t guess = left * h / static_cast<uint64_t>(std::max(rowsLeft, 1)) + 4096;
      const size_t more = static_cast<size_t>(std::min(std::max(guess, need), rest));
      buf_.resize(have + more);
      if (!file_.readAt(cursor_[c] + have, buf_.data() + have, more)) {
        readError = true;
        return false;
      }
      have += more;
      return true;
    };
    const size_t base = static_cast<size_t>(i - 1) * h * uses;
    while (ensure(header)) {
      int32_t row;
      std::memcpy(&row, buf_.data() + pos, sizeof row);
      if (row < lo) break;
      std::memcpy(counts.data(), buf_.data() + pos + sizeof(int32_t), uses * sizeof(uint32_t));
      size_t total = 0;
      for (size_t k = 0; k < uses; ++k) total += counts[k];
      if (!ensure(header + total * sizeof(ZavPiece))) return false;
      const size_t first = band.pieces.size();
      band.pieces.resize(first + total);
      std::memcpy(static_cast<void*>(band.pieces.data() + first), buf_.data() + pos + header, total * sizeof(ZavPiece));
      // Counts first, then turned into starts; the rows without a record count nothing.
      for (size_t k = 0; k < uses; ++k) start[base + static_cast<size_t>(hi - row) * uses + k + 1] = counts[k];
      pos += header + total * sizeof(ZavPiece);
    }
    if (readError) return false;
    cursor_[c] += pos;
  }
  // The counts into starts.
  for (size_t k = 1; k < band.start.size(); ++k) band.start[k] += band.start[k - 1];
  return true;
}

int MaskColumns::open(const std::string& folder, int32_t ncols, int32_t nrows) {
  ncols_ = ncols;
  nrows_ = nrows;
  bands_.clear();
  first_ = count_ = 0;
  return file_.open(folder);
}

void MaskColumns::addBand(int32_t lo, int32_t hi, const uint8_t* mask) {
  // Column after column, each its rows from lo up.
  const size_t h = static_cast<size_t>(hi - lo + 1), nc = static_cast<size_t>(ncols_);
  scratch_.resize(h * nc);
  for (size_t r = 0; r < h; ++r) {
    for (size_t c = 0; c < nc; ++c) scratch_[c * h + r] = mask[r * nc + c];
  }
  bands_.push_back({lo, hi, file_.append(scratch_.data(), scratch_.size())});
}

bool MaskColumns::column(int32_t i, int32_t window, std::vector<uint8_t>& out) {
  const size_t nr = static_cast<size_t>(nrows_);
  if (i < first_ || i >= first_ + count_) {
    first_ = i;
    count_ = std::max(1, std::min(window, ncols_ - i + 1));
    window_.resize(static_cast<size_t>(count_) * nr);
    for (const Band& b : bands_) {
      const size_t h = static_cast<size_t>(b.hi - b.lo + 1);
      scratch_.resize(h * static_cast<size_t>(count_));
      if (!file_.readAt(b.offset + static_cast<uint64_t>(i - 1) * h, scratch_.data(), scratch_.size())) return false;
      for (size_t c = 0; c < static_cast<size_t>(count_); ++c)
        std::memcpy(window_.data() + c * nr + static_cast<size_t>(b.lo - 1), scratch_.data() + c * h, h);
    }
  }
  const uint8_t* p = window_.data() + static_cast<size_t>(i - first_) * nr;
  out.assign(p, p + nr);
  return true;
}

}  // namespace assign
