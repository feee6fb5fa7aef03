#pragma once
// A run frame for unit tests: recorded console, fixed clock, a temporary directory, and
// listing files that can be read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/clock.h"
#include "frame/console.h"
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

inline std::vector<std::string> readLines(const fs::path& p) {
  std::ifstream in(p);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

inline void writeFile(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
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

}  // namespace testing_support
