#include "frame/filesystem.h"

#include <strings.h>

#include <cerrno>

namespace frame {

int FileSystem::readTextRecords(const std::string& name, std::vector<std::string>& records, bool& openFailed,
                                size_t maxRecords) {
  TextLines lines;
  records.clear();
  const int e = readTextLines(name, lines, openFailed, maxRecords);
  for (size_t k = 0; e == 0 && k < lines.size(); ++k) records.emplace_back(lines[k]);
  return e;
}

// ---------------------------------------------------------------- the disk

std::string DiskFileSystem::resolveInputName(const std::string& name) {
  return frame::resolveInputName(name);
}

bool DiskFileSystem::fileExists(const std::string& name) {
  return frame::fileExists(name);
}

bool DiskFileSystem::isDirectory(const std::string& name) {
  return frame::isDirectory(name);
}

int DiskFileSystem::readTextLines(const std::string& name, TextLines& lines, bool& openFailed, size_t maxRecords) {
  return frame::readTextLines(name, lines, openFailed, maxRecords);
}

int DiskFileSystem::openTextOutput(const std::string& name, bool append, std::unique_ptr<TextOutputFile>& out) {
  out = std::make_unique<TextOutputFile>();
  return out->open(name, append);
}

std::optional<std::string> DiskFileSystem::environmentVariable(const char* name) {
  return frame::environmentVariable(name);
}

std::string DiskFileSystem::currentDirectory() {
  return frame::currentDirectory();
}

std::string DiskFileSystem::programPath(const std::string& argv0) {
  return frame::programPath(argv0);
}

DiskFileSystem& diskFileSystem() {
  static DiskFileSystem disk;
  return disk;
}

// ---------------------------------------------------------------- in memory

const MemoryFileSystem::Entry* MemoryFileSystem::find(const std::string& name) const {
  auto it = entries_.find(nativeName(name));
  return it == entries_.end() ? nullptr : &it->second;
}

std::string MemoryFileSystem::resolveInputName(const std::string& name) {
  const std::string n = nativeName(name);
  if (n.empty() || entries_.count(n)) return n;
  for (const auto& [held, entry] : entries_) {
    if (held.size() == n.size() && ::strcasecmp(held.c_str(), n.c_str()) == 0) return held;
  }
  return n;
}

bool MemoryFileSystem::fileExists(const std::string& name) {
  return find(resolveInputName(name)) != nullptr;
}

bool MemoryFileSystem::isDirectory(const std::string& name) {
  const Entry* e = find(name);
  return e && e->folder;
}

int MemoryFileSystem::readTextLines(const std::string& name, TextLines& lines, bool& openFailed, size_t maxRecords) {
  lines = TextLines();
  openFailed = false;
  const Entry* e = find(name);
  if (!e || (e->error != 0 && e->openFailed)) {
    openFailed = true;
    return e ? e->error : ENOENT;
  }
  if (e->folder) return EISDIR;
  if (e->error != 0) return e->error;
  // Lines end at "\n"; a "\r" before it goes too, and a last line needs no end.
  lines.data = e->text;
  splitTextLines(lines, maxRecords);
  return 0;
}

int MemoryFileSystem::openTextOutput(const std::string& name, bool append, std::unique_ptr<TextOutputFile>& out) {
  out = std::make_unique<TextOutputFile>();
  const std::string n = nativeName(name);
  auto it = entries_.find(n);
  if (it != entries_.end() && it->second.folder) return EISDIR;
  if (it != entries_.end() && it->second.error != 0) return it->second.error;
  Entry& e = entries_[n];
  if (!append) e.text.clear();
  out->openInMemory(e.text);
  return 0;
}

std::optional<std::string> MemoryFileSystem::environmentVariable(const char* name) {
  auto it = environment.find(name);
  if (it == environment.end()) return std::nullopt;
  return it->second;
}

void MemoryFileSystem::addFile(const std::string& name, const std::string& text) {
  Entry& e = entries_[nativeName(name)];
  e = Entry();
  e.text = text;
}

void MemoryFileSystem::addFolder(const std::string& name) {
  Entry& e = entries_[nativeName(name)];
  e = Entry();
  e.folder = true;
}

void MemoryFileSystem::failOn(const std::string& name, int e, bool openFailed) {
  Entry& entry = entries_[nativeName(name)];
  entry.error = e;
  entry.openFailed = openFailed;
}

std::string MemoryFileSystem::text(const std::string& name) const {
  const Entry* e = find(name);
  return e ? e->text : std::string();
}

std::vector<std::string> MemoryFileSystem::lines(const std::string& name) const {
  std::vector<std::string> out;
  const std::string t = text(name);
  size_t from = 0;
  while (from < t.size()) {
    const size_t nl = t.find('\n', from);
    out.push_back(t.substr(from, nl == std::string::npos ? std::string::npos : nl - from));
    if (nl == std::string::npos) break;
    from = nl + 1;
  }
  return out;
}

}  // namespace frame
