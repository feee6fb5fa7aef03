#include "frame/text.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"

namespace frame {

int CHARL(std::string_view s) {
  int n = static_cast<int>(s.size() < 1000 ? s.size() : 1000);
  while (n > 0 && (s[static_cast<size_t>(n - 1)] == ' ' || s[static_cast<size_t>(n - 1)] == '\0')) --n;
  return n;
}

void CASEF(std::string& s) {
  const size_t n = static_cast<size_t>(CHARL(s));
  char* p = s.data();
  // Without a branch per character, so that the compiler takes many at a time.
  for (size_t i = 0; i < n; ++i) {
    const char c = p[i];
    p[i] = static_cast<char>(c - (c >= 'a' && c <= 'z' ? 'a' - 'A' : 0));
  }
}

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return u;
}

std::string_view trimmedView(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string trimmed(std::string_view s) {
  size_t a = s.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  size_t b = s.find_last_not_of(' ');
  return std::string(s.substr(a, b - a + 1));
}

std::string trimRight(std::string_view s) {
  size_t b = s.find_last_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(0, b + 1));
}

void SHOVE(std::string& s, int first, int& last, int mode) {
  if (first < 1) first = 1;
  if (last > static_cast<int>(s.size())) s.resize(static_cast<size_t>(last), ' ');
  if (last < first) {
    last = 0;
    return;
  }
  auto at = [&](int i) -> char& { return s[static_cast<size_t>(i - 1)]; };
  if (mode & 1) {
    int k = first;
    while (k <= last && at(k) == ' ') ++k;
    if (k > last) {
      last = 0;
    } else if (k > first) {
      int shift = k - first;
      for (int i = first; i <= last - shift; ++i) at(i) = at(i + shift);
      for (int i = last - shift + 1; i <= last; ++i) at(i) = ' ';
      last -= shift;
      // last now ends the moved text (trailing blanks of the range included).
    }
  }
  if ((mode & 2) && last >= first) {
    int lo = first;
    while (lo <= last && at(lo) == ' ') ++lo;
    int hi = last;
    while (hi >= lo && at(hi) == ' ') --hi;
    if (lo <= hi) {
      int w = lo;
      for (int i = lo; i <= hi; ++i) {
        if (at(i) != ' ') at(w++) = at(i);
      }
      for (int i = w; i <= last; ++i) at(i) = ' ';
    }
  }
  if ((mode & 4) && last >= first) {
    int k = last;
    while (k >= first && at(k) == ' ') --k;
    last = k >= first ? k : 0;
    for (int i = (last > 0 ? last + 1 : first); i <= static_cast<int>(s.size()); ++i) at(i) = ' ';
  }
}

std::string GUMEXT(const std::string& name, std::string_view extension) {
  std::string n = name.substr(0, name.size() < 200 ? name.size() : 200);
  n = trimRight(n);
  size_t slash = n.find_last_of("\\/");
  size_t filePart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = n.rfind('.');
  if (dot != std::string::npos && dot < filePart) dot = std::string::npos;
  std::string ext = trimmed(extension);
  if (dot != std::string::npos && !ext.empty()) {
    // A name that carries the extension already, in any case, keeps the user's spelling.
    std::string have = n.substr(dot + 1);
    if (upper(have) == upper(ext)) return n;
  }
  if (dot != std::string::npos) n.erase(dot);
  if (!ext.empty()) n += "." + ext;
  if (n.size() > 200) n.resize(200);
  return n;
}

// ---------------------------------------------------------------- PARAM

namespace {

// PARAM's findings stop the run with code 1, written straight to the error unit's file.
[[noreturn]] void paramFailure(Frame& fr, const std::vector<std::string>& lines) {
  stopWithMessage(fr, MessageTo::ErrorFileDirect, lines, 1);
}

}  // namespace

