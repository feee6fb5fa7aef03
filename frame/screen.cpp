#include "frame/screen.h"

#include "frame/cmdfile.h"
#include "frame/files.h"
#include "frame/text.h"

namespace frame {

namespace {
const char* const kColourNames[16] = {"BLACK",    "BLUE",         "GREEN",  "CYAN",      "RED",        "MAGENTA",
                                      "BROWN",    "WHITE",        "GRAY",   "LIGHTBLUE", "LIGHTGREEN", "LIGHTCYAN",
                                      "LIGHTRED", "LIGHTMAGENTA", "YELLOW", "WHITEHIGH"};
}

int colourCode(std::string_view name, int among) {
  std::string n = upper(trimmed(name.substr(0, name.size() < 12 ? name.size() : 12)));
  for (int i = 0; i < among && i < 16; ++i) {
    if (n == kColourNames[i]) return i;
  }
  return -1;
}

void ATTRIB(Frame& fr, std::string_view line, int& attribute) {
  int sum = 0;
  std::string item;
  for (int k = 2; PARAM(fr, line, k, item, ",", 200) >= 0; ++k) {
    std::string w = upper(item);
    if (w == "UNDERLINE")
      sum += 1;
    else if (w == "NORMAL")
      sum += 7;
    else if (w == "REVERSE")
      sum += 112;
    else if (w == "HIGHINTENSITY")
      sum += 8;
    else if (w == "BLINKING")
      sum += 128;
  }
  // Accepted: a base of 1, 7 or 112, optionally with 8 and/or 128.
  const int base = sum & ~(8 | 128);
  if (base == 1 || base == 7 || base == 112) attribute = sum;
}

void INITCL(Frame& fr, int unit) {
  if (TextInputUnit* in = fr.units.input(unit)) in->rewind();
  VULREG(fr, "COLOURTABLE", "END:COLOURTABLE", unit, false, LineMode::CHANGE);
  fr.colours.clear();
  const BlockTable& t = fr.block;
  for (int i = 2; i <= t.count(); ++i) {
    const std::string& line = t.lines[static_cast<size_t>(i - 1)];
    std::string first;
    if (PARAM(fr, line, 1, first, ",", 200) <= 0) continue;
    if (upper(first) == "END:COLOURTABLE") continue;
    if (fr.colours.size() >= 64) break;
    ColourEntry e;
    e.name = upper(first).substr(0, 16);
    UNFORM(fr, line, 2, "I4", e.number);
    UNFORM(fr, line, 3, "I4", e.second);
    if (e.second < 1) e.second = 1;
    fr.colours.push_back(e);
  }
}

std::string DIRPR(Frame& fr) {
  std::string path = fr.files.programPath(fr.args.empty() ? std::string() : fr.args[0]);
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int CLS(Frame& fr) {
  int bg = fr.textBg;
  fr.console.clear(bg);
  return bg;
}

void CLRPAG(Frame& fr, int colour) {
  fr.console.clear(colour);
}

void PUTCSR(Frame& fr, int row, int column) {
  fr.console.moveCursor(row, column);
}

void PUTST2(Frame& fr, int row, int column, int fg, int bg, std::string_view text) {
  fr.console.putText(row, column, fg, bg, text);
}

}  // namespace frame
