#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "assign/ongrid.h"
#include "assign/run.h"
#include "assign/zavsearch.h"
#include "assign/zavspill.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/pager.h"
#include "grid/bigblocks.h"
#include "grid/structure.h"
#include "grid/writer.h"

namespace assign {

namespace {

// The cell's corners (anticlockwise from lower-left) and middle, in single precision relative
// to the structure's corner.
void cellGeometry(const grid::Structure& s, int32_t i, int32_t j, CellGeometry& g) {
  const float x0 = s.edge(i - 1), x1 = s.edge(i);
  const float y0 = s.edge(j - 1), y1 = s.edge(j);
  const float c[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
  for (int k = 0; k < 8; ++k) g.corners[k] = c[k];
  g.middle[0] = s.middle(i);
  g.middle[1] = s.middle(j);
}

const frame::Failure kNanFailure = frame::Failure::stop(
    {" ", " ===WARNING, fatal error===", " ", " A Nan found during the run.",
     " This is probably due to a bug in the program (area=0.),", " so please WARN THE ADMINISTRATOR:", " ",
     " Administrator: the maintainers of TervalaGridCreate at your site."},
    100);

// Computes cell (i, j) with worker w; a fatal finding is returned.
inline std::optional<frame::Failure> computeCell(Run& run, Worker& w, int32_t i, int32_t j) {
  grid::Structure& s = run.structure;
  const size_t k = s.grid.index(i, j);
  if (!s.computes(k)) return std::nullopt;
  float v;
  try {
    v = GETINFORMATION(run, w, i, j);
  } catch (const frame::Failure& f) {
    return f;
  }
  s.grid.values[k] = v;
  // The last guard: a value that is not a finite number never reaches the output.
  if (!std::isfinite(v)) return kNanFailure;
  if (v != s.grid.nodata) w.foundAValue = true;
  // Where the value came from, beside it; the value list still holds the cell's records.
  if (run.provenance.track) {
    int32_t code = kSourceNodata;
    if (v != s.grid.nodata) {
      const int32_t set = run.settings.method == RunMethod::Average ? (w.atTop == 1 ? w.topSet : kSourceCombined)
                                                                    : winningSet(w.values, w.setRuns, run.settings, v);
      code = run.provenance.codeOf(set);
    }
    s.source[k] = code;
  }
  return std::nullopt;
}

// Adds what a worker counted per set to the run's counts, and starts its counts again; and
// whether its cells found a value.
void collectWorker(Run& run, Worker& w) {
  run.computedValueFound = run.computedValueFound || w.foundAValue;
  w.foundAValue = false;
  auto& total = run.provenance.reached;
  for (size_t k = 0; k < w.reached.size() && k < total.size(); ++k) total[k] += w.reached[k];
  w.reached.clear();
}

// What the main thread and the workers of one computation on several cores share: a lock and
// a signal for every change of the work's state, the cells the workers have done, and whether
// the computation is given up.
struct Pump {
  std::mutex lock;
  std::condition_variable changed;
  std::atomic<int64_t> done{0};
  std::atomic<bool> abandon{false};

  bool abandoned() const { return abandon.load(std::memory_order_relaxed); }
  void count(int64_t cells) { done.fetch_add(cells, std::memory_order_relaxed); }
  // Tells every worker to stop where it is.
  void giveUp() {
    {
      std::lock_guard<std::mutex> g(lock);
      abandon = true;
    }
    changed.notify_all();
  }
  // The progress pump, on the main thread while the workers compute: it looks every 50 ms, or
  // sooner when ready() turns true, does the main thread's own share with step() (under the
  // lock, which step may let go for a while), and turns the display by the cells done since it
  // last looked. It ends when step() says the work is over; after a fatal finding the workers
  // skip what comes after it in cell order, so the work is soon over. The display is turned
  // without the lock: Escape stops the run there.
  template <typename Ready, typename Step>
  void run(frame::ProgressCounter& progress, Ready ready, Step step) {
    int64_t shown = 0;
    std::unique_lock<std::mutex> g(lock);
    for (;;) {
      changed.wait_for(g, std::chrono::milliseconds(50), ready);
      const bool over = step(g);
      const int64_t now = done.load(std::memory_order_relaxed);
      if (now > shown) {
        g.unlock();
        progress.turns(now - shown);
        g.lock();
        shown = now;
      }
      if (over) return;
    }
  }
};

// The worker threads of one computation, one job each. On every way out (the work done, Escape
// in the progress display, a thread that could not be started) the workers are told to give
// up and joined, so declare the pool after everything its jobs use.
class Pool {
 public:
  explicit Pool(Pump& pump) : pump_(pump) {}
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  ~Pool() {
    pump_.giveUp();
    for (auto& t : threads_) t.join();
  }
  template <typename Job>
  void start(Job job) {
    threads_.emplace_back(std::move(job));
  }

 private:
  Pump& pump_;
  std::vector<std::thread> threads_;
};

// The grid sets of a run whose cells can be computed straight from them: every set of the run
// (at most kStraightSets) lies on the structure's own grid with one value a cell, or, on a
// structure of cells with one averaged value per set, is a grid of cells elsewhere; the run
// method is AVERAGE, MAXIMUM or MINIMUM of at least one value, and no sources are followed. A
// cell's value then comes from the sets' values at the cell, or the average of the input cells
// it overlaps, and its rows need not go through the general search. Empty otherwise.
struct StraightSet {
  const grid::GridDescription* d = nullptr;
  int searched = -1;  // a set on another grid: its index (FittingRow); -1 on the structure's grid
};
std::vector<StraightSet> straightSets(const Run& run) {
  std::vector<StraightSet> sets;
  const size_t n = run.gridSets.sets.size();
  const bool cellStructure = run.structure.grid.cellValues();
  // A structure of no columns or no rows has no row to take straight.
  if (run.structure.grid.ncols <= 0 || run.structure.grid.nrows <= 0) return sets;
  if (n == 0 || n > kStraightSets || !run.pointSets.empty() || !run.zav.uses.empty()) return sets;
  if (run.provenance.track || run.settings.numberOfValues > 1) return sets;
  const RunMethod m = run.settings.method;
  if (m != RunMethod::Average && m != RunMethod::Maximum && m != RunMethod::Minimum) return sets;
  for (size_t k = 0; k < n; ++k) {
    const grid::GridDescription& d = run.gridSets.descriptions[static_cast<size_t>(run.gridSets.sets[k].description)];
    if (!d.sameGeometry) {
      const GridSetPlan& p = run.gridPlans[k];
      if (!cellStructure || !run.settings.perSetAverage || !p.searchable || !p.cellSet) return {};
      sets.push_back({&d, static_cast<int>(k)});
      continue;
    }
    if (d.numberOfValues >= 2) return {};
    // A record of no weight would be combined otherwise.
    if (cellStructure && static_cast<float>(d.dx) * static_cast<float>(d.dy) == 0.0f) return {};
    sets.push_back({&d, -1});
  }
  return sets;
}

// Cell c (from 0) of row j of a straight row takes r, or goes the general way where it must or
// where r is not a finite number (the general way reports that). Returns its fatal finding.
inline std::optional<frame::Failure> settleCell(Run& run, Worker& w, float* out, int32_t c, int32_t j, float r,
                                                bool general, bool& found) {
  if (general || !std::isfinite(r)) return computeCell(run, w, c + 1, j);
  out[c] = r;
  found = found || r != run.structure.grid.nodata;
  return std::nullopt;
}

// Row j of a run whose n sets all lie on the structure's grid (computeStraightRow): a cell's
// records are the sets' values at the cell, combined without building the list; one, two and
// three sets with the loops unrolled, and, of one priority, four cells at a time.
// out and mask: the row's cells and the mask of those it computes (none: all).
std::optional<frame::Failure> computeRowOnGrid(Run& run, Worker& w, int32_t j, float* out, const uint8_t* mask,
                                               size_t n, const float* const* in, const float* setNodata,
                                               const ValueRecord* record, frame::ProgressCounter* progress) {
  const int32_t nc = run.structure.grid.ncols;
  const float nodata = run.structure.grid.nodata;
  bool found = false;
  const bool average = run.settings.method == RunMethod::Average;
  const bool max = run.settings.method == RunMethod::Maximum;
  std::array<int32_t, kStraightSets> priority;
  std::array<double, kStraightSets> weight;
  for (size_t k = 0; k < n; ++k) {
    priority[k] = record[k].priority;
    weight[k] = record[k].weight == -1.0f ? 1.0 : static_cast<double>(record[k].weight);
  }
  // Sets of one priority: four cells at a time, and the cells beyond the last four one by
  // one. A row with a value that is not a finite number goes cell by cell from its start.
  int32_t c = 0;
  if (std::all_of(priority.begin(), priority.begin() + static_cast<ptrdiff_t>(n),
                  [&](int32_t p) { return p == priority[0]; })) {
    const int32_t cells = nc & ~int32_t{3};
    auto fourAtATime = [&]<size_t N>() {
      const double* wt = weight.data();
      if (average) return combineRowOnGrid<N, true, false>(in, setNodata, wt, cells, nodata, mask, out, found);
      if (max) return combineRowOnGrid<N, false, true>(in, setNodata, wt, cells, nodata, mask, out, found);
      return combineRowOnGrid<N, false, false>(in, setNodata, wt, cells, nodata, mask, out, found);
    };
    const bool fours = n == 1   ? fourAtATime.template operator()<1>()
                       : n == 2 ? fourAtATime.template operator()<2>()
                       : n == 3 ? fourAtATime.template operator()<3>()
                                : false;
    if (fours) {
      c = cells;
      if (progress) progress->turns(cells);
    }
  }
  for (; c < nc; ++c) {
    if (progress) progress->turn();
    if (mask && !mask[c]) continue;
    float r = nodata;
    if (n == 1) {
      r = combineOnGrid(in, c, setNodata, priority.data(), weight.data(), 1, average, max, nodata);
    } else if (n == 2) {
      r = combineOnGrid(in, c, setNodata, priority.data(), weight.data(), 2, average, max, nodata);
    } else if (n == 3) {
      r = combineOnGrid(in, c, setNodata, priority.data(), weight.data(), 3, average, max, nodata);
    } else {
      r = combineOnGrid(in, c, setNodata, priority.data(), weight.data(), n, average, max, nodata);
    }
    if (auto f = settleCell(run, w, out, c, j, r, false, found)) return f;
  }
  if (found) w.foundAValue = true;
  return std::nullopt;
}

// Row j of a run whose one set lies on another grid (computeStraightRow): a cell's one record is
// the average of the input cells it overlaps, of weight one, which the run method takes as it
// is, but for AVERAGE, which gives NODATA for a value within 0.0001 of it.
std::optional<frame::Failure> computeRowFromOneSet(Run& run, Worker& w, int32_t j, float* out, const uint8_t* mask,
                                                   const FittingRow& fitting, bool rowInOrder, bool columnsInOrder,
                                                   frame::ProgressCounter* progress) {
  const grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols;
  const float nodata = s.grid.nodata;
  const bool average = run.settings.method == RunMethod::Average;
  bool found = false;
  for (int32_t c = 0; c < nc; ++c) {
    if (progress) progress->turn();
    if (mask && !mask[c]) continue;
    float v = nodata;  // where the set gives the cell nothing
    const int got = rowInOrder && (columnsInOrder || s.edge(c) < s.edge(c + 1)) ? fitting.average(c + 1, v) : -1;
    if (got == 1 && average && std::fabs(static_cast<double>(v) - static_cast<double>(nodata)) < 0.0001) v = nodata;
    if (auto f = settleCell(run, w, out, c, j, v, got < 0, found)) return f;
  }
  if (found) w.foundAValue = true;
  return std::nullopt;
}

// Row j of a run with straightSets: each cell the polygons leave gets the records the general
// search would give it, in table order: a set on the structure's grid its value (none where it
// lies within 0.0001 of its NODATA), a set elsewhere the average of the input cells the cell
// overlaps; combined as the search's are; none: NODATA. A cell whose corners are not in order or
// whose input cells must be clipped, and a value that is not a finite number, go the general
// way (which reports the last).
std::optional<frame::Failure> computeStraightRow(Run& run, Worker& w, const std::vector<StraightSet>& sets,
                                                 bool columnsInOrder, int32_t j, frame::ProgressCounter* progress) {
  grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols;
  const float nodata = s.grid.nodata;
  const bool cellStructure = s.grid.cellValues();
  const size_t at = s.grid.index(1, j);
  float* out = &s.grid.values[at];
  const uint8_t* mask = s.maskCells() ? s.maskCells() + at : nullptr;
  const size_t n = sets.size();
  std::array<const float*, kStraightSets> in{};
  std::array<float, kStraightSets> setNodata;     // held here: the row's stores cannot touch them
  std::array<ValueRecord, kStraightSets> record;  // each set's record but for its value
  std::array<FittingRow, kStraightSets> fitting;  // the sets elsewhere along the row
  bool searched = false;
  for (size_t k = 0; k < n; ++k) {
    const grid::GridDescription& d = *sets[k].d;
    ValueRecord& r = record[k];
    r.priority = d.priority;
    if (sets[k].searched >= 0) {
      fitting[k] = FittingRow(run, sets[k].searched, j);
      searched = true;
      r.weight = 1.0f;
      r.related = Related::Cell;
      continue;
    }
    in[k] = &d.values[d.index(1, j)];
    setNodata[k] = d.nodata;
    r.distance = 0.0f;
    r.weight = cellStructure ? static_cast<float>(d.dx) * static_cast<float>(d.dy) : -1.0f;
    r.related = cellStructure || d.cellValues() ? Related::Cell : Related::Point;
  }
  if (!searched) return computeRowOnGrid(run, w, j, out, mask, n, in.data(), setNodata.data(), record.data(), progress);
  const bool rowInOrder = s.edge(j - 1) < s.edge(j);
  if (n == 1) return computeRowFromOneSet(run, w, j, out, mask, fitting[0], rowInOrder, columnsInOrder, progress);
  std::array<ValueRecord, kStraightSets> given;
  bool found = false;
  for (int32_t c = 0; c < nc; ++c) {
    if (progress) progress->turn();
    if (mask && !mask[c]) continue;
    size_t count = 0;
    bool general = searched && !(rowInOrder && (columnsInOrder || s.edge(c) < s.edge(c + 1)));
    for (size_t k = 0; k < n && !general; ++k) {
      float v;
      if (sets[k].searched >= 0) {
        const int got = fitting[k].average(c + 1, v);
        general = got < 0;
        if (got != 1) continue;
      } else {
        v = in[k][c];
        if (!(std::fabs(v - setNodata[k]) > 0.0001f)) continue;
      }
      given[count] = record[k];
      given[count].value = v;
      ++count;
    }
    const float r =
        general || count == 0 ? nodata : combineValues(std::span(given.data(), count), run.settings, nodata);
    if (auto f = settleCell(run, w, out, c, j, r, general, found)) return f;
  }
  if (found) w.foundAValue = true;
  return std::nullopt;
}

// Computes the cells of rows [from, to] with worker w; stops at the first fatal finding,
// which it returns. cancel() tells it to give up early. On the main thread it turns the
// progress display cell by cell; a worker counts its rows done in the pump.
template <typename Cancel>
std::optional<frame::Failure> computeRows(Run& run, Worker& w, int32_t from, int32_t to, Cancel cancel,
                                          frame::ProgressCounter* progress, Pump* pump) {
  const int32_t nc = run.structure.grid.ncols;
  const std::vector<StraightSet> straight = straightSets(run);
  // Whether every column's left edge lies left of its right one (the straight rows ask it of
  // each cell with a set elsewhere).
  bool columnsInOrder = true;
  for (int32_t c = 0; c < nc && !straight.empty(); ++c)
    columnsInOrder = columnsInOrder && run.structure.edge(c) < run.structure.edge(c + 1);
  for (int32_t j = from; j <= to; ++j) {
    if (cancel()) return std::nullopt;
    if (!straight.empty()) {
      if (auto f = computeStraightRow(run, w, straight, columnsInOrder, j, progress)) return f;
    } else {
      for (int32_t i = 1; i <= nc; ++i) {
        if (progress) progress->turn();
        if (auto f = computeCell(run, w, i, j)) return f;
      }
    }
    if (pump) pump->count(nc);
  }
  return std::nullopt;
}

// The column pass of a run with model uses in bands or a tile: the model search goes over
// every column as the run without bands does, but instead of computing the cells it keeps
// what each use found for them, to be given back to the cells band by band.
struct ColumnPass {
  MaskColumns* mask = nullptr;  // null: no polygons, every cell is computed
  int32_t maskWindow = 1;       // columns of the mask read at once
  ZavSpill* spill = nullptr;
  std::vector<uint64_t> rowPieces;  // per row of the run: the pieces found in it
};

// Per thread of the column pass: a column's findings before they are encoded. On cache lines of
// its own: the arrays' ends change with every cell searched.
struct alignas(128) ColumnFindings {
  std::vector<uint32_t> counts, rowStart, rowTotals;
  std::vector<ZavPiece> pieces;
};

// The model searches of column i's cells bottom..top that the mask leaves, in the order of the
// run without bands (so that the TABLE-CREATE lines come out the same), with what the ordered
// pass found in w.column; the findings encoded into record.
void searchColumn(const Run& run, Worker& w, int32_t i, const uint8_t* mask, int32_t bottom, int32_t top,
                  ColumnFindings& f, std::string& record) {
  const grid::Structure& s = run.structure;
  const size_t uses = run.zav.uses.size();
  const size_t h = static_cast<size_t>(top - bottom + 1);
  const bool cellStructure = s.grid.cellValues();
  f.counts.assign(h * uses, 0);
  f.rowStart.assign(h + 1, 0);
  f.pieces.clear();
  for (int32_t j = bottom; j <= top; ++j) {
    const size_t r = static_cast<size_t>(j - bottom);
    f.rowStart[r] = static_cast<uint32_t>(f.pieces.size());
    if (!mask[j - 1]) continue;
    cellGeometry(s, i, j, w.cell);
    for (size_t k = 0; k < uses; ++k) {
      const zav::ZavUse& u = run.zav.uses[k];
      // A use that shares another's table takes that use's findings in the cell loop.
      if (sharesTable(u, k)) continue;
      bool first = true;
      w.values.clear();
      if (cellStructure) {
        SEARCHFORCELLINZAV(run, w, static_cast<int>(k), i, j, first);
      } else {
        SEARCHFORMIDDLEINZAV(run, w, static_cast<int>(k), i, j, first);
      }
      const auto& found = w.zav[k].pieces;
      f.counts[r * uses + k] = static_cast<uint32_t>(found.size());
      f.pieces.insert(f.pieces.end(), found.begin(), found.end());
    }
  }
  f.rowStart[h] = static_cast<uint32_t>(f.pieces.size());
  f.rowTotals.resize(h);
  for (size_t r = 0; r < h; ++r) f.rowTotals[r] = f.rowStart[r + 1] - f.rowStart[r];
  ZavSpill::encode(top, bottom, uses, f.counts, f.rowStart, f.pieces, record);
}

const frame::Failure kScratchReadFailure{
    {" ", " ERROR", " *****", " ", " The scratch file of the model search could not be read back."}, true, 0};

// The columns a worker takes at once: some 16,000 cells, so that the threads hear from each
// other a few hundred times in a run rather than once a column. Where the ordered pass has
// little to do (the middles searched ahead by the workers, only the first rows of a column
// mended; or nothing at all, as for cells without a table to read) a chunk is four times as
// large, which saves three in four of the threads' meetings (each a switch of the processor:
// some 3,400 in a run of 4 million middles, against 900). With the ordered pass doing the
// whole search, as with tables, a larger chunk would only keep the workers waiting longer for
// the first one.
int32_t modelChunk(int32_t nrows, bool lightOrderedPass) {
  const int32_t cells = lightOrderedPass ? 65536 : 16384;
  return std::clamp<int32_t>(cells / std::max<int32_t>(nrows, 1), 1, lightOrderedPass ? 256 : 64);
}

// The columns the ordered pass may run ahead of the columns written: four chunks of 16,000
// cells a thread and four more, whatever the chunk, so that the larger chunks take no more
// memory; but a chunk a thread and one more at least.
int32_t modelWindow(int threads, int32_t nrows, bool lightOrderedPass) {
  return std::max((4 * threads + 4) * modelChunk(nrows, false), (threads + 1) * modelChunk(nrows, lightOrderedPass));
}

// A run with model uses on several cores. The cells are taken column by column, and within a
// column row by row, as one pass would take them: one thread does the part of the model search
// that depends on that order (the hint from cell to cell, the table files read) column after
// column; the workers compute whole columns with what it found, each column's table lines are
// kept, and the main thread writes them in column order and keeps the progress display going.
// So every value, table line and message is what the one pass gives.
//
// With a column pass the workers search the model uses of each column instead (see
// ColumnPass) and the main thread writes their findings to the scratch file in column order.

bool anySearchableAhead(const Run& run) {
  for (size_t k = 0; k < run.zav.uses.size(); ++k)
    if (searchableAhead(run, k)) return true;
  return false;
}

// Whether the workers search the middles ahead: on several threads, where the uses allow it
// and the cells to compute are known to all (no mask read column by column, as a column pass
// reads it when there are polygons).
bool searchesAhead(const Run& run, int threads, bool maskByColumns) {
  return threads >= 2 && !maskByColumns && anySearchableAhead(run);
}

// Whether the ordered pass leaves the rows of a column alone but for mending the first ones:
// no use reads its table in cell order, nor searches its middles there.
bool lightOrderedPass(const Run& run, bool searchAhead) {
  for (size_t k = 0; k < run.zav.uses.size(); ++k) {
    const zav::ZavUse& u = run.zav.uses[k];
    if (u.tableMode == zav::TableMode::Use && !sharesTable(u, k)) return false;
    if (searchableAhead(run, k) && !searchAhead) return false;
  }
  return true;
}

// Whether a column's cells take their values straight from the segments the ordered pass or
// the search found: the run's only sets are model uses on a structure of middles, each use
// either reading a table of its own (the segment it gives each cell) or looking for the model
// cell that holds the middle and knowing the segment of every model cell, none writing a table
// (their lines go with the cell's search), and no sources followed. Such a cell's value is then
// its uses' segment values, combined by the run method as any cell's.
bool straightModelColumns(const Run& run) {
  if (run.structure.grid.cellValues() || !run.gridSets.sets.empty() || !run.pointSets.empty()) return false;
  if (run.zav.uses.empty() || run.zav.uses.size() > kStraightSets || run.provenance.track || run.zavGiven) return false;
  for (size_t k = 0; k < run.zav.uses.size(); ++k) {
    const zav::ZavUse& u = run.zav.uses[k];
    if (sharesTable(u, k)) return false;
    if (u.tableMode == zav::TableMode::Use) continue;
    if (u.tableMode != zav::TableMode::None || u.related != zav::UseRelated::Cell || u.scanSegment.empty())
      return false;
  }
  return true;
}

// What a straight run's worker reads for use k at each row of a column: the segment the table
// gave, or the scan index of the model cell that holds the middle (-1 for none).
const int32_t* straightFound(const Run& run, const ZavColumn& column, size_t k) {
  return run.zav.uses[k].tableMode == zav::TableMode::Use ? column.tableSegment[k].data() : column.found[k].data();
}

// The segment of what straightFound gives.
inline int32_t straightSegment(const zav::ZavUse& u, int32_t found) {
  if (u.tableMode == zav::TableMode::Use) return found;
  return found < 0 ? -1 : u.scanSegment[static_cast<size_t>(found)];
}

// The value of a straight run's cell where the run has one use, for each number straightFound
// may give (a scan index, or a segment of a table): what the cell loop would make of that
// cell's one record (none where the model cell has no value to give), computed once a model
// cell instead of once an output cell. A number beyond the list has no value.
std::vector<float> valuesOfOneUse(const Run& run) {
  const zav::ZavUse& u = run.zav.uses.front();
  const float nodata = run.structure.grid.nodata;
  const bool oneIsEnough = run.settings.numberOfValues <= 1;
  const bool table = u.tableMode == zav::TableMode::Use;
  std::vector<float> values(table ? u.segmentValues.size() + 1 : u.scanSegment.size(), nodata);
  for (size_t k = 0; k < values.size(); ++k) {
    ValueRecord rec;
    if (oneIsEnough && segmentRecord(u, straightSegment(u, static_cast<int32_t>(k)), rec))
      values[k] = combineValues(std::span(&rec, 1), run.settings, nodata);
  }
  return values;
}

// The shared state of computeModelColumns: the window of column slots, the stage of every
// column, and the earliest fatal finding in cell order.
struct ModelColumns {
  ModelColumns(Run& r, int t, int32_t b, int32_t tp, ColumnPass* p)
      : run(r),
        threads(t),
        bottom(b),
        top(tp),
        pass(p),
        nc(r.structure.grid.ncols),
        nr(r.structure.grid.nrows),
        searchAhead(searchesAhead(r, t, p && p->mask)),
        straight(!p && straightModelColumns(r)),
        oneUseValues(straight && r.zav.uses.size() == 1 ? valuesOfOneUse(r) : std::vector<float>()),
        chunk(modelChunk(nr, lightOrderedPass(r, searchAhead))),
        window(modelWindow(t, nr, lightOrderedPass(r, searchAhead))),
        slots(static_cast<size_t>(window)),
        slotMask(p ? static_cast<size_t>(window) : 0),
        slotRecord(p ? static_cast<size_t>(window) : 0),
        slotTotals(p ? static_cast<size_t>(window) : 0),
        findings(p ? static_cast<size_t>(t) : 0),
        stage(static_cast<size_t>(nc) + 1, 0),
        searched(searchAhead ? static_cast<size_t>(nc) + 1 : 0, 0),
        workers(static_cast<size_t>(t)) {}
  Run& run;
  const int threads;
  const int32_t bottom, top;
  ColumnPass* const pass;
  const int32_t nc, nr;
  // The middles of a chunk of columns are searched ahead by the worker that takes it, on every
  // core, where the uses allow it and the columns' cells to compute are known to all (see
  // searchColumnAhead); the ordered pass then only checks the columns' first rows.
  const bool searchAhead;
  // The cells take their values straight from what the search found (straightModelColumns);
  // with one use, the value from the scan index of the model cell found (valuesOfOneUse).
  const bool straight;
  const std::vector<float> oneUseValues;
  const int32_t chunk, window;
  std::vector<ZavColumn> slots;
  // The column pass: per slot the column's mask and its encoded findings, per thread its
  // findings before encoding.
  std::vector<std::vector<uint8_t>> slotMask;
  std::vector<std::string> slotRecord;
  std::vector<std::vector<uint32_t>> slotTotals;
  std::vector<ColumnFindings> findings;
  // A column is ordered (its slot filled), computed, then written; a slot is reused once the
  // column before it by the window is written. Under the pump's lock.
  std::vector<int> stage;
  // The columns searched ahead. Under the lock.
  std::vector<uint8_t> searched;
  Pump pump;
  int32_t ordered = 0, written = 0, nextColumn = 1;
  std::optional<frame::Failure> failure;
  // Changed under the lock; a worker between its columns reads it without.
  std::atomic<int64_t> failedAt{INT64_MAX};
  std::vector<Worker> workers;

  void fail(int64_t at, const frame::Failure& f) {
    if (at < failedAt) {
      failedAt = at;
      failure = f;
    }
  }
  int64_t orderOf(int32_t i, int32_t j) const { return static_cast<int64_t>(i - 1) * nr + (j - 1); }

  // The ordered pass: the part of the model search that depends on the cell order, column
  // after column, at most a window ahead of the columns written; the workers hear of it once a
  // chunk of columns.
  void orderedPass() {
    std::vector<ZavCellState> state;
    for (int32_t c0 = 1; c0 <= nc; c0 += chunk) {
      const int32_t c1 = std::min(nc, c0 + chunk - 1);
      {
        std::unique_lock<std::mutex> g(pump.lock);
        pump.changed.wait(g, [&] { return pump.abandoned() || written >= c1 - window; });
        if (pump.abandoned() || failedAt < orderOf(c0, 1)) return;
        // The worker that takes the chunk searches it ahead: it needs nothing of this pass for
        // that, only the slots, which are free.
        if (searchAhead) pump.changed.wait(g, [&] { return pump.abandoned() || searched[static_cast<size_t>(c1)]; });
        if (pump.abandoned()) return;
        for (int32_t i = c0; i <= c1; ++i) slots[static_cast<size_t>((i - 1) % window)].searchedAhead = searchAhead;
      }
      for (int32_t i = c0; i <= c1; ++i)
        if (!orderColumn(state, i)) return;
      std::lock_guard<std::mutex> g(pump.lock);
      ordered = c1;
      pump.changed.notify_all();
    }
  }

  // The ordered pass over column i; false when it met a fatal finding and stops.
  bool orderColumn(std::vector<ZavCellState>& state, int32_t i) {
    ZavColumn* slot = &slots[static_cast<size_t>((i - 1) % window)];
    const uint8_t* mask = nullptr;
    if (pass) {
      auto& m = slotMask[static_cast<size_t>((i - 1) % window)];
      if (!pass->mask) {
        m.assign(static_cast<size_t>(nr), 1);
      } else if (!pass->mask->column(i, pass->maskWindow, m)) {
        std::lock_guard<std::mutex> g(pump.lock);
        fail(orderOf(i, 1), kScratchReadFailure);
        ordered = i - 1;
        pump.changed.notify_all();
        return false;
      }
      mask = m.data();
    }
    try {
      orderedZavColumn(run, i, *slot, state, mask);
    } catch (const frame::Failure& f) {
      // The pass stops at the cell where it failed (a table line it could not read). The
      // cells before that one are still computed, those of this column too, so that a
      // finding the one pass meets earlier is the one reported. A column pass does not keep
      // a column it could not finish.
      std::lock_guard<std::mutex> g(pump.lock);
      if (pass) {
        fail(orderOf(i, 1), f);
        ordered = i - 1;
      } else {
        fail(orderOf(i, slot->rowsOrdered + 1), f);
        ordered = i;
      }
      pump.changed.notify_all();
      return false;
    }
    return true;
  }

  // A worker's search ahead of columns i0..i1, once their slots are free. Called under the
  // lock g.
  void searchColumnsAhead(std::unique_lock<std::mutex>& g, int32_t i0, int32_t i1) {
    pump.changed.wait(g, [&] { return pump.abandoned() || written >= i1 - window; });
    if (pump.abandoned()) return;
    std::vector<uint8_t> all;
    if (pass) all.assign(static_cast<size_t>(nr), 1);
    g.unlock();
    for (int32_t i = i0; i <= i1; ++i)
      assign::searchColumnAhead(run, i, slots[static_cast<size_t>((i - 1) % window)], pass ? all.data() : nullptr);
    g.lock();
    for (int32_t i = i0; i <= i1; ++i) searched[static_cast<size_t>(i)] = 1;
    pump.changed.notify_all();
  }

  // Column i's cells from row j on of a straight run, from the segments the table gave or the
  // search found: per use the segment the cell lies in, its value, then the run method as for
  // any cell; up to the cell `before` in cell order. A value that is not a number stops it,
  // with j the row after that cell.
  std::optional<frame::Failure> straightColumn(Worker& w, int32_t i, int32_t& j, int64_t before) {
    grid::Structure& s = run.structure;
    const size_t uses = run.zav.uses.size();
    std::array<const int32_t*, kStraightSets> found;
    for (size_t use = 0; use < uses; ++use) found[use] = straightFound(run, *w.column, use);
    std::array<ValueRecord, kStraightSets> given;
    const float nodata = s.grid.nodata;
    const size_t need = static_cast<size_t>(std::max(1, run.settings.numberOfValues));
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(top, before - orderOf(i, 1)));
    const uint8_t* mask = s.maskCells();
    float* values = s.grid.values.data();
    bool anyValue = false;
    for (size_t k = s.grid.index(i, j); j <= last; ++j, k += static_cast<size_t>(nc)) {
      if (mask && !mask[k]) continue;
      float v;
      if (!oneUseValues.empty()) {
        // Below zero (none found) wraps beyond the list.
        const auto at = static_cast<size_t>(static_cast<uint32_t>(found[0][j - 1]));
        v = at < oneUseValues.size() ? oneUseValues[at] : nodata;
      } else {
        size_t count = 0;
        for (size_t use = 0; use < uses; ++use) {
          const zav::ZavUse& u = run.zav.uses[use];
          if (segmentRecord(u, straightSegment(u, found[use][j - 1]), given[count])) ++count;
        }
        v = count < need ? nodata : combineValues(std::span(given.data(), count), run.settings, nodata);
      }
      values[k] = v;
      if (!std::isfinite(v)) {
        ++j;
        return kNanFailure;
      }
      anyValue |= v != nodata;
    }
    if (anyValue) w.foundAValue = true;
    return std::nullopt;
  }

  // A worker's column i: its cells computed (or, in a column pass, searched, with what it
  // found encoded), those before the earliest fatal finding known, before.
  void computeColumn(Worker& w, int t, int32_t i, int64_t before) {
    ZavColumn* slot = &slots[static_cast<size_t>((i - 1) % window)];
    w.column = slot;
    std::optional<frame::Failure> f;
    int32_t j = bottom;
    if (pass) {
      const size_t k = static_cast<size_t>((i - 1) % window);
      ColumnFindings& found = findings[static_cast<size_t>(t)];
      searchColumn(run, w, i, slotMask[k].data(), bottom, top, found, slotRecord[k]);
      slotTotals[k].swap(found.rowTotals);
      j = top + 1;
    }
    if (straight) {
      f = straightColumn(w, i, j, before);
    } else {
      for (; j <= top && !f && orderOf(i, j) < before; ++j) f = computeCell(run, w, i, j);
    }
    w.column = nullptr;
    if (!pass) pump.count(top - bottom + 1);
    if (f) {
      std::lock_guard<std::mutex> g(pump.lock);
      fail(orderOf(i, j - 1), *f);
    }
  }

  // A worker: takes the next chunk of columns, searches their middles ahead where it may, and
  // computes the columns once the ordered pass has done them. The threads hear of each other
  // once a chunk: every thread that waits costs a switch of the processor.
  void work(int t) {
    Worker& w = workers[static_cast<size_t>(t)];
    std::unique_lock<std::mutex> g(pump.lock);
    while (!pump.abandoned() && nextColumn <= nc) {
      const int32_t i0 = nextColumn, i1 = std::min(nc, i0 + chunk - 1);
      nextColumn = i1 + 1;
      if (searchAhead) searchColumnsAhead(g, i0, i1);
      pump.changed.wait(g, [&] { return pump.abandoned() || ordered >= i1 || failedAt <= orderOf(i1, 1); });
      // The columns the ordered pass has done and that start before the earliest fatal finding.
      int32_t last = std::min(ordered, i1);
      int64_t before = INT64_MAX;
      if (pump.abandoned()) last = i0 - 1;
      g.unlock();
      for (int32_t i = i0; i <= last; ++i) {
        before = std::min<int64_t>(before, failedAt);
        if (orderOf(i, 1) >= before) break;
        computeColumn(w, t, i, before);
      }
      g.lock();
      for (int32_t i = i0; i <= i1; ++i) stage[static_cast<size_t>(i)] = 2;
      pump.changed.notify_all();
    }
  }

  // Whether the main thread has a column to write.
  bool writable() const { return written >= nc || stage[static_cast<size_t>(written) + 1] == 2; }

  // The main thread's share: writes the table lines (and findings) of the columns computed, in
  // column order; true when every column is written. Called under the lock g.
  bool writeInOrder(std::unique_lock<std::mutex>& g) {
    while (written < nc && stage[static_cast<size_t>(written) + 1] == 2) {
      const int32_t i = written + 1;
      if (failedAt > orderOf(i, nr)) {
        ZavColumn& slot = slots[static_cast<size_t>((i - 1) % window)];
        for (size_t k = 0; k < slot.out.size(); ++k) {
          if (!slot.out[k].empty()) run.tableFiles[k]->write(slot.out[k].data(), slot.out[k].size());
        }
        if (pass) {
          const size_t k = static_cast<size_t>((i - 1) % window);
          g.unlock();
          pass->spill->addColumn(i, slotRecord[k]);
          const auto& totals = slotTotals[k];
          for (size_t r = 0; r < totals.size(); ++r) pass->rowPieces[r] += totals[r];
          g.lock();
        }
      }
      written = i;
      if (i % chunk == 0 || i == nc) pump.changed.notify_all();
    }
    return written >= nc;
  }
};

// The model searches carry a hint from cell to cell and write their tables in cell order: on
// one core the whole structure is one pass, column by column, and within a column row by row.
std::optional<frame::Failure> computeModelInOnePass(Run& run, frame::ProgressCounter& progress) {
  const int32_t nc = run.structure.grid.ncols, nr = run.structure.grid.nrows;
  std::optional<frame::Failure> failure;
  for (int32_t i = 1; i <= nc && !failure; ++i) {
    for (int32_t j = 1; j <= nr; ++j) {
      progress.turn();
      if ((failure = computeCell(run, run.mainThreadWorker, i, j))) break;
    }
  }
  collectWorker(run, run.mainThreadWorker);
  return failure;
}

// The TABLE-USE tables read ahead while the model columns are computed: their lines parsed on
// a thread of their own, taken by the ordered pass in the file's order. That pays for a table
// with areas, whose decimals take most of a line's reading, and for a table of middles where
// the workers take the cells' values straight from it, leaving the other core mostly free;
// where the workers search, the ordered pass reads a table without areas as fast itself as it
// is handed over.
class TablesReadAhead {
 public:
  // straight: the workers take the cells' values straight from what the ordered pass found.
  TablesReadAhead(Run& run, int threads, bool straight) : run_(run) {
    if (threads < 2) return;
    const bool cellStructure = run.structure.grid.cellValues();
    run.tableFeeds.clear();
    run.tableFeeds.resize(run.zav.uses.size());
    for (size_t k = 0; k < run.zav.uses.size(); ++k) {
      const zav::ZavUse& u = run.zav.uses[k];
      if (k >= run.tableReaders.size() || !run.tableReaders[k] || u.tableMode != zav::TableMode::Use) continue;
      if (cellStructure && u.related == zav::UseRelated::Cell) {
        run.tableFeeds[k] = std::make_unique<TableFeed>(*run.tableReaders[k], true, 1);
      } else if (!cellStructure && straight) {
        run.tableFeeds[k] = std::make_unique<TableFeed>(*run.tableReaders[k], false, 1);
      }
    }
  }
  ~TablesReadAhead() { run_.tableFeeds.clear(); }
  TablesReadAhead(const TablesReadAhead&) = delete;
  TablesReadAhead& operator=(const TablesReadAhead&) = delete;