int PARAM(Frame& fr, std::string_view line, int n, std::string& result, std::string_view separator, int resultLength) {
  // 1. The separator argument.
  if (separator.empty()) {
    paramFailure(fr, {" Error in programming.", " The last parameter when calling PARAM has no length.",
                      " Warn Administrator."});
  }
  if (trimmed(separator).empty()) {
    paramFailure(fr, {" Error in programming.", " The last parameter when calling PARAM has only blancs.",
                      " Warn Administrator."});
  }
  if (separator.size() >= 2 && separator[1] != '=') {
    std::vector<std::string> lines = {" Error in programming.", " When calling PARAM the last parameter ",
                                      " has 2 or more characters and the second", " is not the = sign.",
                                      " The last parameter looks like <<" + std::string(separator) + ">>"};
    if (!trimmed(line).empty()) {
      lines.insert(lines.end(), {" String for research :", " +++++", " " + std::string(line), " +++++"});
    }
    lines.insert(lines.end(), {" ", " Warn Administrator."});
    paramFailure(fr, lines);
  }
  const char sep = separator[0];
  const bool keepName = separator.size() >= 2 && separator[1] == '=';
  const int length = static_cast<int>(line.size());

  // 2. Backticks must pair up.
  int ticks = 0;
  for (char c : line) ticks += c == '`';
  if (ticks % 2 != 0) {
    paramFailure(fr, {" The number of string indicators (`) must be", " even in a string.", " STRING :", " ********",
                      " " + std::string(line), " ********"});
  }

  // 3. An empty line has no items.
  result.clear();
  if (length <= 0) return -1;

  // 4. Start of item n.
  int pos = 0;
  if (n > 1) {
    int count = 0;
    bool found = false;
    for (int i = 0; i < length; ++i) {
      char c = line[static_cast<size_t>(i)];
      if (c == '`') {
        ++i;
        while (i < length && line[static_cast<size_t>(i)] != '`') ++i;
        continue;
      }
      if (c == sep && ++count == n - 1) {
        pos = i + 1;
        found = true;
        break;
      }
    }
    if (!found) return -1;
  } else if (n < 1) {
    return -1;
  }

  // 5. Copy up to the next separator outside backticks.
  std::string item;
  for (int i = pos; i < length; ++i) {
    char c = line[static_cast<size_t>(i)];
    if (c == '`') {
      item += c;
      ++i;
      while (i < length && line[static_cast<size_t>(i)] != '`') item += line[static_cast<size_t>(i++)];
      if (i < length) item += '`';
      continue;
    }
    if (c == sep) break;
    item += c;
  }
  if (static_cast<int>(item.size()) > resultLength) {
    std::string sepText(separator.substr(0, 1));
    sepText += keepName ? "=" : " ";
    paramFailure(
        fr, {" ", " The parameter-string that is found is greater than the available string",
             " length which is " + fmtI(resultLength, 3, 3), " A possible solution is to shorten the parameter string.",
             " If this is not in accordance with the  manual than Warn the Administrator.", " ",
             " String with the parameter :", " +++++", " " + std::string(line), " +++++", " ",
             " Search for the " + fmtI(n, 2, 2) + "-th parameter.", " Separation sign : " + sepText});
  }

  // 6. Trim; 7. drop the name= part.
  item = trimmed(item);
  if (!keepName) {
    for (size_t i = 0; i < item.size(); ++i) {
      if (item[i] == '`') {
        size_t close = item.find('`', i + 1);
        if (close == std::string::npos) break;
        i = close;
        continue;
      }
      if (item[i] == '=') {
        item = trimmed(std::string_view(item).substr(i + 1));
        break;
      }
    }
  }

  // 8. Backticks go, "$" becomes a blank.
  for (char c : item) {
    if (c == '`') continue;
    result += c == '$' ? ' ' : c;
  }
  return static_cast<int>(result.size());
}

// ---------------------------------------------------------------- number conversion

