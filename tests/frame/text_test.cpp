#include "frame/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>

#include "support.h"

using namespace frame;
using testing_support::TestFrame;

TEST(Param, ItemsEmptyAndAbsent) {
  TestFrame t;
  std::string r;
  EXPECT_EQ(PARAM(t.fr, "A,B,,D", 1, r), 1);
  EXPECT_EQ(r, "A");
  EXPECT_EQ(PARAM(t.fr, "A,B,,D", 3, r), 0);
  EXPECT_EQ(r, "");
  EXPECT_EQ(PARAM(t.fr, "A,B,,D", 4, r), 1);
  EXPECT_EQ(r, "D");
  EXPECT_EQ(PARAM(t.fr, "A,B,,D", 5, r), -1);
  EXPECT_EQ(PARAM(t.fr, "A,B,", 3, r), 0);
  EXPECT_EQ(PARAM(t.fr, "", 1, r), -1);
  EXPECT_EQ(PARAM(t.fr, "A;B", 2, r, ";"), 1);
  EXPECT_EQ(r, "B");
}

TEST(Param, NamesBackticksAndBlanks) {
  TestFrame t;
  std::string r;
  PARAM(t.fr, "LIMITS,LOW=-5,HIGH=5", 2, r);
  EXPECT_EQ(r, "-5");
  PARAM(t.fr, "LIMITS,LOW=-5,HIGH=5", 2, r, ",=");
  EXPECT_EQ(r, "LOW=-5");
  PARAM(t.fr, "X,`a,b=c`,Y", 2, r);
  EXPECT_EQ(r, "a,b=c");
  PARAM(t.fr, "X,`a,b=c`,Y", 2, r, ",=");
  EXPECT_EQ(r, "a,b=c");
  EXPECT_EQ(PARAM(t.fr, "X,`a,b=c`,Y", 3, r), 1);
  EXPECT_EQ(r, "Y");
  EXPECT_EQ(PARAM(t.fr, "K,X$Y", 2, r), 3);
  EXPECT_EQ(r, "X Y");
  EXPECT_EQ(PARAM(t.fr, "K,  ab  ,c", 2, r), 2);
  EXPECT_EQ(r, "ab");
  EXPECT_EQ(PARAM(t.fr, "K,NAME=", 2, r), 0);
}

TEST(Param, OddBackticksAndLongItemsStopTheRun) {
  TestFrame t;
  t.openListing();
  std::string r;
  try {
    PARAM(t.fr, "A,`B", 1, r);
    FAIL();
  } catch (const Stop& s) {
    EXPECT_EQ(s.code, 1);
  }
  auto lines = t.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), " The number of string indicators (`) must be"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), " A,`B"), lines.end());

  TestFrame u;
  u.openListing();
  try {
    PARAM(u.fr, "A,ABCDEF", 2, r, ",", 3);
    FAIL();
  } catch (const Stop& s) {
    EXPECT_EQ(s.code, 1);
  }
  lines = u.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), " length which is 003"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), " Search for the 02-th parameter."), lines.end());

  TestFrame v;
  v.openListing();
  EXPECT_THROW(PARAM(v.fr, "A", 1, r, ",,"), Stop);
  lines = v.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), " The last parameter looks like <<,,>>"), lines.end());
}

