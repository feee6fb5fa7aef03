// The command-line item routines on arbitrary lines: PARAM with both separator forms, UNFORM
// of every type, NAMEDV and NAMEDS. A conversion error stops the run; nothing else may.
#include <cstdint>
#include <string>

#include "frame/clock.h"
#include "frame/console.h"
#include "frame/frame.h"
#include "frame/text.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::Split in = fuzz::split(data, size, 256);
  const std::string line(in.rest);
  frame::RecordingConsole console;
  frame::FixedClock clock(frame::DateTime{2026, 12, 8, 12, 5, 0, 0});
  frame::Frame fr(console, clock, {"TervalaGridCreate"});
  const int n = static_cast<int>(in.variant % 12);
  const std::string separator = (in.variant & 0x10) ? ",=" : ",";
  std::string item;
  try {
    // An item longer than the room given for it stops the run.
    const int room = static_cast<int>(in.variant) + 1;
    const int length = frame::PARAM(fr, line, n, item, separator, room);
    if (length > room || length < -1 || (length >= 0 && static_cast<int>(item.size()) != length)) __builtin_trap();
  } catch (const frame::Stop&) {
  }
  const char* types[] = {"I2", "I4", "R4", "R8"};
  try {
    switch ((in.variant >> 5) & 3) {
      case 0: {
        int16_t v = 0;
        frame::UNFORM(fr, line, n, types[0], v, separator);
        break;
      }
      case 1: {
        int32_t v = 0;
        frame::UNFORM(fr, line, n, types[1], v, separator);
        break;
      }
      case 2: {
        float v = 0;
        frame::UNFORM(fr, line, n, types[2], v, separator);
        break;
      }
      default: {
        double v = 0;
        frame::UNFORM(fr, line, n, types[3], v, separator);
        break;
      }
    }
  } catch (const frame::Stop&) {
  }
  try {
    int32_t i = 0;
    float r = 0;
    std::string s;
    int sl = 0;
    frame::NAMEDV(fr, line, "#VALUES", "I4", i);
    frame::NAMEDV(fr, line, "RADIUS", "R4", r);
    if (frame::NAMEDS(fr, line, "TABLE-USE", s, sl) && (sl < 0 || sl > static_cast<int>(s.size()))) __builtin_trap();
  } catch (const frame::Stop&) {
  }
  return 0;
}
