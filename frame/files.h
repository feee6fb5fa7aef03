#pragma once
// The file system and the process environment: the only place that opens files,
// reads the environment or asks for the program's own path.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace frame {

// Names from the command file may be upper-cased and use "\" or "/". A name is tried
// exactly first, then case-insensitively, one path component at a time.
std::string resolveInputName(const std::string& name);
// The name with "\" turned into "/", as the file system wants it.
std::string nativeName(const std::string& name);
bool fileExists(const std::string& name);
// Removes a file; false when it could not be removed.
bool removeFile(const std::string& name);
bool isDirectory(const std::string& name);
// Whether two names lead to one existing file (the same device and inode).
bool sameFile(const std::string& a, const std::string& b);
// The size in bytes of a regular file; the largest number when it is not one (a pipe, a
// device) or cannot be examined, so that no size check refuses it.
uint64_t fileSize(const std::string& name);

// The lines of a text file in one buffer: line k is data[start[k], start[k+1]) without its
// end of line (a trailing CR goes too).
struct TextLines {
  std::string data;
  std::vector<size_t> start, end;
  size_t size() const { return start.size(); }
  std::string_view operator[](size_t k) const { return std::string_view(data).substr(start[k], end[k] - start[k]); }
};
// Reads a whole text file. Returns 0 on success, otherwise the system's error number;
// openFailed tells which step failed. maxRecords > 0 stops after that many lines.
int readTextLines(const std::string& name, TextLines& lines, bool& openFailed, size_t maxRecords = 0);
// Cuts lines.data into its lines as readTextLines does (maxRecords > 0: no more than that many).
void splitTextLines(TextLines& lines, size_t maxRecords = 0);
// The same as separate strings, for small files.
int readTextRecords(const std::string& name, std::vector<std::string>& records, bool& openFailed,
                    size_t maxRecords = 0);

// Reads a file in large blocks, as they come: the text of an ASC grid for its number parser,
// and the lines of a LineReader. A folder is refused at open.
class BlockReader {
 public:
  BlockReader() = default;
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;
  int open(const std::string& name);  // 0 or the error number
  // Fills dst with up to cap bytes; returns the count (0 at the end of the file, -1 on error).
  long readBlock(char* dst, size_t cap);
  void close();

 private:
  int fd_ = -1;
};

// Reads a text file line by line, a block at a time through a BlockReader, holding no more
// than a block.
class LineReader {
 public:
  int open(const std::string& name);  // 0 or the error number
  // The next line without its end of line; false at the end of the file.
  bool next(std::string& line);
  // Whole lines, each with its end of line, into text (emptied first) until it holds at least
  // `want` bytes or the file ends, where the last line may have none. They are not counted:
  // the caller tells how many it took with countLines. False when no line was left.
  bool nextLines(std::string& text, size_t want);
  void countLines(size_t n) { number_ += n; }
  size_t lineNumber() const { return number_; }

 private:
  // The next block into the buffer once it is used up; false at the end of the file.
  bool refill();
  BlockReader in_;
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0, number_ = 0;
  bool eof_ = false;
};

// Creates an empty file (status NEW). Returns 0 or the error number.
int createEmptyFile(const std::string& name);

// A text file written line by line (listing, error file, table files).
class TextOutputFile {
 public:
  TextOutputFile() = default;
  ~TextOutputFile();
  TextOutputFile(const TextOutputFile&) = delete;
  TextOutputFile& operator=(const TextOutputFile&) = delete;
  // append: keep the old contents and write after them. Returns 0 or the error number.
  int open(const std::string& name, bool append);
  // Writes into text instead of a file (a file system held in memory).
  void openInMemory(std::string& text);
  void writeLine(const std::string& text);
  void write(const char* data, size_t n);
  // Flushes; returns 0 or the error number of the first failed write.
  int flush();
  int close();
  bool isOpen() const { return f_ != nullptr || memory_ != nullptr; }
  int error() const { return err_; }

 private:
  FILE* f_ = nullptr;
  std::string* memory_ = nullptr;
  int err_ = 0;
  std::vector<char> buf_;
};

// Whether an output file can be made under name: 0, or the error number that writing it
// would meet (a missing or read-only folder, a folder of that name). Leaves nothing behind.
int checkOutputPlace(const std::string& name);

