#include "frame/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>

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
  splitTextLines(lines, maxRecords);
  return 0;
}

void splitTextLines(TextLines& lines, size_t maxRecords) {
  const std::string& data = lines.data;
  lines.start.clear();
  lines.end.clear();
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
}

int readTextRecords(const std::string& name, std::vector<std::string>& records, bool& openFailed, size_t maxRecords) {
  TextLines lines;
  records.clear();
  const int e = readTextLines(name, lines, openFailed, maxRecords);
  for (size_t k = 0; e == 0 && k < lines.size(); ++k) records.emplace_back(lines[k]);
  return e;
}

int LineReader::open(const std::string& name) {
  return in_.open(name);
}

bool LineReader::refill() {
  if (eof_) return false;
  buf_.resize(1 << 16);
  const long n = in_.readBlock(buf_.data(), buf_.size());
  if (n <= 0) {  // the end, or a read error, which ends the lines as the end does
    eof_ = true;
    return false;
  }
  len_ = static_cast<size_t>(n);
  pos_ = 0;
  return true;
}

bool LineReader::nextLines(std::string& text, size_t want) {
  text.clear();
  text.reserve(want + (size_t{1} << 17));  // room for a block and a line beyond want
  for (;;) {
    if (text.size() >= want && !text.empty() && text.back() == '\n') return true;
    if (pos_ >= len_ && !refill()) return !text.empty();
    const char* start = buf_.data() + pos_;
    size_t take = len_ - pos_;
    if (text.size() >= want) {
      // Enough: only the rest of the line under way.
      const char* nl = static_cast<const char*>(std::memchr(start, '\n', take));
      if (nl) take = static_cast<size_t>(nl - start) + 1;
    }
    text.append(start, take);
    pos_ += take;
  }
}

