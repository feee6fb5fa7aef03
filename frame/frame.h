#pragma once
// The run frame: everything the start-up sets up and every step writes through — settings,
// units, the pager, the block table, progress, the console and the keyboard, the clock and
// the file system.
#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frame/clock.h"
#include "frame/console.h"
#include "frame/filesystem.h"
#include "frame/units.h"

namespace frame {

// Thrown by a fatal path after its messages and ENDPR; only main catches it.
struct Stop {
  int code;
};

// A fatal finding made where the listing cannot be written (in a worker thread of the cell
// loop). Whoever catches it writes the lines (to the error unit or the listing), calls ENDPR,
// and stops with stopCode, or reports the error flag when stopCode is 0.
struct Failure {
  std::vector<std::string> lines;
  bool toErrorUnit = true;
  int stopCode = 0;

  // The error flag: the lines go to the error unit and the run ends with status 2.
  static Failure errorFlag(std::vector<std::string> lines) { return {std::move(lines), true, 0}; }
  // A stop with code after the lines, written to the error unit.
  static Failure stop(std::vector<std::string> lines, int code) { return {std::move(lines), true, code}; }
  // A stop with code after the lines, written to the listing as it stands.
  static Failure listedStop(std::vector<std::string> lines, int code) { return {std::move(lines), false, code}; }
};

struct PagerState {
  int unit = 11;            // paged unit, set by SETLU
  std::string unitName;     // name of the file connected to it
  std::string mode = "YE";  // "YE", "NO" or "HD"
  int linesPerPage = 56;
  int pageLength = 56;  // lines per page in force, copied at each INIT
  int lineCounter = 0;
  int pageCounter = 0;
  bool headerPending = true;
  bool afterReset = false;  // the paged unit was switched back and nothing written since
  int screenAttribute = 7;
  std::string title;    // the run's date and time
  std::string program;  // program name for the header (10 characters)
  // SETLU's saved unit while the error unit is active.
  bool switched = false;
  int savedUnit = 11;
  std::string savedName;
};

struct BarState {
  bool active = false;
  int nextColumn = 0;  // 0-based column of the next bar character
  int perCall = 1;     // bar characters per BAR call
  std::string line;    // the bar line as shown
};

// The block loaded last by VULREG.
struct BlockTable {
  std::vector<std::string> lines;  // each cut to 100 characters
  std::vector<size_t> records;     // the record of the file each line came from
  int unit = -1;                   // the unit the block was loaded from
  int current = 0;                 // 1-based index of the line found last by ZOEK
  bool restart = false;
  int count() const { return static_cast<int>(lines.size()); }
  const std::string& currentLine() const { return lines[static_cast<size_t>(current - 1)]; }
};

struct FileOverview {
  std::vector<std::string> names;
  bool overflow = false;
};

struct ColourEntry {
  std::string name;
  int number = -1;
  int second = 1;
};

struct Frame {
  Frame(Console& c, Clock& k, std::vector<std::string> arguments)
      : Frame(c, k, diskFileSystem(), std::move(arguments)) {}
  Frame(Console& c, Clock& k, FileSystem& f, std::vector<std::string> arguments)
      : console(c), clock(k), files(f), keyboard(c), args(std::move(arguments)) {}
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  Console& console;
  Clock& clock;
  FileSystem& files;  // DEVICE.CNF, the listing, the command file, the structure's header
  Keyboard keyboard;
  std::vector<std::string> args;  // the command line, args[0] the program

  // Settings.
  float version = 0.0f;
  int keyboardUnit = 5, screenUnit = 6, commandUnit = 10, listingUnit = 11, errorUnit = 11;
  int configUnit = -1;
  std::string programName;
  std::vector<std::string> runString;  // at most 10 parameters of at most 100 characters
  std::string listingName, errorName, commandName, configName;
  int textFg = 7, textBg = 0, headFg = 15, headBg = 0;
  int startBackground = 0;
  float low = -1.0e9f, high = 1.0e9f;
  std::string plotter;
  bool syncOutputs = false;  // SYNC in DEVICE.CNF or the run string: outputs forced to the disk
  int threads = 0;           // threads of the cell loop: THREADS in DEVICE.CNF or the run string; 0 = every core
  // The threads to work on: THREADS when given, otherwise one a core (at least one).
  int cores() const {
    return threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  }
  // The run report (REPORT in DEVICE.CNF or the run string): at the end of the listing, and
  // as JSON when a file is named. The quick-look picture (PICTURE): its file, empty for none.
  bool reportAsked = false;
  std::string reportName;
  std::string pictureName;
  // The memory the grids of a run may take, in MiB: MEMORY in DEVICE.CNF or the run string;
  // 0 when neither gives it (then the machine's available memory bounds the run).
  double memoryMiB = 0.0;
  std::string memoryText;  // MEMORY as given, for messages
  int32_t bandRows = 0;    // BAND= in the run string: rows per band, 0 = from the bound
  std::string tileText;    // TILE=k/n as given in the run string; empty: the whole structure
  bool progressDisplay = true;
  std::string progressFile;
  int progressUnit = -1;

  PagerState pager;
  BarState bar;
  BlockTable block;
  FileOverview overview;
  std::vector<ColourEntry> colours;
  UnitTable units;

  // Paged text written before the listing was open: shown in the listing once it opens,
  // or on the screen when the run ends first.
  std::vector<std::string> early;
  bool ended = false;
  // An ERROR block was written after which the run went on without an input: status 3.
  bool inputLeftOut = false;
  // The grid file the run wrote, for the batch log's last line.
  std::string resultName;
};

}  // namespace frame
