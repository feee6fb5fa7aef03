#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <filesystem>

#include "assign/run.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/oncores.h"
#include "frame/text.h"
#include "grid/bigblocks.h"
#include "grid/general.h"
#include "grid/grids.h"
#include "grid/prj.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace assign {
namespace {

using frame::onCores;

// Beyond the coordinate limit the buffer geometry would overflow.
bool withinCoordinateLimit(double x, double y, float r) {
  return std::fabs(x) <= grid::kCoordinateLimit && std::fabs(y) <= grid::kCoordinateLimit &&
         std::fabs(r) <= grid::kCoordinateLimit;
}

// How the point lines of a file are read: the radius of the command line, of the file's
// BUFFER line, or each point's own.
struct PointLineForm {
  bool lineRadius = false;
  bool fileBuffers = false;
  float commandRadius = -1.0f;
  float setRadius = -1.0f;
};

// The points of a piece of a point file, read on a core of their own. Each piece on cache lines
// of its own: its arrays' ends and its line count change with every line, and two cores writing
// one line pass it to and fro (the reading on two cores took three times as long a piece).
struct alignas(128) PointPiece {
  std::vector<float> x, y, value, radius;
  size_t lines = 0;
  bool plain = true;  // false: a line that is not plain numbers, left to be read one by one
};

// The characters of plain number lines: 1 digits, signs, decimal points, exponents and blanks;
// 2 commas; 0 any other.
constexpr std::array<uint8_t, 256> kPlainCharacters = [] {
  std::array<uint8_t, 256> t{};
  for (const char c : std::string_view("0123456789.+-eEdD ")) t[static_cast<unsigned char>(c)] = 1;
  t[','] = 2;
  return t;
}();

#if defined(__SSE2__)
// Sixteen characters of a line at once, as the loop over kPlainCharacters takes them one by one:
// false when one is not plain; else the upper-cased copy in upper, and the commas and blanks
// among them as bits (character k in bit k).
bool plainSixteen(const char* from, char* upper, uint32_t& commas, uint32_t& blanks) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  auto is = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  const __m128i digit = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8('0')), v),
                                      _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8('9')), v));
  const __m128i lower = _mm_or_si128(is('e'), is('d'));
  const __m128i comma = is(','), blank = is(' ');
  const __m128i rest =
      _mm_or_si128(_mm_or_si128(is('.'), is('+')), _mm_or_si128(is('-'), _mm_or_si128(is('E'), is('D'))));
  const __m128i plain = _mm_or_si128(_mm_or_si128(digit, lower), _mm_or_si128(_mm_or_si128(comma, blank), rest));
  if (_mm_movemask_epi8(plain) != 0xFFFF) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(upper), _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8(0x20))));
  commas = static_cast<uint32_t>(_mm_movemask_epi8(comma));
  blanks = static_cast<uint32_t>(_mm_movemask_epi8(blank));
  return true;
}
#endif

