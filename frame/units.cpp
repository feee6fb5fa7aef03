#include "frame/units.h"

namespace frame {
namespace {
std::string trimRight(const std::string& s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string::npos ? std::string() : s.substr(0, n + 1);
}
}  // namespace

int UnitTable::FREEFILE(int start) const {
  int u = start;
  while (connected(u)) ++u;
  return u;
}

bool UnitTable::LUCONN(const std::string& name, int& unit) const {
  std::string n = trimRight(name);
  for (const auto& [u, e] : units_) {
    if (trimRight(e.name) == n) {
      unit = u;
      return true;
    }
  }
  // Another spelling of a connected file ("./run.out", a path through another folder) is
  // the same file: one file is one stream.
  for (const auto& [u, e] : units_) {
    if (!e.name.empty() && sameFile(nativeName(trimRight(e.name)), nativeName(n))) {
      unit = u;
      return true;
    }
  }
  return false;
}

const std::string& UnitTable::nameOf(int unit) const {
  static const std::string none;
  auto it = units_.find(unit);
  return it == units_.end() ? none : it->second.name;
}

TextInputUnit* UnitTable::input(int unit) {
  auto it = units_.find(unit);
  return it == units_.end() ? nullptr : it->second.in.get();
}

TextOutputFile* UnitTable::output(int unit) {
  auto it = units_.find(unit);
  return it == units_.end() ? nullptr : it->second.out.get();
}

void UnitTable::connectInput(int unit, const std::string& name, TextLines lines) {
  UnitEntry& e = units_[unit];
  e.name = name;
  e.out.reset();
  e.in = std::make_unique<TextInputUnit>(std::move(lines));
}

void UnitTable::connectOutput(int unit, const std::string& name, std::unique_ptr<TextOutputFile> f) {
  UnitEntry& e = units_[unit];
  e.name = name;
  e.in.reset();
  e.out = std::move(f);
}

void UnitTable::connectName(int unit, const std::string& name) {
  UnitEntry& e = units_[unit];
  e.name = name;
}

void UnitTable::close(int unit) {
  units_.erase(unit);
}

void UnitTable::flushAll() {
  for (auto& [u, e] : units_) {
    if (e.out) e.out->flush();
  }
}

}  // namespace frame
