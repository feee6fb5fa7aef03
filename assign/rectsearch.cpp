#include <algorithm>
#include <cmath>

#include "assign/run.h"
#include "grid/general.h"
#include "grid/grids.h"

namespace assign {
namespace {

// Index of a fractional position: positions above -0.5 are rounded up by the search's
// small amount and truncated; others are outside.
inline int32_t indexOf(float position, double bump) {
  if (position > -0.5f) return static_cast<int32_t>(std::trunc(position + bump));
  return -1;
}

inline bool isValue(float v, float nodata) {
  return std::fabs(v - nodata) > 0.0001f;
}

const grid::GridDescription& descriptionOf(const Run& run, int set) {
  return run.gridSets.descriptions[static_cast<size_t>(run.gridSets.sets[static_cast<size_t>(set)].description)];
}

// The input cells along one axis that the output span [a0, a1] touches: from the cell where
// each end lies (an end on a boundary counts to the lower cell), or the grid's first or last
// where the end lies beyond the grid. Empty when the span misses the grid.
void rangeOf(float a0, float a1, double origin, double step, int32_t count, double lo, double hi, int32_t& from,
             int32_t& to) {
  from = 1;
  to = 0;
  if (a1 < lo || a0 > hi) return;
  from = a0 < lo ? 1 : indexOf(grid::relativeIndex(a0, origin, step, count), 0.00001);
  to = a1 > hi ? count : indexOf(grid::relativeIndex(a1, origin, step, count), 0.00001);
  if (from < 1 || to > count) {
    from = 1;
    to = 0;
  }
}

// The largest spread of the spans from `at` on, or -1 when one of them is not fit for the
// area product.
int8_t fitOf(const std::vector<grid::AxisOverlap>& spans, size_t at) {
  int spread = 0;
  for (size_t k = at; k < spans.size(); ++k) {
    if (!spans[k].usable) return -1;
    spread = std::max(spread, spans[k].spread);
  }
  return static_cast<int8_t>(std::min(spread, 127));
}

// The edge k of an input grid's axis (k = 0: its origin), relative to the structure's corner.
inline float inputEdge(double origin, double step, int64_t k) {
  return static_cast<float>(origin + static_cast<double>(k) * step);
}
// The middle of input cell k along the axis.
inline float inputMiddle(double origin, double step, int64_t k) {
  return static_cast<float>(origin + (static_cast<double>(k) - 0.5) * step);
}

// The plan of one axis: the structure's cells along it, `count` of them, against input cells
// of `inStep` from `inOrigin` (relative to the corner), `inCount` of them, spanning lo..hi.
void planAxis(const grid::Structure& s, int32_t count, double inOrigin, double inStep, int32_t inCount, double lo,
              double hi, AxisPlan& a) {
  const size_t n = static_cast<size_t>(count);
  a.lo.assign(n, 1);
  a.hi.assign(n, 0);
  a.at.assign(n, 0);
  a.fit.assign(n, -1);
  a.spans.clear();
  a.width.clear();
  for (int32_t k = 1; k <= count; ++k) {
    const size_t e = static_cast<size_t>(k - 1);
    const float a0 = s.edge(k - 1);
    const float a1 = s.edge(k);
    rangeOf(a0, a1, inOrigin, inStep, inCount, lo, hi, a.lo[e], a.hi[e]);
    a.at[e] = static_cast<uint32_t>(a.spans.size());
    for (int32_t c = a.lo[e]; c <= a.hi[e]; ++c) {
      const float b0 = inputEdge(inOrigin, inStep, c - 1);
      const float b1 = inputEdge(inOrigin, inStep, c);
      a.spans.push_back(grid::axisOverlap(a0, a1, b0, b1));
      const grid::AxisOverlap& o = a.spans.back();
      a.width.push_back(o.overlaps ? static_cast<double>(o.hi) - o.lo : 0.0);
    }
    a.fit[e] = fitOf(a.spans, a.at[e]);
  }
}

}  // namespace

void prepareGridPlans(Run& run) {
  const grid::Structure& s = run.structure;
  const bool cellStructure = s.grid.cellValues();
  const int32_t nc = s.grid.ncols;
  run.gridPlans.assign(run.gridSets.sets.size(), GridSetPlan());
  run.needsGeometry = false;
  for (size_t k = 0; k < run.gridSets.sets.size(); ++k) {
    GridSetPlan& p = run.gridPlans[k];
    p.description = run.gridSets.sets[k].description;
    const grid::GridDescription& d = run.gridSets.descriptions[static_cast<size_t>(p.description)];
    p.cellSet = d.cellValues();
    // Grids with axes, and point-related grids that are not BASIC, give nothing here.
    p.searchable = !d.sameGeometry && !d.axisGrid() && (p.cellSet || d.basicGrid());
    if (!d.sameGeometry) run.needsGeometry = true;
    if (!p.searchable) continue;
    // The input grid's origin and extent relative to the structure's corner.
    p.x0 = d.xll - s.grid.xll;
    p.y0 = d.yll - s.grid.yll;
    p.xmin = p.x0;
    p.xmax = p.x0 + static_cast<double>(d.ncols) * d.dx;
    p.ymin = p.y0;
    p.ymax = p.y0 + static_cast<double>(d.nrows) * d.dy;
    const int32_t nr = s.grid.nrows;
    if (!cellStructure) {
      p.middleColumn.assign(static_cast<size_t>(nc), 0);
      for (int32_t i = 1; i <= nc; ++i) {
        const float mx = s.middle(i);
        if (!(p.xmin <= mx && mx <= p.xmax)) continue;
        const int32_t c = indexOf(grid::relativeIndex(mx, p.x0, d.dx, d.ncols), 0.0001);
        if (c >= 1 && c <= d.ncols) p.middleColumn[static_cast<size_t>(i - 1)] = c;
      }
      p.middleRow.assign(static_cast<size_t>(nr), 0);
      for (int32_t j = 1; j <= nr; ++j) {
        const float my = s.middle(j);
        if (!(p.ymin <= my && my <= p.ymax)) continue;
        const int32_t r = indexOf(grid::relativeIndex(my, p.y0, d.dy, d.nrows), 0.0001);
        if (r >= 1 && r <= d.nrows) p.middleRow[static_cast<size_t>(j - 1)] = r;
      }
      continue;
    }
    planAxis(s, nc, p.x0, d.dx, d.ncols, p.xmin, p.xmax, p.cols);
    planAxis(s, nr, p.y0, d.dy, d.nrows, p.ymin, p.ymax, p.rows);
  }
}

void SEARCHFORMIDDLEINRECTANGULAR(const Run& run, Worker& w, int32_t i, int32_t j, int set, bool& first) {
  const GridSetPlan& p = run.gridPlans[static_cast<size_t>(set)];
  if (!p.searchable) return;
  // The middle lies in the grid, and in which input cell, by its column and row.
  const int32_t c = p.middleColumn[static_cast<size_t>(i - 1)];
  const int32_t r = p.middleRow[static_cast<size_t>(j - 1)];
  if (c == 0 || r == 0) return;
  const grid::GridDescription& d = descriptionOf(run, set);
  const float v = d.at(c, r);
  if (!isValue(v, d.nodata)) return;
  ValueRecord rec;
  rec.value = v;
  rec.weight = -1.0f;
  rec.related = p.cellSet ? Related::Cell : Related::Point;
  rec.priority = d.priority;
  ADDAVALUE(w.values, rec, first);
}

void ADDINTERSECT(Worker& w, bool& storeFirst, float value) {
  grid::PolygonClipper& clip = w.clipper;
  if (clip.count() == 0) return;
  const float area = grid::SETPOLYGONAREA(clip.vertices(), clip.count());
  clip.clear();
  addPiece(w, storeFirst, area, value);
}

void HANDLEINTERSECTS(const Run& run, Worker& w, bool& first, int32_t priority, int32_t numberOfValues) {
  auto& pieces = w.intersects.pieces;
  const int64_t n = static_cast<int64_t>(pieces.size());
  if (n >= 1 && n >= numberOfValues) {
    ValueRecord rec;
    rec.related = Related::Cell;
    rec.priority = priority;
    if (run.settings.perSetAverage) {
      double sum = 0.0, area = 0.0;
      for (const auto& [a, v] : pieces) {
        sum += static_cast<double>(a) * v;
        area += a;
      }
      rec.value = static_cast<float>(sum / area);
      rec.weight = 1.0f;
      ADDAVALUE(w.values, rec, first);
    } else {
      for (const auto& [a, v] : pieces) {
        rec.value = v;
        rec.weight = a;
        ADDAVALUE(w.values, rec, first);
      }
    }
  }
  // The pieces belong to this cell and set only.
  pieces.clear();
  w.clipper.clear();
}

namespace {

// The record of an averaged cell set: its average over the pieces, of weight one.
void averagedRecord(Worker& w, float value, int32_t priority, bool& first) {
  ValueRecord rec;
  rec.value = value;
  rec.weight = 1.0f;
  rec.related = Related::Cell;
  rec.priority = priority;
  ADDAVALUE(w.values, rec, first);
}

}  // namespace

FittingRow::FittingRow(const Run& run, int set, int32_t j) : plan_(&run.gridPlans[static_cast<size_t>(set)]) {
  const grid::GridDescription* d = &descriptionOf(run, set);
  nodata_ = d->nodata;
  numberOfValues_ = d->numberOfValues;
  const size_t rj = static_cast<size_t>(j - 1);
  rLo_ = plan_->rows.lo[rj];
  rHi_ = plan_->rows.hi[rj];
  rowFit_ = plan_->rows.fit[rj];
  // The input rows this structure row overlaps, worked out once for the row's cells.
  const grid::AxisOverlap* spans = plan_->rows.spans.data() + plan_->rows.at[rj];
  rows_.clear();
  for (int32_t r = rLo_; r <= rHi_; ++r) {
    const grid::AxisOverlap& ry = spans[r - rLo_];
    if (!ry.overlaps) continue;
    rows_.push_back({d->values.data() + d->index(1, r), static_cast<double>(ry.hi) - ry.lo});
  }
}

namespace {

// Point-related input: the middles of the input cells inside the output cell, whose values
// the set gives when there are more than #VALUES of them.
void searchMiddlesInCell(const Run& run, Worker& w, const GridSetPlan& p, const grid::GridDescription& d, int32_t cLo,
                         int32_t cHi, int32_t rLo, int32_t rHi, bool& first) {
  const float* cell = w.cell.corners;
  const float x0 = cell[0], x1 = cell[4], y0 = cell[1], y1 = cell[5];
  auto& values = w.collected;
  values.clear();
  for (int32_t r = rLo; r <= rHi; ++r) {
    const float my = inputMiddle(p.y0, d.dy, r);
    if (!(y0 <= my && my <= y1)) continue;
    const float* row = d.values.data() + d.index(1, r);
    for (int32_t c = cLo; c <= cHi; ++c) {
      const float v = row[c - 1];
      if (!isValue(v, d.nodata)) continue;
      const float mx = inputMiddle(p.x0, d.dx, c);
      if (x0 <= mx && mx <= x1) values.push_back(v);
    }
  }
  if (static_cast<int64_t>(values.size()) <= d.numberOfValues) return;
  ValueRecord rec;
  rec.weight = 1.0f;
  rec.related = Related::Cell;
  rec.priority = d.priority;
  if (run.settings.perSetAverage) {
    double sum = 0.0;
    for (float v : values) sum += v;
    rec.value = static_cast<float>(sum / static_cast<double>(values.size()));
    ADDAVALUE(w.values, rec, first);
  } else {
    for (float v : values) {
      rec.value = v;
      ADDAVALUE(w.values, rec, first);
    }
  }
}

}  // namespace

void SEARCHFORCELLINRECTANGULAR(const Run& run, Worker& w, int32_t i, int32_t j, int set, bool& first) {
  const GridSetPlan& p = run.gridPlans[static_cast<size_t>(set)];
  w.intersects.pieces.clear();
  if (!p.searchable) return;
  const size_t ci = static_cast<size_t>(i - 1), rj = static_cast<size_t>(j - 1);
  const int32_t cLo = p.cols.lo[ci], cHi = p.cols.hi[ci];
  const int32_t rLo = p.rows.lo[rj], rHi = p.rows.hi[rj];
  if (cLo > cHi || rLo > rHi) return;
  const grid::GridDescription& d = descriptionOf(run, set);
  const float* cell = w.cell.corners;
  const float x0 = cell[0], x1 = cell[4], y0 = cell[1], y1 = cell[5];

  if (p.cellSet) {
    // The side on which the inside of the cell lies, tested with two centres.
    auto sign = [&](double mx, double my) {
      const double cr = (static_cast<double>(cell[2]) - cell[0]) * (my - cell[1]) -
                        (static_cast<double>(cell[3]) - cell[1]) * (mx - cell[0]);
      return cr >= 0.0 ? 1 : -1;
    };
    const int s1 = sign((static_cast<double>(cell[0]) + cell[4]) / 2, (static_cast<double>(cell[1]) + cell[5]) / 2);
    const int s2 = sign((static_cast<double>(cell[2]) + cell[6]) / 2, (static_cast<double>(cell[3]) + cell[7]) / 2);
    if (s1 != s2) {
      throw frame::Failure::errorFlag(
          {" ERROR", " *****", " ", " SearchForCellInRectangular>Wrong test point.", " ", " WARN ADMINISTRATOR"});
    }
    const float s = static_cast<float>(s1);
    bool storeFirst = true;
    // With one averaged value per set the pieces are summed as they are found, in the order
    // and with the arithmetic of HANDLEINTERSECTS; otherwise every piece is kept.
    const bool average = run.settings.perSetAverage;
    double sum = 0.0, areaSum = 0.0;
    int64_t pieces = 0;
    auto piece = [&](float area, float v) {
      if (!(area > 0.0f)) return;
      if (average) {
        sum += static_cast<double>(area) * v;
        areaSum += area;
        ++pieces;
      } else {
        addPiece(w, storeFirst, area, v);
      }
    };
    // An input cell's piece is the product of the spans it shares with the output cell when
    // their ends are fit for it (see rectangleOverlapArea); otherwise it is clipped.
    const bool shortWay = s > 0.0f && x0 < x1 && y0 < y1;
    const grid::AxisOverlap* cols = p.cols.spans.data() + p.cols.at[ci];
    const grid::AxisOverlap* rows = p.rows.spans.data() + p.rows.at[rj];
    // The common case, an averaged set whose spans all fit the product, in a loop of its own.
    if (average && shortWay) {
      float v = 0.0f;
      const int got = FittingRow(run, set, j).average(i, v);
      if (got == 1) averagedRecord(w, v, d.priority, first);
      if (got >= 0) return;
    }
    for (int32_t r = rLo; r <= rHi; ++r) {
      const grid::AxisOverlap& ry = rows[r - rLo];
      const float* row = d.values.data() + d.index(1, r);
      for (int32_t c = cLo; c <= cHi; ++c) {
        const float v = row[c - 1];
        if (!isValue(v, d.nodata)) continue;
        const grid::AxisOverlap& cx = cols[c - cLo];
        if (shortWay && cx.usable && ry.usable && cx.spread + ry.spread <= 2) {
          if (cx.overlaps && ry.overlaps) {
            piece(static_cast<float>((static_cast<double>(cx.hi) - cx.lo) * (static_cast<double>(ry.hi) - ry.lo)), v);
          }
          continue;
        }
        const float by0 = inputEdge(p.y0, d.dy, r - 1);
        const float by1 = inputEdge(p.y0, d.dy, r);
        const float bx0 = inputEdge(p.x0, d.dx, c - 1);
        const float bx1 = inputEdge(p.x0, d.dx, c);
        const float poly[8] = {bx0, by0, bx1, by0, bx1, by1, bx0, by1};
        w.clipper.CLIPPOLYGON(cell, poly, 4, s);
        if (w.clipper.count() == 0) continue;
        const float area = grid::SETPOLYGONAREA(w.clipper.vertices(), w.clipper.count());
        w.clipper.clear();
        piece(area, v);
      }
    }
    if (average) {
      if (pieces >= 1 && pieces >= d.numberOfValues)
        averagedRecord(w, static_cast<float>(sum / areaSum), d.priority, first);
      return;
    }
    HANDLEINTERSECTS(run, w, first, d.priority, d.numberOfValues);
    return;
  }
  searchMiddlesInCell(run, w, p, d, cLo, cHi, rLo, rHi, first);
}

}  // namespace assign