// An output file that appears under its name only when it is complete, and leaves nothing
// behind when the process dies before that, even by SIGKILL or the out-of-memory killer.
// It is written as an unnamed file in the target's folder (O_TMPFILE) and linked into place
// by commit(); an existing file of that name is replaced in one step. Where the file system
// has no unnamed files it is written under a temporary name beside the target,
// "<target>.tmp.<host>.<process id>.<6 characters>", which a signal handler removes; one left
// by a killed process is removed by the next run that writes the same target on that host.
class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
  // sync: commit() also forces the file and its folder to the disk (survives a power loss).
  int open(const std::string& name, bool sync = false);  // 0 or the error number
  void write(const void* data, size_t n);
  // Writes the blocks one after the other, straight from where they lie rather than through
  // the buffer: the rows of a grid, which lie in memory in the reverse of the file's order,
  // go to the file without being copied first.
  struct Block {
    const void* data;
    size_t size;
  };
  void writeBlocks(const std::vector<Block>& blocks);
  // Flushes what was written to the file system (and to the disk with sync) without putting
  // it in place yet, so that files that belong together (a BIL and its HDR) can then be
  // committed one right after the other. Optional: commit() does it when it was not done.
  // 0 or the error number; after a failure the file is abandoned.
  int complete();
  // Puts the file in place; 0 or the error number. After a failure the temporary file is
  // removed and the target is left as it was.
  int commit();
  void abandon();
  const std::string& name() const { return target_; }
  // True while written as an unnamed file (nothing to remove should the process die).
  bool unnamed() const { return unnamed_; }

 private:
  FILE* f_ = nullptr;
  int fd_ = -1;  // the unnamed file, kept open for the link after f_ is closed
  int err_ = 0;
  bool sync_ = false, unnamed_ = false, completed_ = false;
  std::string target_, temp_;
  std::vector<char> buf_;
};

// A temporary file beside a target for a writer that needs a file name of its own (GDAL writes
// a GeoTIFF by name and seeks in it): "<target>.tmp.<host>.<process id>.<6 characters>" as
// AtomicOutputFile's named temporaries, removed when the run is ended by a signal, and by the
// next run that writes the same target should the process die. The target appears only at
// commit(), complete.
class TemporaryBeside {
 public:
  TemporaryBeside() = default;
  ~TemporaryBeside();  // a temporary not committed is removed
  TemporaryBeside(const TemporaryBeside&) = delete;
  TemporaryBeside& operator=(const TemporaryBeside&) = delete;
  // Creates the file, empty, beside target. 0 or the error number.
  int create(const std::string& target);
  const std::string& path() const { return temp_; }
  // Puts the file in place of target in one step; with sync the file and then its folder are
  // forced to the disk. 0 or the error number; after a failure the temporary is removed.
  int commit(const std::string& target, bool sync);
  void remove();

 private:
  std::string temp_;
};

// True unless TERVALA_NAMED_TEMPORARIES=1 asks for named temporary files everywhere (for a
// file system whose unnamed files misbehave, and to test that path).
bool unnamedTemporariesAllowed();
// Removes the temporary files of earlier runs on this host, for the target, whose process no
// longer lives. AtomicOutputFile::open does it; returns the number removed.
int removeStaleTemporaries(const std::string& target);

// Sequential binary input with bounds checks: a short read is an error, never garbage.
class BinaryInputFile {
 public:
  BinaryInputFile() = default;
  ~BinaryInputFile();
  BinaryInputFile(const BinaryInputFile&) = delete;
  BinaryInputFile& operator=(const BinaryInputFile&) = delete;
  int open(const std::string& name);  // 0 or the error number
  uint64_t size() const { return size_; }
  uint64_t position() const { return pos_; }
  uint64_t remaining() const { return size_ - pos_; }
  // Reads exactly n bytes; false (and nothing consumed) when fewer remain or on an error.
  bool read(void* dst, size_t n);
  bool seek(uint64_t pos);
  void close();
  bool isOpen() const { return f_ != nullptr; }

 private:
  FILE* f_ = nullptr;
  uint64_t size_ = 0, pos_ = 0;
};

// Writes text as the only line of the progress file, which another process may read at any
// time; the file is locked for exclusive use while it is written, waiting while it is locked.
void writeProgressFile(const std::string& name, const std::string& text);

// Process environment.
std::string currentDirectory();
std::string programPath(const std::string& argv0);
std::optional<std::string> environmentVariable(const char* name);
std::vector<std::string> splitPathList(const std::string& list);

// The memory this process can still take, in bytes: the system's available memory, or the
// address-space limit when that is lower. 0 when it cannot be told.
uint64_t availableMemory();

// Temporary output files still open are removed when the run is ended by a signal.
void removePendingTemporaries() noexcept;

}  // namespace frame
