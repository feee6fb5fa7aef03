#include "assign/tablefeed.h"

#include <gtest/gtest.h>

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
      default:
        std::snprintf(line, sizeof line, "%6d,%6d,%9d", i, i % 97, seg);
        text += line;
        if (seg >= 0) {
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
