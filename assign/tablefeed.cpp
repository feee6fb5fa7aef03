#include "assign/tablefeed.h"

#include <charconv>
#include <cstring>

#include "frame/text.h"

namespace assign {

bool parseTableLine(std::string_view line, bool withArea, TableItems& out) {
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
