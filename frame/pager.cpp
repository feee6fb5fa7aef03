#include "frame/pager.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "frame/datetime.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/oncores.h"
#include "frame/text.h"

namespace frame {
namespace {

TextOutputFile* pagedOutput(Frame& fr) {
  return fr.units.output(fr.pager.unit);
}

void emit(TextOutputFile* out, std::string_view text) {
  out->writeLine(trimRight(text));
}

std::string headerLine1(Frame& fr) {
  return trimRight(fr.pager.title) + ".  program = " + trimRight(fr.pager.program) + " Version " +
         fmtF(fr.version, 4, 2);
}

const std::string& headerLine2() {
  static const std::string line(76, '-');
  return line;
}

std::string footer(int page, bool last) {
  if (page >= 1000) return std::string();
  std::string t = "/" + std::to_string(page) + (last ? "" : "..");
  return std::string(76 - t.size(), ' ') + t;
}

void blankLines(TextOutputFile* out, int n) {
  for (int i = 0; i < n; ++i) out->writeLine(std::string());
}

void pollEscape(Frame& fr) {
  if (fr.keyboard.active() && fr.keyboard.ESCAPE()) {
    stopRun(fr, 101);
  }
}

}  // namespace

void NEWP(Frame& fr, int unit) {
  PagerState& p = fr.pager;
  if (unit < 0) {
    p.pageCounter = 0;
    p.lineCounter = 0;
    return;
  }
  TextOutputFile* out = fr.units.output(unit);
  ++p.pageCounter;
  if (out) {
    out->writeLine(headerLine1(fr));
    out->writeLine(headerLine2());
    out->writeLine(std::string());
  }
  p.lineCounter = 3;
}

void PAGN2(Frame& fr, std::string_view action, std::string_view text) {
  PagerState& p = fr.pager;
  const bool blank = trimRight(text).empty();
  if (action == "INIT") {
    p.lineCounter = 0;
    p.pageLength = p.linesPerPage;
    p.headerPending = true;
  } else if (action == "NEWPAGE" || action == "NEWLINE") {
    TextOutputFile* out = pagedOutput(fr);
    if (!out) {
      // No listing yet: keep the text for it.
      fr.early.push_back(trimRight(text));
      pollEscape(fr);
      return;
    }
    const bool pending = p.headerPending;
    if (action == "NEWPAGE") {
      if (p.mode == "NO") {
        if (pending) NEWP(fr, p.unit);
        emit(out, text);
        ++p.lineCounter;
      } else if (p.mode == "HD") {
        if (pending || p.lineCounter == p.pageLength) NEWP(fr, p.unit);
        emit(out, text);
        ++p.lineCounter;
      } else {
        if (!pending) {
          if (p.lineCounter < p.pageLength - 2) blankLines(out, p.pageLength - p.lineCounter - 2);
          p.lineCounter = p.pageLength - 2;
          out->writeLine(footer(p.pageCounter, false));
        }
        NEWP(fr, p.unit);
        if (!blank) {
          emit(out, text);
          ++p.lineCounter;
        }
      }
    } else {
      if (pending) NEWP(fr, p.unit);
      if (p.mode == "NO") {
        if (!(pending && blank)) {
          emit(out, text);
          ++p.lineCounter;
        }
      } else if (p.mode == "HD") {
        if (!pending && p.lineCounter == p.pageLength) {
          NEWP(fr, p.unit);
          if (!blank) {
            emit(out, text);
            ++p.lineCounter;
          }
        } else {
          emit(out, text);
          ++p.lineCounter;
        }
      } else {
        if (p.lineCounter == p.pageLength - 2) {
          out->writeLine(std::string());
          out->writeLine(footer(p.pageCounter, false));
          NEWP(fr, p.unit);
          if (!blank) {
            emit(out, text);
            ++p.lineCounter;
          }
        } else {
          emit(out, text);
          ++p.lineCounter;
        }
      }
    }
    p.headerPending = false;
    p.afterReset = false;
  } else if (action == "PROGRESS") {
    if ((fr.progressDisplay || !fr.progressFile.empty()) && !blank) PRGRSS(fr, text);
  }
  pollEscape(fr);
}

void PROGRM(Frame& fr, std::string_view name) {
  std::string n(name);
  if (!n.empty() && n[0] == '-') n.erase(0, 1);
  fr.pager.program = n.substr(0, 10);
  fr.pager.title = TIMEGEN(fr);
  NEWP(fr, -1);
  PAGN2(fr, "INIT", " ");
}

void SETLU(Frame& fr, int unit, std::string_view action) {
  PagerState& p = fr.pager;
  if (action == "INIT") {
    p.unit = unit;
    p.unitName = fr.units.nameOf(unit).substr(0, 120);
  } else if (action == "SET") {
    p.savedUnit = p.unit;
    p.savedName = p.unitName;
    const std::string name = fr.units.nameOf(unit).substr(0, 120);
    if (name != p.unitName) {
      p.unit = unit;
      p.unitName = name;
      p.switched = true;
      PAGN2(fr, "INIT", " ");
    } else {
      p.switched = false;
    }
  } else if (action == "RESET") {
    if (p.switched) {
      p.unit = p.savedUnit;
      p.unitName = p.savedName;
      p.switched = false;
      PAGN2(fr, "INIT", " ");
      p.afterReset = true;
    }
  }
}

// ---------------------------------------------------------------- progress

int INIBAR(Frame& fr, std::string_view text, int64_t first, int64_t last, int64_t step) {
  BarState& b = fr.bar;
  if (step == 0) step = 1;
  const int64_t n = (last - first) / step + 1;
  std::string label = trimRight(text.substr(0, text.size() < 80 ? text.size() : 80));
  const int L = static_cast<int>(label.size());
  const int room = 78 - L;
  if (room < 2 || n < 1) {
    b.active = false;
    int64_t every = last - first + 1;
    return static_cast<int>(every < 1 ? 1 : (every > INT32_MAX ? INT32_MAX : every));
  }
  int64_t every;
  if (room < n) {
    b.perCall = 1;
    every = (n - 1) / room + 1;
  } else {
    b.perCall = static_cast<int>(room / n);
    every = 1;
  }
  int64_t track = (n / every) * b.perCall;
  if (track + 1 <= room) ++track;
  b.active = true;
  b.nextColumn = L + 1;
  b.line = label + " " + std::string(static_cast<size_t>(track), '\xB2');
  PAGN2(fr, "PROGRESS", b.line);
  return static_cast<int>(every);
}

void BAR(Frame& fr) {
  BarState& b = fr.bar;
  if (!b.active) return;
  for (int i = 0; i < b.perCall; ++i) {
    size_t c = static_cast<size_t>(b.nextColumn + i);
    if (c < b.line.size()) b.line[c] = '@';
  }
  b.nextColumn += b.perCall;
  PAGN2(fr, "PROGRESS", b.line);
}

void PRGRSS(Frame& fr, std::string_view text) {
  std::string t = trimRight(text.substr(0, text.size() < 140 ? text.size() : 140));
  if (fr.progressDisplay) {
    int fg = fr.headFg, bg = fr.headBg;
    if (fg == 0 && bg == 0) fg = 15;
    fr.console.moveCursor(0, 0);
    fr.console.clear(fr.textBg);
    int col = (80 - static_cast<int>(t.size())) / 2 + 1;
    fr.console.putText(12, col - 1, fg, bg, "*" + t);
  }
  // The progress file holds the text as the window's code page has it, one byte 0xB2 per
  // step of the bar: programs that watch it count bytes.
  if (!fr.progressFile.empty()) writeProgressFile(fr.progressFile, t);
}

ProgressCounter::ProgressCounter(Frame& fr, std::string_view title, int64_t turns) : fr_(fr) {
  every_ = INIBAR(fr, title, 1, turns, 1);
  if (every_ < 1) every_ = 1;
}

void ProgressCounter::turns(int64_t n) {
  count_ += n;
  while (count_ >= every_) {
    count_ -= every_;
    BAR(fr_);
  }
}

// ---------------------------------------------------------------- overview of files

void COLLFI(Frame& fr, const std::string& name) {
  std::string n = trimRight(name.substr(0, name.size() < 60 ? name.size() : 60));
  if (n.empty()) return;
  for (const auto& have : fr.overview.names) {
    if (have == n) return;
  }
  if (fr.overview.names.size() >= 50) {
    fr.overview.overflow = true;
    return;
  }
  fr.overview.names.push_back(n);
}

void PRCOLL(Frame& fr, int unit) {
  if (fr.overview.names.empty()) {
    PAGN2(fr, "NEWLINE", "File review");
    PAGN2(fr, "NEWLINE", "~~~~~~~~~~~");
    PAGN2(fr, "NEWLINE", "No filenames collected to write their contents.");
    PAGN2(fr, "WAIT", " ");
    return;
  }
  SETLU(fr, unit, "SET");
  PAGN2(fr, "NEWPAGE", " ");
  PAGN2(fr, "NEWLINE", "Overview of files");
  PAGN2(fr, "NEWLINE", "~~~~~~~~~~~~~~~~~");
  for (size_t i = 0; i < fr.overview.names.size(); ++i) {
    const std::string& name = fr.overview.names[i];
    int connected = -1;
    TextLines own;
    const TextLines* records = nullptr;
    if (fr.units.LUCONN(name, connected) && fr.units.input(connected)) {
      records = &fr.units.input(connected)->lines();
    } else {
      bool openFailed = false;
      if (fr.files.readTextLines(fr.files.resolveInputName(name), own, openFailed) == 0) records = &own;
    }
    PAGN2(fr, "NEWLINE", "++++ FILE " + name + " ++++ (" + fmtI(static_cast<long long>(i + 1), 2, 2) + ")");
    PAGN2(fr, "NEWLINE", " ");
    if (records) {
      for (size_t k = 0; k < records->size(); ++k) PAGN2(fr, "NEWLINE", (*records)[k].substr(0, 200));
    }
    if (connected >= 0 && fr.units.input(connected)) fr.units.input(connected)->rewind();
  }
  if (fr.overview.overflow) {
    PAGN2(fr, "NEWLINE", " ");
    PAGN2(fr, "NEWLINE", "number of files > 50, warn system analist");
    PAGN2(fr, "NEWLINE", "if you want to see all files.");
    PAGN2(fr, "WAIT", " ");
  }
  SETLU(fr, unit, "RESET");
}

// ---------------------------------------------------------------- USRTWI

namespace {

void swapTwins(float* a, int32_t* b, int64_t i, int64_t j) {
  std::swap(a[i], a[j]);
  std::swap(b[i], b[j]);
}

// One step of the quicksort on a(lo..hi), hi > lo: the pivot (the median of the first, middle
// and last values on more than five) goes to hi, the values are split around it, and it goes
// to its place, which is returned.
int64_t partitionTwins(float* a, int32_t* b, int64_t lo, int64_t hi) {
  if (hi - lo + 1 > 5) {
    const int64_t mid = (lo + hi) / 2;
    const float x = a[lo], y = a[mid], z = a[hi];
    int64_t med = hi;
    if ((x <= y && y <= z) || (z <= y && y <= x)) {
      med = mid;
    } else if ((y <= x && x <= z) || (z <= x && x <= y)) {
      med = lo;
    }
    if (med != hi) swapTwins(a, b, med, hi);
  }
  const float pivot = a[hi];
  int64_t l = lo - 1, r = hi;
  for (;;) {
    do ++l;
    while (a[l] < pivot);
    do --r;
    while (r > l && pivot < a[r]);
    if (l >= r) break;
    swapTwins(a, b, l, r);
  }
  if (l != hi) swapTwins(a, b, l, hi);
  return l;
}

// Keys all different: their order, and with it the companions' order, is the one order any
// sort gives. Sorts a(lo..hi) and b with it that way and returns true; false (nothing changed)
// when two keys are equal or one is not a number.
bool sortDistinctTwins(float* a, int32_t* b, int64_t lo, int64_t hi) {
  std::vector<std::pair<float, int32_t>> pairs;
  pairs.reserve(static_cast<size_t>(hi - lo + 1));
  for (int64_t k = lo; k <= hi; ++k) {
    if (std::isnan(a[k])) return false;
    pairs.emplace_back(a[k], b[k]);
  }
  std::sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  for (size_t k = 1; k < pairs.size(); ++k) {
    if (!(pairs[k - 1].first < pairs[k].first)) return false;
  }
  for (size_t k = 0; k < pairs.size(); ++k) {
    a[lo + static_cast<int64_t>(k)] = pairs[k].first;
    b[lo + static_cast<int64_t>(k)] = pairs[k].second;
  }
  return true;
}

// The quicksort of a(lo..hi), iterative; the smaller part is taken next, so the stack stays
// shallow. What it does to a part depends on that part's values alone.
//
// Some orders take it a time that grows with the square of the length (keys the wrong way
// round, say, as a model grid whose X falls along both its indices gives): once it has done
// many times the usual work, keys that are all different are sorted another way, which gives
// the same order. Where two keys are equal their order is this sort's own, so it goes on.
void sortTwins(float* a, int32_t* b, int64_t lo0, int64_t hi0) {
  const double length = static_cast<double>(hi0 - lo0 + 1);
  const double usual = 8.0 * length * std::log2(length + 2.0) + 1024.0;
  double work = 0.0;
  bool tried = false;
  std::vector<std::pair<int64_t, int64_t>> stack;
  stack.reserve(64);
  stack.emplace_back(lo0, hi0);
  while (!stack.empty()) {
    auto [lo, hi] = stack.back();
    stack.pop_back();
    while (hi > lo) {
      work += static_cast<double>(hi - lo + 1);
      if (!tried && work > usual) {
        tried = true;
        if (sortDistinctTwins(a, b, lo0, hi0)) return;
      }
      const int64_t l = partitionTwins(a, b, lo, hi);
      // Larger part waits on the stack; the smaller is processed now.
      if (l - lo < hi - l) {
        stack.emplace_back(l + 1, hi);
        hi = l - 1;
      } else {
        stack.emplace_back(lo, l - 1);
        lo = l + 1;
      }
    }
  }
}

}  // namespace

void USRTWI(float* a, int64_t n, int32_t* b, int threads) {
  if (threads < 2 || n < 65536) {
    sortTwins(a, b, 0, n - 1);
    return;
  }
  // After the first split the two parts are sorted on two cores: each part's sorting depends
  // on its own values only, so the order is the one a single core leaves, ties included.
  const int64_t l = partitionTwins(a, b, 0, n - 1);
  onCores(2, [&](size_t t) { t == 0 ? sortTwins(a, b, l + 1, n - 1) : sortTwins(a, b, 0, l - 1); });
}

}  // namespace frame
