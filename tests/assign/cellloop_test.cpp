#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "assign/run.h"
#include "assign/zavsearch.h"
#include "support.h"
#include "zav/zavobjects.h"

using namespace assign;
using testing_support::TestFrame;

namespace {

const float kInf = std::numeric_limits<float>::infinity();

// What the cell loop left: the grid, whether it stopped (and with which code) or failed, and
// the message lines it wrote to standard error.
struct Outcome {
  std::vector<float> grid;
  int stop = 0;
  bool err = false;
  bool valueFound = false;
  std::vector<std::string> errors;
};

Outcome runCellLoop(Run& run, TestFrame& t, int threads) {
  Outcome o;
  run.fr.threads = threads;
  run.settings.storeName = t.path("out").string();
  grid::GridWriter out;
  try {
    o.err = ASSIGNINFORMATIONTOGRID(run, out);
  } catch (const frame::Stop& s) {
    o.stop = s.code;
  }
  out.abandon();
  o.grid.assign(run.structure.grid.values.begin(), run.structure.grid.values.end());
  o.valueFound = run.computedValueFound;
  // Each run has a folder of its own: its name is left out.
  for (std::string l : t.console.errors) {
    for (size_t at; (at = l.find(t.dir.string())) != std::string::npos;) l.replace(at, t.dir.string().size(), "<dir>");
    o.errors.push_back(l);
  }
  return o;
}

// A structure of 40 x 30 cells of 5 m with buffered points of random values over it; planted:
// points of infinite value (x, y as column and row) whose cells cannot be given a number.
struct PointsRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  PointsRun(bool cell, const std::vector<std::pair<int32_t, int32_t>>& planted) {
    grid::Structure& s = run.structure;
    s.grid.ncols = 40;
    s.grid.nrows = 30;
    s.grid.xll = 1000;
    s.grid.yll = 2000;
    s.cellsize = s.grid.dx = s.grid.dy = 5;
    s.grid.valuesType = cell ? grid::ValuesAt::Cell : grid::ValuesAt::Middle;
    s.grid.values.assign(1200, s.grid.nodata);
    s.assignMask.assign(1200, 1);
    for (size_t k = 0; k < 1200; k += 7) s.assignMask[k] = 0;  // as polygons leave them
    PointSet p;
    p.nodata = -9999;
    p.buffered = true;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> ux(-5, 205), uy(-5, 155), ur(0, 9), uv(-50, 50);
    for (int k = 0; k < 300; ++k) {
      p.x.push_back(ux(rng));
      p.y.push_back(uy(rng));
      p.value.push_back(uv(rng));
      p.radius.push_back(ur(rng));
    }
    for (auto [i, j] : planted) {
      p.x.push_back(s.middle(i));
      p.y.push_back(s.middle(j));
      p.value.push_back(kInf);
      p.radius.push_back(0.1f);
    }
    p.count = static_cast<int32_t>(p.x.size());
    run.pointSets.push_back(p);
    run.settings.multipleBuffers = "ALL-VALUES";
  }
};

void put32(std::string& s, int32_t v) {
  s.append(reinterpret_cast<const char*>(&v), 4);
}
void putF(std::string& s, float v) {
  s.append(reinterpret_cast<const char*>(&v), 4);
}

// A regular model grid of n x m points, `step` apart from (x0, y0), in g.lga, g.cco and g.map:
// its cells numbered as segments in scan order, segment k of LEVEL k / 4 unless level(k) says
// otherwise; with salt a second parameter SALT.
void writeRegularModel(TestFrame& t, int32_t n, int32_t m, float x0, float y0, float step,
                       const std::function<float(int32_t)>& level = nullptr,
                       const std::function<float(int32_t)>& salt = nullptr) {
  const int32_t cells = (n - 1) * (m - 1);
  std::string lga, cco, map;
  for (int32_t v : {n, m, cells, 0, 0, 0, 0}) put32(lga, v);
  for (int32_t j = 1, seg = 0; j <= m; ++j)
    for (int32_t i = 1; i <= n; ++i) put32(lga, i >= 2 && j >= 2 ? ++seg : 0);
  for (int32_t v : {m, n, 0, 0, 0, 0, 0}) put32(cco, v);
  for (int k = 0; k < 9; ++k) putF(cco, 0);
  for (int32_t j = 1; j <= m; ++j)
    for (int32_t i = 1; i <= n; ++i) putF(cco, x0 + step * static_cast<float>(i - 1));
  for (int32_t j = 1; j <= m; ++j)
    for (int32_t i = 1; i <= n; ++i) putF(cco, y0 + step * static_cast<float>(j - 1));
  map.append(160, ' ');
  put32(map, salt ? 2 : 1);
  put32(map, cells);
  map.append("LEVEL               ");
  if (salt) map.append("SALT                ");
  put32(map, 0);
  for (int32_t k = 1; k <= cells; ++k) {
    putF(map, level ? level(k) : static_cast<float>(k) * 0.25f);
    if (salt) putF(map, salt(k));
  }
  testing_support::writeFile(t.path("g.lga"), lga);
  testing_support::writeFile(t.path("g.cco"), cco);
  testing_support::writeFile(t.path("g.map"), map);
}

