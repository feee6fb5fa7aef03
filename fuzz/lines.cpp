// The significant-line reader on arbitrary bytes: the command file as a unit, read line by
// line in every mode, then searched for keywords and blocks.
#include <cstdint>
#include <string>

#include "frame/clock.h"
#include "frame/cmdfile.h"
#include "frame/console.h"
#include "frame/files.h"
#include "frame/frame.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::Split in = fuzz::split(data, size, 4);
  frame::RecordingConsole console;
  frame::FixedClock clock(frame::DateTime{2026, 12, 8, 12, 5, 0, 0});
  frame::Frame fr(console, clock, {"TervalaGridCreate"});
  frame::TextLines lines;
  lines.data = std::string(in.rest);
  size_t from = 0;
  while (from < lines.data.size()) {
    size_t nl = lines.data.find('\n', from);
    if (nl == std::string::npos) nl = lines.data.size();
    lines.start.push_back(from);
    lines.end.push_back(nl);
    from = nl + 1;
  }
  fr.units.connectInput(10, "commands", std::move(lines));
  const frame::LineMode mode = (in.variant & 1) ? frame::LineMode::NOCHNG : frame::LineMode::CHANGE;
  try {
    std::string line;
    int count = 0;
    while (frame::SLEZEN(fr, 10, line, mode)) {
      if (++count > 1000000) __builtin_trap();  // a reader that never ends
      std::string single;
      frame::significantLine(line, single, mode, (in.variant & 2) != 0);
    }
    while (frame::PLEZEN(fr, 10, line)) {
    }
    frame::OPDR(fr, "STRUCTURE", 10, line, mode);
    frame::PRESNT(fr, "STOREFILE", 10, line, mode);
    frame::VULREG(fr, "STRUCTURE", "END:STRUCTURE", 10, false, mode);
  } catch (const frame::Stop&) {
  } catch (const frame::Failure&) {
  }
  return 0;
}