// A number item taken in place is what PARAM and parseFortranReal make of it: random lines of
// digits, signs, points, exponents, blanks and commas, with now and then a backtick pair, a dollar
// or equals sign, a letter, an item over PARAM's 200 characters (a stop either way), items 1 to 5.
TEST(Param, NumberItemsAreWhatParamAndTheReadGive) {
  std::mt19937 rng(41);
  const std::string common = "0123456789012345.-+E ,,,  ";
  const std::string rare = "`$=DXe\t";
  int inPlace = 0, stops = 0;
  for (int trial = 0; trial < 40000; ++trial) {
    std::string line;
    const size_t length = rng() % 40;
    for (size_t k = 0; k < length; ++k)
      line += rng() % 30 == 0 ? rare[rng() % rare.size()] : common[rng() % common.size()];
    if (std::count(line.begin(), line.end(), '`') % 2 != 0) line += '`';
    const bool tooLong = trial % 500 == 0;
    if (tooLong) line = "1," + std::string(200 + trial % 3, '1');
    const int n = tooLong ? 2 : 1 + static_cast<int>(rng() % 5);
    for (bool single : {false, true}) {
      TestFrame a, b;
      double wantD = -7, gotD = -7;
      float wantF = -7, gotF = -7;
      bool want = false, got = false, wantStop = false, gotStop = false;
      try {
        std::string item;
        want =
            PARAM(a.fr, line, n, item) > 0 && (single ? parseFortranReal(item, wantF) : parseFortranReal(item, wantD));
      } catch (const Stop&) {
        wantStop = true;
      }
      try {
        got = single ? numberItem(b.fr, line, n, gotF) : numberItem(b.fr, line, n, gotD);
      } catch (const Stop&) {
        gotStop = true;
      }
      ASSERT_EQ(gotStop, wantStop) << "<" << line << "> item " << n;
      ASSERT_EQ(got, want) << "<" << line << "> item " << n;
      if (got) {
        ASSERT_EQ(std::bit_cast<uint64_t>(gotD), std::bit_cast<uint64_t>(wantD)) << "<" << line << "> item " << n;
        ASSERT_EQ(std::bit_cast<uint32_t>(gotF), std::bit_cast<uint32_t>(wantF)) << "<" << line << "> item " << n;
      }
      inPlace += got && line.find_first_of("`$=") == std::string::npos;
      stops += gotStop;
    }
  }
  EXPECT_GT(inPlace, 10000);
  EXPECT_GT(stops, 10);
}

TEST(Unform, ConvertsByTypeAndKeepsDefaults) {
  TestFrame t;
  float f = -1.0f;
  UNFORM(t.fr, "K,7", 2, "R4", f);
  EXPECT_EQ(f, 7.0f);
  UNFORM(t.fr, "K,1.5E3", 2, "R4", f);
  EXPECT_EQ(f, 1500.0f);
  UNFORM(t.fr, "K,1.5D-1", 2, "R4", f);
  EXPECT_EQ(f, 0.15f);
  UNFORM(t.fr, "K,,", 2, "R4", f);
  EXPECT_EQ(f, 0.15f);
  UNFORM(t.fr, "K", 2, "R4", f);
  EXPECT_EQ(f, 0.15f);
  int32_t i = 3;
  UNFORM(t.fr, "K,-12", 2, "I4", i);
  EXPECT_EQ(i, -12);
  double d = 0;
  UNFORM(t.fr, "K,.5", 2, "R8", d);
  EXPECT_EQ(d, 0.5);
}

TEST(Unform, WrongDataTypeStopsWithTheMessage) {
  for (const char* bad : {"7.5", "abc", "1e3", "99999999999"}) {
    TestFrame t;
    t.openListing();
    int32_t i = 0;
    try {
      UNFORM(t.fr, std::string("LINES,") + bad, 2, "I4", i);
      FAIL() << bad;
    } catch (const Stop& s) {
      EXPECT_EQ(s.code, 1);
    }
    auto lines = t.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Wrong data type in parameter field."), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "...Wanted data type       : I4"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), " ...Error in parameterfield no : 02"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("parameter string found : ") + bad), lines.end());
  }
  for (const char* bad : {"NAN", "1e39", "1.2.3", "--1", "."}) {
    TestFrame t;
    t.openListing();
    float f = 0;
    EXPECT_THROW(UNFORM(t.fr, std::string("K,") + bad, 2, "R4", f), Stop) << bad;
  }
}

TEST(Named, FoundByUpperCasedNameOnly) {
  TestFrame t;
  float v = 9.0f;
  EXPECT_FALSE(NAMEDV(t.fr, "LIMITS,LOW=1", "HIGH", "R4", v));
  EXPECT_EQ(v, 9.0f);
  EXPECT_TRUE(NAMEDV(t.fr, "LIMITS,LOW=1,high=3", "HIGH", "R4", v));
  EXPECT_EQ(v, 3.0f);
  int32_t n = 1;
  EXPECT_TRUE(NAMEDV(t.fr, "RUN-METHOD,MAXIMUM,#VALUES=4", "#VALUES", "I4", n));
  EXPECT_EQ(n, 4);
  EXPECT_FALSE(NAMEDV(t.fr, "RUN-METHOD,#VALUES", "#VALUES", "I4", n));
  std::string s;
  int len = 0;
  EXPECT_TRUE(NAMEDS(t.fr, "X,TABLE-CREATE=tab.txt", "TABLE-CREATE", s, len));
  EXPECT_EQ(s, "tab.txt");
  EXPECT_EQ(len, 7);
}