// The model of writeRegularModel as object OBJ, and a use of its LEVEL.
void useRegularModel(TestFrame& t, Run& run) {
  t.input(10, "LGA,G," + t.path("g.lga").string() + "\nCCO,G," + t.path("g.cco").string() + "\nMAP,G," +
                  t.path("g.map").string() + "\nZAV-OBJECT,OBJ\nBEGIN\nLGA,G\nCCO,G\nMAP,G\nEND\n");
  zav::DEFINEZAV(t.fr, run.zav, 10);
  zav::HANDLEZAVFILE(t.fr, run.zav, "USE-ZAV-OBJECT,OBJ,LEVEL");
}

// A structure of ncols x nrows cells of 10 m from (0, 0), values at `at`, no cell left yet.
void tenMetreStructure(assign::Run& run, int32_t ncols, int32_t nrows, grid::ValuesAt at) {
  grid::Structure& s = run.structure;
  s.grid.ncols = ncols;
  s.grid.nrows = nrows;
  s.cellsize = s.grid.dx = s.grid.dy = 10;
  s.grid.valuesType = at;
  const size_t cells = static_cast<size_t>(ncols) * static_cast<size_t>(nrows);
  s.grid.values.assign(cells, s.grid.nodata);
  s.assignMask.assign(cells, 1);
}

// The cell loop of a run that build(t, run) sets up, on `threads` threads: its outcome and the
// number of cells that got a value.
template <typename Build>
std::pair<Outcome, int> runBuilt(Build build, int threads) {
  TestFrame t;
  assign::Run run{t.console, t.clock, {"x"}};
  build(t, run);
  Outcome o = runCellLoop(run, t, threads);
  int withValue = 0;
  for (float v : o.grid) withValue += v != run.structure.grid.nodata;
  return {std::move(o), withValue};
}

// A MIDDLE structure of 12 x 10 cells of 10 m under a regular model grid, whose use reads its
// segments from a table (TABLE-USE), and a point set. Planted: a point of infinite value in the
// middle of cell `nan`, and a table line that cannot be read where cell `bad` is looked up.
struct ModelRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  // style: how the table's lines are written (0 as the program writes them, others in forms a
  // reader must take alike). cell: a CELL structure, whose table gives each cell two segments
  // with their areas.
  ModelRun(std::pair<int32_t, int32_t> nan, std::pair<int32_t, int32_t> bad, int style = 0, bool cell = false) {
    grid::Structure& s = run.structure;
    if (cell) s.grid.valuesType = grid::ValuesAt::Cell;
    s.grid.ncols = 12;
    s.grid.nrows = 10;
    s.cellsize = s.grid.dx = s.grid.dy = 10;
    s.grid.values.assign(120, s.grid.nodata);
    s.assignMask.assign(120, 1);
    // Model grid points every 10 m from -10 to 130 and 110: cells 2.. numbered as segments.
    writeRegularModel(t, 15, 13, -10.0f, -10.0f, 10.0f);
    // The table in cell order, column by column; every third cell has no segment.
    std::string table;
    for (int32_t i = 1; i <= 12; ++i) {
      for (int32_t j = 1; j <= 10; ++j) {
        if (std::make_pair(i, j) == bad) {
          table += "    this line is not of the written form\n";
        } else if ((i + j) % 3 != 0) {
          const std::string a = std::to_string(i), b = std::to_string(j), c = std::to_string((i - 1) * 12 + j);
          if (cell) {
            table += a + "," + b + "," + c + ",  6.00000000E+01\n";
            table += a + "," + b + "," + std::to_string((i - 1) * 12 + j + 1) + ",  4.00000000E+01\n";
            continue;
          }
          switch (style) {
            case 1:
              table += "    " + a + ",  " + b + " ,      " + c + "\n";
              break;
            case 2:
              table += "+" + a + "," + b + ",+" + c + ",\n";
              break;
            case 3:
              table += "000000000" + a + ",0" + b + ", " + c + " \r\n";
              break;
            case 4:
              table += (j % 2 ? a + "," + b + "," + c : "+" + a + " ,  " + b + "," + c + "  ") + "\n";
              break;
            default:
              table += a + "," + b + "," + c + "\n";
              break;
          }
        }
      }
    }
    testing_support::writeFile(t.path("g.tab"), table);
    useRegularModel(t, run);
    run.zav.uses.back().tableMode = zav::TableMode::Use;
    run.zav.uses.back().tableName = t.path("g.tab").string();
    EXPECT_FALSE(checkZavTables(run));
    PointSet p;
    p.nodata = -9999;
    p.buffered = true;
    p.x = {s.middle(nan.first), 35.0f};
    p.y = {s.middle(nan.second), 42.0f};
    p.value = {kInf, 7.0f};
    p.radius = {0.1f, 12.0f};
    p.count = 2;
    run.pointSets.push_back(p);
  }
};

}  // namespace

