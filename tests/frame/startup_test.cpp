#include "frame/startup.h"

#include <gtest/gtest.h>

#include "frame/screen.h"
#include "support.h"

using namespace frame;
using testing_support::TestFrame;

TEST(RunString, KeywordsAreFullWordOrFirstTwoLetters) {
  TestFrame t;
  t.fr.args = {"prog", "OU=a.lis", "OUT=b.lis", "plain", "=x", "in=Cmd.PCF", "ER="};
  RUNSTR(t.fr);
  std::string v;
  ASSERT_TRUE(RUNPRM(t.fr, "OUTPUT", 2, v));
  EXPECT_EQ(v, "a.lis");
  ASSERT_TRUE(RUNPRM(t.fr, "INPUT", 2, v));
  EXPECT_EQ(v, "Cmd.PCF");
  ASSERT_TRUE(RUNPRM(t.fr, "ERROR", 2, v));
  EXPECT_EQ(v, "");
  ASSERT_TRUE(RUNPRM(t.fr, " ", 4, v));
  EXPECT_EQ(v, "x");
  ASSERT_TRUE(RUNPRM(t.fr, " ", 3, v));
  EXPECT_EQ(v, "plain");
  EXPECT_FALSE(RUNPRM(t.fr, " ", 7, v));

  TestFrame u;
  u.fr.args = {"prog", "OUT=b.lis", "OUTP=c.lis", "ou=d.lis"};
  RUNSTR(u.fr);
  ASSERT_TRUE(RUNPRM(u.fr, "OUTPUT", 2, v));
  EXPECT_EQ(v, "d.lis");

  TestFrame w;
  w.fr.args.assign(13, "p");
  w.fr.args[1] = std::string(150, 'a');
  RUNSTR(w.fr);
  EXPECT_EQ(w.fr.runString.size(), 10u);
  EXPECT_EQ(w.fr.runString[0].size(), 100u);
}

TEST(Screen, ColourNamesAndMonochromeAttributes) {
  EXPECT_EQ(colourCode("lightred", 16), 12);
  EXPECT_EQ(colourCode("YELLOW", 8), -1);
  EXPECT_EQ(colourCode("BROWN", 8), 6);
  EXPECT_EQ(colourCode("PINK", 16), -1);
  TestFrame t;
  int a = 7;
  ATTRIB(t.fr, "PRINT-LINE,REVERSE,BLINKING", a);
  EXPECT_EQ(a, 240);
  a = 7;
  ATTRIB(t.fr, "PRINT-LINE,REVERSE,UNDERLINE", a);
  EXPECT_EQ(a, 7);
  ATTRIB(t.fr, "PRINT-LINE,UNDERLINE,HIGHINTENSITY,OTHER", a);
  EXPECT_EQ(a, 9);
}

TEST(Screen, ColourTableEntries) {
  TestFrame t;
  t.input(100, "X\nCOLOURTABLE\nsea, 3 , 0\nland,5\n,9\nEND:COLOURTABLE\n");
  INITCL(t.fr, 100);
  ASSERT_EQ(t.fr.colours.size(), 2u);
  EXPECT_EQ(t.fr.colours[0].name, "SEA");
  EXPECT_EQ(t.fr.colours[0].number, 3);
  EXPECT_EQ(t.fr.colours[0].second, 1);
  EXPECT_EQ(t.fr.colours[1].number, 5);
}
