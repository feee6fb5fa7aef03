#pragma once
// Where every value came from: the sets of a run numbered in command-file order, the codes of
// the source grid, the counts per set, the time of each step, and the run report that the
// listing and a JSON file receive at the end of a run.
#include <atomic>
#include <bit>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace grid {
class SourceGridWriter;
class PictureSampler;
}  // namespace grid

namespace assign {

struct Run;
struct ValueRecord;
struct RunSettings;

// Codes of the source grid besides the numbers of the sets (1, 2, ...).
constexpr int32_t kSourceNodata = 0;     // the cell is NODATA
constexpr int32_t kSourceCombined = -1;  // several sets of the winning priority were combined
constexpr int32_t kSourceCleared = -2;   // a CLEAR polygon took the cell out of the computation

enum class SetKind : uint8_t { Grid, Points, Model, Polygons };
const char* setKindText(SetKind k);

// One set of the run: a TERVALAGRID, POINTFILE, USE-ZAV-OBJECT or POLYGONFILE line that the
// run took.
struct SetRecord {
  SetKind kind = SetKind::Grid;
  int32_t tableIndex = 0;  // in the table of its kind
  size_t line = 0;         // its record in the command file
  int32_t number = 0;      // from 1, in command-file order
  std::string name;        // file name, or object and parameter of a model use
  int32_t priority = 0;    // not for polygon files
  std::string use;         // polygon files: CLEAR, ASSIGN or RESET
  int64_t valuesRead = 0;  // grid values, points, model segments, polygons
  int64_t cellsReached = 0;
  int64_t cellsWon = 0;
};

// What the report says of the grid's cells and values, added up band by band.
struct CellCounts {
  int64_t cells = 0, withValue = 0, nodata = 0, masked = 0;
  int64_t combined = 0, cleared = 0, nodataCode = 0;
  bool anyValue = false;
  float minimum = 0.0f, maximum = 0.0f;
  double mean = 0.0, sum = 0.0;
  std::vector<int64_t> won;  // per set number, the cells whose value it gave
};

// One bit a cell of the structure (an eighth of a byte a cell): the cells a polygon file
// covered, whatever number of its polygons covered each.
struct CellBits {
  std::vector<uint64_t> words;
  void reset(size_t cells) { words.assign((cells + 63) / 64, 0); }
  // Sets the bits of cells from..from+count-1. Polygons are applied on several cores, a band
  // of rows each, and a word may hold the end of one band and the start of the next: the
  // words a run only partly covers are changed at once for all threads.
  void setRun(size_t from, size_t count) {
    if (count == 0) return;
    const size_t end = from + count, first = from / 64, last = (end - 1) / 64;
    auto orInto = [this](size_t w, uint64_t bits) {
      std::atomic_ref<uint64_t>(words[w]).fetch_or(bits, std::memory_order_relaxed);
    };
    const uint64_t head = ~uint64_t{0} << (from % 64);
    const uint64_t tail = ~uint64_t{0} >> (63 - (end - 1) % 64);
    if (first == last) {
      orInto(first, head & tail);
      return;
    }
    orInto(first, head);
    for (size_t w = first + 1; w < last; ++w) words[w] = ~uint64_t{0};
    orInto(last, tail);
  }
  int64_t count() const {
    int64_t n = 0;
    for (uint64_t w : words) n += std::popcount(w);
    return n;
  }
  void release() { std::vector<uint64_t>().swap(words); }
};

struct Provenance {
  bool track = false;  // the cell loop records sources and counts
  // SOURCEFILE.
  std::string sourceType, sourceName;
  int sourceBits = 16;
  // The sets as read (grid sets, point sets, model uses and polygon files in that order);
  // numbered by number() once all are read.
  std::vector<SetRecord> sets;
  // Per set the cell loop searches (grid sets, point sets, model uses, in the cell loop's
  // order): its place in sets, and the cells it reached.
  std::vector<size_t> searched;
  std::vector<int64_t> reached;
  // The polygon file being applied: its number and the cells its polygons covered.
  int32_t polygonNumber = 0;
  CellBits covered;
  std::string polygonUse;
  int64_t polygonCount = 0;
  // The counts of the rows written so far, and the source grid written beside the grid.
  CellCounts counts;
  std::shared_ptr<grid::SourceGridWriter> sourceOut;
  int sourceError = 0;
  // The cells the pictures show, kept as the rows go by; the pictures as PNG bytes, drawn and
  // packed on helper threads from the moment the last row is accounted (the sources' only
  // with a source grid).
  std::shared_ptr<grid::PictureSampler> picture;
  std::future<std::vector<uint8_t>> valuePng, sourcePng;
  // The time of each step.
  std::vector<std::pair<std::string, double>> steps;
  double stepStart = 0.0;

  // The number a set about to be added at command-file record `line` will have.
  int32_t numberAt(size_t line) const;
  // Numbers the sets in command-file order; fills `searched`.
  void number();
  // The source code of a searched set's place in the cell loop's order (-1: combined).
  int32_t codeOf(int32_t searchIndex) const {
    return searchIndex < 0 ? kSourceCombined : sets[searched[static_cast<size_t>(searchIndex)]].number;
  }
};

// The records [begin, end) of a cell's value list that one set gave, with the set's place in
// the cell loop's order. A set gives its records one after another, all of its priority.
struct SetRun {
  int32_t set = 0;
  uint32_t begin = 0, end = 0;
};

// The searched set (its place in the cell loop's order) whose records gave the cell's value
// `result`, or -1 when records of several sets of the winning priority made it together.
// The list is the cell's value list as the run method combined it, runs its sets in list
// order; result is not NODATA.
int32_t winningSet(const std::vector<ValueRecord>& list, const std::vector<SetRun>& runs, const RunSettings& settings,
                   float result);

// The rows from..to (from >= to) of the structure just computed, of the rows top..bottom the
// run writes: counted for the report, written to the source grid, and sampled for the
// pictures.
void accountRows(Run& run, int32_t from, int32_t to, int32_t top, int32_t bottom);

// Starts and ends the timing of a step of the run.
void startStep(Run& run);
void endStep(Run& run, const std::string& name);

// What the run writes after the grid: the source grid, the pictures and the run report (in
// the listing and as JSON). Returns err.
[[nodiscard]] bool writeRunAccount(Run& run);

// The run report as JSON (the JSON file; shared with the tests).
std::string reportJson(Run& run);

}  // namespace assign