TEST(ThreadedCellLoop, AnyNumberOfThreadsGivesTheGridOfOne) {
  for (bool cell : {true, false}) {
    PointsRun one(cell, {});
    const Outcome want = runCellLoop(one.run, one.t, 1);
    ASSERT_EQ(want.stop, 0);
    ASSERT_FALSE(want.err);
    EXPECT_TRUE(want.valueFound);
    int withValue = 0;
    for (float v : want.grid) withValue += v != one.run.structure.grid.nodata;
    EXPECT_GT(withValue, 300);  // the comparison below is worth something
    for (int threads : {2, 3, 7, 30}) {
      PointsRun many(cell, {});
      const Outcome got = runCellLoop(many.run, many.t, threads);
      EXPECT_EQ(got.stop, 0);
      EXPECT_EQ(got.valueFound, want.valueFound);
      EXPECT_TRUE(got.grid == want.grid) << (cell ? "CELL, " : "MIDDLE, ") << threads << " threads";
    }
  }
  // Model columns: the ordered pass, the workers and the writer give the one pass's grid; a
  // CELL structure's table with areas is read ahead on a thread of its own.
  for (bool cell : {false, true}) {
    ModelRun one({0, 0}, {0, 0}, 0, cell);
    const Outcome want = runCellLoop(one.run, one.t, 1);
    ASSERT_EQ(want.stop, 0);
    ASSERT_FALSE(want.err);
    for (int threads : {2, 5}) {
      ModelRun many({0, 0}, {0, 0}, 0, cell);
      const Outcome got = runCellLoop(many.run, many.t, threads);
      EXPECT_FALSE(got.err);
      EXPECT_TRUE(got.grid == want.grid) << (cell ? "CELL, " : "MIDDLE, ") << threads << " threads";
    }
  }
}

TEST(ThreadedCellLoop, MiddlesSearchedAheadGiveTheCellsOfTheOrderedSearch) {
  // A middle on the edge between two model cells lies in both: which one the search finds
  // follows from the cell it found last, so a column searched ahead from scratch must be
  // mended where the hint the column before leaves differs. Each case runs over several chunks
  // of columns, with every eleventh cell left by polygons.
  struct Case {
    int32_t ncols, nrows;
    int32_t n, m;  // the model's grid points, from (x0, y0), `step` apart
    float x0, y0, step;
  };
  const Case cases[] = {
      // Two rows: the first column's middles lie on the edge between a model cell and the one
      // above it, where the search of the column before ends, and that one is kept.
      {300, 2, 153, 3, -20.0f, -15.0f, 20.0f},
      // Middles on the corners of model cells 5 m wide, in four cells at once; columns 1 to 10
      // and rows 1 to 5 outside the model, some middles on its edge.
      {150, 40, 261, 72, 105.0f, 55.0f, 5.0f},
  };
  for (const Case& c : cases) {
    auto build = [&c](TestFrame& t, assign::Run& run) {
      tenMetreStructure(run, c.ncols, c.nrows, grid::ValuesAt::Middle);
      for (size_t k = 0; k < run.structure.assignMask.size(); k += 11) run.structure.assignMask[k] = 0;
      writeRegularModel(t, c.n, c.m, c.x0, c.y0, c.step);
      useRegularModel(t, run);
    };
    const auto [want, withValue] = runBuilt(build, 1);
    ASSERT_EQ(want.stop, 0);
    ASSERT_FALSE(want.err);
    EXPECT_GT(withValue, static_cast<int>(want.grid.size()) / 2);
    for (int threads : {2, 3, 5}) {
      const Outcome got = runBuilt(build, threads).first;
      EXPECT_FALSE(got.err);
      EXPECT_TRUE(got.grid == want.grid) << c.ncols << " x " << c.nrows << ", " << threads << " threads";
    }
  }
}

