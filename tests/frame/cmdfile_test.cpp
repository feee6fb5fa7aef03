#include "frame/cmdfile.h"

#include <gtest/gtest.h>

#include "support.h"

using namespace frame;
using testing_support::hasBlock;
using testing_support::TestFrame;

TEST(SignificantLines, ChangeModeSqueezesBlanksAndUpperCases) {
  std::string l;
  ASSERT_TRUE(significantLine("  Run method , File = a b.asc", l, LineMode::CHANGE, false));
  EXPECT_EQ(l, "RUNMETHOD,FILE=AB.ASC");
  ASSERT_TRUE(significantLine("  Run method , File = a$b.asc", l, LineMode::CHANGE, false));
  EXPECT_EQ(l, "RUNMETHOD,FILE=A B.ASC");
  ASSERT_TRUE(significantLine("a\tb", l, LineMode::CHANGE, false));
  EXPECT_EQ(l, "A B");
  ASSERT_TRUE(significantLine("a\tb ", l, LineMode::NOCHNG, false));
  EXPECT_EQ(l, "a$b");
  ASSERT_TRUE(significantLine("  Keep  Case ", l, LineMode::NOCHNG, false));
  EXPECT_EQ(l, "Keep  Case");
  ASSERT_TRUE(significantLine("a\tb", l, LineMode::NOCHNG, true));
  EXPECT_EQ(l, "a b");
}

TEST(SignificantLines, CommentsAndBlankLinesAreSkipped) {
  std::string l;
  EXPECT_FALSE(significantLine("", l, LineMode::CHANGE, false));
  EXPECT_FALSE(significantLine("     ", l, LineMode::CHANGE, false));
  EXPECT_FALSE(significantLine("* comment", l, LineMode::CHANGE, false));
  EXPECT_FALSE(significantLine("   * comment", l, LineMode::CHANGE, false));
  EXPECT_FALSE(significantLine("++ comment", l, LineMode::CHANGE, false));
  EXPECT_TRUE(significantLine("+ not a comment", l, LineMode::CHANGE, false));
  EXPECT_EQ(l, "+NOTACOMMENT");
  std::string longLine(250, 'x');
  ASSERT_TRUE(significantLine(longLine, l, LineMode::NOCHNG, false));
  EXPECT_EQ(l.size(), 200u);
}

TEST(KeywordLines, OpdrAndPresnt) {
  TestFrame t;
  t.input(10, "* c\nSTOREFILE\nRUN-METHOD,MAXIMUM\nSTOREFILE,ASC,out.asc\nXLL=5,1\n");
  std::string line;
  ASSERT_TRUE(OPDR(t.fr, "storefile", 10, line, LineMode::CHANGE));
  EXPECT_EQ(line, "STOREFILE");
  ASSERT_TRUE(OPDR(t.fr, "STOREFILE", 10, line, LineMode::NOCHNG));
  EXPECT_EQ(line, "STOREFILE,ASC,out.asc");
  EXPECT_FALSE(OPDR(t.fr, "STOREFILE", 10, line, LineMode::CHANGE));
  t.fr.units.input(10)->rewind();
  // PRESNT stops at the first matching line, which has no value.
  EXPECT_FALSE(PRESNT(t.fr, "STOREFILE", 10, line, LineMode::CHANGE));
  EXPECT_TRUE(PRESNT(t.fr, "STOREFILE", 10, line, LineMode::CHANGE));
  t.fr.units.input(10)->rewind();
  // A first item name=value is found under its value.
  EXPECT_TRUE(OPDR(t.fr, "5", 10, line, LineMode::CHANGE));
  t.fr.units.input(10)->rewind();
  EXPECT_FALSE(OPDR(t.fr, "XLL", 10, line, LineMode::CHANGE));
}

TEST(Blocks, LoadSearchAndRepeat) {
  TestFrame t;
  t.input(10,
          "STRUCTURE\n#COLUMNS,10\n#rows,5\nEND:STRUCTURE\nSTRUCTURE\nXLL,1\nEND:STRUCTURE\n"
          "B\n" +
              std::string(120, 'Q') + "\n");
  VULREG(t.fr, "STRUCTURE", "END:STRUCTURE", 10, true, LineMode::CHANGE);
  ASSERT_EQ(t.fr.block.count(), 4);
  EXPECT_EQ(t.fr.block.lines[3], "END:STRUCTURE");
  EXPECT_TRUE(ZOEK(t.fr, "#ROWS"));
  EXPECT_EQ(t.fr.block.current, 3);
  EXPECT_FALSE(ZOEK(t.fr, "#COLUMNS"));  // searching on from the current line
  t.fr.block.restart = true;
  EXPECT_TRUE(ZOEK(t.fr, "#columns"));
  // The next call without rewinding loads the second block of the same name.
  VULREG(t.fr, "STRUCTURE", "END:STRUCTURE", 10, true, LineMode::CHANGE);
  ASSERT_EQ(t.fr.block.count(), 3);
  EXPECT_EQ(t.fr.block.lines[1], "XLL,1");
  // Without an end line the block runs to the end of the file; lines are cut to 100.
  VULREG(t.fr, "B", "END:B", 10, false, LineMode::CHANGE);
  ASSERT_EQ(t.fr.block.count(), 2);
  EXPECT_EQ(t.fr.block.lines[1].size(), 100u);
  // An absent optional block is empty and says nothing.
  t.fr.units.input(10)->rewind();
  VULREG(t.fr, "MISSING", "END:MISSING", 10, false, LineMode::CHANGE);
  EXPECT_EQ(t.fr.block.count(), 0);
}

TEST(Blocks, FiveHundredLinesLoadAndOneMoreStops) {
  std::string body;
  for (int i = 0; i < 498; ++i) body += "L" + std::to_string(i) + "\n";
  TestFrame t;
  t.input(10, "BLK\n" + body + "END:BLK\n");
  VULREG(t.fr, "BLK", "END:BLK", 10, true, LineMode::CHANGE);
  EXPECT_EQ(t.fr.block.count(), 500);

  TestFrame u;
  u.openListing();
  u.input(10, "BLK\n" + body + "ONEMORE\nEND:BLK\n");
  try {
    VULREG(u.fr, "BLK", "END:BLK", 10, true, LineMode::CHANGE);
    FAIL();
  } catch (const Stop& s) {
    EXPECT_EQ(s.code, 1);
  }
  EXPECT_TRUE(hasBlock(
      u.lines(), {"BLOCK :", "", "Start line : BLK", "End line   : END:BLK", "Number of lines in block greater 500",
                  "Shorten block or warn administrator.", "The program will stop."}));
}

TEST(Blocks, ObligatoryBlockMissingStops) {
  TestFrame t;
  t.openListing();
  t.input(10, "OTHER\n");
  try {
    VULREG(t.fr, "STRUCTURE", "END:STRUCTURE", 10, true, LineMode::CHANGE);
    FAIL();
  } catch (const Stop& s) {
    EXPECT_EQ(s.code, 1);
  }
  EXPECT_TRUE(hasBlock(t.lines(), {"The next obliged information-block is not available.", "    Start line : STRUCTURE",
                                   "    End line   : END:STRUCTURE", "FILE :", "input10", "The program will stop"}));
}