// Reads the point lines in text (whole lines, each ended by an end of line but perhaps the
// last) as the one-by-one reading would, as long as every line is made of plain numbers: digits,
// signs, points, exponents, commas and blanks, at most 200 characters, each item found a
// number within the coordinate limit. At the first other line the piece is given up (plain
// false): the one-by-one reading then reads it, with its messages.
void readPlainPoints(std::string_view text, const PointLineForm& form, const grid::Structure& s, PointPiece& piece) {
  char upper[200];
  size_t at = 0;
  while (at < text.size()) {
    const size_t nl = text.find('\n', at);
    std::string_view line = text.substr(at, (nl == std::string_view::npos ? text.size() : nl) - at);
    at = nl == std::string_view::npos ? text.size() : nl + 1;
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++piece.lines;
    if (line.size() > sizeof upper) {
      piece.plain = false;
      return;
    }
    // One pass: the characters checked and upper-cased, the first four commas found.
    bool blank = true;
    size_t comma[4];
    size_t commas = 0;
    size_t k = 0;
#if defined(__SSE2__)
    // Sixteen characters at a time; the last sixteen of the line overlap those before them,
    // whose commas are taken once (and whose blanks were seen).
    while (line.size() >= 16 && k < line.size()) {
      const size_t from = std::min(k, line.size() - 16);
      uint32_t commaBits, blankBits;
      if (!plainSixteen(line.data() + from, upper + from, commaBits, blankBits)) {
        piece.plain = false;
        return;
      }
      const uint32_t taken = (1u << (k - from)) - 1;
      blank = blank && blankBits == 0xFFFF;
      for (commaBits &= ~taken; commaBits != 0 && commas < 4; commaBits &= commaBits - 1)
        comma[commas++] = from + static_cast<size_t>(std::countr_zero(commaBits));
      k = from + 16;
    }
#endif
    for (; k < line.size(); ++k) {
      const unsigned char c = static_cast<unsigned char>(line[k]);
      const uint8_t kind = kPlainCharacters[c];
      if (kind == 0) {
        piece.plain = false;
        return;
      }
      if (kind == 2 && commas < 4) comma[commas++] = k;
      blank = blank && c == ' ';
      upper[k] = static_cast<char>(c == 'e' || c == 'd' ? c - 'a' + 'A' : c);
    }
    if (blank) continue;  // a blank line holds no point
    // Item n (1 to 4) as frame::numberItem finds it; false when the line has fewer items.
    auto item = [&](size_t n, std::string_view& it) {
      if (commas + 1 < n) return false;
      const size_t from = n == 1 ? 0 : comma[n - 2] + 1;
      const size_t to = commas >= n ? comma[n - 1] : line.size();
      it = frame::trimmedView(std::string_view(upper + from, to - from));
      return true;
    };
    std::string_view it;
    double x, y;
    float v, r = form.setRadius;
    const bool ok = item(1, it) && !it.empty() && frame::parseFortranReal(it, x) && item(2, it) && !it.empty() &&
                    frame::parseFortranReal(it, y) && item(3, it) && !it.empty() && frame::parseFortranReal(it, v);
    if (!ok) {
      piece.plain = false;
      return;
    }
    if (form.lineRadius) {
      r = form.commandRadius;
    } else if (form.fileBuffers && item(4, it) && !it.empty()) {
      if (!frame::parseFortranReal(it, r)) {
        piece.plain = false;
        return;
      }
    }
    if (!withinCoordinateLimit(x, y, r)) {
      piece.plain = false;
      return;
    }
    piece.x.push_back(s.relX(x));
    piece.y.push_back(s.relY(y));
    piece.value.push_back(v);
    piece.radius.push_back(r);
  }
}

// Reads one point line (its first 200 characters, upper case) the line-by-line way into p: x, y,
// value and, with buffers from the file, the point's own radius. A blank line holds no point.
// Null, or what is wrong with the line.
const char* readPointLine(frame::Frame& fr, const std::string& l, const PointLineForm& form, const grid::Structure& s,
                          PointSet& p) {
  if (frame::trimmed(l).empty()) return nullptr;
  double x, y;
  float v;
  if (!frame::numberItem(fr, l, 1, x) || !frame::numberItem(fr, l, 2, y) || !frame::numberItem(fr, l, 3, v)) {
    return "a line that is not a point (x, y and value)";
  }
  float r = p.setRadius;
  if (form.lineRadius) {
    r = form.commandRadius;
  } else if (form.fileBuffers) {
    std::string item;
    if (frame::PARAM(fr, l, 4, item) > 0 && !frame::parseFortranReal(item, r)) return "a radius that is not a number";
  }
  if (!withinCoordinateLimit(x, y, r)) return "a point or radius beyond 1.0E+15";
  p.x.push_back(s.relX(x));
  p.y.push_back(s.relY(y));
  p.value.push_back(v);
  p.radius.push_back(r);
  return nullptr;
}

// Gives the set's arrays room for `more` points after those they hold, advised onto huge pages:
// the blocks' points are then put in place without growing copies, and the room never filled is
// never touched (a bound far above the points read costs address space only). Without room (a
// bound beyond what may be reserved) the arrays grow as they are filled.
void roomForPoints(PointSet& p, size_t more) {
  const std::array<std::vector<float>*, 4> arrays = {&p.x, &p.y, &p.value, &p.radius};
  try {
    for (std::vector<float>* v : arrays) v->reserve(v->size() + more);
  } catch (const std::exception&) {
    for (std::vector<float>* v : arrays) v->shrink_to_fit();  // where the system counts address space
    return;
  }
  for (std::vector<float>* v : arrays) grid::adviseHugePages(v->data(), v->capacity() * sizeof(float));
}