TEST(ThreadedCellLoop, MiddlesValuedStraightFromTheModelAreThoseOfTheGeneralSearch) {
  // A structure of middles whose only sets are model uses takes each cell's values straight
  // from the model cells the search found, or from the segments a table gives, on several
  // cores. One use, and two uses of one model, the second of another parameter; the last use
  // with an exclusion value that some segments carry and a priority of its own, reading its
  // segments from a table or searching them; every run method, one value needed or two.
  auto level = [](int32_t k) { return static_cast<float>(k % 4) * 0.75f; };
  auto salt = [](int32_t k) { return k % 7 == 0 ? 2.5f : k % 5 == 0 ? 3.0f : static_cast<float>(k % 3) * 0.75f; };
  struct Case {
    const char* method;
    int32_t values, priority;
  };
  for (const Case& c : {Case{"AVERAGE", 1, 1}, Case{"AVERAGE", 1, 2}, Case{"AVERAGE", 2, 1}, Case{"MAXIMUM", 2, 1},
                        Case{"MINIMUM", 1, 2}, Case{"MAJORITY", 2, 1}, Case{"MINORITY", 1, 1}}) {
    for (int uses : {1, 2}) {
      for (bool table : {false, true}) {
        auto build = [&](TestFrame& t, assign::Run& run) {
          tenMetreStructure(run, 90, 70, grid::ValuesAt::Middle);
          for (size_t k = 0; k < run.structure.assignMask.size(); k += 13) run.structure.assignMask[k] = 0;
          // Model cells of 7 m from outside the structure's corner, so that some middles lie on
          // their edges and some cells lie outside the model.
          writeRegularModel(t, 80, 90, 5.0f, -8.0f, 7.0f, level, salt);
          useRegularModel(t, run);
          if (uses == 2) zav::HANDLEZAVFILE(t.fr, run.zav, "USE-ZAV-OBJECT,OBJ,SALT");
          run.zav.uses.back().exclusion = uses == 2 ? 2.5f : 1.5f;
          run.zav.uses.back().priority = c.priority;
          if (table) {
            // The cells left in cell order, as the program writes them: no line for some, none
            // found (-1) for others, and segments beyond the model's 7,031 and below 1.
            std::string lines;
            for (int32_t i = 1; i <= 90; ++i) {
              for (int32_t j = 1; j <= 70; ++j) {
                if (!run.structure.assignMask[run.structure.grid.index(i, j)] || (i + 2 * j) % 9 == 0) continue;
                const int32_t k = (i * 131 + j * 71) % 7100;
                const int32_t segment = k % 11 == 0 ? -1 : k - 30;
                char line[32];
                std::snprintf(line, sizeof line, "%5d,%5d,%9d\n", i, j, segment);
                lines += line;
              }
            }
            testing_support::writeFile(t.path("g.tab"), lines);
            run.zav.uses.back().tableMode = zav::TableMode::Use;
            run.zav.uses.back().tableName = t.path("g.tab").string();
            EXPECT_FALSE(checkZavTables(run));
          }
          run.settings.runMethod = c.method;
          run.settings.numberOfValues = c.values;
          run.settings.derive();
        };
        const std::string where = std::to_string(uses) + " uses, " + c.method + ", " + std::to_string(c.values) +
                                  " values, priority " + std::to_string(c.priority) + (table ? ", a table" : "");
        const auto [want, withValue] = runBuilt(build, 1);
        ASSERT_EQ(want.stop, 0) << where;
        ASSERT_FALSE(want.err) << where;
        EXPECT_GT(withValue, uses == 1 && c.values == 2 ? -1 : 500) << where;
        for (int threads : {2, 3}) {
          const Outcome got = runBuilt(build, threads).first;
          EXPECT_FALSE(got.err) << where;
          EXPECT_TRUE(got.grid == want.grid) << where << ", " << threads << " threads";
        }
      }
    }
  }
}

