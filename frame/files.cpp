#include "frame/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace frame {
namespace {

constexpr size_t kBufferSize = 1 << 20;

// Temporary files of outputs that are still being written, for removal on a signal.
std::array<std::atomic<const char*>, 64> g_pending{};

void registerPending(const char* path) {
  for (auto& slot : g_pending) {
    const char* expected = nullptr;
    if (slot.compare_exchange_strong(expected, path)) return;
  }
}

void unregisterPending(const char* path) {
  for (auto& slot : g_pending) {
    const char* expected = path;
    if (slot.compare_exchange_strong(expected, nullptr)) return;
  }
}

bool pathExists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

}  // namespace

std::string nativeName(const std::string& name) {
  std::string n = name;
  for (char& c : n) {
    if (c == '\\') c = '/';
  }
  return n;
}

std::string resolveInputName(const std::string& name) {
  std::string n = nativeName(name);
  if (n.empty() || pathExists(n)) return n;
  std::string cur;
  size_t i = 0;
  if (n[0] == '/') {
    cur = "/";
    i = 1;
  }
  while (i <= n.size()) {
    size_t j = n.find('/', i);
    if (j == std::string::npos) j = n.size();
    std::string comp = n.substr(i, j - i);
    i = j + 1;
    if (comp.empty()) continue;
    std::string dir = cur.empty() ? "." : cur;
    std::string next = cur.empty() ? comp : (cur.back() == '/' ? cur + comp : cur + "/" + comp);
    if (comp != "." && comp != ".." && !pathExists(next)) {
      std::string found;
      if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
          if (::strcasecmp(e->d_name, comp.c_str()) == 0) {
            found = e->d_name;
            break;
          }
        }
        ::closedir(d);
      }
      if (found.empty()) return n;
      next = cur.empty() ? found : (cur.back() == '/' ? cur + found : cur + "/" + found);
    }
    cur = next;
  }
  return cur.empty() ? n : cur;
}

bool fileExists(const std::string& name) {
  return pathExists(resolveInputName(name));
}

bool removeFile(const std::string& name) {
  return ::unlink(name.c_str()) == 0;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool isDirectory(const std::string& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint64_t fileSize(const std::string& name) {
  struct stat st;
  if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return UINT64_MAX;
  return static_cast<uint64_t>(st.st_size);
}

int readTextLines(const std::string& name, TextLines& lines, bool& openFailed, size_t maxRecords) {
  lines = TextLines();
  openFailed = false;
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    openFailed = true;
    return errno;
  }
  std::string& data = lines.data;
  // A regular file is read in one piece of its size (and one more byte to see its end), so
  // that small files do not pay for a large buffer.
  struct stat st;
  size_t expected = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) expected = static_cast<size_t>(st.st_size);
  size_t newlines = 0;
  for (;;) {
    const size_t at = data.size();
    const size_t chunk = expected > at ? expected - at + 1 : (expected > 0 ? 4096 : kBufferSize);
    data.resize(at + chunk);
    ssize_t n = ::read(fd, data.data() + at, chunk);
    if (n < 0) {
      if (errno == EINTR) {
        data.resize(at);
        continue;
      }
      int e = errno;
      ::close(fd);
      return e;
    }
    data.resize(at + static_cast<size_t>(n));
    if (n == 0) break;
    if (maxRecords > 0) {
      for (size_t k = at; k < data.size(); ++k) newlines += data[k] == '\n';
      if (newlines >= maxRecords) break;
    }
  }
  ::close(fd);
  data.shrink_to_fit();
  size_t from = 0;
  while (from < data.size()) {
    const size_t nl = data.find('\n', from);
    const size_t stop = nl == std::string::npos ? data.size() : nl;
    size_t len = stop - from;
    if (len > 0 && data[from + len - 1] == '\r') --len;
    lines.start.push_back(from);
    lines.end.push_back(from + len);
    if (nl == std::string::npos || (maxRecords > 0 && lines.size() >= maxRecords)) break;
    from = nl + 1;
  }
  return 0;
}