 private:
  Run& run_;
};

// Model columns: the cells of rows bottom..top, column by column. On one core, for the whole
// structure, that is one pass in this thread; otherwise the ordered pass, the workers and the
// writer of ModelColumns share the work.
std::optional<frame::Failure> computeModelColumns(Run& run, int threads, frame::ProgressCounter& progress,
                                                  int32_t bottom, int32_t top, ColumnPass* pass = nullptr) {
  if (threads == 1 && !pass && bottom == 1 && top == run.structure.grid.nrows)
    return computeModelInOnePass(run, progress);
  TablesReadAhead tables(run, threads, !pass && straightModelColumns(run));
  ModelColumns m(run, threads, bottom, top, pass);
  {
    Pool pool(m.pump);
    pool.start([&m] { m.orderedPass(); });
    for (int t = 0; t < threads; ++t) pool.start([&m, t] { m.work(t); });
    m.pump.run(
        progress, [&m] { return m.writable(); }, [&m](std::unique_lock<std::mutex>& g) { return m.writeInOrder(g); });
  }
  for (auto& w : m.workers) collectWorker(run, w);
  return m.failure;
}

// The column pass of a run with model uses in bands or a tile (see ColumnPass), over every
// column of the structure; rowPieces: per row bottom..top, the pieces found in it. Returns err.
bool columnPass(Run& run, int threads, frame::ProgressCounter& progress, int32_t height, int32_t bottom, int32_t top,
                int32_t maskWindow, ZavSpill& spill, std::optional<frame::Failure>& failure,
                std::vector<uint64_t>& rowPieces) {
  frame::Frame& fr = run.fr;
  grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols, nr = s.grid.nrows;
  // The scratch files go beside the output grid: on disk, where the run's large files go.
  const std::string folder = std::filesystem::path(frame::nativeName(run.settings.storeName)).parent_path().string();
  auto scratchError = [&](int e, const std::string& what) {
    return frame::endWithError(fr, {" The scratch file of the model search could not be " + what + " in the folder",
                                    " " + (folder.empty() ? std::string(".") : folder) + " of the output grid.",
                                    " Error number=" + frame::fmtI(e, 6, 6)});
  };
  MaskColumns mask;
  const bool polygons = !run.polygonSets.empty();
  if (polygons) {
    if (const int e = mask.open(folder, nc, nr)) return scratchError(e, "made");
    // The cells the polygons leave, of every row: the model search goes by whole columns.
    for (int32_t hi = nr; hi >= 1; hi -= height) {
      const int32_t lo = std::max(1, hi - height + 1);
      if (!grid::holdStructureRows(s, lo, hi)) {
        std::vector<std::string> lines = {" A band of " + std::to_string(hi - lo + 1) +
                                          " rows of the structure does not fit in memory."};
        for (const auto& l : grid::memoryAdvice(fr, s)) lines.push_back(l);
        return frame::endWithError(fr, lines);
      }
      applyPolygonSets(run, lo, hi);
      grid::holdMask(s);  // the polygon files may have had no polygon
      mask.addBand(lo, hi, s.assignMask.data());
    }
    grid::CellValues().swap(s.grid.values);
    grid::CellMask().swap(s.assignMask);
    if (const int e = mask.finish()) return scratchError(e, "written");
  }
  if (const int e = spill.open(folder, nc, run.zav.uses.size())) return scratchError(e, "made");
  ColumnPass pass;
  pass.mask = polygons ? &mask : nullptr;
  pass.maskWindow = maskWindow;
  pass.spill = &spill;
  pass.rowPieces.assign(static_cast<size_t>(top - bottom + 1), 0);
  failure = computeModelColumns(run, threads, progress, bottom, top, &pass);
  if (const int e = spill.finish()) return scratchError(e, "written");
  rowPieces.swap(pass.rowPieces);
  return false;
}

// Rows on cores: computes rows from..to (from <= to) in bands of rows on `threads` cores (one:
// in this thread). Band b holds rows [start[b], start[b+1]-1]. A fatal finding in band b makes
// the bands after it stop; the earliest band's finding is the one reported, as one pass would.
std::optional<frame::Failure> computeRowsOnCores(Run& run, int32_t from, int32_t to, int threads,
                                                 frame::ProgressCounter& progress) {
  const int32_t rows = to - from + 1;
  threads = std::max(1, std::min(threads, rows));
  if (threads == 1) {
    auto failure = computeRows(
        run, run.mainThreadWorker, from, to, [] { return false; }, &progress, nullptr);
    collectWorker(run, run.mainThreadWorker);
    return failure;
  }
  std::vector<int32_t> start(static_cast<size_t>(threads) + 1);
  for (int b = 0; b <= threads; ++b)
    start[static_cast<size_t>(b)] = from + static_cast<int32_t>(int64_t(rows) * b / threads);
  std::vector<Worker> workers(static_cast<size_t>(threads));
  std::vector<std::optional<frame::Failure>> found(static_cast<size_t>(threads));
  std::atomic<int> firstFailed{INT_MAX};
  Pump pump;
  int finished = 0;  // bands done, under the pump's lock
  {
    Pool pool(pump);
    for (int b = 0; b < threads; ++b) {
      pool.start([&, b] {
        const size_t band = static_cast<size_t>(b);
        auto cancel = [&] { return pump.abandoned() || firstFailed.load() < b; };
        found[band] = computeRows(run, workers[band], start[band], start[band + 1] - 1, cancel, nullptr, &pump);
        if (found[band]) {
          int expected = firstFailed.load();
          while (b < expected && !firstFailed.compare_exchange_weak(expected, b)) {
          }
        }
        std::lock_guard<std::mutex> g(pump.lock);
        ++finished;
        pump.changed.notify_all();
      });
    }
    auto over = [&] { return finished == threads; };
    pump.run(progress, over, [&](std::unique_lock<std::mutex>&) { return over(); });
  }
  std::optional<frame::Failure> failure;
  for (int b = 0; b < threads; ++b) {
    collectWorker(run, workers[static_cast<size_t>(b)]);
    if (!failure && found[static_cast<size_t>(b)]) failure = found[static_cast<size_t>(b)];
  }
  return failure;
}

// The rows inLo..inHi of grid set k that the structure rows lo..hi read; false when they read
// none.
bool rowsNeeded(const Run& run, size_t k, int32_t lo, int32_t hi, int32_t& inLo, int32_t& inHi) {
  const GridSetPlan& p = run.gridPlans[k];
  const grid::GridDescription& d = run.gridSets.descriptions[static_cast<size_t>(p.description)];
  const bool cellStructure = run.structure.grid.cellValues();
  inLo = INT32_MAX;
  inHi = INT32_MIN;
  if (d.sameGeometry) {
    if (d.numberOfValues >= 2) return false;
    inLo = lo;
    inHi = hi;
    return true;
  }
  if (!p.searchable || (!cellStructure && d.numberOfValues >= 2)) return false;
  for (int32_t j = lo; j <= hi; ++j) {
    const size_t e = static_cast<size_t>(j - 1);
    if (cellStructure) {
      if (p.rows.lo[e] > p.rows.hi[e]) continue;
      inLo = std::min(inLo, p.rows.lo[e]);
      inHi = std::max(inHi, p.rows.hi[e]);
    } else if (p.middleRow[e] != 0) {
      inLo = std::min(inLo, p.middleRow[e]);
      inHi = std::max(inHi, p.middleRow[e]);
    }
  }
  return inLo <= inHi;
}

// Holds, of every grid set not kept whole, the rows that the structure rows lo..hi read.
// Returns err.
bool holdSetRows(Run& run, int32_t lo, int32_t hi) {
  for (size_t k = 0; k < run.gridPlans.size(); ++k) {
    const int description = run.gridPlans[k].description;
    if (run.gridSets.sources[static_cast<size_t>(description)].kept) continue;
    int32_t inLo = 0, inHi = 0;
    if (!rowsNeeded(run, k, lo, hi, inLo, inHi)) {
      grid::CellValues().swap(run.gridSets.descriptions[static_cast<size_t>(description)].values);
      continue;
    }
    if (grid::loadGridRows(run.fr, run.gridSets, description, inLo, inHi)) return true;
  }
  return false;
}

// The height of the bands of a run in bands: BAND= when given, else as many rows as the
// memory bound holds beside the grids kept whole. 0 when not even one row fits. extraRow and
// extraFixed: what the model findings take a row and beside the rows.
int32_t bandHeight(const Run& run, int32_t rows, uint64_t extraRow, uint64_t extraFixed, uint64_t& rowBytes,
                   uint64_t& fixedBytes) {
  const grid::Structure& s = run.structure;
  const uint64_t nc = static_cast<uint64_t>(s.grid.ncols);
  // A row of the structure: its value and mask, and the row the writer takes; where sources
  // are recorded, their codes and the cells a polygon file covers too.
  rowBytes = (run.provenance.track ? 14 : 9) * nc + extraRow;
  fixedBytes = run.gridSets.keptBytes + extraFixed;
  for (size_t k = 0; k < run.gridPlans.size(); ++k) {
    const grid::GridSource& src = run.gridSets.sources[static_cast<size_t>(run.gridPlans[k].description)];
    if (src.kept) continue;
    const grid::GridDescription& d = run.gridSets.descriptions[static_cast<size_t>(run.gridPlans[k].description)];
    // The input rows one structure row reaches, and what the readers hold.
    const double per = std::ceil(static_cast<double>(s.cellsize) / d.dy) + 1.0;
    rowBytes += static_cast<uint64_t>(per * 4.0 * static_cast<double>(d.ncols));
    fixedBytes += (src.asc ? (1u << 20) : 0u) + 4 * static_cast<uint64_t>(d.ncols) + src.cacheBytes;
  }
  if (run.fr.bandRows > 0) return std::min(run.fr.bandRows, rows);
  if (s.memoryBound == 0) return rows;
  if (s.memoryBound <= fixedBytes) return 0;
  const uint64_t fit = (s.memoryBound - fixedBytes) / std::max<uint64_t>(rowBytes, 1);
  return static_cast<int32_t>(std::min<uint64_t>(fit, static_cast<uint64_t>(rows)));
}

// Any value other than NODATA in the rows held.
bool anyValue(const grid::Structure& s) {
  const float nodata = s.grid.nodata;
  for (float v : s.grid.values) {
    if (v != nodata) return true;
  }
  return false;
}

}  // namespace

namespace {

// The cell's value; Track: where it came from is followed too (a run with a source grid or a
// report), the other runs compiled without a trace of it; KeepRuns: each set's records are
// kept apart for a run method other than AVERAGE.
template <bool Track, bool KeepRuns>
float information(const Run& run, Worker& w, int32_t i, int32_t j) {
  const grid::Structure& s = run.structure;
  const float nodata = s.grid.nodata;
  // 1. Without any set to search the cell has no value.
  if (run.gridSets.sets.empty() && run.pointSets.empty() && run.zav.uses.empty()) return nodata;
  // 2. The geometry is needed only by the searches.
  if (run.needsGeometry) cellGeometry(s, i, j, w.cell);
  w.values.clear();
  bool first = true;
  const bool cellStructure = s.grid.cellValues();
  // When sources are recorded, each set's records carry its place in this order, and the set
  // counts the cell as reached.
  constexpr bool track = Track;
  if (track && w.reached.size() != run.provenance.searched.size()) w.reached.assign(run.provenance.searched.size(), 0);
  // Under AVERAGE the winner is the one set of the highest priority present, followed as the
  // sets come; the other methods look at the records of each set afterwards. The searches take
  // the worker, so what is followed here is kept in locals and handed back once.
  constexpr bool keepRuns = Track && KeepRuns;
  if (keepRuns) w.setRuns.clear();
  int64_t* reached = track ? w.reached.data() : nullptr;
  int32_t topPriority = 0, topSet = 0, atTop = 0;
  int32_t searchIndex = 0;
  size_t before = 0;
  auto tag = [&] {
    if constexpr (Track) {
      const size_t n = w.values.size();
      if (n > before) {
        if constexpr (keepRuns)
          w.setRuns.push_back({searchIndex, static_cast<uint32_t>(before), static_cast<uint32_t>(n)});
        ++reached[searchIndex];
        const int32_t p = w.values[before].priority;
        if (atTop == 0 || p > topPriority) {
          topPriority = p;
          topSet = searchIndex;
          atTop = 1;
        } else if (p == topPriority) {
          ++atTop;
        }
        before = n;
      }
    }
    ++searchIndex;
  };
  // 3. Grid sets in table order.
  const int nsets = static_cast<int>(run.gridSets.sets.size());
  auto gridSet = [&](int k) {
    const grid::GridDescription& d =
        run.gridSets.descriptions[static_cast<size_t>(run.gridSets.sets[static_cast<size_t>(k)].description)];
    if (!d.sameGeometry) {
      if (cellStructure) {
        SEARCHFORCELLINRECTANGULAR(run, w, i, j, k, first);
      } else if (d.numberOfValues < 2) {
        SEARCHFORMIDDLEINRECTANGULAR(run, w, i, j, k, first);
      }
      return;
    }
    if (d.numberOfValues >= 2) return;
    const float v = d.at(i, j);
    if (std::fabs(v - d.nodata) > 0.0001f) {
      ValueRecord r;
      r.value = v;
      r.distance = 0.0f;
      if (cellStructure) {
        r.weight = static_cast<float>(d.dx) * static_cast<float>(d.dy);
        r.related = Related::Cell;
      } else {
        r.weight = -1.0f;
        r.related = d.cellValues() ? Related::Cell : Related::Point;
      }
      r.priority = d.priority;
      ADDAVALUE(w.values, r, first);
    }
  };
  for (int k = 0; k < nsets; ++k) {
    gridSet(k);
    tag();
  }
  // 4. Point sets in table order.
  for (int k = 0; k < static_cast<int>(run.pointSets.size()); ++k) {
    if (cellStructure) {
      SEARCHFORCELLINPOINTS(run, w, k, i, j, first);
    } else {
      SEARCHFORMIDDLEINPOINTS(run, w, k, i, j, first);
    }
    tag();
  }
  // 5. Zav uses in table order.
  for (int k = 0; k < static_cast<int>(run.zav.uses.size()); ++k) {
    if (cellStructure) {
      SEARCHFORCELLINZAV(run, w, k, i, j, first);
    } else {
      SEARCHFORMIDDLEINZAV(run, w, k, i, j, first);
    }
    tag();
  }
  if constexpr (Track) {
    w.topPriority = topPriority;
    w.topSet = topSet;
    w.atTop = atTop;
  }
  // 6. Fewer values than the run's #VALUES: NODATA.
  const int32_t need = run.settings.numberOfValues < 1 ? 1 : run.settings.numberOfValues;
  if (static_cast<int64_t>(w.values.size()) < need) return nodata;
  // 7., 8. The records of the highest priority, combined by the run method.
  return combineValues(w.values, run.settings, nodata);
}

}  // namespace

float GETINFORMATION(const Run& run, Worker& w, int32_t i, int32_t j) {
  if (!run.provenance.track) return information<false, false>(run, w, i, j);
  return run.settings.method == RunMethod::Average ? information<true, false>(run, w, i, j)
                                                   : information<true, true>(run, w, i, j);
}

// The run in bands of rows, north to south, the order in which the output is written: each band
// is held, its polygons applied, the input rows it reads held, its cells computed and written.
// With model uses the column pass of the model search goes first. Returns true when the run stops.
bool computeInBands(Run& run, grid::GridWriter& out, frame::ProgressCounter& progress, int threads, int32_t top,
                    int32_t bottom) {
  frame::Frame& fr = run.fr;
  grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols, nr = s.grid.nrows;
  const int32_t rows = top - bottom + 1;
  const bool model = !run.zav.uses.empty();
  const bool anySet = !run.gridSets.sets.empty() || !run.pointSets.empty() || model;
  std::optional<frame::Failure> failure;
  uint64_t rowBytes = 0, fixedBytes = 0;
  const size_t uses = run.zav.uses.size();
  // The column pass of the model search, before the bands: its window of columns, the mask
  // read by columns, and what encoding a column takes.
  const uint64_t maskBudget = s.memoryBound > 0 ? std::min<uint64_t>(4u << 20, s.memoryBound / 16) : (4u << 20);
  const int32_t maskWindow = static_cast<int32_t>(
      std::max<int64_t>(1, std::min<int64_t>(nc, static_cast<int64_t>(maskBudget) / std::max<int64_t>(nr, 1))));
  const uint64_t passBytes =
      model ? static_cast<uint64_t>(modelWindow(
                  threads, nr, lightOrderedPass(run, searchesAhead(run, threads, !run.polygonSets.empty())))) *
                      static_cast<uint64_t>(nr) * (21 * uses + 6) +
                  (run.polygonSets.empty() ? 0 : 2 * static_cast<uint64_t>(maskWindow) * static_cast<uint64_t>(nr)) +
                  (4u << 20)
            : 0;
  int32_t height = bandHeight(run, rows, 0, passBytes, rowBytes, fixedBytes);
  auto tooSmall = [&] {
    std::vector<std::string> lines = {
        " The memory bound is too small for even one band of rows of the structure:",
        " one row with the input rows it reads takes " + std::to_string((rowBytes + 1023) / 1024) + " KiB, and",
        " the input grids held whole and the readers take " + std::to_string((fixedBytes + 1023) / 1024) + " KiB."};
    for (const auto& l : grid::memoryAdvice(fr, s)) lines.push_back(l);
    return frame::endWithError(fr, lines);
  };
  if (height < 1) return tooSmall();
  ZavSpill spill;
  ZavBand given;
  if (model) {
    std::vector<uint64_t> rowPieces;
    if (columnPass(run, threads, progress, height, bottom, top, maskWindow, spill, failure, rowPieces)) return true;
    if (failure) return frame::reportFailure(fr, *failure);
    // The bands again, now with the findings a row gives back: a count per cell and use,
    // and the most pieces found in any row.
    uint64_t most = 0;
    for (uint64_t n : rowPieces) most = std::max(most, n);
    height = bandHeight(run, rows, 4 * uses * static_cast<uint64_t>(nc) + sizeof(ZavPiece) * most,
                        16 * static_cast<uint64_t>(nc) + (1u << 20), rowBytes, fixedBytes);
    if (height < 1) return tooSmall();
  }
  out.open(fr, s, run.settings.storeType, run.settings.storeName, top, bottom, false);
  for (int32_t hi = top; hi >= bottom && !failure; hi -= height) {
    const int32_t lo = std::max(bottom, hi - height + 1);
    if (!grid::holdStructureRows(s, lo, hi)) {
      out.abandon();
      std::vector<std::string> lines = {" A band of " + std::to_string(hi - lo + 1) +
                                        " rows of the structure does not fit in memory."};
      for (const auto& l : grid::memoryAdvice(fr, s)) lines.push_back(l);
      return frame::endWithError(fr, lines);
    }
    if (run.provenance.track) {
      grid::roomForFill(s.source, s.grid.values.size());
      s.source.assign(s.grid.values.size(), kSourceNodata);
    }
    applyPolygonSets(run, lo, hi);
    if (holdSetRows(run, lo, hi)) {
      out.abandon();
      return true;
    }
    if (model) {
      if (!spill.load(lo, hi, hi - bottom + 1, given)) {
        failure = kScratchReadFailure;
        break;
      }
      run.zavGiven = &given;
    }
    if (anySet) {
      failure = computeRowsOnCores(run, lo, hi, threads, progress);
    } else {
      progress.turns(static_cast<int64_t>(nc) * (hi - lo + 1));
    }
    run.zavGiven = nullptr;
    if (failure) break;
    run.gridHasValues = run.gridHasValues || anyValue(s);
    out.rows(s, hi, lo);
    accountRows(run, hi, lo, top, bottom);
  }
  if (failure) {
    out.abandon();
    return frame::reportFailure(fr, *failure);
  }
  return false;
}

bool ASSIGNINFORMATIONTOGRID(Run& run, grid::GridWriter& out) {
  grid::Structure& s = run.structure;
  frame::Frame& fr = run.fr;
  const int32_t nc = s.grid.ncols, nr = s.grid.nrows;
  run.settings.derive();
  // 2. What the searches need, worked out once: the model uses' indexes and tables, the
  // grid-set plans and the points binned by row.
  prepareZavUses(run);
  prepareGridPlans(run);
  preparePointBins(run);
  if (!run.pointSets.empty() || !run.zav.uses.empty()) run.needsGeometry = true;
  // The rows this run computes: every row, or those of its tile.
  int32_t top = nr, bottom = 1;
  if (s.tileCount > 0) {
    grid::tileRows(nr, s.tileNumber, s.tileCount, top, bottom);
    frame::PAGN2(fr, "NEWLINE", " ");
    frame::PAGN2(fr, "NEWLINE",
                 " Tile " + std::to_string(s.tileNumber) + " of " + std::to_string(s.tileCount) + ": rows " +
                     std::to_string(top) + " down to " + std::to_string(bottom) +
                     " of the structure (row 1 is the southernmost).");
  }
  const int32_t rows = nr == 0 ? 0 : top - bottom + 1;
  const bool model = !run.zav.uses.empty();
  const bool anySet = !run.gridSets.sets.empty() || !run.pointSets.empty() || model;
  // 1. The progress display, one turn a cell computed.
  frame::ProgressCounter progress(fr, "Computation progress", static_cast<int64_t>(nc) * rows);
  // 3. The cells computed, one of three ways. Without model uses a cell's value depends on that
  // cell alone: rows on cores, row by row as the grids lie in memory. Model uses carry a hint
  // from cell to cell and write their tables in cell order: model columns. A structure not held
  // whole: bands of rows, north to south. Each gives what one pass column by column gives.
  run.computedValueFound = false;
  run.mainThreadWorker.foundAValue = false;
  run.mainThreadWorker.reached.clear();
  run.provenance.reached.assign(run.provenance.searched.size(), 0);
  run.gridHasValues = false;
  const int setting = fr.threads;
  int threads = fr.cores();
  threads = std::max(1, std::min(threads, std::max(rows, 1)));
  // A small grid is not worth the threads, unless a number was asked for.
  if (setting == 0 && static_cast<int64_t>(nc) * rows < 65536) threads = 1;
  std::optional<frame::Failure> failure;
  if (s.whole) {
    if (rows > 0 && holdSetRows(run, bottom, top)) return true;
    if (!anySet) {
      // Without any set every computed cell is NODATA, which the cells hold already.
      progress.turns(static_cast<int64_t>(nc) * rows);
    } else if (model) {
      failure = computeModelColumns(run, threads, progress, bottom, top);
    } else if (rows > 0) {
      failure = computeRowsOnCores(run, bottom, top, threads, progress);
    }
    if (failure) return frame::reportFailure(fr, *failure);
    run.gridHasValues = anyValue(s);
  } else if (rows > 0) {
    if (computeInBands(run, out, progress, threads, top, bottom)) return true;
  }
  run.gridHasValues = run.gridHasValues || run.computedValueFound;
  // 4. Whether any computed cell found a value, then the grid written.
  frame::PAGN2(fr, "NEWLINE", " ");
  frame::PAGN2(fr, "NEWLINE",
               run.computedValueFound ? "Er zijn WEL waarden gevonden" : "Er zijn GEEN waarden gevonden");
  frame::PAGN2(fr, "NEWLINE", " ");
  if (s.whole) {
    out.open(fr, s, run.settings.storeType, run.settings.storeName, top, bottom, true);
    // The account of the rows (report counts, source grid, picture) reads the cells as the
    // writer does: it goes on beside the writing unless one core is asked for.
    const bool account = run.provenance.track || !fr.pictureName.empty();
    std::future<void> accounted;
    if (account && fr.threads != 1) {
      accounted = std::async(std::launch::async, [&run, top, bottom] { accountRows(run, top, bottom, top, bottom); });
    }
    out.rows(s, top, bottom);
    if (accounted.valid()) {
      accounted.get();
    } else {
      accountRows(run, top, bottom, top, bottom);
    }
  }
  return false;
}

}  // namespace assign
