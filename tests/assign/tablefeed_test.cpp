#include "assign/tablefeed.h"

#include <gtest/gtest.h>

#include <bit>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support.h"

using namespace assign;

namespace {

// What a reader of the table takes from it line by line: for every line with items its items,
// whether it is of the written form, its text where it is not, and its number.
using Taken = std::vector<std::tuple<int32_t, int32_t, int32_t, float, bool, std::string, size_t>>;

Taken lineByLine(const std::string& name, bool withArea) {
  frame::LineReader in;
  EXPECT_EQ(in.open(name), 0);
  Taken out;
  for (std::string l; in.next(l);) {
    if (blankTableLine(l)) continue;
    TableItems t;
    const bool ok = parseTableLine(l, withArea, t);
    out.emplace_back(t.column, t.row, t.segment, t.area, ok, ok ? std::string() : l, in.lineNumber());
  }
  return out;
}

Taken fed(const std::string& name, bool withArea, int parsers) {
  frame::LineReader in;
  EXPECT_EQ(in.open(name), 0);
  TableFeed feed(in, withArea, parsers);
  Taken out;
  TableItems t;
  bool ok;
  std::string l;
  size_t number;
  while (feed.next(t, ok, l, number))
    out.emplace_back(t.column, t.row, t.segment, t.area, ok, ok ? std::string() : l, number);
  return out;
}

}  // namespace

TEST(TableFeed, LinesReadAheadAreTheLinesReadOneByOne) {
  // Some 5 MB of table, so that it comes in several blocks on every parser: lines of the
  // written form, blank and empty lines, CR LF ends, plus signs, blanks around the items, no
  // area where the segment is -1, and lines not of the written form here and there (one
  // exactly where a block of lines may end); the last line ends in a carriage return without a
  // line feed, which stays part of the line.
  const testing_support::TempDir temp;
  const std::filesystem::path& dir = temp.path;
  std::mt19937 rng(3);
  std::string text;
  for (int32_t i = 1; text.size() < (size_t{5} << 20); ++i) {
    const int32_t seg = rng() % 7 == 0 ? -1 : static_cast<int32_t>(rng() % 90000);
    char line[96];
    switch (rng() % 23) {
      case 0:
        text += "\n";
        break;
      case 1:
        text += "      \r\n";
        break;
      case 2:
        std::snprintf(line, sizeof line, "+%d , %d,+%d,  %.8E\r\n", i, i % 97, seg,
                      1.0 + static_cast<double>(rng() % 1000) / 7.0);
        text += line;
        break;
      case 3:
        if (i % 5 == 0) text += "    12,    13,    x,1.0\n";
        break;
      case 4:
        // The written widths up to the segment, then a line end where a written area would
        // end its line.
        text += i % 2 ? "    1,    2,        3,abc\n1234567890\n" : "    1,    2,       -1,abc\n1234567890\n";
        break;
      default:
        // The widths the program writes, and others.
        std::snprintf(line, sizeof line, i % 3 ? "%5d,%5d,%9d" : "%6d,%6d,%9d", i % 100000, i % 97, seg);
        text += line;
        if (seg >= 0 && i % 3) {
          std::snprintf(line, sizeof line, ",0.%08uE%+03d", static_cast<unsigned>(rng() % 100000000), i % 7 - 3);
          text += line;
        } else if (seg >= 0) {
          std::snprintf(line, sizeof line, ",%15.8E", static_cast<double>(rng() % 100000) / 1000.0);
          text += line;
        }
        text += "\n";
        break;
    }
  }
  text += "    1,    2,      3,  4.5E+00\r";
  testing_support::writeFile(dir / "t.tab", text);
  const std::string name = (dir / "t.tab").string();
  for (const bool withArea : {true, false}) {
    const Taken want = lineByLine(name, withArea);
    ASSERT_GT(want.size(), 100000u);
    int bad = 0;
    for (const auto& t : want) bad += !std::get<4>(t);
    EXPECT_GT(bad, 100);
    for (const int parsers : {1, 2, 3}) {
      const Taken got = fed(name, withArea, parsers);
      EXPECT_TRUE(got == want) << parsers << " parsers, " << (withArea ? "with" : "without") << " areas";
    }
  }
  // An empty table, and one of blank lines only, feed nothing.
  testing_support::writeFile(dir / "e.tab", "");
  testing_support::writeFile(dir / "b.tab", "\n   \n\r\n");
  EXPECT_TRUE(fed((dir / "e.tab").string(), true, 2).empty());
  EXPECT_TRUE(fed((dir / "b.tab").string(), true, 2).empty());
}