TEST(Strings, CharlCasefShove) {
  EXPECT_EQ(CHARL("   "), 0);
  EXPECT_EQ(CHARL(std::string("ab\0\0", 4)), 2);
  EXPECT_EQ(CHARL("ab c  "), 4);
  std::string s = "abc-Z1 x";
  CASEF(s);
  EXPECT_EQ(s, "ABC-Z1 X");
  std::string line = "   a b  c  ";
  int last = static_cast<int>(line.size());
  SHOVE(line, 1, last, 5);
  EXPECT_EQ(line.substr(0, static_cast<size_t>(last)), "a b  c");
  line = "   a b  c  ";
  last = static_cast<int>(line.size());
  SHOVE(line, 1, last, 7);
  EXPECT_EQ(line.substr(0, static_cast<size_t>(last)), "abc");
}

TEST(Strings, GumextForcesTheExtensionOfTheFilePart) {
  EXPECT_EQ(GUMEXT("C:\\data\\grid.asc", "BIL"), "C:\\data\\grid.BIL");
  EXPECT_EQ(GUMEXT("C:\\data\\grid", "ASC"), "C:\\data\\grid.ASC");
  EXPECT_EQ(GUMEXT("./data.v2/grid", "ASC"), "./data.v2/grid.ASC");
  EXPECT_EQ(GUMEXT("out.asc", "ASC"), "out.asc");
  EXPECT_EQ(GUMEXT("out.asc", " "), "out");
  EXPECT_EQ(GUMEXT("rain.2020.asc", "ASC"), "rain.2020.asc");
  EXPECT_EQ(GUMEXT("rain.2020.bil", "HDR"), "rain.2020.HDR");
}