TEST(ThreadedCellLoop, ModelIndexesBuiltOnTwoCoresAreThoseOfOne) {
  // A model of 71,461 cells, enough for its order by X and its buckets to be built on two
  // cores: the cells found, and so the grids of CELL and MIDDLE structures, are those of one.
  // The regular grid's columns of cells share their X minimum, so the order of ties counts.
  for (const grid::ValuesAt at : {grid::ValuesAt::Cell, grid::ValuesAt::Middle}) {
    auto build = [at](TestFrame& t, assign::Run& run) {
      tenMetreStructure(run, 100, 80, at);
      writeRegularModel(t, 300, 240, -3.0f, -3.0f, 4.0f);
      useRegularModel(t, run);
    };
    const auto [want, withValue] = runBuilt(build, 1);
    ASSERT_EQ(want.stop, 0);
    ASSERT_FALSE(want.err);
    EXPECT_EQ(withValue, 8000);
    const Outcome got = runBuilt(build, 2).first;
    EXPECT_FALSE(got.err);
    EXPECT_TRUE(got.grid == want.grid) << (at == grid::ValuesAt::Cell ? "CELL" : "MIDDLE");
  }
}

TEST(ThreadedCellLoop, TableLinesInEveryAcceptedFormReadAlike) {
  // Blanks around the items, a plus sign, leading zeros (ten digits), a comma or blanks at the
  // end, a carriage return: the same grid as the lines the program writes, on one thread and two.
  ModelRun plain({0, 0}, {0, 0});
  const Outcome want = runCellLoop(plain.run, plain.t, 1);
  ASSERT_EQ(want.stop, 0);
  ASSERT_FALSE(want.err);
  int withValue = 0;
  for (float v : want.grid) withValue += v != plain.run.structure.grid.nodata;
  EXPECT_GT(withValue, 50);
  for (int style = 1; style <= 4; ++style) {
    for (int threads : {1, 2}) {
      ModelRun other({0, 0}, {0, 0}, style);
      const Outcome got = runCellLoop(other.run, other.t, threads);
      EXPECT_FALSE(got.err) << style;
      EXPECT_TRUE(got.grid == want.grid) << "style " << style << ", " << threads << " threads";
    }
  }
}

TEST(ThreadedCellLoop, TheFailureReportedIsTheOneOnePassMeetsFirst) {
  // Rows on cores: a cell without a number in the last band only, and in several bands.
  for (const auto& planted : std::vector<std::vector<std::pair<int32_t, int32_t>>>{{{33, 29}}, {{5, 27}, {20, 3}}}) {
    PointsRun one(true, planted);
    const Outcome want = runCellLoop(one.run, one.t, 1);
    EXPECT_EQ(want.stop, 100);
    ASSERT_FALSE(want.errors.empty());
    for (int threads : {2, 4}) {
      PointsRun many(true, planted);
      const Outcome got = runCellLoop(many.run, many.t, threads);
      EXPECT_EQ(got.stop, 100) << threads << " threads";
      EXPECT_EQ(got.errors, want.errors) << threads << " threads";
    }
  }
  // Model columns: a table line that cannot be read stops the ordered pass, a value that is not
  // a number stops a worker; the one met first in cell order (column by column) is reported,
  // also when both lie in one column.
  struct Case {
    std::pair<int32_t, int32_t> nan, bad;
    bool tableFirst;
  };
  for (const Case& c : {Case{{3, 5}, {6, 2}, false}, Case{{6, 5}, {6, 2}, true}, Case{{6, 2}, {6, 5}, false},
                        Case{{9, 1}, {2, 8}, true}, Case{{12, 10}, {11, 4}, true}}) {
    for (bool cell : {false, true}) {
      ModelRun one(c.nan, c.bad, 0, cell);
      const Outcome want = runCellLoop(one.run, one.t, 1);
      EXPECT_EQ(want.err, c.tableFirst);
      EXPECT_EQ(want.stop, c.tableFirst ? 0 : 100);
      ASSERT_FALSE(want.errors.empty());
      bool tableMessage = false;
      for (const auto& l : want.errors) tableMessage = tableMessage || l.find("not of the written form") != l.npos;
      EXPECT_EQ(tableMessage, c.tableFirst);
      for (int threads : {2, 3}) {
        ModelRun many(c.nan, c.bad, 0, cell);
        const Outcome got = runCellLoop(many.run, many.t, threads);
        const std::string where = std::to_string(c.nan.first) + "," + std::to_string(c.nan.second) +
                                  (cell ? " CELL: " : " MIDDLE: ") + std::to_string(threads) + " threads";
        EXPECT_EQ(got.err, want.err) << where;
        EXPECT_EQ(got.stop, want.stop) << where;
        EXPECT_EQ(got.errors, want.errors) << where;
      }
    }
  }
}