// Puts the points of a block's pieces after the set's points, in file order.
void putInPlace(const std::vector<PointPiece>& pieces, PointSet& p) {
  for (const PointPiece& q : pieces) {
    p.x.insert(p.x.end(), q.x.begin(), q.x.end());
    p.y.insert(p.y.end(), q.y.begin(), q.y.end());
    p.value.insert(p.value.end(), q.value.begin(), q.value.end());
    p.radius.insert(p.radius.end(), q.radius.begin(), q.radius.end());
  }
}

// The point lines of a file after its heading: a block of lines at a time, its pieces read on
// every core and put in file order. A block with a line that is not plain numbers is read line
// by line instead: lineByLine(line) reads one (counted in `in` before the call) and says true
// after an error, so that the first fault in the file's order is the one reported. True after
// an error.
template <typename LineByLine>
bool readPointBlocks(frame::LineReader& in, const PointLineForm& form, const grid::Structure& s, PointSet& p,
                     int threads, LineByLine lineByLine) {
  constexpr size_t kPiece = size_t{1} << 20;
  std::string block;
  // One piece a core, its room made here once and used by every block: memory a helper thread
  // asks for stays with that thread's heap, and fresh memory costs a page fault a page.
  std::vector<PointPiece> pieces(static_cast<size_t>(threads));
  while (in.nextLines(block, kPiece * pieces.size())) {
    // The pieces end at ends of line.
    std::vector<size_t> cut(pieces.size() + 1, block.size());
    cut[0] = 0;
    for (size_t t = 1; t < pieces.size(); ++t) {
      size_t c = std::max(cut[t - 1], block.size() * t / pieces.size());
      const size_t nl = c == 0 ? 0 : block.find('\n', c - 1);
      cut[t] = nl == std::string::npos ? block.size() : std::max(c, nl + 1);
    }
    // A point line has at least six characters.
    for (size_t t = 0; t < pieces.size(); ++t) {
      const size_t most = (cut[t + 1] - cut[t]) / 6 + 1;
      PointPiece& q = pieces[t];
      for (std::vector<float>* v : {&q.x, &q.y, &q.value, &q.radius}) {
        v->clear();
        v->reserve(most);
      }
      q.lines = 0;
      q.plain = true;
    }
    auto readPiece = [&](size_t t) {
      readPlainPoints(std::string_view(block).substr(cut[t], cut[t + 1] - cut[t]), form, s, pieces[t]);
    };
    onCores(pieces.size(), readPiece);
    if (std::all_of(pieces.begin(), pieces.end(), [](const PointPiece& q) { return q.plain; })) {
      for (const PointPiece& q : pieces) in.countLines(q.lines);
      putInPlace(pieces, p);
      continue;
    }
    // Line by line, as LineReader gives them: an end of line ends a line (and a carriage
    // return before it goes); the last line of the file may have none.
    size_t at = 0;
    while (at < block.size()) {
      const size_t nl = block.find('\n', at);
      std::string_view line(block.data() + at, (nl == std::string::npos ? block.size() : nl) - at);
      at = nl == std::string::npos ? block.size() : nl + 1;
      if (nl != std::string::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
      in.countLines(1);
      if (lineByLine(line)) return true;
    }
  }
  return false;
}

}  // namespace

void ALLOCATEAPOINTFILE(Run& run) {
  run.pointSets.emplace_back();
}

