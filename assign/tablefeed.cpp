#include "assign/tablefeed.h"

#include <bit>
#include <charconv>
#include <cstring>

#include "frame/text.h"

namespace assign {

namespace {
// A whole number as the table's writer puts it in a field of `width` characters: blanks, a minus
// sign where it is below zero, and the digits up to the field's end.
bool fieldWhole(const char* p, int width, int32_t& n) {
  int k = 0;
  while (k < width && p[k] == ' ') ++k;
  const bool negative = k < width && p[k] == '-';
  if (negative) ++k;
  if (k == width) return false;
  int32_t v = 0;
  for (; k < width; ++k) {
    const unsigned d = static_cast<unsigned char>(p[k] - '0');
    if (d > 9) return false;
    v = v * 10 + static_cast<int32_t>(d);
  }
  n = negative ? -v : v;
  return true;
}

// Eight characters at a time, as one 64-bit number with the first character in its lowest byte
// (on machines that keep numbers that way; the others read a character at a time).
constexpr bool kFirstLowest = std::endian::native == std::endian::little;
constexpr uint64_t kZeros = 0x3030303030303030u;  // "00000000"
constexpr uint64_t kHigh = 0x8080808080808080u;   // the highest bit of every byte

uint64_t eightCharacters(const char* p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

// The bytes of t that are digits (0 to 9) have their highest bit clear, the others set (a byte
// beyond 0x89 may set its neighbour's too, which only turns a line to the general reading).
uint64_t notDigits(uint64_t t) {
  return ((t + 0x7676767676767676u) | t) & kHigh;
}

// Eight digits, one to a byte and the first in the lowest byte, as a whole number: pairs, then
// fours, then the eight.
uint32_t eightDigits(uint64_t d) {
  d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFu;
  d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFu;
  return static_cast<uint32_t>(d * 10000 + (d >> 32));
}

// A field of W (1 to 8) characters at p of blanks and then digits to its end, at least one;
// p must have eight characters. False for any other field (a minus sign too).
template <int W>
bool blanksAndDigits(const char* p, int32_t& n) {
  static_assert(W >= 1 && W <= 8);
  uint64_t x = eightCharacters(p);
  // The field in the highest bytes, zeros below it.
  if constexpr (W < 8) x = (x << (8 * (8 - W))) | (kZeros >> (8 * W));
  const uint64_t t = x ^ kZeros;                                    // a digit its value, a blank 0x10
  const uint64_t z = t ^ 0x1010101010101010u;                       // a blank 0
  const uint64_t blanks = ~(((z & ~kHigh) + ~kHigh) | z | ~kHigh);  // the highest bit of each
  if (notDigits(t) & ~blanks) return false;
  // The blanks lead and a digit ends the field: as bytes of all ones, moved down to the field's
  // first byte, the blanks are a run of ones from the lowest bit.
  const uint64_t run = ((blanks >> 7) * 0xFF) >> (8 * (8 - W));
  if ((run & (run + 1)) != 0 || (blanks >> 63) != 0) return false;
  n = static_cast<int32_t>(eightDigits(t & ~(blanks >> 3)));
  return true;
}

// fieldWhole of W characters, eight at a time where it can; p must have eight characters
// (nine for W 9).
template <int W>
bool field(const char* p, int32_t& n) {
  if constexpr (kFirstLowest) {
    if constexpr (W == 9) {
      if (p[0] == ' ' && blanksAndDigits<8>(p + 1, n)) return true;
    } else {
      if (blanksAndDigits<W>(p, n)) return true;
    }
  }
  return fieldWhole(p, W, n);
}

// An area as the writer puts it: "0.dddddddd", "E", a sign and two digits, 14 characters. The
// eight digits and the power of ten are exact doubles, so their quotient or product is the
// double nearest the decimal, and that double's nearest float is the decimal's nearest float
// unless the double lies halfway between two floats. That case and powers of ten beyond 10^22
// are left to the general reading (false); within them an area is zero or a normal float
// (10^-22 to 10^30).
bool writtenArea(const char* p, float& area) {
  static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (p[0] != '0' || p[1] != '.' || p[10] != 'E' || (p[11] != '+' && p[11] != '-')) return false;
  uint64_t digits = 0;
  if constexpr (kFirstLowest) {
    const uint64_t t = eightCharacters(p + 2) ^ kZeros;
    if (notDigits(t)) return false;
    digits = eightDigits(t);
  } else {
    for (int k = 2; k < 10; ++k) {
      const unsigned d = static_cast<unsigned char>(p[k] - '0');
      if (d > 9) return false;
      digits = digits * 10 + d;
    }
  }
  const unsigned e1 = static_cast<unsigned char>(p[12] - '0'), e2 = static_cast<unsigned char>(p[13] - '0');
  if (e1 > 9 || e2 > 9) return false;
  const int exponent = static_cast<int>(e1 * 10 + e2);
  const int tens = (p[11] == '-' ? -exponent : exponent) - 8;
  if (tens < -22 || tens > 22) return false;
  const double w = static_cast<double>(digits);
  const double d = tens < 0 ? w / kTens[-tens] : w * kTens[tens];
  // The bits of a double below a float's last one: halfway is the first of them alone.
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  if ((bits & 0x1FFFFFFFu) == 0x10000000u) return false;
  area = static_cast<float>(d);
  return true;
}

// A line exactly as the table's writer puts it: "%5d,%5d,%9d" and, where the segment was found
// in a search of cells, "," and the area. False for any other line, which is then read item by
// item.
bool writtenLine(std::string_view line, bool withArea, TableItems& out) {
  if (line.size() != 21 && line.size() != 36) return false;
  const char* p = line.data();
  if (p[5] != ',' || p[11] != ',') return false;
  if (!field<5>(p, out.column) || !field<5>(p + 6, out.row) || !field<9>(p + 12, out.segment)) return false;
  out.area = 0.0f;
  const bool area = withArea && out.segment >= 0;
  if (line.size() == 21) return !area;
  return p[21] == ',' && (!area || writtenArea(p + 22, out.area));
}
}  // namespace

bool parseTableLine(std::string_view line, bool withArea, TableItems& out) {
  if (writtenLine(line, withArea, out)) return true;
  std::string_view rest(line);
  // Items between commas, blanks trimmed.
  auto item = [&](std::string_view& v) {
    const size_t c = rest.find(',');
    v = rest.substr(0, c);
    rest = c == std::string_view::npos ? std::string_view() : rest.substr(c + 1);
    v = frame::trimmedView(v);
    return !v.empty();
  };
  auto whole = [](std::string_view v, int32_t& n) {
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    const auto r = std::from_chars(v.data(), v.data() + v.size(), n);
    return r.ec == std::errc() && r.ptr == v.data() + v.size();
  };
  // The written form: blanks, up to nine digits, blanks and a comma (or the line's end).
  auto plain = [&](int32_t& n) {
    size_t k = 0;
    while (k < rest.size() && rest[k] == ' ') ++k;
    const size_t from = k;
    int32_t v = 0;
    while (k < rest.size() && k - from < 9 && static_cast<unsigned char>(rest[k] - '0') <= 9)
      v = v * 10 + (rest[k++] - '0');
    if (k == from) return false;
    while (k < rest.size() && rest[k] == ' ') ++k;
    if (k < rest.size() && rest[k] != ',') return false;
    n = v;
    rest.remove_prefix(k < rest.size() ? k + 1 : k);
    return true;
  };
  std::string_view a, b, c, d;
  bool ok = plain(out.column) && plain(out.row) && plain(out.segment);
  if (!ok) {
    rest = line;
    ok = item(a) && item(b) && item(c) && whole(a, out.column) && whole(b, out.row) && whole(c, out.segment);
  }
  out.area = 0.0f;
  if (ok && withArea && out.segment >= 0) ok = item(d) && frame::parseFortranReal(d, out.area);
  return ok;
}

namespace {
// Text a parser takes from the reader at a time: whole lines, some 7,000 of the written form.
// The ring of blocks and their lines take some 2 MB, within what the planning of bands keeps
// aside for the model search's own arrays.
constexpr size_t kBlockBytes = size_t{1} << 18;
}  // namespace

TableFeed::TableFeed(frame::LineReader& in, bool withArea, int parsers)
    : in_(in), withArea_(withArea), ring_(static_cast<size_t>(2 * parsers + 2)) {
  try {
    for (int t = 0; t < parsers; ++t) parsers_.emplace_back([this] { parse(); });
  } catch (...) {
    // A thread that could not be started: those that were are stopped and joined.
    {
      std::lock_guard<std::mutex> g(lock_);
      stop_ = true;
    }
    changed_.notify_all();
    for (auto& t : parsers_) t.join();
    throw;
  }
}

TableFeed::~TableFeed() {
  {
    std::lock_guard<std::mutex> g(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& t : parsers_) t.join();
}

// A parser: takes the next block of lines from the reader while a place in the ring is free,
// and parses it outside the lock.
void TableFeed::parse() {
  try {
    for (;;) {
      Block* b;
      {
        std::unique_lock<std::mutex> g(lock_);
        changed_.wait(g, [&] { return stop_ || end_ || taken_ - consumed_ < ring_.size(); });
        if (stop_ || end_) return;
        b = &ring_[taken_ % ring_.size()];
        b->ready = false;
        if (!in_.nextLines(b->text, kBlockBytes)) {
          end_ = true;
          changed_.notify_all();
          return;
        }
        ++taken_;
      }
      parseBlock(*b);
      std::lock_guard<std::mutex> g(lock_);
      b->ready = true;
      changed_.notify_all();
    }
  } catch (...) {
    std::lock_guard<std::mutex> g(lock_);
    if (!fault_) fault_ = std::current_exception();
    end_ = true;
    changed_.notify_all();
  }
}

// The lines as LineReader gives them: an end of line ends a line, and a carriage return before
// it goes; the last line of the file may have none. Blank lines are counted, not kept.
void TableFeed::parseBlock(Block& b) const {
  b.lines.clear();
  b.count = 0;
  const std::string& t = b.text;
  size_t at = 0;
  while (at < t.size()) {
    // A line of the written form is read where its end of line would lie, without looking for
    // it: once read, each of its characters is known, none an end of line (the area too where it
    // is read). It is parsed in its place in the list, and taken out again where it is not of
    // that form: a line put together aside and copied in whole waits for its parts to be stored.
    const size_t rest = t.size() - at;
    const size_t length = rest > 21 && t[at + 21] == '\n' ? 21 : rest > 36 && t[at + 36] == '\n' ? 36 : 0;
    if (length) {
      Line& w = b.lines.emplace_back();
      if (writtenLine(std::string_view(t.data() + at, length), withArea_, w.items) &&
          (length == 21 || (withArea_ && w.items.segment >= 0))) {
        w.from = static_cast<uint32_t>(at);
        w.length = static_cast<uint32_t>(length);
        w.number = ++b.count;
        at += length + 1;
        continue;
      }
      b.lines.pop_back();
    }
    const char* nl = static_cast<const char*>(std::memchr(t.data() + at, '\n', t.size() - at));
    const size_t end = nl ? static_cast<size_t>(nl - t.data()) : t.size();
    std::string_view line(t.data() + at, end - at);
    if (nl && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++b.count;
    if (!blankTableLine(line)) {
      Line l;
      l.from = static_cast<uint32_t>(at);
      l.length = static_cast<uint32_t>(line.size());
      l.number = b.count;
      l.ok = parseTableLine(line, withArea_, l.items);
      b.lines.push_back(l);
    }
    at = nl ? end + 1 : t.size();
  }
}

bool TableFeed::next(TableItems& items, bool& ok, std::string& line, size_t& number) {
  for (;;) {
    if (current_ && at_ < current_->lines.size()) {
      const Line& l = current_->lines[at_++];
      items = l.items;
      ok = l.ok;
      number = before_ + l.number;
      if (!ok) line.assign(current_->text, l.from, l.length);
      return true;
    }
    std::unique_lock<std::mutex> g(lock_);
    if (current_) {
      // The block used up: its place is free for the next one.
      before_ += current_->count;
      current_ = nullptr;
      ++consumed_;
      changed_.notify_all();
    }
    Block& b = ring_[consumed_ % ring_.size()];
    changed_.wait(g, [&] { return (consumed_ < taken_ && b.ready) || (end_ && consumed_ == taken_) || fault_; });
    if (fault_) std::rethrow_exception(fault_);
    if (consumed_ == taken_) return false;
    current_ = &b;
    at_ = 0;
  }
}

}  // namespace assign
