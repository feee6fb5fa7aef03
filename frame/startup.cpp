#include "frame/startup.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "frame/cmdfile.h"
#include "frame/datetime.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/pager.h"
#include "frame/screen.h"
#include "frame/text.h"

namespace frame {

// ---------------------------------------------------------------- run string

// The run-string keywords the program knows, each also known by its first two letters.
const char* const kRunKeywords[] = {"OUTPUT", "ERROR", "INPUT", "THREADS", "MEMORY",
                                    "TILE",   "BAND",  "SYNC",  "REPORT",  "PICTURE"};

void RUNSTR(Frame& fr) {
  fr.runString.clear();
  for (size_t i = 1; i < fr.args.size() && fr.runString.size() < 10; ++i) {
    std::string p = fr.args[i].substr(0, 100);
    fr.runString.push_back(trimRight(p));
  }
  // The command line a person types: "TervalaGridCreate job.pcf" (with other parameters or
  // not) names the command file when it is the only parameter without "=" and no INPUT= is given.
  size_t positional = 0, at = 0;
  bool inputGiven = false;
  for (size_t i = 0; i < fr.runString.size(); ++i) {
    const std::string& p = fr.runString[i];
    const size_t eq = p.find('=');
    if (eq == std::string::npos && !p.empty() && p[0] != '-') {
      ++positional;
      at = i;
    } else if (eq != std::string::npos && eq > 0) {
      const std::string name = upper(p.substr(0, eq));
      inputGiven = inputGiven || name == "INPUT" || name == "IN";
    }
  }
  const bool commandFileGiven = positional == 1 && !inputGiven;
  if (commandFileGiven) fr.runString[at] = trimRight(("INPUT=" + fr.runString[at]).substr(0, 100));
  // Parameters the program does not know change nothing; a batch log says so, since they are
  // most often a slip (OUT=, a misspelled keyword).
  for (size_t i = 1; i < fr.args.size(); ++i) {
    const std::string& a = fr.args[i];
    std::string what;
    if (i > 10) {
      what = "Run-string parameter " + a + " is beyond the tenth and is ignored.";
    } else if (a.compare(0, 2, "--") == 0) {
      what = "Option " + a + " is not known and is ignored (see --help).";
    } else if (size_t eq = a.find('='); eq != std::string::npos && eq > 0) {
      const std::string name = upper(a.substr(0, eq));
      bool known = false;
      for (const char* k : kRunKeywords) known = known || name == k || name == std::string(k).substr(0, 2);
      if (!known) what = "Run-string parameter " + a + " is not known and is ignored (see --help).";
    } else if (!(commandFileGiven && i == at + 1)) {
      what = "Run-string parameter " + a + " is not known and is ignored (see --help).";
    }
    if (!what.empty()) echoMessages(fr, {"WARNING", what}, true);
  }
}

bool RUNPRM(Frame& fr, std::string_view keyword, int n, std::string& value) {
  const std::string key = upper(trimmed(keyword));
  if (key.empty()) {
    if (n < 1 || n > static_cast<int>(fr.runString.size())) return false;
    const std::string& p = fr.runString[static_cast<size_t>(n - 1)];
    size_t eq = p.find('=');
    value = eq == std::string::npos ? p : p.substr(eq + 1);
    return true;
  }
  const size_t shortest = n == 0 ? 2 : static_cast<size_t>(n);
  for (const auto& p : fr.runString) {
    size_t eq = p.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string name = upper(p.substr(0, eq));
    if (name == key || name == key.substr(0, shortest)) {
      value = p.substr(eq + 1);
      return true;
    }
  }
  return false;
}

bool PARCHR(Frame& fr, std::string_view keyword, int n, std::string& value, size_t maxLength) {
  std::string v;
  if (!RUNPRM(fr, keyword, n, v)) return false;
  value = v.substr(0, maxLength);
  return true;
}

void VERSION(Frame& fr, std::string_view family, std::string_view program, float bannerTime) {
  if (!(bannerTime > 0.0f)) return;
  std::string full(51, '#');
  full[0] = '\xB0';
  full[1] = '\xB1';
  full[2] = '\xB2';
  std::string frame = "#" + std::string(49, ' ') + "#";
  std::string l2 = frame;
  l2.replace(2, family.size() < 47 ? family.size() : 47, family.substr(0, 47));
  std::string l4 = "#  Program :                     Version          #";
  l4.replace(13, program.size() < 28 ? program.size() : 28, program.substr(0, 28));
  l4.replace(42, 4, fmtF(fr.version, 4, 2));
  const std::string lines[7] = {full, l2, frame, l4, frame, frame, std::string(51, '#')};
  fr.console.clear(fr.textBg);
  for (int i = 0; i < 7; ++i) fr.console.putText(7 + i, 14, fr.textFg, fr.textBg, lines[i]);
  const int whole = static_cast<int>(bannerTime);
  TIMOUT(fr, 0, 0, whole, static_cast<int>((bannerTime - static_cast<float>(whole)) * 100.0f));
  fr.console.clear(fr.textBg);
}

// ---------------------------------------------------------------- start-up

namespace {

// A monochrome text attribute (blink 128, background 16..112, intensity 8, colour 0..7) as
// the foreground and background colours the window draws with.
void splitAttribute(int& fg, int& bg) {
  const int attribute = fg;
  fg = attribute & 15;
  bg = (attribute >> 4) & 7;
}

std::string systemMessage(int e) {
  return std::strerror(e);
}

// The longest listing page DEVICE.CNF may ask for.
constexpr int kMaxLinesPerPage = 10000;

[[noreturn]] void stopOne() {
  throw Stop{1};
}

// DEVICE.CNF is looked for in the work folder, in the program's folder, and in the folders
// of the VESKPC list, in that order; empty when it is in none of them.
std::string findDeviceCnf(Frame& fr) {
  FileSystem& fs = fr.files;
  const std::string file = "DEVICE.CNF";
  std::string here = fs.resolveInputName(file);
  if (fs.fileExists(here)) return here;
  std::string dir = DIRPR(fr);
  if (dir.size() + 10 > 256) {
    fr.console.clear(fr.textBg);
    for (const char* l :
         {"", " Module INTPR:", "  The length of the directory where the   program is started from is too great",
          "  for the variable where it must be stored.", " ", " WARN the administrator"}) {
      fr.console.screenLine(l);
    }
    stopOne();
  }
  std::string start = fs.resolveInputName(dir + file);
  if (fs.fileExists(start)) return start;
  if (fs.fileExists(here)) return here;
  if (auto list = fs.environmentVariable("VESKPC")) {
    for (const auto& d : splitPathList(*list)) {
      std::string p = fs.resolveInputName(d + (d.back() == '/' ? "" : "/") + file);
      if (fs.fileExists(p)) return p;
    }
  }
  return std::string();
}

// OUTPUT: names and opens the listing, then reads the paging lines of DEVICE.CNF.
void OUTPUT(Frame& fr, std::string name) {
  std::string ou;
  if (PARCHR(fr, "OUTPUT", 2, ou, 50)) name = ou;
  fr.listingName = name;
  int unit = -1;
  if (!fr.units.LUCONN(name, unit)) {
    std::unique_ptr<TextOutputFile> f;
    int e = fr.files.openTextOutput(nativeName(name), true, f);
    if (e != 0) {
      // No listing to write to: the screen is restored first and the message goes on it.
      ENDPR(fr);
      fr.console.screenLine(" Module OUTPUT error.");
      fr.console.screenLine(" Warn administrator.");
      fr.console.screenLine(" Error number : " + std::to_string(e));
      echoMessages(fr, {"ERROR", "The listing " + name + " could not be opened: " + systemMessage(e)}, true);
      throw Stop{14};
    }
    fr.units.connectOutput(fr.listingUnit, name, std::move(f));
  }
  std::string line, item;
  TextInputUnit* cnf = fr.units.input(fr.configUnit);
  cnf->rewind();
  fr.pager.mode = "YE";
  if (OPDR(fr, "NEWPAGE", fr.configUnit, line, LineMode::NOCHNG)) {
    PARAM(fr, line, 2, item);
    std::string v = upper(item);
    if (v == "NO")
      fr.pager.mode = "NO";
    else if (v == "HEADER")
      fr.pager.mode = "HD";
  }
  cnf->rewind();
  fr.pager.linesPerPage = 56;
  if (OPDR(fr, "LINES", fr.configUnit, line, LineMode::NOCHNG)) UNFORM(fr, line, 2, "I4", fr.pager.linesPerPage);
  // Every page is filled to its length at the end of the run: a length of millions of lines
  // (a slip of the keyboard) would fill the disk with blank lines.
  if (fr.pager.linesPerPage > kMaxLinesPerPage) {
    writeErrorUnit(fr, {"LINES in DEVICE.CNF not correct",
                        "A page holds at most " + std::to_string(kMaxLinesPerPage) + " lines; " +
                            std::to_string(fr.pager.linesPerPage) + " were asked for.",
                        "The number of lines is set to default."});
    fr.pager.linesPerPage = 56;
  }
}

// The error file or the command file could not be opened or read: the run stops with code 10.
[[noreturn]] void unitFileFailure(Frame& fr, const std::string& what, const std::string& name, int e) {
  fatalErrorBlock(fr, {what + name, "Error number :" + listInt(e), "The program stops."}, 10);
}

void ERUNIT(Frame& fr) {
  std::string name;
  if (!PARCHR(fr, "ERROR", 2, name, 150)) {
    fr.errorUnit = fr.listingUnit;
    return;
  }
  fr.errorName = name;
  int unit = -1;
  if (fr.units.LUCONN(name, unit)) {
    fr.errorUnit = unit;
    return;
  }
  fr.errorUnit = fr.units.FREEFILE(100);
  std::string path = nativeName(name);
  if (fr.files.isDirectory(path)) unitFileFailure(fr, "Error when opening errorfile ", fr.errorName, EISDIR);
  std::unique_ptr<TextOutputFile> f;
  int e = fr.files.openTextOutput(path, true, f);
  if (e != 0) unitFileFailure(fr, "Error when opening errorfile ", fr.errorName, e);
  fr.units.connectOutput(fr.errorUnit, name, std::move(f));
}

void INPUT(Frame& fr, std::string_view program) {
  std::string name = trimRight(program.substr(0, program.size() < 50 ? program.size() : 50)) + ".PCF";
  std::string in;
  if (PARCHR(fr, "INPUT", 2, in, 150)) name = in;
  fr.commandName = name;
  int unit = -1;
  if (!fr.units.LUCONN(name, unit)) {
    std::string path = fr.files.resolveInputName(name);
    TextLines records;
    if (!fr.files.fileExists(path)) {
      // A misspelled name must not leave an empty command file behind: nothing is created and
      // the run reads no commands.
      writeErrorUnit(fr, {" ", "REMARK", "~~~~~~", "Command file " + name + " is not available.",
                          "The file is not created; the run reads no commands.",
                          "This situation may cause an error in the program.", " "});
    } else {
      bool openFailed = false;
      int e = fr.files.readTextLines(path, records, openFailed);
      if (e != 0)
        unitFileFailure(fr, openFailed ? "Error when opening commandfile " : "Error in reading from commandfile ",
                        fr.commandName, e);
      if (records.size() == 0) {
        writeErrorUnit(fr, {"  ", "REMARK", "~~~~~~", "The commandfile " + name + " is empty.",
                            "This situation may cause an error in the program.", " "});
      }
    }
    fr.units.connectInput(fr.commandUnit, name, std::move(records));
  }
  COLLFI(fr, name);
}

// DEVICE.CNF: found (or the run stops with code 1), read whole and connected to its unit.
void openDeviceCnf(Frame& fr) {
  std::string cnf = findDeviceCnf(fr);
  if (cnf.empty()) {
    for (const char* l : {"", "", "", " There is no configuration file DEVICE.CNF found.",
                          " It is obligatory and should reside in the work-",
                          " directory or in the VESKPC home directory.", "", "  Press any key to continue", "", ""}) {
      fr.console.screenLine(l);
    }
    echoMessages(fr,
                 {"ERROR", "There is no configuration file DEVICE.CNF found.",
                  "It is obligatory and should reside in the work directory, in the program's",
                  "directory or in a directory of the VESKPC list."},
                 true);
    TIMOUT(fr, 0, 0, 100, 0);
    stopOne();
  }
  // Its lines are read whole into a unit of their own.
  fr.configUnit = fr.units.FREEFILE(100);
  fr.configName = cnf;
  {
    TextLines records;
    bool openFailed = false;
    int e = fr.files.isDirectory(cnf) ? EISDIR : fr.files.readTextLines(cnf, records, openFailed);
    if (e != 0) {
      fr.console.screenLine(" The configuration file " + cnf + " could not be read.");
      fr.console.screenLine(" Error number : " + std::to_string(e));
      echoMessages(fr, {"ERROR", "The configuration file " + cnf + " could not be read: " + systemMessage(e)}, true);
      stopOne();
    }
    fr.units.connectInput(fr.configUnit, cnf, std::move(records));
  }
  INITCL(fr, fr.configUnit);
}

// The DISPLAY block of DEVICE.CNF: the colours (COLOUR) or text attributes (MONOCHROME) of the
// listing's lines and headings on the screen.
void readDisplayColours(Frame& fr) {
  fr.units.input(fr.configUnit)->rewind();
  VULREG(fr, "DISPLAY", "END:DISPLAY", fr.configUnit, false, LineMode::CHANGE);
  if (fr.block.count() > 0) {
    std::string item;
    fr.block.restart = true;
    if (ZOEK(fr, "COLOUR")) {
      auto colours = [&](const char* key, int& fg, int& bg) {
        fr.block.restart = true;
        if (!ZOEK(fr, key)) return;
        const std::string& line = fr.block.currentLine();
        if (PARAM(fr, line, 2, item) > 0) {
          int c = colourCode(item, 16);
          if (c >= 0) fg = c;
        }
        if (PARAM(fr, line, 3, item) > 0) {
          int c = colourCode(item, 8);
          if (c >= 0) bg = c;
        }
      };
      colours("PRINT-LINE", fr.textFg, fr.textBg);
      colours("PRINT-HEAD", fr.headFg, fr.headBg);
    } else {
      fr.block.restart = true;
      if (ZOEK(fr, "MONOCHROME")) {
        fr.block.restart = true;
        if (ZOEK(fr, "PRINT-LINE")) ATTRIB(fr, fr.block.currentLine(), fr.textFg);
        fr.block.restart = true;
        if (ZOEK(fr, "PRINT-HEAD")) ATTRIB(fr, fr.block.currentLine(), fr.headFg);
        // The words give a text attribute (REVERSE is dark on light, NORMAL light on dark,
        // HIGHINTENSITY bright), not a colour number: its low four bits are the text colour
        // and the next three the background, so reverse video does not draw black on black.
        splitAttribute(fr.textFg, fr.textBg);
        splitAttribute(fr.headFg, fr.headBg);
      }
    }
  }
  fr.pager.screenAttribute = fr.textBg * 32 + fr.textFg;
  if (fr.pager.screenAttribute == 0) fr.pager.screenAttribute = 7;
}

// LIMITS: the lowest and highest coordinate a file may hold; reversed limits fall back to the
// defaults with a message.
void readLimits(Frame& fr) {
  std::string line;
  fr.units.input(fr.configUnit)->rewind();
  fr.low = -1.0e9f;
  fr.high = 1.0e9f;
  if (OPDR(fr, "LIMITS", fr.configUnit, line, LineMode::NOCHNG)) {
    NAMEDV(fr, line, "LOW", "R4", fr.low);
    NAMEDV(fr, line, "HIGH", "R4", fr.high);
    if (!(fr.high > fr.low)) {
      writeErrorUnit(fr,
                     {"LIMITS in DEVICE.CNF not correct", "The resulting lower limit is higher then the lower limit.",
                      "The limits are set to default."});
      fr.low = -1.0e9f;
      fr.high = 1.0e9f;
    }
  }
}

// OUTPUT, ERROR and INPUT: the listing (its name from DEVICE.CNF, "@" standing for the program),
// the error file and the command file.
void openListingAndCommands(Frame& fr, std::string_view program) {
  TextInputUnit* in = fr.units.input(fr.configUnit);
  std::string line;
  if (program.empty() || program[0] != '-') {
    std::string name = std::string(program) + ".out";
    in->rewind();
    if (OPDR(fr, "OUTPUT", fr.configUnit, line, LineMode::NOCHNG)) {
      std::string p;
      int len = PARAM(fr, line, 2, p);
      if (len <= 0) {
        name = std::string(program) + ".OUT";
      } else if (size_t at = p.find('@'); at != std::string::npos) {
        name = p.substr(0, at) + std::string(program) + p.substr(at + 1);
      } else {
        name = p;
      }
    }
    OUTPUT(fr, name.substr(0, 50));
    SETLU(fr, fr.listingUnit, "INIT");
    PAGN2(fr, "INIT", " ");
    // Messages of the start-up that came before the listing existed.
    std::vector<std::string> early;
    early.swap(fr.early);
    for (const auto& l : early) PAGN2(fr, "NEWLINE", l);
    ERUNIT(fr);
    INPUT(fr, program);
    PRCOLL(fr, fr.listingUnit);
  }
}

// The run's options from DEVICE.CNF, each beaten by its run-string parameter where it has one:
// progress, threads, report, picture, memory, bands and tiles, sync, plotter.
void readRunOptions(Frame& fr) {
  TextInputUnit* in = fr.units.input(fr.configUnit);
  std::string line;
  // PROGRESS: the progress bar on the screen (NO: none) and a progress file.
  in->rewind();
  fr.progressDisplay = true;
  fr.progressFile.clear();
  fr.progressUnit = -1;
  if (OPDR(fr, "PROGRESS", fr.configUnit, line, LineMode::NOCHNG)) {
    std::string item;
    if (PARAM(fr, line, 2, item) > 0 && upper(item) == "NO") fr.progressDisplay = false;
    if (PARAM(fr, line, 3, item) > 0) {
      fr.progressFile = item.substr(0, 40);
      fr.progressUnit = 7;
    }
  }
  // Threads of the cell loop: a THREADS line, beaten by THREADS= (TH=) in the run string.
  in->rewind();
  fr.threads = 0;
  if (OPDR(fr, "THREADS", fr.configUnit, line, LineMode::NOCHNG)) UNFORM(fr, line, 2, "I4", fr.threads);
  std::string threads;
  if (RUNPRM(fr, "THREADS", 2, threads)) UNFORM(fr, "THREADS," + threads, 2, "I4", fr.threads);
  if (fr.threads < 0) fr.threads = 0;
  // The run report and the picture: a REPORT or PICTURE line, beaten by REPORT= (RE=) or
  // PICTURE= (PI=) in the run string. REPORT without a file name asks for the listing's report.
  in->rewind();
  fr.reportAsked = false;
  fr.reportName.clear();
  fr.pictureName.clear();
  std::string value;
  if (OPDR(fr, "REPORT", fr.configUnit, line, LineMode::NOCHNG)) {
    fr.reportAsked = true;
    if (PARAM(fr, line, 2, value) > 0) fr.reportName = value;
  }
  if (RUNPRM(fr, "REPORT", 2, value)) {
    fr.reportAsked = true;
    fr.reportName = value;
  }
  in->rewind();
  if (OPDR(fr, "PICTURE", fr.configUnit, line, LineMode::NOCHNG) && PARAM(fr, line, 2, value) > 0) {
    fr.pictureName = value;
  }
  if (RUNPRM(fr, "PICTURE", 2, value)) fr.pictureName = value;
  // The memory bound: a MEMORY line, beaten by MEMORY= (ME=) in the run string; BAND= and
  // TILE= only in the run string. The driver checks them.
  in->rewind();
  fr.memoryMiB = 0.0;
  fr.memoryText.clear();
  if (OPDR(fr, "MEMORY", fr.configUnit, line, LineMode::NOCHNG)) PARAM(fr, line, 2, fr.memoryText);
  std::string memory;
  if (RUNPRM(fr, "MEMORY", 0, memory)) fr.memoryText = trimmed(memory);
  if (!fr.memoryText.empty() && !parseFortranReal(fr.memoryText, fr.memoryMiB)) fr.memoryMiB = -1.0;
  std::string band;
  fr.bandRows = 0;
  if (RUNPRM(fr, "BAND", 0, band)) {
    int64_t rows = 0;
    fr.bandRows =
        parseFortranInteger(trimmed(band), rows) && rows > 0 && rows <= INT32_MAX ? static_cast<int32_t>(rows) : -1;
  }
  fr.tileText.clear();
  if (RUNPRM(fr, "TILE", 0, fr.tileText)) fr.tileText = trimmed(fr.tileText);
  // Outputs forced to the disk before the run reports success: a SYNC line, beaten by SYNC=
  // (SY=) in the run string.
  in->rewind();
  fr.syncOutputs = false;
  if (OPDR(fr, "SYNC", fr.configUnit, line, LineMode::NOCHNG)) {
    std::string item;
    fr.syncOutputs = PARAM(fr, line, 2, item) > 0 && upper(item) == "YES";
  }
  std::string sync;
  if (RUNPRM(fr, "SYNC", 2, sync)) fr.syncOutputs = upper(sync) == "YES";
  // PLOTTER: the plotter line, kept as it stands.
  in->rewind();
  fr.plotter.clear();
  if (OPDR(fr, "PLOTTER", fr.configUnit, line, LineMode::NOCHNG) && line.size() > 8) fr.plotter = line.substr(8);
}

}  // namespace

void INITPR(Frame& fr, std::string_view family, std::string_view program, float version, float bannerTime) {
  // The unit numbers of the run and the program.
  fr.version = version;
  fr.keyboardUnit = 5;
  fr.screenUnit = 6;
  fr.commandUnit = 10;
  fr.listingUnit = 11;
  fr.errorUnit = 11;
  fr.programName = std::string(program);
  fr.ended = false;
  // Keys may be read from now on.
  fr.keyboard.PEEKSTART();
  // Default colours: light text on black, bright headings.
  fr.textFg = 7;
  fr.textBg = 0;
  fr.headFg = 15;
  fr.headBg = 0;
  // The run string, and the pager on the listing unit.
  RUNSTR(fr);
  fr.pager.unit = fr.listingUnit;
  PROGRM(fr, program);
  openDeviceCnf(fr);
  readDisplayColours(fr);
  readLimits(fr);
  // The screen is cleared and the banner shown.
  fr.startBackground = CLS(fr);
  if (fr.version < 4.0f) fr.version = 4.0f;
  VERSION(fr, family, program, bannerTime);
  if (program.empty() || program[0] != '-') openListingAndCommands(fr, program);
  readRunOptions(fr);
}

void ENDPR(Frame& fr) {
  if (fr.ended) return;
  fr.ended = true;
  PagerState& p = fr.pager;
  if (TextOutputFile* out = fr.units.output(p.unit)) {
    // A page is completed when one was started, and always after a switch back from the
    // error unit; a listing with nothing on its page gets no blank page.
    if (!p.headerPending || p.afterReset) {
      if (p.mode == "YE") {
        while (p.lineCounter < p.linesPerPage) {
          out->writeLine(std::string());
          ++p.lineCounter;
        }
        if (p.pageCounter < 1000) {
          std::string t = "/" + std::to_string(p.pageCounter);
          out->writeLine(std::string(76 - t.size(), ' ') + t);
        } else {
          out->writeLine(std::string());
        }
      } else {
        while (p.lineCounter <= p.linesPerPage) {
          out->writeLine(std::string());
          ++p.lineCounter;
        }
      }
    }
  } else {
    // The run ended before the listing was opened: show what it would have held.
    for (const auto& l : fr.early) fr.console.screenLine(l);
    fr.early.clear();
  }
  fr.units.flushAll();
  CLRPAG(fr, fr.startBackground);
  PUTCSR(fr, 0, 0);
  fr.console.restore();
}

}  // namespace frame
