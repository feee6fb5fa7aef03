#include "frame/messages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "frame/files.h"
#include "frame/pager.h"
#include "frame/startup.h"
#include "support.h"

using namespace frame;
using testing_support::hasBlock;
using testing_support::TestFrame;

TEST(MessagesOnStandardError, OneBlockPerMessageWithoutHeadingsAndUnderlines) {
  TestFrame t;
  t.fr.programName = "TervalaGridCreate";
  echoMessages(t.fr,
               {" ", " ERROR", " *****", " ", " line=X", " ", " The file does not exist.", " ", " WARNING", " *******",
                " second"},
               false);
  ASSERT_EQ(t.console.errors.size(), 3u);
  EXPECT_EQ(t.console.errors[0], "TervalaGridCreate: ERROR: line=X");
  EXPECT_EQ(t.console.errors[1], "    The file does not exist.");
  EXPECT_EQ(t.console.errors[2], "TervalaGridCreate: WARNING: second");

  // Variant headings of the model files are headings too.
  t.console.errors.clear();
  echoMessages(t.fr, {" ******ERROR", " Initialize system:"}, false);
  ASSERT_EQ(t.console.errors.size(), 1u);
  EXPECT_EQ(t.console.errors[0], "TervalaGridCreate: ERROR: Initialize system:");

  // Plain listing text is no message; text for the error unit is, named as asked.
  t.console.errors.clear();
  echoMessages(t.fr, {"Er zijn WEL waarden gevonden"}, false);
  EXPECT_TRUE(t.console.errors.empty());
  echoMessages(t.fr, {"The program will stop"}, true, "job.pcf:3", "ERROR");
  ASSERT_EQ(t.console.errors.size(), 1u);
  EXPECT_EQ(t.console.errors[0], "TervalaGridCreate: ERROR: job.pcf:3: The program will stop");
}

TEST(MessagesOnStandardError, InputLeftOutMarksTheRunAndWarningsLeaveItAlone) {
  TestFrame t;
  t.openListing();
  warningBlock(t.fr, {" A warning."});
  EXPECT_FALSE(t.fr.inputLeftOut);
  inputLeftOut(t.fr, {" The file does not exist. The program will proceed."});
  EXPECT_TRUE(t.fr.inputLeftOut);
  EXPECT_EQ(t.console.errors.size(), 2u);
}

TEST(Units, AnotherSpellingOfAConnectedFileIsTheSameUnit) {
  TestFrame t;
  t.openOutput(11, "run.out");
  int unit = -1;
  const std::string dir = t.dir.string();
  EXPECT_TRUE(t.fr.units.LUCONN(dir + "/./run.out", unit));
  EXPECT_EQ(unit, 11);
  EXPECT_TRUE(t.fr.units.LUCONN(dir + "/../" + t.dir.filename().string() + "/run.out", unit));
  EXPECT_FALSE(t.fr.units.LUCONN(dir + "/other.out", unit));
}

TEST(Progress, TheProgressFileHoldsOneByteB2PerStep) {
  TestFrame t;
  t.fr.progressDisplay = false;
  t.fr.progressFile = t.path("progress.txt").string();
  INIBAR(t.fr, "Reading", 1, 10, 1);
  const std::vector<std::string> lines = testing_support::readLines(t.path("progress.txt"));
  ASSERT_EQ(lines.size(), 1u);
  const std::string& l = lines[0];
  ASSERT_GT(l.size(), 8u);
  EXPECT_EQ(l.substr(0, 8), "Reading ");
  for (size_t i = 8; i < l.size(); ++i) EXPECT_EQ(static_cast<unsigned char>(l[i]), 0xB2u) << i;
}

