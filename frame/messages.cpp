#include "frame/messages.h"

#include <cstdio>

#include "frame/pager.h"
#include "frame/startup.h"
#include "frame/text.h"

namespace frame {

namespace {

// The kind of a heading line (" ERROR", " ******Error", " WARNING", "REMARK"), or empty.
std::string headingKind(const std::string& line) {
  std::string t = trimmed(line);
  size_t a = t.find_first_not_of('*');
  if (a == std::string::npos) return {};
  t = upper(t.substr(a));
  if (t == "ERROR" || t == "WARNING" || t == "REMARK") return t;
  return {};
}

// Underlines and frames of a block (" *****", "~~~~~~", " +++++"): not message text.
bool underline(const std::string& t) {
  return !t.empty() && t.find_first_not_of("*~+-") == std::string::npos;
}

void emitBlock(Frame& fr, const std::string& kind, const std::vector<std::string>& text, const std::string& location) {
  if (text.empty() && kind.empty()) return;
  std::string head = fr.programName.empty() ? "TervalaGridCreate" : fr.programName;
  head += ": ";
  if (!kind.empty()) head += kind + ": ";
  if (!location.empty()) head += location + ": ";
  fr.console.errorLine(head + (text.empty() ? std::string() : text.front()));
  for (size_t i = 1; i < text.size(); ++i) fr.console.errorLine("    " + text[i]);
}

}  // namespace

void echoMessages(Frame& fr, const std::vector<std::string>& lines, bool always, const std::string& location,
                  const std::string& defaultKind) {
  std::string kind = defaultKind;
  std::vector<std::string> text;
  bool inBlock = always;
  for (const auto& l : lines) {
    std::string k = headingKind(l);
    if (!k.empty()) {
      if (inBlock && (!text.empty() || !kind.empty())) emitBlock(fr, kind, text, location);
      kind = k;
      text.clear();
      inBlock = true;
      continue;
    }
    if (!inBlock) continue;
    std::string t = trimmed(l);
    if (t.empty() || underline(t)) continue;
    text.push_back(t);
  }
  if (inBlock && (!text.empty() || !kind.empty())) emitBlock(fr, kind, text, location);
}

void logLine(Frame& fr, const std::string& text) {
  if (fr.console.interactive()) return;
  fr.console.errorLine((fr.programName.empty() ? std::string("TervalaGridCreate") : fr.programName) + ": " + text);
}

void logStep(Frame& fr, const std::string& text, double start) {
  if (fr.console.interactive()) return;
  char t[32];
  std::snprintf(t, sizeof t, " (%.2f s)", fr.clock.monotonicSeconds() - start);
  logLine(fr, text + t);
}

std::vector<std::string> errorHeading() {
  return {" ", " ERROR", " *****", " "};
}

void writeErrorUnit(Frame& fr, const std::vector<std::string>& lines) {
  echoMessages(fr, lines, true);
  SETLU(fr, fr.errorUnit, "SET");
  for (const auto& l : lines) PAGN2(fr, "NEWLINE", l);
  SETLU(fr, fr.errorUnit, "RESET");
}

void writeListing(Frame& fr, const std::vector<std::string>& lines) {
  echoMessages(fr, lines, false);
  for (const auto& l : lines) PAGN2(fr, "NEWLINE", l);
}

bool endWithError(Frame& fr, const std::vector<std::string>& message) {
  std::vector<std::string> lines = errorHeading();
  lines.insert(lines.end(), message.begin(), message.end());
  writeErrorUnit(fr, lines);
  ENDPR(fr);
  return true;
}

bool endWithListedError(Frame& fr, const std::vector<std::string>& message) {
  std::vector<std::string> lines = errorHeading();
  lines.insert(lines.end(), message.begin(), message.end());
  writeListing(fr, lines);
  ENDPR(fr);
  return true;
}

void inputLeftOut(Frame& fr, const std::vector<std::string>& message) {
  std::vector<std::string> lines = errorHeading();
  lines.insert(lines.end(), message.begin(), message.end());
  writeErrorUnit(fr, lines);
  fr.inputLeftOut = true;
}

void warningBlock(Frame& fr, const std::vector<std::string>& message, const std::string& location) {
  std::vector<std::string> lines = {" ", " WARNING", " *******", " "};
  lines.insert(lines.end(), message.begin(), message.end());
  echoMessages(fr, lines, false, location);
  for (const auto& l : lines) PAGN2(fr, "NEWLINE", l);
}

void writeErrorDirect(Frame& fr, const std::vector<std::string>& lines) {
  echoMessages(fr, lines, true, {}, "ERROR");
  // Straight to the error unit's file, outside the pager: these lines start no page and are
  // not counted on one.
  TextOutputFile* out = fr.units.output(fr.errorUnit);
  if (!out) {
    for (const auto& l : lines) fr.early.push_back(trimRight(l));
    return;
  }
  for (const auto& l : lines) out->writeLine(trimRight(l));
}

void stopRun(Frame& fr, int code) {
  ENDPR(fr);
  throw Stop{code};
}

void stopWithMessage(Frame& fr, MessageTo to, const std::vector<std::string>& lines, int code) {
  switch (to) {
    case MessageTo::ErrorUnit:
      writeErrorUnit(fr, lines);
      break;
    case MessageTo::Listing:
      writeListing(fr, lines);
      break;
    case MessageTo::ErrorFileDirect:
      writeErrorDirect(fr, lines);
      break;
  }
  stopRun(fr, code);
}

void fatalErrorBlock(Frame& fr, const std::vector<std::string>& lines, int code) {
  echoMessages(fr, lines, true, {}, "ERROR");
  SETLU(fr, fr.errorUnit, "SET");
  for (const auto& l : lines) PAGN2(fr, "NEWLINE", l);
  PAGN2(fr, "WAIT", " ");
  stopRun(fr, code);
}

bool reportFailure(Frame& fr, const Failure& f) {
  echoMessages(fr, f.lines, true, {}, "ERROR");
  if (f.toErrorUnit) {
    SETLU(fr, fr.errorUnit, "SET");
    for (const auto& l : f.lines) PAGN2(fr, "NEWLINE", l);
    if (f.stopCode == 0) SETLU(fr, fr.errorUnit, "RESET");
  } else {
    for (const auto& l : f.lines) PAGN2(fr, "NEWLINE", l);
  }
  if (f.stopCode != 0) {
    PAGN2(fr, "WAIT", " ");
    stopRun(fr, f.stopCode);
  }
  ENDPR(fr);
  return true;
}

}  // namespace frame