bool HANDLEPOINTFILE(Run& run, const std::string& line) {
  frame::Frame& fr = run.fr;
  std::string name;
  // The point file's name (item 2).
  if (frame::PARAM(fr, line, 2, name, ",", 200) <= 0) {
    return frame::endWithError(fr, {" No file descriptor for a Point file.", "   Command line: " + line});
  }
  if (namesVectorLayer(fr, line, name)) return handleVectorPointFile(run, line, name);
  // A new point set on a unit of its own.
  frame::UnitLease unit(fr.units);
  ALLOCATEAPOINTFILE(run);
  PointSet& p = run.pointSets.back();
  frame::UNFORM(fr, line, 3, "I4", p.priority);
  p.setRadius = -1.0f;
  frame::UNFORM(fr, line, 4, "R4", p.setRadius);
  const bool lineRadius = p.setRadius > -0.0001f;
  if (lineRadius) {
    p.buffered = true;
    if (p.setRadius < 0.0001f) p.setRadius = 0.0001f;
  }
  const float commandRadius = p.setRadius;
  // 3. The file is read a block of lines at a time: a point file may hold millions of points.
  frame::LineReader in;
  const std::string path = frame::resolveInputName(name);
  int e = in.open(path);
  if (e != 0) {
    return frame::endWithError(
        fr, {" The Point file " + name + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
  }
  unit.connect(name);
  grid::warnOnOtherCrs(fr, run.structure, name);
  std::string raw;
  auto upperLine = [&] {
    std::string l = raw.substr(0, 200);
    frame::CASEF(l);
    return l;
  };
  size_t lineNumber = 1;  // of the line under way, for the messages
  auto bad = [&](const char* what) {
    return frame::endWithError(
        fr, {" The Point file " + name + " has " + what + " in line " + std::to_string(lineNumber) + ":",
             " " + raw.substr(0, 200)});
  };
  // 4. The NODATA value follows a label of 13 characters.
  if (!in.next(raw)) {
    return frame::endWithError(fr,
                               {" The Point file " + name + " is empty: it has no first line with the NODATA value."});
  }
  {
    const std::string first = upperLine();
    const std::string rest = first.size() > 13 ? first.substr(13) : std::string();
    std::string item = frame::trimmed(rest.substr(0, rest.find(',')));
    if (item.empty()) {
      // An empty item keeps the default, as everywhere in the command language.
      frame::writeListing(fr, {" The Point file " + name + " gives no NODATA value after its label;",
                               " the default " + frame::trimmed(frame::fmtG(p.nodata, 12, 6)) + " is used."});
    } else if (!frame::numberItem(fr, rest, 1, p.nodata)) {
      return bad("no NODATA value after its label of 13 characters");
    }
  }
  // 5. The optional buffer line.
  PointLineForm form;
  form.lineRadius = lineRadius;
  form.commandRadius = commandRadius;
  // One point line (first 200 characters, upper case) read one by one; true after an error.
  auto pointLine = [&](const std::string& l) {
    const char* fault = readPointLine(fr, l, form, run.structure, p);
    return fault ? bad(fault) : false;
  };
  if (in.next(raw)) {
    lineNumber = in.lineNumber();
    const std::string l = upperLine();
    std::string item;
    frame::PARAM(fr, l, 1, item);
    if (item == "BUFFER") {
      frame::PARAM(fr, l, 2, item);
      if (item == "YES") {
        form.fileBuffers = true;
        p.buffered = true;
        frame::UNFORM(fr, l, 3, "R4", p.setRadius);
      }
    } else if (pointLine(l)) {
      return true;
    }
  }
  form.setRadius = p.setRadius;
  // 6. The points: x, y, value and, with buffers from the file, the point's own radius. A
  // block of lines at a time, its pieces read on every core and put in file order; a block
  // with a line that is not plain numbers is read line by line instead, which reports the
  // first fault in the file's order.
  const int threads = fr.cores();
  std::error_code sizeError;
  const uintmax_t bytes = std::filesystem::file_size(path, sizeError);
  if (!sizeError) roomForPoints(p, static_cast<size_t>(bytes / 6 + 1));
  if (readPointBlocks(in, form, run.structure, p, threads, [&](std::string_view text) {
        raw.assign(text);
        lineNumber = in.lineNumber();
        return pointLine(upperLine());
      }))
    return true;
  // The points read. The room beyond them was never touched: it takes no memory, and giving it
  // back would copy every array into fresh memory.
  p.count = static_cast<int32_t>(p.x.size());
  return false;
}

bool POINTINCELL(const float cell[8], const PointSet& set, int32_t point) {
  const float p[2] = {set.x[static_cast<size_t>(point)], set.y[static_cast<size_t>(point)]};
  return grid::POINTINGRIDCELL(p, cell);
}

bool BUFFERREACHESCELL(const float cell[8], const PointSet& set, int32_t point, float& distance) {
  const float p[2] = {set.x[static_cast<size_t>(point)], set.y[static_cast<size_t>(point)]};
  const float r = set.radius[static_cast<size_t>(point)];
  // 1. A point inside the cell reaches it at distance 0.
  if (POINTINCELL(cell, set, point)) {
    distance = 0.0f;
    return true;
  }
  bool reached = false;
  float best = 0.0f;
  auto reach = [&](float d) {
    if (!reached || d < best) best = d;
    reached = true;
  };
  // 2. Corners. The square root keeps the order of the squares it is taken of, so the corner
  // nearest by its squared distance is the nearest, and only it can be the nearest that reaches.
  float square = 0.0f;
  for (int k = 0; k < 4; ++k) {
    const float dx = p[0] - cell[2 * k];
    const float dy = p[1] - cell[2 * k + 1];
    const float q = dx * dx + dy * dy;  // as DISTANCE takes it
    square = k == 0 || q < square ? q : square;
  }
  const float corner = std::sqrt(square);
  if (corner <= r) reach(corner);
  // 3. Edges, where the foot of the perpendicular lies on the edge.
  for (int k = 0; k < 4; ++k) {
    const int m = (k + 1) % 4;
    const float edge[4] = {cell[2 * k], cell[2 * k + 1], cell[2 * m], cell[2 * m + 1]};
    const float d = grid::DISTANCEPOINTTOLINE(p, edge);
    if (d <= r && grid::POINTBETWEENLINEPOINTS(p, edge)) reach(d);
  }
  distance = best;
  return reached;
}

// ---------------------------------------------------------------- bins

namespace {

// The values of an exact set's entries in entry order: a cell then reads its points' values
// from the memory beside its entries instead of from wherever the points lie in the file. One
// pass over every entry on all cores, whose loads do not wait for one another.
void gatherEntryValues(PointSet& p, int threads) {
  grid::roomForFill(p.entryValue, p.entries.size());
  p.entryValue.resize(p.entries.size());
  const size_t n = p.entries.size();
  const size_t cores = n < 65536 ? 1 : static_cast<size_t>(std::max(1, threads));
  auto gather = [&p, n, cores](size_t t) {
    for (size_t e = n * t / cores; e < n * (t + 1) / cores; ++e) p.entryValue[e] = p.value[p.entries[e].point];
  };
  onCores(cores, gather);
}

// Puts each line of a set's point bins (nr lines of nc cells) in order across. A line's
// entries are placed in point order, so that sorting on (across, point) keeps the point order
// within a cell. A line of many entries against its cells is sorted by counting them per cell
// (linear), a short one by comparing. Each line is sorted on its own: the lines are shared
// among the cores.
void sortPointBinRows(PointSet& p, int32_t nc, int32_t nr, int threads) {
  auto sortRows = [&p, nc](int32_t from, int32_t to) {
    std::vector<size_t> start(static_cast<size_t>(nc) + 2);
    std::vector<PointSet::Entry> sorted;
    for (int32_t j = from; j <= to; ++j) {
      auto* b = p.entries.data() + p.lineStart[static_cast<size_t>(j)];
      auto* e = p.entries.data() + p.lineStart[static_cast<size_t>(j) + 1];
      if (e - b < 2) continue;
      if (static_cast<size_t>(e - b) < start.size() / 16) {
        std::sort(b, e, [](const PointSet::Entry& x, const PointSet::Entry& y) {
          return x.across < y.across || (x.across == y.across && x.point < y.point);
        });
        continue;
      }
      std::fill(start.begin(), start.end(), size_t{0});
      for (auto* q = b; q != e; ++q) ++start[static_cast<size_t>(q->across) + 1];
      for (size_t c = 1; c < start.size(); ++c) start[c] += start[c - 1];
      sorted.resize(static_cast<size_t>(e - b));
      for (auto* q = b; q != e; ++q) sorted[start[static_cast<size_t>(q->across)]++] = *q;
      std::copy(sorted.begin(), sorted.end(), b);
    }
  };
  if (p.entries.size() < 65536) threads = 1;
  threads = std::max(1, std::min(threads, nr));
  onCores(static_cast<size_t>(threads), [&](size_t t) {
    const int64_t k = static_cast<int64_t>(t);
    sortRows(static_cast<int32_t>(int64_t(nr) * k / threads) + 1,
             static_cast<int32_t>(int64_t(nr) * (k + 1) / threads));
  });
}

}  // namespace

namespace {

// The cells a point may give a value to, with the cell edges and middles exactly as the cell
// loop computes them, relative to the corner.
struct PointCells {
  const grid::Structure& s;
  const int32_t nc, nr;
  const double cs;
  const bool cellStructure;
  explicit PointCells(const grid::Structure& structure)
      : s(structure),
        nc(structure.grid.ncols),
        nr(structure.grid.nrows),
        cs(structure.cellsize),
        cellStructure(structure.grid.cellValues()) {}

  float edge(int32_t k) const { return s.edge(k); }  // right (upper) edge of column (row) k
  float middle(int32_t k) const { return s.middle(k); }
  int64_t near(double v) const {
    const double c = std::floor(v / cs);
    // Far beyond the grid: any column outside it will do.
    return static_cast<int64_t>(std::max(-4.0e18, std::min(4.0e18, c))) + 1;
  }

  // The cells where point k of p may give a value: fn(row, columns) for each row (fn(column,
  // rows) for each column when p's lists are by column), or fn(-1, {}) once when it is to be
  // tried at every cell. cols and rows are room to work in.
  template <typename Fn>
  void of(const PointSet& p, std::vector<int32_t>& cols, std::vector<int32_t>& rows, int32_t k, Fn fn) const {
    const size_t q = static_cast<size_t>(k);
    if (!(std::fabs(p.value[q] - p.nodata) > 0.0001f)) return;  // NODATA points never count
    const float x = p.x[q], y = p.y[q];
    cols.clear();
    rows.clear();
    if (!p.buffered) {
      // The cells that hold the point (its borders included), or whose middle it is.
      const int64_t ci = near(x), rj = near(y);
      // The edges rise with the column, so a point strictly inside cell ci lies in no other:
      // the common case, told with two edges instead of ten.
      if (cellStructure && ci >= 1 && ci <= nc && rj >= 1 && rj <= nr) {
        const int32_t i = static_cast<int32_t>(ci), j = static_cast<int32_t>(rj);
        if (edge(i - 1) < x && x < edge(i) && edge(j - 1) < y && y < edge(j)) {
          cols.push_back(i);
          rows.push_back(j);
          fn(p.byColumn ? i : j, std::span<const int32_t>(p.byColumn ? rows : cols));
          return;
        }
      }
      for (int64_t i = ci - 2; i <= ci + 2; ++i) {
        if (i < 1 || i > nc) continue;
        const int32_t ii = static_cast<int32_t>(i);
        if (cellStructure ? (edge(ii - 1) <= x && x <= edge(ii)) : std::fabs(x - middle(ii)) < 0.001f)
          cols.push_back(ii);
      }
      for (int64_t j = rj - 2; j <= rj + 2; ++j) {
        if (j < 1 || j > nr) continue;
        const int32_t jj = static_cast<int32_t>(j);
        if (cellStructure ? (edge(jj - 1) <= y && y <= edge(jj)) : std::fabs(y - middle(jj)) < 0.001f)
          rows.push_back(jj);
      }
    } else {
      // The cells within the radius of the point's box, with room for rounding; the buffer
      // test is made at the cell.
      const double r = std::max(0.0f, p.radius[q]);
      const double room =
          1e-6 * (std::fabs(static_cast<double>(x)) + std::fabs(static_cast<double>(y)) + r) + 1e-3 * cs;
      const int64_t i0 = std::max<int64_t>(1, near(x - r - room));
      const int64_t i1 = std::min<int64_t>(nc, near(x + r + room));
      const int64_t j0 = std::max<int64_t>(1, near(y - r - room));
      const int64_t j1 = std::min<int64_t>(nr, near(y + r + room));
      if (i0 > i1 || j0 > j1) return;
      // A buffer over very many cells is cheaper to try at every cell than to list.
      if ((i1 - i0 + 1) * (j1 - j0 + 1) > p.listLimit) {
        fn(-1, std::span<const int32_t>());
        return;
      }
      for (int64_t i = i0; i <= i1; ++i) cols.push_back(static_cast<int32_t>(i));
      for (int64_t j = j0; j <= j1; ++j) rows.push_back(static_cast<int32_t>(j));
    }
    for (int32_t line : p.byColumn ? cols : rows) fn(line, std::span<const int32_t>(p.byColumn ? rows : cols));
  }
};

}  // namespace

void preparePointBins(Run& run) {
  const PointCells cells(run.structure);
  // Runs with models go along columns when the structure is held whole.
  const bool byColumn = run.structure.whole && !run.zav.uses.empty();
  const int32_t nr = byColumn ? cells.nc : cells.nr;  // lines
  const int32_t nc = byColumn ? cells.nr : cells.nc;  // cells a line
  for (PointSet& p : run.pointSets) {
    p.exact = !p.buffered;
    p.byColumn = byColumn;
    p.everywhere.clear();
    // Counted first, then placed per line in point order, then put in order across within
    // each line, keeping the point order within a cell. The points are shared among the cores
    // in file order: each core counts its points' cells per line and places them after those
    // of the cores before it.
    const int threads = run.fr.cores();
    const size_t cores = p.count < 65536 ? 1 : static_cast<size_t>(std::max(1, threads));
    auto pointsOf = [&](size_t t, auto each) {
      std::vector<int32_t> cols, rows;
      const int32_t from =
          static_cast<int32_t>(int64_t(p.count) * static_cast<int64_t>(t) / static_cast<int64_t>(cores));
      const int32_t to =
          static_cast<int32_t>(int64_t(p.count) * static_cast<int64_t>(t + 1) / static_cast<int64_t>(cores));
      for (int32_t k = from; k < to; ++k)
        cells.of(p, cols, rows, k, [&](int32_t j, std::span<const int32_t> columns) { each(k, j, columns); });
    };
    std::vector<std::vector<uint64_t>> at(cores, std::vector<uint64_t>(static_cast<size_t>(nr) + 2, 0));
    onCores(cores, [&](size_t t) {
      pointsOf(t, [&](int32_t, int32_t j, std::span<const int32_t> columns) {
        if (j > 0) at[t][static_cast<size_t>(j)] += columns.size();
      });
    });
    p.lineStart.assign(static_cast<size_t>(nr) + 2, 0);
    for (size_t j = 1; j <= static_cast<size_t>(nr); ++j) {
      uint64_t place = p.lineStart[j];
      for (size_t t = 0; t < cores; ++t) {
        const uint64_t n = at[t][j];
        at[t][j] = place;
        place += n;
      }
      p.lineStart[j + 1] = place;
    }
    grid::roomForFill(p.entries, p.lineStart.back());
    p.entries.resize(p.lineStart.back());
    std::vector<std::vector<uint32_t>> wide(cores);
    onCores(cores, [&](size_t t) {
      pointsOf(t, [&](int32_t k, int32_t j, std::span<const int32_t> columns) {
        if (j < 0) {
          wide[t].push_back(static_cast<uint32_t>(k));
          return;
        }
        uint64_t& next = at[t][static_cast<size_t>(j)];
        for (int32_t i : columns) p.entries[next++] = PointSet::Entry{i, static_cast<uint32_t>(k)};
      });
    });
    for (const auto& w : wide) p.everywhere.insert(p.everywhere.end(), w.begin(), w.end());
    sortPointBinRows(p, nc, nr, threads);
    if (p.exact) gatherEntryValues(p, threads);
  }
}

namespace {

// The entries of cell (i, j): positions [from, to) in the set's entries, in file order. A worker
// keeps its place in every line's list, so that the next cell's entries are a short step on.
std::pair<size_t, size_t> cellEntries(const PointSet& p, int set, int32_t i, int32_t j, Worker& w) {
  const int32_t line = p.byColumn ? i : j, across = p.byColumn ? j : i;
  const size_t start = p.lineStart[static_cast<size_t>(line)];
  const PointSet::Entry* b = p.entries.data() + start;
  const PointSet::Entry* e = p.entries.data() + p.lineStart[static_cast<size_t>(line) + 1];
  if (w.pointCursor.size() < static_cast<size_t>(set) + 1) w.pointCursor.resize(static_cast<size_t>(set) + 1);
  auto& lines = w.pointCursor[static_cast<size_t>(set)];
  if (lines.size() < p.lineStart.size()) lines.assign(p.lineStart.size(), Worker::Cursor());
  Worker::Cursor& cur = lines[static_cast<size_t>(line)];
  const PointSet::Entry* lo;
  if (cur.across <= across && cur.at <= static_cast<size_t>(e - b)) {
    lo = b + cur.at;
    while (lo != e && lo->across < across) ++lo;
  } else {
    lo = std::lower_bound(b, e, across, [](const PointSet::Entry& a, int32_t k) { return a.across < k; });
  }
  cur.across = across;
  cur.at = static_cast<size_t>(lo - b);
  const PointSet::Entry* hi = lo;
  while (hi != e && hi->across == across) ++hi;
  return {start + static_cast<size_t>(lo - b), start + static_cast<size_t>(hi - b)};
}

// The candidate points of cell (i, j) in file order: the listed ones and those tried everywhere.
void candidates(const PointSet& p, int set, int32_t i, int32_t j, Worker& w, std::vector<uint32_t>& out) {
  out.clear();
  const auto [from, to] = cellEntries(p, set, i, j, w);
  const PointSet::Entry* lo = p.entries.data() + from;
  const PointSet::Entry* hi = p.entries.data() + to;
  if (p.everywhere.empty()) {
    for (const auto* q = lo; q != hi; ++q) out.push_back(q->point);
    return;
  }
  // Both lists are in point order.
  auto wide = p.everywhere.begin();
  for (const auto* q = lo; q != hi; ++q) {
    while (wide != p.everywhere.end() && *wide < q->point) out.push_back(*wide++);
    out.push_back(q->point);
  }
  while (wide != p.everywhere.end()) out.push_back(*wide++);
}

// The three cases of a point search. points(take) calls take(value, distance) for every point
// that takes part, in file order.
template <typename Points>
void pointRecords(const Run& run, Worker& w, const PointSet& p, bool& first, Points points) {
  ValueRecord rec;
  rec.related = Related::Point;
  rec.priority = p.priority;
  const bool perSetAverage = run.settings.perSetAverage;
  if (!p.buffered || run.settings.allBuffers) {
    double sum = 0.0;
    int64_t n = 0;
    float nearest = 0.0f;
    points([&](float value, float d) {
      if (perSetAverage) {
        sum += value;
        if (n == 0 || d < nearest) nearest = d;
        ++n;
      } else {
        rec.value = value;
        rec.distance = p.buffered ? d : 0.0f;
        rec.weight = 1.0f;
        ADDAVALUE(w.values, rec, first);
      }
    });
    if (perSetAverage && n > 0) {
      rec.value = static_cast<float>(sum / static_cast<double>(n));
      rec.distance = p.buffered ? nearest : 0.0f;
      rec.weight = -1.0f;
      ADDAVALUE(w.values, rec, first);
    }
    return;
  }
  // CLOSEST: the point whose buffer reaches nearest; the first in file order on a tie.
  bool any = false;
  float best = 0.0f, bestValue = 0.0f;
  points([&](float value, float d) {
    if (!any || d < best) {
      best = d;
      bestValue = value;
      any = true;
    }
  });
  if (!any) return;
  rec.value = bestValue;
  rec.distance = best;
  rec.weight = -1.0f;
  ADDAVALUE(w.values, rec, first);
}

// A set without buffers: its points are listed only in the cells that hold them (at the middles
// they lie on), so a cell's entries are the answer, at distance 0, their values beside them.
bool exactRecords(const Run& run, Worker& w, const PointSet& p, int set, int32_t i, int32_t j, bool& first) {
  if (!p.exact) return false;
  const std::pair<size_t, size_t> range = cellEntries(p, set, i, j, w);
  const size_t from = range.first, to = range.second;
  if (from == to) return true;
  pointRecords(run, w, p, first, [&](auto take) {
    for (size_t e = from; e < to; ++e) take(p.entryValue[e], 0.0f);
  });
  return true;
}

}  // namespace

void SEARCHFORCELLINPOINTS(const Run& run, Worker& w, int set, int32_t i, int32_t j, bool& first) {
  const PointSet& p = run.pointSets[static_cast<size_t>(set)];
  if (exactRecords(run, w, p, set, i, j, first)) return;
  candidates(p, set, i, j, w, w.points);
  if (w.points.empty()) return;
  const float* cell = w.cell.corners;
  pointRecords(run, w, p, first, [&](auto take) {
    for (uint32_t k : w.points) {
      float d = 0.0f;
      if (BUFFERREACHESCELL(cell, p, static_cast<int32_t>(k), d)) take(p.value[k], d);
    }
  });
}

void SEARCHFORMIDDLEINPOINTS(const Run& run, Worker& w, int set, int32_t i, int32_t j, bool& first) {
  const PointSet& p = run.pointSets[static_cast<size_t>(set)];
  if (exactRecords(run, w, p, set, i, j, first)) return;
  candidates(p, set, i, j, w, w.points);
  if (w.points.empty()) return;
  const float* middle = w.cell.middle;
  pointRecords(run, w, p, first, [&](auto take) {
    for (uint32_t k : w.points) {
      const float q[2] = {p.x[k], p.y[k]};
      const float d = grid::DISTANCE(q, middle);
      if (d <= p.radius[k]) take(p.value[k], d);
    }
  });
}

}  // namespace assign