// Start-up in a folder of its own: DEVICE.CNF and the command file are found in the work folder.
struct WorkFolder {
  std::string before;
  explicit WorkFolder(const std::string& dir) {
    char buf[4096];
    before = getcwd(buf, sizeof buf) ? buf : ".";
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~WorkFolder() { EXPECT_EQ(chdir(before.c_str()), 0); }
};

TEST(StartUp, MonochromeAttributesAreVisibleColours) {
  TestFrame t;
  testing_support::writeFile(t.path("DEVICE.CNF"),
                             "DISPLAY\nMONOCHROME\nPRINT-LINE,NORMAL\nPRINT-HEAD,REVERSE\nEND:DISPLAY\n");
  testing_support::writeFile(t.path("TervalaGridCreate.PCF"), "* nothing\n");
  WorkFolder in(t.dir.string());
  INITPR(t.fr, "Tervala", "TervalaGridCreate", 1.01f, 0.0f);
  // Reverse video is dark text on a light background, never black on black.
  EXPECT_EQ(t.fr.headFg, 0);
  EXPECT_EQ(t.fr.headBg, 7);
  EXPECT_EQ(t.fr.textFg, 7);
  EXPECT_EQ(t.fr.textBg, 0);
  ENDPR(t.fr);
}

TEST(StartUp, OneParameterWithoutEqualsIsTheCommandFile) {
  TestFrame t;
  t.fr.args = {"TervalaGridCreate", "job.pcf"};
  RUNSTR(t.fr);
  std::string v;
  ASSERT_TRUE(RUNPRM(t.fr, "INPUT", 2, v));
  EXPECT_EQ(v, "job.pcf");
  EXPECT_TRUE(t.console.errors.empty());

  TestFrame u;
  u.fr.args = {"TervalaGridCreate", "OUT=x.lis", "th=2", "--quiet"};
  RUNSTR(u.fr);
  EXPECT_EQ(u.console.errors,
            (std::vector<std::string>{
                "TervalaGridCreate: WARNING: Run-string parameter OUT=x.lis is not known and is ignored (see --help).",
                "TervalaGridCreate: WARNING: Option --quiet is not known and is ignored (see --help)."}));
}

TEST(StoppingARun, TheMessageIsWrittenTheListingClosedAndTheCodeCarried) {
  // A stop writes its lines where asked, completes the listing, then carries its code to main.
  TestFrame t;
  t.openListing();
  try {
    stopWithMessage(t.fr, MessageTo::Listing, {" ERROR", " The file is too short."}, 100);
    FAIL() << "stopWithMessage returned";
  } catch (const Stop& s) {
    EXPECT_EQ(s.code, 100);
  }
  EXPECT_TRUE(t.fr.ended);
  EXPECT_TRUE(hasBlock(t.lines(), {" ERROR", " The file is too short."}));
  ASSERT_EQ(t.console.errors.size(), 1u);
  EXPECT_EQ(t.console.errors[0], "TervalaGridCreate: ERROR: The file is too short.");

  // A failure from the cell loop: the error flag ends the run without a stop, a stop code stops it.
  TestFrame f;
  f.openListing();
  EXPECT_TRUE(reportFailure(f.fr, Failure::errorFlag({" ERROR", " *****", " A table line is wrong."})));
  EXPECT_TRUE(f.fr.ended);
  TestFrame g;
  g.openListing();
  EXPECT_THROW(
      {
        try {
          (void)reportFailure(g.fr, Failure::listedStop({" ****Error", " No intersection found"}, 100));
        } catch (const Stop& s) {
          EXPECT_EQ(s.code, 100);
          throw;
        }
      },
      Stop);
  EXPECT_TRUE(hasBlock(g.lines(), {" ****Error", " No intersection found"}));
}

TEST(Units, ALeaseClosesItsUnitOnEveryWayOutAndOnlyItsOwn) {
  TestFrame t;
  UnitTable& units = t.fr.units;
  {
    UnitLease a(units);
    EXPECT_EQ(a.number(), 100);
    a.connect("first.bil");
    UnitLease b(units);  // the next free number while the first is held
    EXPECT_EQ(b.number(), 101);
    b.connect("second.bil");
    b.release();
    EXPECT_FALSE(units.connected(101));
    EXPECT_TRUE(units.connected(100));
  }
  EXPECT_FALSE(units.connected(100));  // closed at the end of the scope

  // A lease whose file never opened leaves alone the unit another reader connected under the
  // same number meanwhile.
  {
    UnitLease unopened(units);
    units.connectName(unopened.number(), "other.map");
  }
  EXPECT_TRUE(units.connected(100));

  // A stop thrown while the file is read closes the unit too.
  units.close(100);
  try {
    UnitLease c(units);
    c.connect("third.asc");
    throw Stop{100};
  } catch (const Stop&) {
  }
  EXPECT_FALSE(units.connected(100));
}

TEST(MessageBlocks, ABlockThatRunsOverAPageTurnIsReadWholeAcrossIt) {
  // A page of 10 lines: the heading takes 3, so the block's fifth line starts the next page.
  testing_support::MemoryFrame m;
  m.openListing("YE", 10);
  for (int i = 0; i < 3; ++i) PAGN2(m.fr, "NEWLINE", "line " + std::to_string(i));
  const std::vector<std::string> block = testing_support::errorBlock({" The first line.", " The second line."});
  writeListing(m.fr, {" ", " ERROR", " *****", " ", " The first line.", " The second line."});
  const std::vector<std::string> lines = m.lines();
  // The page turn stands inside the block: the footer, the heading and its rule.
  ASSERT_GE(lines.size(), 15u);
  EXPECT_EQ(lines[9], std::string(72, ' ') + "/1..");
  EXPECT_EQ(lines[11], std::string(76, '-'));
  EXPECT_TRUE(hasBlock(lines, block));
  // Across the turn the block must still be whole and in order: a line lost, swapped or added
  // is not read through.
  EXPECT_FALSE(hasBlock(lines, {" ERROR", " *****", " The first line.", " The second line."}));
  EXPECT_FALSE(hasBlock(lines, testing_support::errorBlock({" The second line.", " The first line."})));
  EXPECT_FALSE(
      hasBlock(lines, testing_support::errorBlock({" The first line.", " The lost line.", " The second line."})));
}
