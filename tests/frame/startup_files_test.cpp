// The start-up on a file system held in memory: where DEVICE.CNF is found, what its OUTPUT,
// LINES, NEWPAGE and LIMITS lines do, and what the user sees when a file is missing or bad.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "frame/startup.h"
#include "support.h"

using namespace frame;
using testing_support::errorBlock;
using testing_support::hasBlock;
using testing_support::MemoryFrame;

namespace {

const char* kProgram = "TervalaGridCreate";

// INITPR as the program calls it, without the banner; the stop code, or 0 when it returns.
int startUp(MemoryFrame& m) {
  try {
    INITPR(m.fr, "Tervala", kProgram, 1.01f, 0.0f);
  } catch (const Stop& s) {
    return s.code;
  }
  return 0;
}

// A run that starts with this DEVICE.CNF in the work folder and an empty command file.
int startWith(MemoryFrame& m, const std::string& cnf) {
  m.files.addFile("DEVICE.CNF", cnf);
  m.files.addFile("TervalaGridCreate.PCF", "* nothing\n");
  return startUp(m);
}

}  // namespace

TEST(StartUpFiles, DeviceCnfIsLookedForInTheWorkFolderTheProgramsFolderAndVeskpcInThatOrder) {
  struct Case {
    const char* why;
    std::vector<std::string> places;  // where a DEVICE.CNF stands
    std::string veskpc;               // the VESKPC list, empty for none
    std::string found;
  } cases[] = {
      {"the work folder only", {"DEVICE.CNF"}, "", "DEVICE.CNF"},
      {"the work folder before the program's", {"DEVICE.CNF", "/opt/tervala/bin/DEVICE.CNF"}, "", "DEVICE.CNF"},
      {"the program's folder", {"/opt/tervala/bin/DEVICE.CNF"}, "/etc/a", "/opt/tervala/bin/DEVICE.CNF"},
      {"the program's folder before VESKPC",
       {"/opt/tervala/bin/DEVICE.CNF", "/etc/a/DEVICE.CNF"},
       "/etc/a",
       "/opt/tervala/bin/DEVICE.CNF"},
      {"VESKPC, the first folder that has one",
       {"/etc/b/DEVICE.CNF", "/etc/c/DEVICE.CNF"},
       "/etc/a:/etc/b/::/etc/c",
       "/etc/b/DEVICE.CNF"},
      {"another spelling in the work folder", {"device.cnf"}, "", "device.cnf"},
      {"another spelling in a VESKPC folder", {"/etc/a/Device.Cnf"}, "/etc/a", "/etc/a/Device.Cnf"},
  };
  for (const auto& c : cases) {
    MemoryFrame m;
    for (const auto& p : c.places) m.files.addFile(p, "LINES,40\n");
    if (!c.veskpc.empty()) m.files.environment["VESKPC"] = c.veskpc;
    EXPECT_EQ(startUp(m), 0) << c.why;
    EXPECT_EQ(m.fr.configName, c.found) << c.why;
    EXPECT_EQ(m.fr.pager.linesPerPage, 40) << c.why;
    EXPECT_TRUE(m.fr.units.input(m.fr.configUnit) != nullptr) << c.why;
  }
}

TEST(StartUpFiles, WithoutDeviceCnfTheRunStopsWithCode1AndSaysWhereItLooked) {
  MemoryFrame m;
  m.files.environment["VESKPC"] = "/etc/a:/etc/b";
  m.files.addFolder("/etc/a");
  EXPECT_EQ(startUp(m), 1);
  const std::vector<std::string> screen = {"",
                                           "",
                                           "",
                                           " There is no configuration file DEVICE.CNF found.",
                                           " It is obligatory and should reside in the work-",
                                           " directory or in the VESKPC home directory.",
                                           "",
                                           "  Press any key to continue",
                                           "",
                                           ""};
  EXPECT_TRUE(hasBlock(m.console.lines, screen));
  const std::vector<std::string> log = {
      "TervalaGridCreate: ERROR: There is no configuration file DEVICE.CNF found.",
      "    It is obligatory and should reside in the work directory, in the program's",
      "    directory or in a directory of the VESKPC list."};
  EXPECT_TRUE(hasBlock(m.console.errors, log));
  EXPECT_TRUE(m.fr.listingName.empty());
}