bool LineReader::next(std::string& line) {
  line.clear();
  for (;;) {
    if (pos_ >= len_ && !refill()) {
      if (line.empty()) return false;
      ++number_;
      return true;
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

void TextOutputFile::openInMemory(std::string& text) {
  close();
  err_ = 0;
  memory_ = &text;
}

void TextOutputFile::write(const char* data, size_t n) {
  if (memory_) memory_->append(data, n);
  if (!f_ || n == 0) return;
  if (std::fwrite(data, 1, n, f_) != n && err_ == 0) err_ = errno ? errno : EIO;
}

void TextOutputFile::writeLine(const std::string& text) {
  if (!f_ && !memory_) return;
  write(text.data(), text.size());
  write("\n", 1);
}

int TextOutputFile::flush() {
  if (f_ && std::fflush(f_) != 0 && err_ == 0) err_ = errno ? errno : EIO;
  return err_;
}

int TextOutputFile::close() {
  memory_ = nullptr;
  if (f_) {
    flush();
    if (std::fclose(f_) != 0 && err_ == 0) err_ = errno ? errno : EIO;
    f_ = nullptr;
  }
  return err_;
}

// ---------------------------------------------------------------- AtomicOutputFile

namespace {

// The folder of a file name and the name within it.
std::pair<std::string, std::string> splitFolder(const std::string& name) {
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return {".", name};
  return {slash == 0 ? "/" : name.substr(0, slash), name.substr(slash + 1)};
}

// This host's name as it goes into temporary names: up to the first dot, letters, digits
// and "-" only, so that a run on another machine of a cluster never takes a temporary file
// of a live process here for a stale one.
const std::string& hostTag() {
  static const std::string tag = [] {
    char buf[256] = {};
    std::string t;
    if (::gethostname(buf, sizeof buf - 1) == 0) {
      for (const char* p = buf; *p && *p != '.' && t.size() < 32; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        t += std::isalnum(c) || c == '-' ? static_cast<char>(c) : '-';
      }
    }
    return t.empty() ? std::string("host") : t;
  }();
  return tag;
}

std::string temporaryPrefix(const std::string& target) {
  return target + ".tmp." + hostTag() + "." + std::to_string(::getpid()) + ".";
}

// Six characters that make a temporary name unique.
std::string uniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t v = static_cast<uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15ull ^ (counter.fetch_add(1) << 20) ^
               static_cast<uint64_t>(ts.tv_sec);
  std::string s(6, '0');
  for (char& c : s) {
    c = digits[v % 62];
    v /= 62;
  }
  return s;
}

// The process id of a temporary name "<base>.tmp.<host>.<pid>.<6 characters>" written on this
// host, or 0 when the name is not one.
long temporaryOwner(const std::string& entry, const std::string& base) {
  const std::string head = base + ".tmp." + hostTag() + ".";
  if (entry.compare(0, head.size(), head) != 0) return 0;
  const std::string rest = entry.substr(head.size());  // "<pid>.<6 characters>"
  const size_t dot = rest.find('.');
  if (dot == std::string::npos || dot == 0 || dot > 10 || rest.size() != dot + 7) return 0;
  long pid = 0;
  for (size_t k = 0; k < dot; ++k) {
    if (rest[k] < '0' || rest[k] > '9') return 0;
    pid = pid * 10 + (rest[k] - '0');
  }
  // Beyond the largest process id Linux hands out: not a name this program wrote.
  return pid <= 4194304 ? pid : 0;
}

bool processLives(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// Each folder is read once per run for temporary names: a run writing thousands of files into
// one folder does not read it thousands of times.
std::mutex g_staleMutex;
std::map<std::string, std::vector<std::string>> g_folderEntries;

int fsyncFolder(const std::string& folder) {
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return errno;
  int e = ::fsync(dfd) == 0 ? 0 : errno;
  ::close(dfd);
  // Some file systems cannot sync a folder; the file itself is on the disk then.
  return e == EINVAL || e == EROFS ? 0 : e;
}

// Puts the file at from in place of to in one step: a reader sees the old file or the new one,
// and a process killed at any moment leaves one of them under the name. (Removing the old file
// first, then renaming, would leave neither after a kill in between.) Returns 0 or the error
// number; a folder under the target's name is reported (EISDIR) and left alone.
int replaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

bool unnamedTemporariesAllowed() {
  const char* v = std::getenv("TERVALA_NAMED_TEMPORARIES");
  return !(v && std::strcmp(v, "1") == 0);
}

int removeStaleTemporaries(const std::string& target) {
  const auto [folder, base] = splitFolder(target);
  std::lock_guard<std::mutex> lock(g_staleMutex);
  auto it = g_folderEntries.find(folder);
  if (it == g_folderEntries.end()) {
    std::vector<std::string> names;
    const std::string mark = ".tmp." + hostTag() + ".";
    if (DIR* d = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(d)) {
        if (std::strstr(e->d_name, mark.c_str())) names.emplace_back(e->d_name);
      }
      ::closedir(d);
    }
    it = g_folderEntries.emplace(folder, std::move(names)).first;
  }
  int removed = 0;
  auto& names = it->second;
  for (size_t k = 0; k < names.size();) {
    const long pid = temporaryOwner(names[k], base);
    if (pid == 0) {
      ++k;
      continue;
    }
    if (pid != ::getpid() && !processLives(pid)) {
      const std::string path = folder == "." ? names[k] : (folder == "/" ? "/" : folder + "/") + names[k];
      if (::unlink(path.c_str()) == 0) ++removed;
    }
    names.erase(names.begin() + static_cast<std::ptrdiff_t>(k));
  }
  return removed;
}

AtomicOutputFile::~AtomicOutputFile() {
  abandon();
}

int AtomicOutputFile::open(const std::string& name, bool sync) {
  abandon();
  err_ = 0;
  target_ = name;
  sync_ = sync;
  completed_ = false;
  unnamed_ = false;
  removeStaleTemporaries(target_);
  const std::string folder = splitFolder(name).first;
  int fd = -1;
  if (unnamedTemporariesAllowed()) {
    // An unnamed file in the target's folder: it vanishes with the process until commit()
    // links it into place. Linking it by its /proc name needs no privilege.
    fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0 && ::access(("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd >= 0) {
    unnamed_ = true;
    fd_ = fd;
    f_ = ::fdopen(::fcntl(fd, F_DUPFD_CLOEXEC, 0), "wb");
  } else {
    // The file system has no unnamed files (or refused one for a reason the named file will
    // report: a missing or read-only folder).
    std::string tmpl = temporaryPrefix(name) + "XXXXXX";
    std::vector<char> t(tmpl.begin(), tmpl.end());
    t.push_back('\0');
    fd = ::mkstemp(t.data());
    if (fd < 0) return errno;
    ::fchmod(
        fd, 0666 & ~[] {
          mode_t m = ::umask(0);
          ::umask(m);
          return m;
        }());
    temp_.assign(t.data());
    registerPending(temp_.c_str());
    f_ = ::fdopen(fd, "wb");
    if (!f_) ::close(fd);
  }
  if (!f_) {
    int e = errno ? errno : EIO;
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

void AtomicOutputFile::writeBlocks(const std::vector<Block>& blocks) {
  if (!f_ || err_ != 0) return;
  // What the buffer holds goes first.
  if (std::fflush(f_) != 0) {
    err_ = errno ? errno : EIO;
    return;
  }
  const int fd = ::fileno(f_);
  constexpr size_t kMostAtOnce = 1024;  // IOV_MAX on Linux
  std::vector<iovec> io;
  for (size_t k = 0; k < blocks.size();) {
    io.clear();
    for (; k < blocks.size() && io.size() < kMostAtOnce; ++k) {
      if (blocks[k].size > 0) io.push_back({const_cast<void*>(blocks[k].data), blocks[k].size});
    }
    // A write may take less than it was given: it goes on from where it stopped.
    size_t first = 0;
    while (first < io.size()) {
      const ssize_t n = ::writev(fd, io.data() + first, static_cast<int>(io.size() - first));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        err_ = n < 0 && errno ? errno : EIO;
        return;
      }
      size_t done = static_cast<size_t>(n);
      while (first < io.size() && done >= io[first].iov_len) done -= io[first++].iov_len;
      if (done > 0) {
        io[first].iov_base = static_cast<char*>(io[first].iov_base) + done;
        io[first].iov_len -= done;
      }
    }
  }
}

int AtomicOutputFile::complete() {
  if (completed_) return 0;
  if (!f_) return err_ ? err_ : EBADF;
  if (err_ == 0 && std::fflush(f_) != 0) err_ = errno ? errno : EIO;
  if (err_ == 0 && sync_ && ::fsync(::fileno(f_)) != 0) err_ = errno;
  // A network file system may report a failed write only when the file is closed.
  if (std::fclose(f_) != 0 && err_ == 0) err_ = errno ? errno : EIO;
  f_ = nullptr;
  if (err_ != 0) {
    const int e = err_;
    abandon();
    err_ = e;
    return e;
  }
  completed_ = true;
  return 0;
}

int AtomicOutputFile::commit() {
  if (!completed_) {
    const int e = complete();
    if (e != 0) return e;
  }
  bool linkedDirectly = false;
  if (unnamed_) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      linkedDirectly = true;
    } else if (errno != EEXIST) {
      err_ = errno;
    } else {
      // A file of that name is there: link under a temporary name and replace it in one step.
      // Should the process die in between, the next run removes that name.
      const std::string prefix = temporaryPrefix(target_);
      for (int tries = 0; temp_.empty(); ++tries) {
        const std::string t = prefix + uniqueSuffix();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, t.c_str(), AT_SYMLINK_FOLLOW) == 0) {
          temp_ = t;
          registerPending(temp_.c_str());
        } else if (errno != EEXIST || tries > 100) {
          err_ = errno;
          break;
        }
      }
    }
  }
  if (err_ == 0 && !linkedDirectly) err_ = replaceFile(temp_, target_);
  if (err_ == 0 && !temp_.empty()) {
    // In place: the temporary name is gone.
    unregisterPending(temp_.c_str());
    temp_.clear();
  }
  // With SYNC the new name is on the disk only when its folder is. A failure there is
  // reported, though the file stays in place.
  if (err_ == 0 && sync_) err_ = fsyncFolder(splitFolder(target_).first);
  const int e = err_;
  abandon();  // closes the unnamed file; removes the temporary name after a failure
  err_ = e;
  return e;
}

void AtomicOutputFile::abandon() {
  if (f_) {
    std::fclose(f_);
    f_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    unregisterPending(temp_.c_str());
    temp_.clear();
  }
  completed_ = false;
}

// ---------------------------------------------------------------- TemporaryBeside

TemporaryBeside::~TemporaryBeside() {
  remove();
}

int TemporaryBeside::create(const std::string& target) {
  remove();
  removeStaleTemporaries(target);
  std::string tmpl = temporaryPrefix(target) + "XXXXXX";
  std::vector<char> t(tmpl.begin(), tmpl.end());
  t.push_back('\0');
  const int fd = ::mkstemp(t.data());
  if (fd < 0) return errno;
  // The permissions a new file gets (mkstemp gives the owner's only).
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  temp_.assign(t.data());
  registerPending(temp_.c_str());
  return 0;
}

int TemporaryBeside::commit(const std::string& target, bool sync) {
  if (temp_.empty()) return EBADF;
  int e = 0;
  if (sync) {
    const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      e = errno;
    } else {
      if (::fsync(fd) != 0) e = errno;
      ::close(fd);
    }
  }
  if (e == 0) e = replaceFile(temp_, target);
  if (e != 0) {
    remove();
    return e;
  }
  unregisterPending(temp_.c_str());
  temp_.clear();
  return sync ? fsyncFolder(splitFolder(target).first) : 0;
}

void TemporaryBeside::remove() {
  if (temp_.empty()) return;
  ::unlink(temp_.c_str());
  unregisterPending(temp_.c_str());
  temp_.clear();
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
