#include <cmath>

#include "assign/run.h"
#include "frame/pager.h"
#include "frame/startup.h"

namespace assign {

namespace {

// The cell's corners (anticlockwise from lower-left) and middle, in single precision.
void cellGeometry(const grid::Structure& s, int32_t i, int32_t j, CellGeometry& g) {
  const float xll = s.grid.xll, yll = s.grid.yll, cs = s.cellsize;
  const float x0 = xll + static_cast<float>(i - 1) * cs;
  const float x1 = xll + static_cast<float>(i) * cs;
  const float y0 = yll + static_cast<float>(j - 1) * cs;
  const float y1 = yll + static_cast<float>(j) * cs;
  const float c[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
  for (int k = 0; k < 8; ++k) g.corners[k] = c[k];
  g.middle[0] = xll + (static_cast<float>(i - 1) + 0.5f) * cs;
  g.middle[1] = yll + (static_cast<float>(j - 1) + 0.5f) * cs;
}

}  // namespace

float GETINFORMATION(Run& run, int32_t i, int32_t j, bool& err) {
  err = false;
  const grid::Structure& s = run.structure;
  const float nodata = s.grid.nodata;
  // 1.
  if (run.gridSets.sets.empty()) return nodata;
  // 2.
  cellGeometry(s, i, j, run.cell);
  run.values.clear();
  bool first = true;
  const bool cellStructure = s.grid.valuesType == "CELL ";
  // 3. Grid sets in table order.
  for (const grid::GridSet& set : run.gridSets.sets) {
    const grid::GridDescription& d = run.gridSets.descriptions[static_cast<size_t>(set.description)];
    if (!d.sameGeometry) continue;  // carried over by the rectangular searches
    if (d.numberOfValues >= 2) continue;
    const float v = d.at(i, j);
    if (std::fabs(v - d.nodata) > 0.0001f) {
      ValueRecord r;
      r.value = v;
      r.distance = 0.0f;
      if (cellStructure) {
        r.weight = d.dx * d.dy;
        r.related = Related::Cell;
      } else {
        r.weight = -1.0f;
        r.related = d.valuesType == "CELL " ? Related::Cell : Related::Point;
      }
      r.priority = d.priority;
      ADDAVALUE(run.values, r, first);
    }
  }
  // 6.
  const int32_t need = run.settings.numberOfValues < 1 ? 1 : run.settings.numberOfValues;
  if (static_cast<int64_t>(run.values.size()) < need) return nodata;
  // 7., 8.
  return combineValues(run.values, run.settings, nodata);
}

bool ASSIGNINFORMATIONTOGRID(Run& run) {
  grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols, nr = s.grid.nrows;
  // 1.
  frame::ProgressCounter progress(run.fr, "Computation progress", static_cast<int64_t>(nc) * nr);
  // 3.
  run.valuesFound = false;
  const float nodata = s.grid.nodata;
  for (int32_t i = 1; i <= nc; ++i) {
    for (int32_t j = 1; j <= nr; ++j) {
      progress.turn();
      const size_t k = s.grid.index(i, j);
      if (!s.assignMask[k]) continue;
      bool err = false;
      const float v = GETINFORMATION(run, i, j, err);
      if (err) return true;
      s.grid.values[k] = v;
      if (std::isnan(v)) {
        frame::fatalErrorBlock(run.fr,
                               {" ", " ===WARNING, fatal error===", " ", " A Nan found during the run.",
                                " This is probably due to a bug in the program (area=0.),",
                                " so please WARN THE ADMINISTRATOR:", " ",
                                " Administrator: the maintainers of TervalaGridCreate at your site."},
                               100);
      }
      if (v != nodata) run.valuesFound = true;
    }
  }
  // 4.
  frame::PAGN2(run.fr, "NEWLINE", " ");
  frame::PAGN2(run.fr, "NEWLINE", run.valuesFound ? "Er zijn WEL waarden gevonden" : "Er zijn GEEN waarden gevonden");
  frame::PAGN2(run.fr, "NEWLINE", " ");
  return false;
}

}  // namespace assign