TEST(StartUpFiles, ADeviceCnfThatCannotBeReadStopsTheRunWithCode1) {
  struct Case {
    const char* why;
    int error;
  } cases[] = {{"a folder of that name", EISDIR}, {"a file that cannot be read", EACCES}};
  for (const auto& c : cases) {
    MemoryFrame m;
    if (c.error == EISDIR)
      m.files.addFolder("DEVICE.CNF");
    else
      m.files.failOn("DEVICE.CNF", EACCES);
    EXPECT_EQ(startUp(m), 1) << c.why;
    EXPECT_TRUE(hasBlock(m.console.lines, {" The configuration file DEVICE.CNF could not be read.",
                                           " Error number : " + std::to_string(c.error)}))
        << c.why;
    EXPECT_TRUE(hasBlock(m.console.errors, {"TervalaGridCreate: ERROR: The configuration file DEVICE.CNF could not "
                                            "be read: " +
                                            std::string(std::strerror(c.error))}))
        << c.why;
  }
}

TEST(StartUpFiles, AProgramFolderTooLongToHoldStopsTheRunBeforeLookingFurther) {
  MemoryFrame m;
  m.files.program = "/" + std::string(250, 'p') + "/TervalaGridCreate";
  m.files.addFile("/etc/a/DEVICE.CNF", "");
  m.files.environment["VESKPC"] = "/etc/a";
  EXPECT_EQ(startUp(m), 1);
  EXPECT_TRUE(
      hasBlock(m.console.lines,
               {"", " Module INTPR:", "  The length of the directory where the   program is started from is too great",
                "  for the variable where it must be stored.", " ", " WARN the administrator"}));
  // A DEVICE.CNF in the work folder is found before the program's folder is asked for.
  MemoryFrame n;
  n.files.program = m.files.program;
  EXPECT_EQ(startWith(n, ""), 0);
}