TEST(ThreadedCellLoop, EscapeInTheProgressDisplayStopsEveryThread) {
  // The tenth turn of the display meets Escape: the run stops with 101 wherever the workers
  // are, and they are stopped and joined before their state goes.
  auto press = [](frame::Frame& fr) {
    fr.keyboard.setActiveForTest(true);
    for (int k = 0; k < 10; ++k) fr.keyboard.push('x');
    fr.keyboard.push(27);
  };
  for (int threads : {1, 3}) {
    PointsRun r(false, {});
    press(r.run.fr);
    EXPECT_EQ(runCellLoop(r.run, r.t, threads).stop, 101) << threads << " threads";
    ModelRun z({0, 0}, {0, 0});
    press(z.run.fr);
    EXPECT_EQ(runCellLoop(z.run, z.t, threads).stop, 101) << threads << " threads";
  }
}

namespace {

// A run that must give the grid another gave, bit for bit, without stopping.
void expectSameGrid(const Outcome& got, const Outcome& want, const std::string& where) {
  EXPECT_EQ(got.stop, 0) << where;
  EXPECT_EQ(got.valueFound, want.valueFound) << where;
  ASSERT_EQ(got.grid.size(), want.grid.size()) << where;
  for (size_t k = 0; k < got.grid.size(); ++k) {
    ASSERT_EQ(std::memcmp(&got.grid[k], &want.grid[k], 4), 0)
        << where << ", cell " << k << ": " << got.grid[k] << " against " << want.grid[k];
  }
}

// The structure of the grid-set runs below: 40 x 30 cells of 5 m, NODATA 0.5.
void gridRunStructure(grid::Structure& s, bool cell) {
  s.grid.ncols = 40;
  s.grid.nrows = 30;
  s.cellsize = s.grid.dx = s.grid.dy = 5;
  s.grid.nodata = 0.5f;
  s.grid.valuesType = cell ? grid::ValuesAt::Cell : grid::ValuesAt::Middle;
  s.grid.values.assign(1200, s.grid.nodata);
  s.assignMask.assign(1200, 1);
}

// Cells a polygon took keep 77; with `general`, a point set without points sends every cell
// through the general search; and the run method.
void gridRunMaskAndMethod(Run& run, bool general, RunMethod method) {
  grid::Structure& s = run.structure;
  for (size_t c = 0; c < 1200; c += 11) {
    s.assignMask[c] = 0;  // as a polygon leaves it
    s.grid.values[c] = 77.0f;
  }
  if (general) {
    PointSet none;
    none.nodata = -9999;
    run.pointSets.push_back(none);
  }
  run.settings.runMethod = method == RunMethod::Maximum   ? "MAXIMUM"
                           : method == RunMethod::Minimum ? "MINIMUM"
                                                          : "AVERAGE";
}

// A structure of 40 x 30 cells of 5 m (NODATA 0.5) and `sets` grid sets on its own grid
// (NODATA -1) whose values hold the edge cases of taking them as they stand: the set's NODATA,
// NaN, values a hair from the structure's NODATA, ordinary values; the second set has NODATA in
// a third of its cells, the third (of a higher priority) in most. Cells a polygon took keep 77.
// With `general`, a point set without points sends every cell through the general search,
// which must give the same grid.
struct SameGridRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  SameGridRun(bool cell, RunMethod method, int sets, bool general, std::pair<int32_t, int32_t> infinite) {
    grid::Structure& s = run.structure;
    gridRunStructure(s, cell);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> uv(-20, 20);
    const float edges[] = {-1.0f, std::nanf(""), 0.5f, 0.50005f, 0.49996f, 0.5002f, -1.00005f, 0.0f};
    for (int k = 0; k < sets; ++k) {
      grid::GridDescription d;
      d.valuesType = s.grid.valuesType;
      d.ncols = 40;
      d.nrows = 30;
      d.dx = d.dy = 5;
      d.nodata = -1.0f;
      d.sameGeometry = true;
      d.priority = k == 2 ? 1 : 0;
      for (size_t c = 0; c < 1200; ++c) {
        float v = c % 5 == 0 ? edges[(c / 5 + static_cast<size_t>(k)) % 8] : uv(rng);
        if ((k == 1 && c % 3 == 0) || (k == 2 && c % 7 != 0)) v = d.nodata;
        d.values.push_back(v);
      }
      if (k == 0 && infinite.first > 0) d.at(infinite.first, infinite.second) = kInf;
      run.gridSets.descriptions.push_back(d);
      run.gridSets.sources.emplace_back();
      grid::GridSet set;
      set.description = k;
      run.gridSets.sets.push_back(set);
    }
    gridRunMaskAndMethod(run, general, method);
  }
};

}  // namespace

