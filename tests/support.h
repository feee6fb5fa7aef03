#pragma once
// A run frame for unit tests: recorded console, fixed clock, a temporary directory, and
// listing files that can be read back; or the same frame on a file system held in memory.
// And the check that a message block stands in a listing whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/clock.h"
#include "frame/console.h"
#include "frame/filesystem.h"
#include "frame/frame.h"
#include "frame/pager.h"

namespace testing_support {

namespace fs = std::filesystem;

inline fs::path makeTempDir() {
  std::string tmpl = (fs::temp_directory_path() / "tervala-test-XXXXXX").string();
  std::vector<char> t(tmpl.begin(), tmpl.end());
  t.push_back('\0');
  return fs::path(mkdtemp(t.data()));
}

// A temporary folder that goes, with what it holds, when the test is done with it.
struct TempDir {
  fs::path path = makeTempDir();
  TempDir() = default;
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

inline std::vector<std::string> readLines(const fs::path& p) {
  std::ifstream in(p);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

inline void writeFile(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// Whether block stands in lines as the user sees it: all its lines, one right after the other,
// in order, leading and trailing blanks included. A block that lost, gained or swapped a line
// is not found; the message then shows the block and the lines around its first line. A block
// that runs over a page turn of the listing is found across it, as the reader of the pages
// sees it.
// Whether a page turn of the listing starts at line at: a blank line, the footer "/<page>..", the
// heading line with "program =", its rule and a blank line.
inline bool pageTurnAt(const std::vector<std::string>& lines, size_t at) {
  if (at + 4 >= lines.size() || !lines[at].empty() || !lines[at + 4].empty()) return false;
  const std::string& f = lines[at + 1];
  const size_t slash = f.find('/');
  const bool footer = slash != std::string::npos && slash > 0 && f.find_first_not_of(' ') == slash &&
                      f.size() > slash + 3 && f.compare(f.size() - 2, 2, "..") == 0 &&
                      f.find_first_not_of("0123456789", slash + 1) == f.size() - 2;
  return footer && lines[at + 2].find(".  program = ") != std::string::npos && lines[at + 3] == std::string(76, '-');
}

// Whether block stands in lines from line at, read across page turns: the line that turns the
// page is written at the top of the next one, or left out when it is blank.
inline bool blockAt(const std::vector<std::string>& lines, size_t at, const std::vector<std::string>& block) {
  size_t j = at;
  for (const std::string& line : block) {
    if (j > at && pageTurnAt(lines, j)) {
      j += 5;
      if (line.empty()) continue;
    }
    if (j >= lines.size() || lines[j] != line) return false;
    ++j;
  }
  return true;
}

inline ::testing::AssertionResult hasBlock(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& block) {
  for (size_t i = 0; i < lines.size() && !block.empty(); ++i) {
    if (blockAt(lines, i, block)) return ::testing::AssertionSuccess();
  }
  if (block.empty()) return ::testing::AssertionSuccess();
  std::ostringstream why;
  why << "the block\n";
  for (const auto& l : block) why << "  [" << l << "]\n";
  // The lines from the first place where the block's first line that is not blank stands.
  size_t key = 0;
  while (key + 1 < block.size() && block[key].find_first_not_of(' ') == std::string::npos) ++key;
  size_t at = lines.size();
  for (size_t i = 0; i < lines.size() && at == lines.size(); ++i) {
    if (lines[i] == block[key]) at = i;
  }
  if (at == lines.size()) {
    why << "is not in the lines (its line [" << block[key] << "] is nowhere); the lines are\n";
    at = key;
  } else {
    why << "is not in the lines as it stands; around its line [" << block[key] << "] they are\n";
  }
  const size_t from = at > key + 2 ? at - key - 2 : 0;
  for (size_t i = from; i < lines.size() && i < from + block.size() + 6; ++i) why << "  [" << lines[i] << "]\n";
  return ::testing::AssertionFailure() << why.str();
}

// The lines of an ERROR block as the listing shows them: the heading (its blank lines are
// empty, as the listing holds no trailing blanks), then the message.
inline std::vector<std::string> errorBlock(std::vector<std::string> message) {
  std::vector<std::string> lines = {"", " ERROR", " *****", ""};
  lines.insert(lines.end(), message.begin(), message.end());
  return lines;
}

// The lines of a WARNING block as the listing shows them.
inline std::vector<std::string> warningLines(std::vector<std::string> message) {
  std::vector<std::string> lines = {"", " WARNING", " *******", ""};
  lines.insert(lines.end(), message.begin(), message.end());
  return lines;
}

struct TestFrame {
  frame::RecordingConsole console;
  frame::FixedClock clock{frame::DateTime{2026, 12, 8, 12, 5, 0, 0}};
  frame::Frame fr{console, clock, {"TervalaGridCreate"}};
  fs::path dir = makeTempDir();

  ~TestFrame() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path path(const std::string& name) const { return dir / name; }

  // Connects a text file as an output unit.
  void openOutput(int unit, const std::string& name) {
    auto f = std::make_unique<frame::TextOutputFile>();
    f->open(path(name).string(), false);
    fr.units.connectOutput(unit, path(name).string(), std::move(f));
  }
  // The listing on unit 11 with the pager directed to it, as after start-up.
  void openListing(const std::string& mode = "YE", int lines = 56) {
    openOutput(11, "listing.out");
    fr.version = 4.0f;
    fr.pager.mode = mode;
    fr.pager.linesPerPage = lines;
    frame::PROGRM(fr, "TervalaGridCreate");
    frame::SETLU(fr, 11, "INIT");
    frame::PAGN2(fr, "INIT", " ");
  }
  std::vector<std::string> lines(int unit = 11, const std::string& name = "listing.out") {
    fr.units.output(unit)->flush();
    return readLines(path(name));
  }
  // A text input unit holding these records.
  void input(int unit, const std::string& text) {
    frame::TextLines lines;
    lines.data = text;
    size_t from = 0;
    while (from < text.size()) {
      size_t nl = text.find('\n', from);
      if (nl == std::string::npos) nl = text.size();
      lines.start.push_back(from);
      lines.end.push_back(nl);
      from = nl + 1;
    }
    fr.units.connectInput(unit, "input" + std::to_string(unit), std::move(lines));
  }
};

// A run frame whose files are held in memory: DEVICE.CNF, the command file, the listing and
// the structure's header are files of `files`, and the program stands in
// /opt/tervala/bin with /work as the work folder.
struct MemoryFrame {
  frame::RecordingConsole console;
  frame::FixedClock clock{frame::DateTime{2026, 12, 8, 12, 5, 0, 0}};
  frame::MemoryFileSystem files;
  frame::Frame fr{console, clock, files, {"TervalaGridCreate"}};

  MemoryFrame() {
    // No key reader, whatever standard input is: waits end on the fixed clock.
    fr.keyboard.setActiveForTest(true);
  }
  // The listing on unit 11 with the pager directed to it, as after start-up.
  void openListing(const std::string& mode = "YE", int lines = 56) {
    std::unique_ptr<frame::TextOutputFile> f;
    files.openTextOutput("listing.out", false, f);
    fr.units.connectOutput(11, "listing.out", std::move(f));
    fr.version = 4.0f;
    fr.pager.mode = mode;
    fr.pager.linesPerPage = lines;
    frame::PROGRM(fr, "TervalaGridCreate");
    frame::SETLU(fr, 11, "INIT");
    frame::PAGN2(fr, "INIT", " ");
  }
  std::vector<std::string> lines(const std::string& name = "listing.out") const { return files.lines(name); }
  // The command file on its unit.
  void commands(const std::string& text) {
    files.addFile("job.pcf", text);
    frame::TextLines records;
    bool openFailed = false;
    files.readTextLines("job.pcf", records, openFailed);
    fr.units.connectInput(fr.commandUnit, "job.pcf", std::move(records));
  }
};

}  // namespace testing_support