int readTextRecords(const std::string& name, std::vector<std::string>& records, bool& openFailed, size_t maxRecords) {
  TextLines lines;
  records.clear();
  const int e = readTextLines(name, lines, openFailed, maxRecords);
  for (size_t k = 0; e == 0 && k < lines.size(); ++k) records.emplace_back(lines[k]);
  return e;
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

int LineReader::open(const std::string& name) {
  fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return errno;
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return EISDIR;
  }
  return 0;
}

bool LineReader::next(std::string& line) {
  line.clear();
  for (;;) {
    if (pos_ >= len_) {
      if (eof_ || fd_ < 0) {
        if (line.empty()) return false;
        ++number_;
        return true;
      }
      buf_.resize(1 << 16);
      ssize_t n = ::read(fd_, buf_.data(), buf_.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        eof_ = true;
        continue;
      }
      len_ = static_cast<size_t>(n);
      pos_ = 0;
    }
    const char* start = buf_.data() + pos_;
    const char* nl = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
    if (!nl) {
      line.append(start, len_ - pos_);
      pos_ = len_;
      continue;
    }
    line.append(start, static_cast<size_t>(nl - start));
    pos_ = static_cast<size_t>(nl - buf_.data()) + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++number_;
    return true;
  }
}

int createEmptyFile(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

// ---------------------------------------------------------------- TextOutputFile

TextOutputFile::~TextOutputFile() {
  close();
}

int TextOutputFile::open(const std::string& name, bool append) {
  close();
  err_ = 0;
  f_ = std::fopen(name.c_str(), append ? "ab" : "wb");
  if (!f_) return errno ? errno : EIO;
  buf_.resize(1 << 16);
  std::setvbuf(f_, buf_.data(), _IOFBF, buf_.size());
  return 0;
}

void TextOutputFile::write(const char* data, size_t n) {
  if (!f_ || n == 0) return;
  if (std::fwrite(data, 1, n, f_) != n && err_ == 0) err_ = errno ? errno : EIO;
}

void TextOutputFile::writeLine(const std::string& text) {
  if (!f_) return;
  write(text.data(), text.size());
  write("\n", 1);
}

int TextOutputFile::flush() {
  if (f_ && std::fflush(f_) != 0 && err_ == 0) err_ = errno ? errno : EIO;
  return err_;
}

int TextOutputFile::close() {
  if (f_) {
    flush();
    if (std::fclose(f_) != 0 && err_ == 0) err_ = errno ? errno : EIO;
    f_ = nullptr;
  }
  return err_;
}

// ---------------------------------------------------------------- AtomicOutputFile

AtomicOutputFile::~AtomicOutputFile() {
  abandon();
}

int AtomicOutputFile::open(const std::string& name) {
  abandon();
  err_ = 0;
  target_ = name;
  // The temporary stays in the target's directory so that the rename cannot cross devices.
  std::string tmpl = name + ".tmpXXXXXX";
  std::vector<char> t(tmpl.begin(), tmpl.end());
  t.push_back('\0');
  int fd = ::mkstemp(t.data());
  if (fd < 0) {
    int e = errno;
    // Report the reason for the target itself (missing directory, no permission).
    int fd2 = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd2 >= 0) {
      ::close(fd2);
    } else {
      e = errno;
    }
    return e;
  }
  ::fchmod(
      fd, 0666 & ~[] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
      }());
  temp_.assign(t.data());
  registerPending(temp_.c_str());
  f_ = ::fdopen(fd, "wb");
  if (!f_) {
    int e = errno;
    ::close(fd);
    abandon();
    return e;
  }
  buf_.resize(kBufferSize);
  std::setvbuf(f_, buf_.data(), _IOFBF, buf_.size());
  return 0;
}

void AtomicOutputFile::write(const void* data, size_t n) {
  if (!f_ || n == 0 || err_ != 0) return;
  if (std::fwrite(data, 1, n, f_) != n) err_ = errno ? errno : EIO;
}