TEST(StartUpFiles, TheListingIsNamedByOutputWithTheProgramForTheAt) {
  struct Case {
    std::string cnf;
    std::vector<std::string> args;
    std::string listing;
  } cases[] = {
      {"", {}, "TervalaGridCreate.out"},
      {"OUTPUT,run.lis\n", {}, "run.lis"},
      {"OUTPUT,lists/@.lis\n", {}, "lists/TervalaGridCreate.lis"},
      {"OUTPUT\n", {}, "TervalaGridCreate.OUT"},
      {"OUTPUT,run.lis\n", {"OU=mine.lis"}, "mine.lis"},
      {"OUTPUT,run.lis\n", {"OUTPUT=" + std::string(60, 'x')}, std::string(50, 'x')},
  };
  for (const auto& c : cases) {
    MemoryFrame m;
    m.fr.args.insert(m.fr.args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(startWith(m, c.cnf), 0) << c.cnf;
    EXPECT_EQ(m.fr.listingName, c.listing) << c.cnf;
    ENDPR(m.fr);
    // The listing starts with its page heading; a listing that was there is written after.
    EXPECT_FALSE(m.lines(c.listing).empty()) << c.cnf;
  }
  MemoryFrame kept;
  kept.files.addFile("run.lis", "an earlier run\n");
  EXPECT_EQ(startWith(kept, "OUTPUT,run.lis\n"), 0);
  EXPECT_EQ(kept.lines("run.lis").at(0), "an earlier run");
}

TEST(StartUpFiles, AListingThatCannotBeOpenedStopsTheRunWithCode14) {
  MemoryFrame m;
  m.files.failOn("run.lis", EACCES);
  EXPECT_EQ(startWith(m, "OUTPUT,run.lis\n"), 14);
  EXPECT_TRUE(hasBlock(m.console.lines,
                       {" Module OUTPUT error.", " Warn administrator.", " Error number : " + std::to_string(EACCES)}));
  EXPECT_TRUE(hasBlock(m.console.errors, {"TervalaGridCreate: ERROR: The listing run.lis could not be opened: " +
                                          std::string(std::strerror(EACCES))}));
  EXPECT_TRUE(m.fr.ended);
}

TEST(StartUpFiles, PagingLinesOfDeviceCnf) {
  struct Case {
    std::string cnf;
    std::string mode;
    int lines;
  } cases[] = {
      {"", "YE", 56},
      {"NEWPAGE,NO\nLINES,30\n", "NO", 30},
      {"newpage,header\n", "HD", 56},
      {"NEWPAGE,MAYBE\nLINES,10000\n", "YE", 10000},
  };
  for (const auto& c : cases) {
    MemoryFrame m;
    EXPECT_EQ(startWith(m, c.cnf), 0) << c.cnf;
    EXPECT_EQ(m.fr.pager.mode, c.mode) << c.cnf;
    EXPECT_EQ(m.fr.pager.linesPerPage, c.lines) << c.cnf;
  }
  // A page of millions of lines would fill the disk at the end of the run: the default instead.
  MemoryFrame m;
  EXPECT_EQ(startWith(m, "LINES,2000000\n"), 0);
  EXPECT_EQ(m.fr.pager.linesPerPage, 56);
  EXPECT_TRUE(hasBlock(m.lines("TervalaGridCreate.out"),
                       {"LINES in DEVICE.CNF not correct", "A page holds at most 10000 lines; 2000000 were asked for.",
                        "The number of lines is set to default."}));
}

TEST(StartUpFiles, LimitsOfDeviceCnf) {
  MemoryFrame m;
  EXPECT_EQ(startWith(m, "LIMITS,LOW=-5.5,HIGH=1.0E6\n"), 0);
  EXPECT_EQ(m.fr.low, -5.5f);
  EXPECT_EQ(m.fr.high, 1.0e6f);
  MemoryFrame one;
  EXPECT_EQ(startWith(one, "LIMITS,HIGH=20\n"), 0);
  EXPECT_EQ(one.fr.low, -1.0e9f);
  EXPECT_EQ(one.fr.high, 20.0f);
  // Reversed or equal limits: the defaults, and a message that reaches the listing once it is
  // open (the limits are read before it is).
  for (const char* cnf : {"LIMITS,LOW=10,HIGH=-10\n", "LIMITS,LOW=3,HIGH=3\n", "LIMITS,LOW=2.0E9\n"}) {
    MemoryFrame r;
    EXPECT_EQ(startWith(r, cnf), 0) << cnf;
    EXPECT_EQ(r.fr.low, -1.0e9f) << cnf;
    EXPECT_EQ(r.fr.high, 1.0e9f) << cnf;
    ENDPR(r.fr);
    EXPECT_TRUE(hasBlock(r.lines("TervalaGridCreate.out"), {"LIMITS in DEVICE.CNF not correct",
                                                            "The resulting lower limit is higher then the lower limit.",
                                                            "The limits are set to default."}))
        << cnf;
  }
}

TEST(StartUpFiles, TheCommandFileMissingEmptyOrUnreadable) {
  // Missing: a remark, no file is made, and the run reads no commands.
  MemoryFrame m;
  m.files.addFile("DEVICE.CNF", "");
  m.fr.args.push_back("IN=JOB.PCF");
  EXPECT_EQ(startUp(m), 0);
  EXPECT_EQ(m.fr.commandName, "JOB.PCF");
  EXPECT_FALSE(m.files.fileExists("JOB.PCF"));
  EXPECT_TRUE(
      hasBlock(m.lines("TervalaGridCreate.out"), {"", "REMARK", "~~~~~~", "Command file JOB.PCF is not available.",
                                                  "The file is not created; the run reads no commands.",
                                                  "This situation may cause an error in the program.", ""}));
  // Found in another spelling, and empty.
  MemoryFrame e;
  e.files.addFile("DEVICE.CNF", "");
  e.files.addFile("job.pcf", "");
  e.fr.args.push_back("JOB.PCF");
  EXPECT_EQ(startUp(e), 0);
  EXPECT_TRUE(hasBlock(e.lines("TervalaGridCreate.out"), {"", "REMARK", "~~~~~~", "The commandfile JOB.PCF is empty.",
                                                          "This situation may cause an error in the program.", ""}));
  // Unreadable: the run stops with code 10.
  for (bool openFailed : {true, false}) {
    MemoryFrame u;
    u.files.addFile("DEVICE.CNF", "");
    u.files.addFile("job.pcf", "STRUCTURE\n");
    u.files.failOn("job.pcf", EIO, openFailed);
    u.fr.args.push_back("job.pcf");
    EXPECT_EQ(startUp(u), 10);
    EXPECT_TRUE(hasBlock(
        u.lines("TervalaGridCreate.out"),
        {std::string(openFailed ? "Error when opening commandfile " : "Error in reading from commandfile ") + "job.pcf",
         "Error number :           5", "The program stops."}));
  }
}

TEST(StartUpFiles, TheErrorFileGoesToItsOwnUnitUnlessItIsAFolder) {
  MemoryFrame m;
  m.fr.args.push_back("ER=errors.lis");
  EXPECT_EQ(startWith(m, ""), 0);
  EXPECT_NE(m.fr.errorUnit, m.fr.listingUnit);
  EXPECT_EQ(m.fr.units.nameOf(m.fr.errorUnit), "errors.lis");
  MemoryFrame f;
  f.files.addFolder("errors");
  f.fr.args.push_back("ER=errors");
  EXPECT_EQ(startWith(f, ""), 10);
  // The error unit it was to go to is not open: the block is shown on the screen.
  EXPECT_TRUE(hasBlock(f.console.lines,
                       {"Error when opening errorfile errors", "Error number :          21", "The program stops."}));
  EXPECT_TRUE(hasBlock(f.console.errors, {"TervalaGridCreate: ERROR: Error when opening errorfile errors",
                                          "    Error number :          21", "    The program stops."}));
}
