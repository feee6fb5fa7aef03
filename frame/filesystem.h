#pragma once
// The file system as the start-up and the structure see it: finding and reading small text
// files (DEVICE.CNF, the command file, grid headers), opening the listing and the error file,
// the environment and the program's own path. The run goes to the disk through
// DiskFileSystem; tests hand the frame a MemoryFileSystem and need no folders at all.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/files.h"

namespace frame {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // An input name as found: exactly first, then case-insensitively one component at a time.
  virtual std::string resolveInputName(const std::string& name) = 0;
  // Whether a file or folder is found under the name (resolved as above).
  virtual bool fileExists(const std::string& name) = 0;
  virtual bool isDirectory(const std::string& name) = 0;
  // Reads a whole text file: 0, or the system's error number with openFailed telling whether
  // the file could not be opened or not be read. maxRecords > 0 stops after that many lines.
  virtual int readTextLines(const std::string& name, TextLines& lines, bool& openFailed, size_t maxRecords) = 0;
  // Opens a text file for writing (append keeps what it holds): 0 or the error number.
  virtual int openTextOutput(const std::string& name, bool append, std::unique_ptr<TextOutputFile>& out) = 0;
  virtual std::optional<std::string> environmentVariable(const char* name) = 0;
  virtual std::string currentDirectory() = 0;
  // The program's own file, for finding what is installed beside it.
  virtual std::string programPath(const std::string& argv0) = 0;

  int readTextLines(const std::string& name, TextLines& lines, bool& openFailed) {
    return readTextLines(name, lines, openFailed, 0);
  }
  // The same as separate strings, for small files (headers).
  int readTextRecords(const std::string& name, std::vector<std::string>& records, bool& openFailed,
                      size_t maxRecords = 0);
};

// The process's own file system and environment.
class DiskFileSystem : public FileSystem {
 public:
  std::string resolveInputName(const std::string& name) override;
  bool fileExists(const std::string& name) override;
  bool isDirectory(const std::string& name) override;
  int readTextLines(const std::string& name, TextLines& lines, bool& openFailed, size_t maxRecords) override;
  int openTextOutput(const std::string& name, bool append, std::unique_ptr<TextOutputFile>& out) override;
  std::optional<std::string> environmentVariable(const char* name) override;
  std::string currentDirectory() override;
  std::string programPath(const std::string& argv0) override;
  using FileSystem::readTextLines;
};

// The one disk file system of the process (it holds no state).
DiskFileSystem& diskFileSystem();

// Files, folders and an environment held in memory (tests). Names are taken as given ("\" is
// read as "/"); a name not found exactly is looked for case-insensitively, as on the disk.
class MemoryFileSystem : public FileSystem {
 public:
  std::string resolveInputName(const std::string& name) override;
  bool fileExists(const std::string& name) override;
  bool isDirectory(const std::string& name) override;
  int readTextLines(const std::string& name, TextLines& lines, bool& openFailed, size_t maxRecords) override;
  int openTextOutput(const std::string& name, bool append, std::unique_ptr<TextOutputFile>& out) override;
  std::optional<std::string> environmentVariable(const char* name) override;
  std::string currentDirectory() override { return cwd; }
  std::string programPath(const std::string&) override { return program; }
  using FileSystem::readTextLines;

  void addFile(const std::string& name, const std::string& text);
  void addFolder(const std::string& name);
  // A file that is there but cannot be read (openFailed: not even opened) or, for an output,
  // not be written: the operation fails with error number e.
  void failOn(const std::string& name, int e, bool openFailed = true);
  // The text written to (or held by) a file; empty when there is none.
  std::string text(const std::string& name) const;
  // Its lines, without their ends of line.
  std::vector<std::string> lines(const std::string& name) const;

  std::map<std::string, std::string> environment;
  std::string cwd = "/work";
  std::string program = "/opt/tervala/bin/TervalaGridCreate";

 private:
  struct Entry {
    bool folder = false;
    std::string text;
    int error = 0;
    bool openFailed = true;
  };
  const Entry* find(const std::string& name) const;
  std::map<std::string, Entry> entries_;
};

}  // namespace frame