int AtomicOutputFile::commit() {
  if (!f_) return err_ ? err_ : EBADF;
  // Flushed to the system, the data outlives the process; the rename then shows it whole.
  if (err_ == 0 && std::fflush(f_) != 0) err_ = errno ? errno : EIO;
  if (std::fclose(f_) != 0 && err_ == 0) err_ = errno ? errno : EIO;
  f_ = nullptr;
  // The old file is removed first: replacing a file by rename makes the file system start
  // writing the new one out at once (tens of milliseconds for a large grid), where a plain
  // removal only frees the old blocks. What cannot be removed (a folder) is left for the
  // rename to report.
  if (err_ == 0) ::unlink(target_.c_str());
  if (err_ == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0) err_ = errno;
  if (err_ != 0) {
    int e = err_;
    abandon();
    err_ = e;
    return e;
  }
  unregisterPending(temp_.c_str());
  temp_.clear();
  return 0;
}

void AtomicOutputFile::abandon() {
  if (f_) {
    std::fclose(f_);
    f_ = nullptr;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    unregisterPending(temp_.c_str());
    temp_.clear();
  }
}

// ---------------------------------------------------------------- BinaryInputFile

BinaryInputFile::~BinaryInputFile() {
  close();
}

int BinaryInputFile::open(const std::string& name) {
  close();
  f_ = std::fopen(name.c_str(), "rb");
  if (!f_) return errno ? errno : EIO;
  struct stat st;
  if (::fstat(::fileno(f_), &st) != 0) {
    int e = errno;
    close();
    return e;
  }
  if (S_ISDIR(st.st_mode)) {
    close();
    return EISDIR;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  pos_ = 0;
  return 0;
}

bool BinaryInputFile::read(void* dst, size_t n) {
  if (!f_ || n > remaining()) return false;
  if (n == 0) return true;
  if (std::fread(dst, 1, n, f_) != n) return false;
  pos_ += n;
  return true;
}

bool BinaryInputFile::seek(uint64_t pos) {
  if (!f_ || pos > size_) return false;
  if (::fseeko(f_, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
  pos_ = pos;
  return true;
}

void BinaryInputFile::close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
  size_ = pos_ = 0;
}

// ---------------------------------------------------------------- BlockReader

BlockReader::~BlockReader() {
  close();
}

int BlockReader::open(const std::string& name) {
  close();
  fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return errno;
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    close();
    return EISDIR;
  }
  return 0;
}

long BlockReader::readBlock(char* dst, size_t cap) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t n = ::read(fd_, dst, cap);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

void BlockReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---------------------------------------------------------------- progress file

void writeProgressFile(const std::string& name, const std::string& text) {
  // A file that cannot be opened at all (missing directory, no permission) is skipped:
  // waiting for it would hang the run for nothing. A lock held by a reader is waited for.
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return;
    }
  }
  if (::ftruncate(fd, 0) == 0) {
    std::string line = text + "\n";
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
      ssize_t n = ::write(fd, p, left);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

// ---------------------------------------------------------------- environment

std::string currentDirectory() {
  std::vector<char> buf(4096);
  if (::getcwd(buf.data(), buf.size())) return buf.data();
  return ".";
}

std::string programPath(const std::string& argv0) {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n > 0) return std::string(buf.data(), static_cast<size_t>(n));
  return argv0;
}

std::optional<std::string> environmentVariable(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

std::vector<std::string> splitPathList(const std::string& list) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = list.find(':', start);
    std::string part = list.substr(start, p == std::string::npos ? std::string::npos : p - start);
    if (!part.empty()) out.push_back(part);
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return out;
}

uint64_t availableMemory() {
  uint64_t bytes = 0;
  if (FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      unsigned long long kib = 0;
      if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
        bytes = static_cast<uint64_t>(kib) * 1024u;
        break;
      }
    }
    std::fclose(f);
  }
  struct rlimit lim;
  if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
    const uint64_t as = static_cast<uint64_t>(lim.rlim_cur);
    if (bytes == 0 || as < bytes) bytes = as;
  }
  return bytes;
}

void removePendingTemporaries() noexcept {
  for (auto& slot : g_pending) {
    const char* p = slot.load();
    if (p) ::unlink(p);
  }
}

}  // namespace frame

namespace frame {

int checkOutputPlace(const std::string& name) {
  if (isDirectory(name)) return EISDIR;
  AtomicOutputFile probe;
  const int e = probe.open(name);
  probe.abandon();
  return e;
}

}  // namespace frame