// A run whose sets all lie on the structure's own grid takes each cell's value from theirs
// without the general search: every edge of that (NODATA of either grid, NaN, masked cells,
// one, two and three sets of two priorities, the run methods that may take them, CELL and
// MIDDLE) gives what the search gives, on any number of threads, and a value that is not a
// number stops the run at the same cell with the same message.
TEST(SameGridCells, TakenStraightTheyAreWhatTheSearchGives) {
  for (bool cell : {true, false}) {
    for (RunMethod method : {RunMethod::Average, RunMethod::Maximum, RunMethod::Minimum}) {
      for (int sets : {1, 2, 3}) {
        SameGridRun general(cell, method, sets, true, {0, 0});
        const Outcome want = runCellLoop(general.run, general.t, 1);
        ASSERT_EQ(want.stop, 0);
        int nodata = 0, masked = 0;
        for (size_t k = 0; k < want.grid.size(); ++k) {
          nodata += want.grid[k] == 0.5f;
          masked += want.grid[k] == 77.0f;
        }
        ASSERT_GT(nodata, 20);  // the comparison below meets both kinds of cell
        ASSERT_GT(masked, 100);
        for (int threads : {1, 2, 3}) {
          SameGridRun straight(cell, method, sets, false, {0, 0});
          expectSameGrid(runCellLoop(straight.run, straight.t, threads), want,
                         std::string(cell ? "CELL" : "MIDDLE") + ", method " +
                             std::to_string(static_cast<int>(method)) + ", " + std::to_string(sets) + " sets, " +
                             std::to_string(threads) + " threads");
          if (HasFatalFailure()) return;
        }
      }
    }
  }
  for (int sets : {1, 2}) {
    SameGridRun general(true, RunMethod::Average, sets, true, {17, 12});
    const Outcome want = runCellLoop(general.run, general.t, 1);
    EXPECT_EQ(want.stop, 100);
    for (int threads : {1, 2}) {
      SameGridRun straight(true, RunMethod::Average, sets, false, {17, 12});
      const Outcome got = runCellLoop(straight.run, straight.t, threads);
      EXPECT_EQ(got.stop, want.stop) << sets << " sets";
      EXPECT_EQ(got.errors, want.errors) << sets << " sets";
    }
  }
}