bool parseFortranInteger(std::string_view text, int64_t& value) {
  std::string t;
  for (char c : text) {
    if (c != ' ') t += c;
  }
  if (t.empty()) {
    value = 0;
    return true;
  }
  size_t i = 0;
  bool neg = false;
  if (t[0] == '+' || t[0] == '-') {
    neg = t[0] == '-';
    i = 1;
  }
  if (i >= t.size()) return false;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
    if (v > 4294967296LL) return false;
  }
  value = neg ? -v : v;
  return true;
}

namespace {

// Normalises a Fortran real field to "[-]digits[.digits][e[-]digits]" for from_chars.
bool normaliseReal(std::string_view text, std::string& out) {
  std::string t;
  for (char c : text) {
    if (c != ' ') t += c;
  }
  out.clear();
  if (t.empty()) {
    out = "0";
    return true;
  }
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-') {
    if (t[i] == '-') out += '-';
    ++i;
  }
  int digits = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      out += c;
      ++digits;
    } else if (c == '.' && !point) {
      out += c;
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i == t.size()) return true;
  char c = t[i];
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q') {
    ++i;
  } else if (c != '+' && c != '-') {
    return false;
  }
  out += 'e';
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    if (t[i] == '-') out += '-';
    ++i;
  }
  int expDigits = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    out += t[i];
    ++expDigits;
  }
  return expDigits > 0;
}

}  // namespace

namespace {
// Plain numbers ("12", "-1.5e3") convert directly; the other forms of a Fortran field go the
// long way.
template <typename T>
bool plainNumber(std::string_view text, T& value) {
  text = trimmedView(text);
  if (text.empty() || text.front() == '+') return false;
  if (shortDecimal(text, value)) return true;
  T v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}
}  // namespace

bool parseFortranReal(std::string_view text, double& value) {
  if (plainNumber(text, value)) return true;
  std::string n;
  if (!normaliseReal(text, n)) return false;
  double v = 0;
  auto r = std::from_chars(n.data(), n.data() + n.size(), v);
  if (r.ptr != n.data() + n.size()) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is not a number this program can use.
    size_t e = n.find('e');
    if (e != std::string::npos && n.size() > e + 1 && n[e + 1] == '-') {
      value = n[0] == '-' ? -0.0 : 0.0;
      return true;
    }
    return false;
  }
  if (r.ec != std::errc() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool parseFortranReal(std::string_view text, float& value) {
  if (plainNumber(text, value)) return true;
  std::string n;
  if (!normaliseReal(text, n)) return false;
  float v = 0;
  auto r = std::from_chars(n.data(), n.data() + n.size(), v);
  if (r.ptr != n.data() + n.size()) return false;
  if (r.ec == std::errc::result_out_of_range) {
    double d = 0;
    if (!parseFortranReal(text, d) || std::fabs(d) > FLT_MAX) return false;
    value = static_cast<float>(d);
    return true;
  }
  if (r.ec != std::errc() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

namespace {
// Whether the line has none of the characters that PARAM treats apart (backticks, dollar and
// equals signs); one pass over it.
bool plainItems(std::string_view line) {
  // Three searches the library does many bytes at a time, rather than one byte by byte.
  const void* p = line.data();
  return !std::memchr(p, '`', line.size()) && !std::memchr(p, '$', line.size()) && !std::memchr(p, '=', line.size());
}

template <typename T>
bool numberItemOf(Frame& fr, std::string_view line, int n, T& value) {
  if (n >= 1 && plainItems(line)) {
    size_t start = 0;
    for (int k = 1; k < n && start != std::string_view::npos; ++k) {
      start = line.find(',', start);
      if (start != std::string_view::npos) ++start;
    }
    if (start == std::string_view::npos) return false;
    const size_t end = std::min(line.find(',', start), line.size());
    // PARAM stops the run on an item longer than its 200 characters: that goes its way.
    if (end - start <= 200) {
      const std::string_view item = trimmedView(line.substr(start, end - start));
      return !item.empty() && parseFortranReal(item, value);
    }
  }
  std::string item;
  return PARAM(fr, line, n, item) > 0 && parseFortranReal(item, value);
}
}  // namespace

bool numberItem(Frame& fr, std::string_view line, int n, double& value) {
  return numberItemOf(fr, line, n, value);
}
bool numberItem(Frame& fr, std::string_view line, int n, float& value) {
  return numberItemOf(fr, line, n, value);
}

// ---------------------------------------------------------------- UNFORM

namespace {

[[noreturn]] void wrongDataType(Frame& fr, std::string_view line, int n, std::string_view type,
                                std::string_view separator, const std::string& item) {
  std::vector<std::string> lines = {"Wrong data type in parameter field.",
                                    "...Wanted data type       : " + std::string(type),
                                    " ...Error in parameterfield no : " + fmtI(n, 2, 2),
                                    " of string : ",
                                    " *****",
                                    std::string(line),
                                    " *****",
                                    " ",
                                    "separator sign **" + std::string(separator) + "**",
                                    "parameter string found : " + item,
                                    " ",
                                    "The program will stop"};
  fatalErrorBlock(fr, lines, 1);
}

// Converts item n whatever the caller's storage; the type code decides the conversion.
template <typename T>
void unformAny(Frame& fr, std::string_view line, int n, std::string_view type, T& value, std::string_view separator) {
  std::string item;
  if (PARAM(fr, line, n, item, separator, 80) <= 0) return;
  bool ok = false;
  if (type == "I2" || type == "I4") {
    int64_t v = 0;
    const int64_t lo = type == "I2" ? INT16_MIN : INT32_MIN;
    const int64_t hi = type == "I2" ? INT16_MAX : INT32_MAX;
    ok = parseFortranInteger(item, v) && v >= lo && v <= hi;
    if (ok) value = static_cast<T>(v);
  } else if (type == "R4") {
    float v = 0;
    ok = parseFortranReal(item, v);
    if (ok) value = static_cast<T>(v);
  } else {
    double v = 0;
    ok = parseFortranReal(item, v);
    if (ok) value = static_cast<T>(v);
  }
  if (!ok) wrongDataType(fr, line, n, type, separator, item);
}

}  // namespace

void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, int16_t& value,
            std::string_view separator) {
  unformAny(fr, line, n, type, value, separator);
}
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, int32_t& value,
            std::string_view separator) {
  unformAny(fr, line, n, type, value, separator);
}
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, float& value, std::string_view separator) {
  unformAny(fr, line, n, type, value, separator);
}
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, double& value, std::string_view separator) {
  unformAny(fr, line, n, type, value, separator);
}

