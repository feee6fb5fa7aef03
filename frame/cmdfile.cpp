#include "frame/cmdfile.h"

#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "frame/text.h"

namespace frame {

bool significantLine(std::string_view record, std::string& line, LineMode mode, bool blankForControl) {
  // The record as a 200-character field; its used length without trailing blanks or NULs.
  if (record.size() > 200) record = record.substr(0, 200);
  size_t n = record.size();
  while (n > 0 && (record[n - 1] == ' ' || record[n - 1] == '\0')) --n;
  size_t a = 0;
  // Leading blanks go; characters outside blank..tilde are replaced first, so a leading tab stays.
  auto mapped = [&](char ch) -> char {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 32 || c > 126) return blankForControl ? ' ' : '$';
    return ch;
  };
  while (a < n && mapped(record[a]) == ' ') ++a;
  size_t b = n;
  while (b > a && mapped(record[b - 1]) == ' ') --b;
  if (a == b) return false;
  char c0 = mapped(record[a]);
  if (c0 == '*') return false;
  if (c0 == '+' && b - a >= 2 && mapped(record[a + 1]) == '+') return false;
  line.clear();
  if (mode == LineMode::NOCHNG) {
    // Copied whole, then mapped in place: no character is appended one at a time.
    line.assign(record.data() + a, b - a);
    for (char& ch : line) ch = mapped(ch);
    return true;
  }
  // CHANGE: every blank goes, letters are upper-cased, and "$" is the blank that stays.
  line.reserve(b - a);
  for (size_t i = a; i < b; ++i) {
    char c = mapped(record[i]);
    if (c == ' ') continue;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '$') c = ' ';
    line += c;
  }
  return true;
}

bool SLEZEN(Frame& fr, int unit, std::string& line, LineMode mode) {
  TextInputUnit* in = fr.units.input(unit);
  if (!in) return false;
  std::string_view rec;
  while (in->next(rec)) {
    if (significantLine(rec, line, mode, false)) return true;
  }
  line.clear();
  return false;
}

bool PLEZEN(Frame& fr, int unit, std::string& line) {
  TextInputUnit* in = fr.units.input(unit);
  if (!in) return false;
  std::string_view rec;
  while (in->next(rec)) {
    if (significantLine(rec, line, LineMode::NOCHNG, true)) return true;
  }
  line.clear();
  return false;
}

std::string firstItemUpper(Frame& fr, std::string_view line) {
  // Most lines hold no backtick and no "=" before the first comma: take the item directly.
  size_t comma = line.find(',');
  std::string_view head = line.substr(0, comma);
  if (head.find('`') == std::string_view::npos && head.find('=') == std::string_view::npos &&
      head.find('$') == std::string_view::npos && line.find('`') == std::string_view::npos) {
    return upper(trimmed(head));
  }
  std::string item;
  PARAM(fr, line, 1, item, ",", 200);
  return upper(item);
}

namespace {

bool keyMatches(Frame& fr, const std::string& line, const std::string& key) {
  if (line.size() < key.size()) return false;
  return firstItemUpper(fr, line) == key;
}

}  // namespace

bool OPDR(Frame& fr, std::string_view key, int unit, std::string& line, LineMode mode) {
  std::string k = upper(trimmed(key.substr(0, key.size() < 60 ? key.size() : 60)));
  while (SLEZEN(fr, unit, line, mode)) {
    if (keyMatches(fr, line, k)) {
      fr.units.input(unit)->markLast();
      return true;
    }
  }
  return false;
}

bool PRESNT(Frame& fr, std::string_view key, int unit, std::string& line, LineMode mode) {
  std::string k = upper(trimmed(key.substr(0, key.size() < 60 ? key.size() : 60)));
  while (SLEZEN(fr, unit, line, mode)) {
    if (keyMatches(fr, line, k)) {
      fr.units.input(unit)->markLast();
      std::string item;
      return PARAM(fr, line, 2, item, ",", 200) > 0;
    }
  }
  return false;
}

void VULREG(Frame& fr, std::string_view start, std::string_view end, int unit, bool needed, LineMode mode) {
  const std::string startName = upper(trimmed(start.substr(0, start.size() < 20 ? start.size() : 20)));
  const std::string endName = upper(trimmed(end.substr(0, end.size() < 20 ? end.size() : 20)));
  std::string line;
  bool haveStart = true;
  if (!startName.empty()) haveStart = OPDR(fr, startName, unit, line, mode);
  BlockTable& t = fr.block;
  t.lines.clear();
  t.records.clear();
  t.unit = unit;
  t.current = 0;
  t.restart = false;
  TextInputUnit* in = fr.units.input(unit);
  auto store = [&](const std::string& l) {
    if (t.lines.size() >= 500) {
      std::vector<std::string> msg = {"BLOCK :", " "};
      if (!startName.empty() && !endName.empty()) {
        msg.push_back("Start line : " + startName);
        msg.push_back("End line   : " + endName);
      } else if (!startName.empty()) {
        msg.push_back("From start line : " + startName);
        msg.push_back("until end-of-file");
      } else if (!endName.empty()) {
        msg.push_back("From actual position");
        msg.push_back("until line : " + endName);
      } else {
        msg.push_back("From actual position until end-of-file");
      }
      msg.push_back("Number of lines in block greater " + fmtI(500, 3));
      msg.push_back("Shorten block or warn administrator.");
      msg.push_back("The program will stop.");
      fatalErrorBlock(fr, msg, 1);
    }
    t.lines.push_back(l.size() > 100 ? l.substr(0, 100) : l);
    t.records.push_back(in && in->position() > 0 ? in->position() - 1 : 0);
  };
  if (haveStart) {
    if (!startName.empty()) store(line);
    while (SLEZEN(fr, unit, line, mode)) {
      bool last = !endName.empty() && firstItemUpper(fr, line) == endName;
      if (last) in->markLast();
      store(line);
      if (last) break;
    }
  }
  if (needed && t.lines.empty()) {
    fatalErrorBlock(fr,
                    {"The next obliged information-block is not available.", "    Start line : " + startName,
                     "    End line   : " + endName, "FILE :", fr.units.nameOf(unit), "The program will stop"},
                    1);
  }
}

bool ZOEK(Frame& fr, std::string_view key) {
  BlockTable& t = fr.block;
  std::string k = upper(trimmed(key.substr(0, key.size() < 40 ? key.size() : 40)));
  if (t.restart) t.current = 0;
  t.restart = false;
  while (t.current < t.count()) {
    ++t.current;
    if (firstItemUpper(fr, t.lines[static_cast<size_t>(t.current - 1)]) == k) {
      if (TextInputUnit* in = fr.units.input(t.unit)) in->mark(t.records[static_cast<size_t>(t.current - 1)]);
      return true;
    }
  }
  t.current = t.count() + 1;
  return false;
}

}  // namespace frame