TEST(TableFeed, AFeedLeftEarlyStopsItsParsers) {
  // The ordered pass stops at a line it cannot read: the feed goes with the parsers still at
  // work on blocks beyond it, and stops them.
  const testing_support::TempDir temp;
  const std::filesystem::path& dir = temp.path;
  std::string text;
  for (int i = 0; i < 400000; ++i) text += "    1,    2,      3,  4.50000000E+00\n";
  testing_support::writeFile(dir / "t.tab", text);
  frame::LineReader in;
  ASSERT_EQ(in.open((dir / "t.tab").string()), 0);
  TableFeed feed(in, true, 2);
  TableItems t;
  bool ok;
  std::string l;
  size_t number = 0;
  for (int k = 0; k < 10; ++k) ASSERT_TRUE(feed.next(t, ok, l, number));
  EXPECT_TRUE(ok);
  EXPECT_EQ(number, 10u);
  EXPECT_EQ(t.area, 4.5f);
}

TEST(TableLines, TheWrittenWidthsReadAsItemByItem) {
  // A line of the widths the program writes ("%5d,%5d,%9d", and an area "0.dddddddd" with its
  // exponent) is read in one go; the same line with a blank after it is read item by item. The
  // two agree on fields of blanks, digits and signs in any order, on fields full of digits, and
  // on areas: any eight digits, powers of ten beyond 10^22 either way, the ends of the floats,
  // decimals halfway between two floats, decimals whose nearest double lies halfway (2.8874659e22
  // and twice it), and areas with a character out of place.
  std::mt19937 rng(11);
  auto field = [&](int width) {
    char f[16];
    switch (rng() % 4) {
      case 0: {
        static constexpr char kAny[] = "   0123456789-+!/:\xa0";
        std::string any;
        for (int k = 0; k < width; ++k) any += kAny[rng() % (sizeof kAny - 1)];
        return any;
      }
      case 1:
        std::snprintf(f, sizeof f, "%*d", width, -static_cast<int>(rng() % 1000));
        return std::string(f);
      default:
        std::snprintf(f, sizeof f, "%*u", width, static_cast<unsigned>(rng() % (width == 9 ? 1000000000u : 100000u)));
        return std::string(f);
    }
  };
  static const char* const kEdges[] = {"0.16777217E+08", "0.16777219E+08", "0.33554434E+08", "0.11754944E-37",
                                       "0.34028235E+39", "0.34028236E+39", "0.00000000E+00", "0.00000000E-99",
                                       "0.10000000E+23", "0.99999999E-14", "0.99999999E+30", "0.12345678E-15",
                                       "0.28874659E+23", "0.57749318E+23"};
  auto area = [&]() {
    if (rng() % 8 == 0) return std::string(kEdges[rng() % std::size(kEdges)]);
    char a[32];
    std::snprintf(a, sizeof a, "0.%08uE%c%02u", static_cast<unsigned>(rng() % 100000000), rng() % 2 ? '+' : '-',
                  static_cast<unsigned>(rng() % 46));
    std::string text(a);
    if (rng() % 16 == 0) text[rng() % text.size()] = "0.E+-9 e"[rng() % 8];
    return text;
  };
  auto bits = [](float f) { return std::bit_cast<uint32_t>(f); };
  int read = 0, differ = 0;
  std::string first;
  for (int n = 0; n < 200000; ++n) {
    std::string line = field(5) + "," + field(5) + "," + field(9);
    if (rng() % 4) line += (rng() % 32 ? "," : ";") + area();
    for (const bool withArea : {true, false}) {
      TableItems once, byItem;
      const bool a = parseTableLine(line, withArea, once);
      const bool b = parseTableLine(line + " ", withArea, byItem);
      const bool same = a == b && (!a || (once.column == byItem.column && once.row == byItem.row &&
                                          once.segment == byItem.segment && bits(once.area) == bits(byItem.area)));
      read += a;
      if (!same && differ++ == 0) first = line + (withArea ? " (with areas)" : "");
    }
  }
  EXPECT_EQ(differ, 0) << first;
  EXPECT_GT(read, 150000);
  // Halfway between two floats, the even one.
  TableItems t;
  ASSERT_TRUE(parseTableLine("    1,    1,        5,0.16777217E+08", true, t));
  EXPECT_EQ(t.area, 16777216.0f);
  ASSERT_TRUE(parseTableLine("    1,    1,        5,0.16777219E+08", true, t));
  EXPECT_EQ(t.area, 16777220.0f);
}