// ---------------------------------------------------------------- NAMEDV / NAMEDS

namespace {

// Finds the item NAME=... of the line; returns the whole item (name kept) or false.
bool findNamed(Frame& fr, std::string_view line, std::string_view name, std::string& item) {
  const std::string key = upper(trimmed(name));
  for (int k = 1;; ++k) {
    int len = PARAM(fr, line, k, item, ",=", 100);
    if (len < 0) return false;
    if (len == 0) continue;
    if (item.find('=') == std::string::npos) continue;
    std::string namePart;
    PARAM(fr, item, 1, namePart, "=", 100);
    if (upper(trimmed(namePart)) == key) return true;
  }
}

}  // namespace

bool NAMEDV(Frame& fr, std::string_view line, std::string_view name, std::string_view type, int32_t& value) {
  std::string item;
  if (!findNamed(fr, line, name, item)) return false;
  UNFORM(fr, item, 1, type, value, ",");
  return true;
}

bool NAMEDV(Frame& fr, std::string_view line, std::string_view name, std::string_view type, float& value) {
  std::string item;
  if (!findNamed(fr, line, name, item)) return false;
  UNFORM(fr, item, 1, type, value, ",");
  return true;
}

bool NAMEDS(Frame& fr, std::string_view line, std::string_view name, std::string& value, int& valueLength) {
  std::string item;
  if (!findNamed(fr, line, name, item)) return false;
  valueLength = PARAM(fr, item, 1, value, ",", 100);
  if (valueLength < 0) valueLength = 0;
  return true;
}

}  // namespace frame
