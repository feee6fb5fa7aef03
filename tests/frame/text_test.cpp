#include "frame/text.h"

#include <gtest/gtest.h>

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