// Short decimals are read without from_chars; they must give its floats and doubles to the bit,
// whatever the digits: numbers of one to twenty digits either side of the point, leading and
// trailing zeros, the largest whole numbers the types hold exactly and one past them, the
// most decimals and one more, and the texts that must be left to from_chars.
TEST(Numbers, ShortDecimalsReadAsFromCharsReadsThem) {
  std::mt19937_64 rng(20261209);
  auto sameAsFromChars = [](const std::string& t) {
    float f = 0.0f, fWant = 0.0f;
    double d = 0.0, dWant = 0.0;
    const auto rf = std::from_chars(t.data(), t.data() + t.size(), fWant);
    const auto rd = std::from_chars(t.data(), t.data() + t.size(), dWant);
    const bool whole = rf.ec == std::errc() && rf.ptr == t.data() + t.size();
    if (frame::shortDecimal(t, f)) {
      ASSERT_TRUE(whole) << t;
      ASSERT_EQ(std::bit_cast<uint32_t>(f), std::bit_cast<uint32_t>(fWant)) << t;
    }
    if (frame::shortDecimal(t, d)) {
      ASSERT_TRUE(rd.ec == std::errc() && rd.ptr == t.data() + t.size()) << t;
      ASSERT_EQ(std::bit_cast<uint64_t>(d), std::bit_cast<uint64_t>(dWant)) << t;
    }
    // The point file's and the command line's reading of the same text.
    if (whole && std::isfinite(fWant)) {
      ASSERT_TRUE(frame::parseFortranReal(t, f)) << t;
      ASSERT_EQ(std::bit_cast<uint32_t>(f), std::bit_cast<uint32_t>(fWant)) << t;
    }
  };
  for (const char* t : {"0",
                        "-0",
                        "0.0",
                        "-0.0",
                        "16777216",
                        "16777217",
                        "-16777217",
                        "9007199254740992",
                        "9007199254740993",
                        "0.0000000001",
                        "0.00000000001",
                        "1.0000000000000000000001",
                        "0.0000000000000000000001",
                        "0.00000000000000000000001",
                        "1e5",
                        ".",
                        "-.",
                        "e5",
                        ".e5",
                        "1e",
                        "1e+",
                        "1E-",
                        "0.103472E+03",
                        "-.999900E+04",
                        "1.5e-7",
                        "16777217e-1",
                        "1e10",
                        "1e11",
                        "1e22",
                        "1e23",
                        "3e-22",
                        "1e-23",
                        "1.5E+3x",
                        "1E3.5",
                        "1e0001",
                        "1e99999999999",
                        "1d3",
                        "1.",
                        ".5",
                        "-",
                        "--1",
                        "1.2.3",
                        "+1",
                        " 1",
                        "12,5",
                        "0x10",
                        "nan",
                        "inf",
                        ""}) {
    sameAsFromChars(t);
  }
  std::uniform_int_distribution<int> digit(0, 9), count(0, 20), zeros(0, 6);
  for (int n = 0; n < 400000; ++n) {
    std::string t = rng() % 4 == 0 ? "-" : "";
    const int before = 1 + count(rng) % 17, after = count(rng);
    for (int k = zeros(rng) == 0 ? zeros(rng) : 0; k > 0; --k) t += '0';
    for (int k = 0; k < before; ++k) t += static_cast<char>('0' + digit(rng));
    if (after > 0 || rng() % 8 == 0) t += '.';
    for (int k = 0; k < after; ++k) t += static_cast<char>('0' + digit(rng));
    sameAsFromChars(t);
    // With an exponent, as the program's own ASC files write every value.
    const int e = static_cast<int>(rng() % 61) - 30;
    sameAsFromChars(t + (rng() % 2 ? "E" : "e") +
                    (e < 0       ? "-"
                     : rng() % 2 ? "+"
                                 : "") +
                    (rng() % 2 ? "0" : "") + std::to_string(std::abs(e)));
    // Fewer digits: the values most files hold.
    sameAsFromChars(t.substr(0, 1 + rng() % std::min<size_t>(t.size(), 10)));
  }
  // Halfway points between two floats (and a hair either side), written out in full where they
  // are short: a float read through the nearest double would round them the wrong way.
  for (int n = 0; n < 100000; ++n) {
    const float f =
        std::ldexp(1.0f + static_cast<float>(rng() % (1u << 23)) * 0x1p-23f, 10 + static_cast<int>(rng() % 17));
    const double half = (static_cast<double>(f) + std::nextafter(f, HUGE_VALF)) * 0.5;
    char text[64];
    std::snprintf(text, sizeof text, "%.8f", half);
    std::string t(text);
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
    sameAsFromChars(t);
    sameAsFromChars(t + (t.find('.') == std::string::npos ? ".000001" : "000001"));
    const size_t point = t.find('.');
    sameAsFromChars("0." + t.substr(0, point) + (point == std::string::npos ? "" : t.substr(point + 1)) + "E+" +
                    std::to_string(point == std::string::npos ? t.size() : point));
  }
  for (const char* t : {"16777217", "16777217.0", "1.6777217E+07", "16777217.000000001", "16777216.999999999",
                        "16777219", "4194304.25", "4194304.250000001", "3.4028235E+38", "3.40282357E+38",
                        "3.4028236E+38", "1.17549435E-38", "1.1754942E-38", "123456789E-22", "123456789E+22",
                        // Decimals whose nearest double is a halfway point between two floats,
                        // though they are not (found by an exact search with fractions).
                        "3807144695771955E+1", "3554921819442575E+5", "7694887703202137E+7", "1352302160312166E+4",
                        "8689529388257115E+8", "-3807144695771955E+1"}) {
    sameAsFromChars(t);
  }
  // Whole numbers near the largest each type holds exactly, the point put 0 to 24 places from the
  // right: where a power of ten the type does not hold would first show.
  for (int n = 0; n < 200000; ++n) {
    const uint64_t top = n % 2 ? (uint64_t{1} << 24) : (uint64_t{1} << 53);
    const uint64_t whole = top - rng() % (top / 2) + (n % 5 == 0 ? 1 : 0);
    std::string digits = std::to_string(whole);
    const size_t after = static_cast<size_t>(n % 25);
    if (digits.size() <= after) digits.insert(0, after + 1 - digits.size(), '0');
    digits.insert(digits.size() - after, ".");
    if (after == 0) digits.pop_back();
    sameAsFromChars(digits);
    sameAsFromChars(digits + "e" + std::to_string(static_cast<int>(rng() % 51) - 25));
  }
}