namespace {

// A structure of 40 x 30 cells of 5 m, its values averaged per set from grids of cells elsewhere:
// one of 3.5 m cells from (0.013, -2.7) that leaves the top rows out, so that the first column's input cells must be
// clipped (an overlap from 0.013 to 3.513 is not fit for the area product) and the others need not, with NODATA in a
// tenth of its cells; with `others`, a set on the structure's own grid and one of 7 m cells of a higher priority,
// NODATA in most of them, that needs three pieces a cell. Cells a polygon took keep 77. With `general`, a point set
// without points sends every cell through the general search.
struct OtherGridRun {
  TestFrame t;
  Run run{t.console, t.clock, {"x"}};
  OtherGridRun(RunMethod method, bool others, bool general, std::pair<int32_t, int32_t> infinite) {
    gridRunStructure(run.structure, true);
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> uv(-20, 20);
    auto add = [&](double origin[2], double size, int32_t cols, int32_t rows, bool same, int32_t priority,
                   int32_t needed, int nodataEvery) {
      grid::GridDescription d;
      d.valuesType = grid::ValuesAt::Cell;
      d.ncols = cols;
      d.nrows = rows;
      d.xll = origin[0];
      d.yll = origin[1];
      d.dx = d.dy = size;
      d.nodata = -1.0f;
      d.sameGeometry = same;
      d.priority = priority;
      d.numberOfValues = needed;
      for (int32_t c = 0; c < cols * rows; ++c) d.values.push_back(c % nodataEvery == 1 ? d.nodata : uv(rng));
      // A patch of the first set whose average lies within 0.0001 of the structure's NODATA (0.5).
      for (int32_t r = 5; run.gridSets.sets.empty() && r <= 12; ++r) {
        for (int32_t c = 30; c <= 40; ++c) d.at(c, r) = 0.50006f;
      }
      if (run.gridSets.sets.empty() && infinite.first > 0) d.at(infinite.first, infinite.second) = kInf;
      run.gridSets.descriptions.push_back(d);
      run.gridSets.sources.emplace_back();
      grid::GridSet set;
      set.description = static_cast<int>(run.gridSets.sets.size());
      run.gridSets.sets.push_back(set);
    };
    double fine[2] = {0.013, -2.7}, own[2] = {0, 0}, coarse[2] = {-3.1, 1.9};
    add(fine, 3.5, 58, 40, false, 0, 0, 10);
    if (others) {
      add(own, 5, 40, 30, true, 0, 0, 3);
      add(coarse, 7, 30, 22, false, 1, 3, 1 + 3 * (static_cast<int>(rng() % 2) + 1));
    }
    gridRunMaskAndMethod(run, general, method);
    run.settings.methodPerSet = "AVERAGE";
  }
};

}  // namespace

// A structure of cells averaging grids of cells elsewhere per set takes each cell's value from
// the input cells it overlaps without the general search: the cells whose input cells must be
// clipped, NODATA input cells, sets of another priority or needing more pieces, a set on the
// structure's grid beside them, masked cells and every run method that may take them give what
// the search gives, on any number of threads; a value that is not a number stops the run at the
// same cell with the same message.
TEST(OtherGridCells, AveragedStraightTheyAreWhatTheSearchGives) {
  for (RunMethod method : {RunMethod::Average, RunMethod::Maximum, RunMethod::Minimum}) {
    for (bool others : {false, true}) {
      OtherGridRun general(method, others, true, {0, 0});
      const Outcome want = runCellLoop(general.run, general.t, 1);
      ASSERT_EQ(want.stop, 0);
      int nodata = 0, masked = 0;
      for (float v : want.grid) {
        nodata += v == 0.5f;
        masked += v == 77.0f;
      }
      ASSERT_GT(masked, 100);  // the comparison below meets masked cells, and cells of no value
      ASSERT_GT(nodata, 0);
      for (int threads : {1, 2, 3}) {
        OtherGridRun straight(method, others, false, {0, 0});
        expectSameGrid(runCellLoop(straight.run, straight.t, threads), want,
                       "method " + std::to_string(static_cast<int>(method)) +
                           (others ? ", three sets, " : ", one set, ") + std::to_string(threads) + " threads");
        if (HasFatalFailure()) return;
      }
    }
  }
  for (bool others : {false, true}) {
    OtherGridRun general(RunMethod::Average, others, true, {20, 14});
    const Outcome want = runCellLoop(general.run, general.t, 1);
    EXPECT_EQ(want.stop, 100);
    for (int threads : {1, 2}) {
      OtherGridRun straight(RunMethod::Average, others, false, {20, 14});
      const Outcome got = runCellLoop(straight.run, straight.t, threads);
      EXPECT_EQ(got.stop, want.stop) << (others ? "three sets" : "one set");
      EXPECT_EQ(got.errors, want.errors) << (others ? "three sets" : "one set");
    }
  }
}
