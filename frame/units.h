#pragma once
// Fortran-style unit numbers: each open file is known by a number. The listing, error and
// command roles and the rule that data files take the first free number from 100 follow it.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/files.h"

namespace frame {

// A text file held as its records, read sequentially with rewind and backspace.
class TextInputUnit {
 public:
  explicit TextInputUnit(TextLines lines) : lines_(std::move(lines)) {}
  // The next record; false at the end of the file.
  bool next(std::string_view& record) {
    if (pos_ >= lines_.size()) return false;
    record = lines_[pos_++];
    return true;
  }
  void rewind() { pos_ = 0; }
  void backspace() {
    if (pos_ > 0) --pos_;
  }
  size_t position() const { return pos_; }
  // Marks the record returned last as used by a step; the run names the command-file lines
  // that no step used.
  void markLast() { mark(pos_ - 1); }
  void mark(size_t record) {
    if (record >= lines_.size()) return;
    if (used_.size() < lines_.size()) used_.resize(lines_.size(), 0);
    used_[record] = 1;
  }
  bool used(size_t record) const { return record < used_.size() && used_[record] != 0; }
  void setPosition(size_t p) { pos_ = p < lines_.size() ? p : lines_.size(); }
  const TextLines& lines() const { return lines_; }

 private:
  TextLines lines_;
  size_t pos_ = 0;
  std::vector<uint8_t> used_;
};

struct UnitEntry {
  std::string name;
  std::unique_ptr<TextInputUnit> in;
  std::unique_ptr<TextOutputFile> out;
};

class UnitTable {
 public:
  bool connected(int unit) const { return units_.count(unit) != 0; }
  // FREEFILE: the first unit number from start upward that is not connected.
  int FREEFILE(int start) const;
  // LUCONN: the unit connected to a file of that name (trailing blanks ignored).
  bool LUCONN(const std::string& name, int& unit) const;
  const std::string& nameOf(int unit) const;
  TextInputUnit* input(int unit);
  TextOutputFile* output(int unit);
  void connectInput(int unit, const std::string& name, TextLines lines);
  void connectOutput(int unit, const std::string& name, std::unique_ptr<TextOutputFile> f);
  // Marks a unit as in use by a data file that is read or written elsewhere.
  void connectName(int unit, const std::string& name);
  void close(int unit);
  void flushAll();

 private:
  std::map<int, UnitEntry> units_;
};

// A unit number held for a data file while it is read: FREEFILE's number, connected to the
// file's name once the file is open, and closed again when the lease ends, on every way out
// (a return after an error block, a stop). A lease that never connected closes nothing, so it
// cannot close a unit that another reader took meanwhile.
class UnitLease {
 public:
  explicit UnitLease(UnitTable& units, int start = 100) : units_(units), unit_(units.FREEFILE(start)) {}
  ~UnitLease() { release(); }
  UnitLease(const UnitLease&) = delete;
  UnitLease& operator=(const UnitLease&) = delete;
  int number() const { return unit_; }
  void connect(const std::string& name) {
    units_.connectName(unit_, name);
    connected_ = true;
  }
  // Closes the unit now rather than at the end of the scope.
  void release() {
    if (connected_) units_.close(unit_);
    connected_ = false;
  }

 private:
  UnitTable& units_;
  int unit_;
  bool connected_ = false;
};

}  // namespace frame
