#include "fuzz/harness.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "assign/run.h"
#include "frame/clock.h"
#include "frame/console.h"
#include "frame/frame.h"

namespace fuzz {

namespace fs = std::filesystem;

namespace {

bool fileExists(const std::string& name) {
  std::error_code ec;
  return fs::is_regular_file(name, ec);
}

std::string readWhole(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

[[noreturn]] void breach(const std::string& what) {
  std::fprintf(stderr, "fuzz harness: %s\n", what.c_str());
  std::abort();
}

std::string lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// An ASC grid holds numbers only; a BIL of 32 bits holds finite floats (a 16-bit BIL cannot
// hold anything else).
void checkOutput(const std::string& name) {
  const std::string text = readWhole(name);
  const std::string lowerName = lowered(name);
  if (lowerName.size() > 4 && lowerName.compare(lowerName.size() - 4, 4, ".bil") == 0) {
    const std::string hdr = readWhole(name.substr(0, name.size() - 4) + ".HDR");
    if (hdr.find("NBITS 32") == std::string::npos) return;
    for (size_t at = 0; at + 4 <= text.size(); at += 4) {
      float v;
      std::memcpy(&v, text.data() + at, 4);
      if (!std::isfinite(v)) breach(name + " holds a value that is not a number");
    }
    return;
  }
  const std::string lower = lowered(text);
  if (lower.find("nan") != std::string::npos || lower.find("inf") != std::string::npos) {
    breach(name + " holds a value that is not a number");
  }
}

}  // namespace

std::string fixturePath(const std::string& name) {
  return std::string(TERVALA_FUZZ_FIXTURES) + "/" + name;
}

std::string fixture(const std::string& name) {
  const std::string p = fixturePath(name);
  if (!fileExists(p)) breach("fixture " + p + " is missing");
  return readWhole(p);
}

void enterWorkspace(const std::vector<std::pair<std::string, std::string>>& files) {
  static bool entered = false;
  if (entered) return;
  entered = true;
  std::string tmpl = (fs::temp_directory_path() / "tervala-fuzz-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr || ::chdir(tmpl.c_str()) != 0) breach("no work folder");
  // The folder goes when the process ends normally; a crashed run leaves it for inspection.
  static const std::string dir = tmpl;
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(dir, ec);
  });
  for (const auto& [name, contents] : files) writeFile(name, contents);
}

void writeFile(const std::string& name, std::string_view contents) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) breach("cannot write " + name);
}

int runProgram(const std::string& commandFile, const std::vector<std::string>& outputs) {
  for (const std::string& o : outputs) std::remove(o.c_str());
  std::remove("TervalaGridCreate.out");
  int status = 0;
  {
    frame::RecordingConsole console;
    frame::FixedClock clock(frame::DateTime{2026, 12, 8, 12, 5, 0, 0});
    assign::Run run(console, clock, {"TervalaGridCreate", "INPUT=" + commandFile, "THREADS=1"});
    try {
      status = assign::TERVALAGRIDCREATE(run);
    } catch (const frame::Stop& stop) {
      status = stop.code;
    } catch (const std::bad_alloc&) {
      status = 100;
    }
    run.fr.units.flushAll();
  }
  for (const std::string& o : outputs) {
    if (status == 0) {
      if (!fileExists(o)) breach("the run succeeded but " + o + " is missing");
      checkOutput(o);
    } else if (fileExists(o)) {
      breach("the run failed with status " + std::to_string(status) + " but left " + o);
    }
  }
  return status;
}

Split split(const uint8_t* data, size_t size, unsigned variants) {
  Split s;
  if (size == 0) return s;
  s.variant = data[0] % variants;
  s.rest = std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);
  return s;
}

}  // namespace fuzz
