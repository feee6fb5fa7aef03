#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <numbers>
#include <thread>

#include "assign/run.h"
#include "frame/cmdfile.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/text.h"
#include "grid/bigblocks.h"
#include "grid/general.h"
#include "grid/prj.h"
#include "grid/structure.h"

namespace assign {
namespace {

// The polygon set being read, line by line: a polygon file may be large.
struct PolygonReader {
  frame::Frame& fr;
  std::string name, path;
  bool polygonFile = true;      // false: a line file (first line CLOSE)
  double x0 = 0.0, y0 = 0.0;    // the structure's corner
  std::vector<float> vertices;  // relative to the structure's corner
  bool failed = false;
  std::unique_ptr<frame::LineReader> in;
  std::string raw;
  // From the start of the file again.
  int rewind() {
    in = std::make_unique<frame::LineReader>();
    return in->open(path);
  }
};

// The next significant line (as SLEZEN finds them), upper-cased with its inner blanks kept.
bool nextLine(PolygonReader& r, std::string& line) {
  while (r.in->next(r.raw)) {
    if (frame::significantLine(r.raw, line, frame::LineMode::NOCHNG, false)) {
      frame::CASEF(line);
      return true;
    }
  }
  return false;
}

// APOLYGONFOUND: reads the next polygon (an ID line, vertex lines, END) into r.vertices.
bool APOLYGONFOUND(PolygonReader& r) {
  r.vertices.clear();
  std::string line;
  if (!nextLine(r, line) || frame::trimmedView(line) == "END") return false;
  const std::string idLine = frame::trimmed(line);
  while (nextLine(r, line)) {
    if (frame::trimmedView(line) == "END") break;
    double x = 0, y = 0;
    const bool ok = frame::numberItem(r.fr, line, 1, x) && frame::numberItem(r.fr, line, 2, y);
    const bool inRange = std::fabs(x) <= grid::kCoordinateLimit && std::fabs(y) <= grid::kCoordinateLimit;
    if (!ok || !inRange) {
      const size_t at = r.in->lineNumber();
      frame::endWithError(r.fr, {" The Polygon file " + r.name +
                                     (ok ? " has a vertex beyond 1.0E+15 in line "
                                         : " has a line that is not a vertex (X,Y) in line ") +
                                     std::to_string(at) + ":",
                                 " " + line});
      r.failed = true;
      return false;
    }
    r.vertices.push_back(static_cast<float>(x - r.x0));
    r.vertices.push_back(static_cast<float>(y - r.y0));
  }
  // In a polygon file the last vertex repeats the first and is dropped. A file written by
  // hand or by another tool may leave the repeat out: then the last vertex is a real corner,
  // kept, and the polygon is closed by its implicit edge.
  const size_t n = r.vertices.size();
  if (r.polygonFile && n >= 2) {
    if (n == 2 || (r.vertices[n - 2] == r.vertices[0] && r.vertices[n - 1] == r.vertices[1])) {
      r.vertices.resize(n - 2);
    } else {
      frame::writeListing(
          r.fr, {" Polygon " + idLine + " of the Polygon file " + r.name + " does not end on its first vertex:",
                 " its last vertex is kept and the polygon is closed."});
    }
  }
  return true;
}

// ---------------------------------------------------------------- coverage

// Convex: every turn has the same sense and the boundary goes round once.
bool isConvex(const std::vector<float>& v) {
  const size_t n = v.size() / 2;
  int sense = 0;
  double turning = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + 1) % n, k = (i + 2) % n;
    const double ax = static_cast<double>(v[2 * j]) - v[2 * i], ay = static_cast<double>(v[2 * j + 1]) - v[2 * i + 1];
    const double bx = static_cast<double>(v[2 * k]) - v[2 * j], by = static_cast<double>(v[2 * k + 1]) - v[2 * j + 1];
    const double cr = ax * by - ay * bx;
    if (cr != 0.0) {
      const int s = cr > 0 ? 1 : -1;
      if (sense != 0 && s != sense) return false;
      sense = s;
    }
    if ((ax != 0.0 || ay != 0.0) && (bx != 0.0 || by != 0.0)) turning += std::atan2(cr, ax * bx + ay * by);
  }
  // A boundary that goes round once turns by 2 pi up to the rounding of the sum (far below
  // 1e-6); one that winds round twice turns by 4 pi.
  return sense != 0 && std::fabs(std::fabs(turning) - 2.0 * std::numbers::pi) < 1e-6;
}

// Whether P lies inside the polygon or on its border, exact for any simple polygon: on an
// edge (as the convex test counts its border), or an odd number of edges crossed by the ray
// to the right of P.
bool insideSimple(const std::vector<float>& v, float px, float py) {
  const size_t n = v.size() / 2;
  int crossings = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = i + 1 == n ? 0 : i + 1;
    const double xa = v[2 * i], ya = v[2 * i + 1], xb = v[2 * j], yb = v[2 * j + 1];
    const double c = (py - ya) * (xb - xa) - (px - xa) * (yb - ya);
    // On the edge's line within the tolerance POINTINPOLYGON gives its cross product, so that
    // both tests count the same points as on the border.
    if (std::fabs(c) <= 1e-10 && std::min(xa, xb) <= px && px <= std::max(xa, xb) && std::min(ya, yb) <= py &&
        py <= std::max(ya, yb)) {
      return true;
    }
    if ((ya <= py) != (yb <= py)) {
      const double slope = (xb - xa) / (yb - ya);
      const double xint = xa + (py - ya) * slope;
      if (xint > px) ++crossings;
    }
  }
  return crossings % 2 == 1;
}

// A polygon's box, and the length of its shortest edge (DBL_MAX when every edge has none).
struct PolygonBox {
  float bx0, bx1, by0, by1;
  double minEdge;
};
PolygonBox polygonBox(const std::vector<float>& v) {
  const size_t n = v.size() / 2;
  float bx0 = v[0], bx1 = v[0], by0 = v[1], by1 = v[1];
  double minEdge = DBL_MAX;
  for (size_t i = 0; i < n; ++i) {
    bx0 = std::min(bx0, v[2 * i]);
    bx1 = std::max(bx1, v[2 * i]);
    by0 = std::min(by0, v[2 * i + 1]);
    by1 = std::max(by1, v[2 * i + 1]);
    const size_t j = (i + 1) % n;
    const double len =
        std::hypot(static_cast<double>(v[2 * j]) - v[2 * i], static_cast<double>(v[2 * j + 1]) - v[2 * i + 1]);
    if (len > 0.0) minEdge = std::min(minEdge, len);
  }
  return {bx0, bx1, by0, by1, minEdge};
}

// An edge as the scanline meets it: its y range, its ends, and where it crosses a row.
struct ScanEdge {
  double ylo, yhi, xa, ya, xb, yb, slope, tolerance;
};
// What the scanline needs of a polygon's edges: the band around the vertices' heights in
// which rows are tested one by one, the edges by their lowest y (so that a row looks only at
// the edges that reach it), and for a convex polygon the vertices' heights in order.
struct ScanEdges {
  double vertexBand;
  std::vector<ScanEdge> edges;
  std::vector<double> vertexYs;
};
ScanEdges scanEdges(const std::vector<float>& v, bool convex, double minEdge) {
  const size_t n = v.size() / 2;
  // Near a vertex that is a top or bottom, the convex test counts points a hair outside as on
  // the border; rows that close to a vertex are tested one by one. A point at height d from
  // the vertex has a cross product of about d times the edge's length with either edge, so the
  // test's 1e-10 reaches 1e-10 / minEdge from it; the band is a hundred times wider.
  const double vertexBand = 1e-8 / (minEdge == DBL_MAX ? 1.0 : minEdge);
  std::vector<ScanEdge> edges;
  edges.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t q = i + 1 == n ? 0 : i + 1;
    const double xa = v[2 * i], ya = v[2 * i + 1], xb = v[2 * q], yb = v[2 * q + 1];
    // The crossing at a row is xa + (y - ya) * slope, as insideSimple computes it.
    const double slope = ya != yb ? (xb - xa) / (yb - ya) : 0.0;
    // On a row the cross product of a sample at x is (yb - ya) * (crossing - x): the samples
    // within 1e-10 / |yb - ya| of the crossing are within the test's 1e-10 of the border.
    const double tolerance = ya != yb ? 1e-10 / std::fabs(yb - ya) : 0.0;
    edges.push_back({std::min(ya, yb), std::max(ya, yb), xa, ya, xb, yb, slope, tolerance});
  }
  std::sort(edges.begin(), edges.end(), [](const ScanEdge& a, const ScanEdge& b) { return a.ylo < b.ylo; });
  std::vector<double> vertexYs;
  if (convex) {
    for (size_t i = 0; i < n; ++i) vertexYs.push_back(v[2 * i + 1]);
    std::sort(vertexYs.begin(), vertexYs.end());
  }
  return {vertexBand, std::move(edges), std::move(vertexYs)};
}

// Puts the edges in the order of their keys (where they meet the row), keys with them: by
// insertion, as the order of the row before mostly holds; a row that would take many more moves
// than a sort (many edges coming in at once) is sorted instead.
void orderByKeys(std::vector<const ScanEdge*>& edges, std::vector<double>& keys) {
  const size_t n = edges.size();
  size_t moves = 0;
  const size_t budget = 8 * n + 64;
  for (size_t a = 1; a < n && moves <= budget; ++a) {
    const double key = keys[a];
    const ScanEdge* edge = edges[a];
    size_t b = a;
    for (; b > 0 && key < keys[b - 1]; --b) {
      keys[b] = keys[b - 1];
      edges[b] = edges[b - 1];
    }
    keys[b] = key;
    edges[b] = edge;
    moves += a - b;
  }
  if (moves <= budget) return;
  std::vector<std::pair<double, const ScanEdge*>> both(n);
  for (size_t k = 0; k < n; ++k) both[k] = {keys[k], edges[k]};
  std::sort(both.begin(), both.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  for (size_t k = 0; k < n; ++k) {
    keys[k] = both[k].first;
    edges[k] = both[k].second;
  }
}

// Where the row crosses the boundary, and the zone of samples tested one by one around it.
struct Crossing {
  double x;
  size_t zone;
};

// Where the active edges meet the row at y: per edge its crossing (for a flat edge on the row,
// its left end) in keys, the places whose samples are tested one by one in zones, and the
// extent lo..hi of both. For a polygon that is not convex, the crossings in order, each with its
// zone, and their number: the active edges are kept in the order in which they meet the row,
// which changes little from one row to the next, and the crossings read off in that order.
size_t meetRow(std::vector<const ScanEdge*>& active, double y, bool convex, std::vector<double>& keys,
               std::vector<std::pair<double, double>>& zones, std::vector<Crossing>& crossings, double& lo,
               double& hi) {
  const size_t n = active.size();
  // Sized, not appended to: a row of a star meets scores of edges, and the sizes hardly change.
  keys.resize(n);
  zones.resize(n);
  if (crossings.size() < n) crossings.resize(n);
  for (size_t q = 0; q < n; ++q) {
    const ScanEdge* e = active[q];
    keys[q] = e->ya == e->yb ? std::min(e->xa, e->xb) : e->xa + (y - e->ya) * e->slope;
  }
  if (!convex) orderByKeys(active, keys);
  size_t count = 0;
  for (size_t q = 0; q < n; ++q) {
    const ScanEdge* e = active[q];
    const double xint = keys[q];
    if (e->ya == e->yb) {
      // A flat edge on the row: its samples are on the border.
      zones[q] = {xint, std::max(e->xa, e->xb)};
      lo = std::min(lo, xint);
      hi = std::max(hi, zones[q].second);
      continue;
    }
    lo = std::min(lo, xint);
    hi = std::max(hi, xint);
    // Where the test's tolerance on the cross product reaches, with room for rounding: the
    // crossing here and the cross product in the test are rounded differently, by far less
    // than 1e-9 of the coordinate, and far less than any spacing of the samples.
    const double w = e->tolerance + 1e-9 * (std::fabs(xint) + 1.0);
    zones[q] = {xint - w, xint + w};
    if (!convex && (e->ya <= y) != (e->yb <= y)) crossings[count++] = {xint, q};
  }
  return count;
}

// The runs of samples k0 <= k < k1 of row j that the test one by one finds inside.
template <typename Exact, typename Emit>
void emitTestedRow(const std::vector<float>& xs, float y, size_t j, size_t k0, size_t k1, Exact& exact, Emit& emit) {
  for (size_t k = k0; k < k1;) {
    if (!exact(xs[k], y)) {
      ++k;
      continue;
    }
    size_t e = k + 1;
    while (e < k1 && exact(xs[e], y)) ++e;
    emit(j, k, e);
    k = e;
  }
}

// Calls emit(j, a, b) for every run of sample points (xs[k], ys[j]), a <= k < b, that the
// polygon covers, row after row, for the rows rowFrom <= j < rowTo. Where the boundary meets a row it crosses it at a
// place x: a sample away from every such place is inside exactly when the one-by-one test would say so from the same
// crossings (an odd number of them to its right, or between the first and the last for a convex polygon). Only samples
// that could count as on the border (within the test's tolerance of a crossing, or on a flat edge of the row) are
// tested one by one: POINTINPOLYGON for a convex polygon, insideSimple for any other.
template <typename Emit>
void coverSamples(const std::vector<float>& v, const std::vector<float>& xs, const std::vector<float>& ys,
                  float spacing, size_t rowFrom, size_t rowTo, Emit emit) {
  std::vector<std::pair<size_t, bool>> tested;  // samples tested one by one, and the answer
  const size_t n = v.size() / 2;
  if (n < 3) return;  // no area: nothing is covered
  const bool convex = isConvex(v);
  const PolygonBox box = polygonBox(v);
  const float bx0 = box.bx0, bx1 = box.bx1, by0 = box.by0, by1 = box.by1;
  const double m = 2.0 * spacing;
  auto exact = [&](float px, float py) {
    if (convex) {
      const float p[2] = {px, py};
      return grid::POINTINPOLYGON(p, v.data(), static_cast<int>(n));
    }
    return insideSimple(v, px, py);
  };
  const size_t k0 = static_cast<size_t>(std::lower_bound(xs.begin(), xs.end(), bx0 - m) - xs.begin());
  const size_t k1 = static_cast<size_t>(std::upper_bound(xs.begin(), xs.end(), bx1 + m) - xs.begin());
  const size_t j0 =
      std::max(rowFrom, static_cast<size_t>(std::lower_bound(ys.begin(), ys.end(), by0 - m) - ys.begin()));
  const size_t j1 = std::min(rowTo, static_cast<size_t>(std::upper_bound(ys.begin(), ys.end(), by1 + m) - ys.begin()));
  if (k0 >= k1 || j0 >= j1) return;
  const ScanEdges scan = scanEdges(v, convex, box.minEdge);
  const double vertexBand = scan.vertexBand;
  const std::vector<ScanEdge>& edges = scan.edges;
  const std::vector<double>& vertexYs = scan.vertexYs;
  std::vector<const ScanEdge*> active;
  size_t nextEdge = 0;

  std::vector<double> keys;
  std::vector<Crossing> crossings;
  std::vector<std::pair<double, double>> zones;  // samples tested one by one
  std::vector<size_t> zoneStart;                 // each zone's first sample
  // For the estimate of a sample's place; the stepping after it makes the place exact.
  const double firstX = xs[k0], perSample = 1.0 / static_cast<double>(spacing);
  for (size_t j = j0; j < j1; ++j) {
    const double y = ys[j];
    while (nextEdge < edges.size() && edges[nextEdge].ylo <= y) active.push_back(&edges[nextEdge++]);
    active.erase(std::remove_if(active.begin(), active.end(), [&](const ScanEdge* e) { return e->yhi < y; }),
                 active.end());
    if (convex) {
      // A row within the vertex band of a vertex's height, or within a few float steps of it
      // (1e-6 relative, about eight steps of a float), since the rows and the vertices are
      // floats whose differences the double arithmetic here sees only after rounding.
      auto it = std::lower_bound(vertexYs.begin(), vertexYs.end(), y - vertexBand - 1e-6 * (std::fabs(y) + 1.0));
      if (it != vertexYs.end() && *it <= y + vertexBand + 1e-6 * (std::fabs(y) + 1.0)) {
        emitTestedRow(xs, static_cast<float>(y), j, k0, k1, exact, emit);
        continue;
      }
    }
    if (active.empty()) continue;
    double lo = DBL_MAX, hi = -DBL_MAX;
    const size_t total = meetRow(active, y, convex, keys, zones, crossings, lo, hi);
    // The samples between two neighbouring crossings share their answer; the ones that
    // could be on the border are tested one by one and cut out of the runs.
    // The first sample k0 <= k <= k1 with xs[k] >= x: the samples are evenly spaced, so the
    // place is estimated and then made exact by stepping.
    auto sampleAt = [&](double x) {
      // The guess kept within 0..k1-k0 (a guess that is not a number taken as 0).
      const double guess = std::max(0.0, std::min((x - firstX) * perSample, static_cast<double>(k1 - k0)));
      size_t k = k0 + static_cast<size_t>(guess);
      while (k > k0 && xs[k - 1] >= x) --k;
      while (k < k1 && xs[k] < x) ++k;
      return k;
    };
    tested.clear();
    zoneStart.resize(zones.size());
    for (size_t z = 0; z < zones.size(); ++z) {
      size_t k = sampleAt(zones[z].first);
      zoneStart[z] = k;
      for (; k < k1 && xs[k] <= zones[z].second; ++k) tested.push_back({k, false});
    }
    // The first sample at or beyond crossing c: its zone starts below it, by a hair.
    auto sampleFrom = [&](const Crossing& c) {
      size_t k = zoneStart[c.zone];
      while (k < k1 && xs[k] < c.x) ++k;
      return k;
    };
    if (!tested.empty()) {
      std::sort(tested.begin(), tested.end());
      tested.erase(std::unique(tested.begin(), tested.end()), tested.end());
      for (auto& [k, inside] : tested) inside = exact(xs[k], static_cast<float>(y));
    }
    size_t t = 0;
    auto run = [&](size_t a, size_t b) {
      // The samples a <= k < b are inside, but for those tested one by one.
      while (t < tested.size() && tested[t].first < a) ++t;
      size_t from = a;
      for (; t < tested.size() && tested[t].first < b; ++t) {
        if (tested[t].first > from) emit(j, from, tested[t].first);
        from = tested[t].first + 1;
      }
      if (b > from) emit(j, from, b);
    };
    if (convex) {
      size_t a = sampleAt(lo);
      while (a < k1 && xs[a] <= lo) ++a;
      const size_t b = sampleAt(hi);
      if (b > a) run(a, b);
    } else {
      for (size_t i = 0; i + 1 < total; ++i) {
        if ((total - (i + 1)) % 2 == 0) continue;  // an even number of crossings to the right
        const size_t a = sampleFrom(crossings[i]), b = sampleFrom(crossings[i + 1]);
        if (b > a) run(a, b);
      }
    }
    for (const auto& [k, inside] : tested) {
      if (inside) emit(j, k, k + 1);
    }
  }
}

}  // namespace

bool polygonCovers(const std::vector<float>& polygon, float px, float py) {
  const size_t n = polygon.size() / 2;
  if (n < 3) return false;
  if (isConvex(polygon)) {
    const float p[2] = {px, py};
    return grid::POINTINPOLYGON(p, polygon.data(), static_cast<int>(n));
  }
  return insideSimple(polygon, px, py);
}

std::vector<uint8_t> polygonCoverage(const std::vector<float>& polygon, const std::vector<float>& xs,
                                     const std::vector<float>& ys, float spacing) {
  std::vector<uint8_t> inside(xs.size() * ys.size(), 0);
  coverSamples(polygon, xs, ys, spacing, 0, ys.size(), [&](size_t j, size_t a, size_t b) {
    for (size_t k = a; k < b; ++k) inside[j * xs.size() + k] = 1;
  });
  return inside;
}

namespace {

using Use = PolygonUse;

// The same as coverSamples for a polygon with holes: the samples that its outer ring covers,
// less those in a hole. A hole is closed like every polygon, so a sample on a hole's border
// is in the hole and outside the polygon.
template <typename Emit>
void coverSamplesWithHoles(const std::vector<float>& outer, const std::vector<std::vector<float>>* holes,
                           const std::vector<float>& xs, const std::vector<float>& ys, float spacing, size_t rowFrom,
                           size_t rowTo, Emit emit) {
  if (!holes || holes->empty()) {
    coverSamples(outer, xs, ys, spacing, rowFrom, rowTo, emit);
    return;
  }
  struct Span {
    size_t row, a, b;
    bool operator<(const Span& o) const { return row != o.row ? row < o.row : a < o.a; }
  };
  std::vector<Span> in, out;
  coverSamples(outer, xs, ys, spacing, rowFrom, rowTo, [&](size_t j, size_t a, size_t b) { in.push_back({j, a, b}); });
  if (in.empty()) return;
  for (const auto& hole : *holes) {
    coverSamples(hole, xs, ys, spacing, rowFrom, rowTo, [&](size_t j, size_t a, size_t b) {
      out.push_back({j, a, b});
    });
  }
  std::sort(in.begin(), in.end());
  std::sort(out.begin(), out.end());
  size_t h = 0;
  for (const Span& span : in) {
    while (h < out.size() && out[h].row < span.row) ++h;
    // The holes' runs of this row, in order of their start: what lies between them is covered.
    size_t from = span.a;
    for (size_t k = h; k < out.size() && out[k].row == span.row && from < span.b; ++k) {
      if (out[k].b <= from) continue;
      if (out[k].a >= span.b) break;
      if (out[k].a > from) emit(span.row, from, out[k].a);
      from = std::max(from, out[k].b);
    }
    if (from < span.b) emit(span.row, from, span.b);
  }
}

// APPLYPOLYGON: every cell the polygon covers (its middle for a MIDDLE structure, any of its
// corners for a CELL one) is cleared, assigned or reset; this is done for the cell rows
// rowFrom..rowTo (from 1) only, so that bands of rows can be done side by side. holes: the
// polygon's holes, when it has any.
void APPLYPOLYGON(Run& run, const std::vector<float>& polygon, Use use, float value, const std::vector<float>& xs,
                  const std::vector<float>& ys, int32_t rowFrom, int32_t rowTo,
                  const std::vector<std::vector<float>>* holes = nullptr) {
  grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols;
  const float cellValue = use == Use::Assign ? value : s.grid.nodata;
  const uint8_t maskValue = use == Use::Reset ? 1 : 0;
  // The cells index..index+count-1 of one row.
  // Where sources are recorded: an assigned cell's value came from this file, a cleared cell
  // is marked as such, and a reset one is NODATA until the cell loop computes it.
  Provenance& pv = run.provenance;
  const int32_t code = use == Use::Assign ? pv.polygonNumber : use == Use::Clear ? kSourceCleared : kSourceNodata;
  uint8_t* const mask = s.assignMask.empty() ? nullptr : s.assignMask.data();  // none: nobody reads it
  auto applyRun = [&](size_t index, size_t count) {
    std::fill_n(s.grid.values.begin() + static_cast<std::ptrdiff_t>(index), count, cellValue);
    if (mask) std::fill_n(mask + index, count, maskValue);
    if (pv.track) {
      std::fill_n(s.source.begin() + static_cast<std::ptrdiff_t>(index), count, code);
      pv.covered.setRun(index, count);
    }
  };
  if (!s.grid.cellValues()) {
    coverSamplesWithHoles(polygon, holes, xs, ys, static_cast<float>(s.cellsize), static_cast<size_t>(rowFrom - 1),
                          static_cast<size_t>(rowTo), [&](size_t j, size_t a, size_t b) {
                            applyRun(s.grid.index(static_cast<int32_t>(a) + 1, static_cast<int32_t>(j) + 1), b - a);
                          });
    return;
  }
  // The corners of the cells: a cell is covered when any of its four corners is. Corner row j
  // is the top of cell row j and the bottom of cell row j+1; corner k is the right side of cell
  // column k and the left side of cell column k+1. So corners a <= k < b cover the columns a
  // to b (from 1) of both cell rows.
  coverSamplesWithHoles(polygon, holes, xs, ys, static_cast<float>(s.cellsize), static_cast<size_t>(rowFrom - 1),
                        static_cast<size_t>(rowTo) + 1, [&](size_t j, size_t a, size_t b) {
                          const int32_t c0 = std::max<int32_t>(1, static_cast<int32_t>(a));
                          const int32_t c1 = std::min<int32_t>(nc, static_cast<int32_t>(b));
                          if (c0 > c1) return;
                          for (int32_t row : {static_cast<int32_t>(j), static_cast<int32_t>(j) + 1}) {
                            if (row >= rowFrom && row <= rowTo)
                              applyRun(s.grid.index(c0, row), static_cast<size_t>(c1 - c0 + 1));
                          }
                        });
}

// The polygons of one file, applied in file order to the rows rowFrom..rowTo held; the rows
// are shared out in bands among the cores, each band taking every polygon in order, so every
// cell sees the same sequence. apply(xs, ys, from, to) applies them all to the rows from..to.
// The sample points of the structure, relative to the corner as the polygons are: the cells'
// middles for a MIDDLE structure, their corners for a CELL one.
void samplePoints(const grid::Structure& s, std::vector<float>& xs, std::vector<float>& ys) {
  const int32_t nc = s.grid.ncols, nr = s.grid.nrows;
  if (!s.grid.cellValues()) {
    for (int32_t i = 1; i <= nc; ++i) xs.push_back(s.middle(i));
    for (int32_t j = 1; j <= nr; ++j) ys.push_back(s.middle(j));
  } else {
    for (int32_t i = 0; i <= nc; ++i) xs.push_back(s.edge(i));
    for (int32_t j = 0; j <= nr; ++j) ys.push_back(s.edge(j));
  }
}

// The rows of band b of threads among the rows rowFrom..rowTo.
void bandRows(int32_t rowFrom, int32_t rowTo, int b, int threads, int32_t& from, int32_t& to) {
  const int64_t rows = rowTo - rowFrom + 1;
  from = rowFrom + static_cast<int32_t>(rows * b / threads);
  to = rowFrom - 1 + static_cast<int32_t>(rows * (b + 1) / threads);
}

template <typename Apply>
void applyInBands(Run& run, int32_t rowFrom, int32_t rowTo, Apply apply) {
  grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols, nr = s.grid.nrows;
  if (nc == 0 || nr == 0 || rowFrom > rowTo) return;
  if (polygonsKeepMask(run)) {
    grid::holdMask(s);  // before the bands share it out
  } else {
    s.work.settle();  // the values alone
  }
  std::vector<float> xs, ys;
  samplePoints(s, xs, ys);
  const int threads = std::max(1, std::min(run.fr.cores(), rowTo - rowFrom + 1));
  auto band = [&](int b) {
    int32_t from = 0, to = 0;
    bandRows(rowFrom, rowTo, b, threads, from, to);
    apply(xs, ys, from, to);
  };
  if (threads == 1) {
    band(0);
    return;
  }
  std::vector<std::thread> pool;
  for (int b = 1; b < threads; ++b) pool.emplace_back(band, b);
  band(0);
  for (auto& t : pool) t.join();
}

void applyPolygons(Run& run, const std::vector<std::vector<float>>& polygons, Use use, float value, int32_t rowFrom,
                   int32_t rowTo) {
  if (polygons.empty()) return;
  applyInBands(run, rowFrom, rowTo,
               [&](const std::vector<float>& xs, const std::vector<float>& ys, int32_t from, int32_t to) {
                 for (const auto& polygon : polygons) APPLYPOLYGON(run, polygon, use, value, xs, ys, from, to);
               });
}

// The polygons of a file as they are read, for the bands that apply them meanwhile: the reader
// appends, each band takes what has come in since it last looked, in file order. A deque keeps
// the polygons in place as more come.
struct PolygonFeed {
  std::mutex lock;
  std::condition_variable more;
  std::deque<std::vector<float>> polygons;
  size_t count = 0;  // polygons the bands may take
  bool done = false;

  // Waits for polygons beyond the first `next` and gives them; false when the file is read and
  // every polygon taken.
  bool take(size_t& next, std::vector<const std::vector<float>*>& batch) {
    std::unique_lock<std::mutex> hold(lock);
    more.wait(hold, [&] { return count > next || done; });
    batch.clear();
    for (; next < count; ++next) batch.push_back(&polygons[next]);
    return !batch.empty();
  }
  void add(const std::vector<float>& polygon) {
    std::lock_guard<std::mutex> hold(lock);
    polygons.push_back(polygon);
  }
  void publish(bool last) {
    {
      std::lock_guard<std::mutex> hold(lock);
      count = polygons.size();
      done = last;
    }
    more.notify_all();
  }
};

// A structure held whole takes a file's polygons while the file is read: one thread per band
// applies each polygon, in file order, as soon as the main thread has read it, once the rows
// held are filled. Every cell sees the same sequence as when the whole file is read first.
// Returns the number of polygons read; r.failed when the file stopped the run.
int64_t applyWhileReading(Run& run, PolygonReader& r, Use use, float value) {
  grid::Structure& s = run.structure;
  const int32_t nr = s.grid.nrows;
  std::vector<float> xs, ys;
  samplePoints(s, xs, ys);
  std::promise<void> filled;
  std::shared_future<void> ready = filled.get_future().share();
  s.work.then([&filled] { filled.set_value(); });  // after the fill (and the mask) beside
  PolygonFeed feed;
  const int threads = s.grid.ncols > 0 ? std::max(1, std::min(run.fr.cores(), nr)) : 0;
  std::vector<std::thread> bands;
  for (int b = 0; b < threads; ++b) {
    bands.emplace_back([&, b] {
      int32_t from = 0, to = 0;
      bandRows(1, nr, b, threads, from, to);
      ready.wait();
      size_t next = 0;
      std::vector<const std::vector<float>*> batch;
      while (feed.take(next, batch)) {
        for (const std::vector<float>* polygon : batch) APPLYPOLYGON(run, *polygon, use, value, xs, ys, from, to);
      }
    });
  }
  // Whatever ends the reading, the bands finish what they were given before the rows are used.
  auto finish = [&] {
    feed.publish(true);
    for (auto& t : bands) t.join();
    s.work.settle();
  };
  // The bands are told every few polygons (or vertices), not at each: waking them costs more
  // than applying a small polygon.
  size_t told = 0, vertices = 0;
  try {
    while (APOLYGONFOUND(r)) {
      vertices += r.vertices.size();
      feed.add(r.vertices);
      if (feed.polygons.size() - told >= 64 || vertices >= 16384) {
        feed.publish(false);
        told = feed.polygons.size();
        vertices = 0;
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return static_cast<int64_t>(feed.polygons.size());
}

}  // namespace

bool polygonsKeepMask(const Run& run) {
  const bool anySet = !run.gridSets.sets.empty() || !run.pointSets.empty() || !run.zav.uses.empty();
  return !run.structure.whole || anySet || run.provenance.track || !run.fr.pictureName.empty();
}

void applyPolygonShapes(Run& run, const std::vector<PolygonShape>& shapes, PolygonUse use, int32_t rowFrom,
                        int32_t rowTo) {
  if (shapes.empty()) return;
  applyInBands(run, rowFrom, rowTo,
               [&](const std::vector<float>& xs, const std::vector<float>& ys, int32_t from, int32_t to) {
                 for (const auto& shape : shapes) {
                   APPLYPOLYGON(run, shape.outer, use, shape.value, xs, ys, from, to, &shape.holes);
                 }
               });
}

void applyPolygonSets(Run& run, int32_t rowFrom, int32_t rowTo) {
  Provenance& pv = run.provenance;
  for (PolygonSet& p : run.polygonSets) {
    // Where sources are recorded, the cells of the band this file covers are counted.
    if (pv.track) {
      pv.polygonNumber = p.number;
      pv.covered.reset(run.structure.grid.values.size());
    }
    applyPolygons(run, p.polygons, p.use, p.value, rowFrom, rowTo);
    applyPolygonShapes(run, p.shapes, p.use, rowFrom, rowTo);
    if (pv.track) p.cellsCovered += pv.covered.count();
  }
  if (pv.track) pv.covered.release();
}

bool HANDLEPOLYGONFILE(Run& run, const std::string& line) {
  frame::Frame& fr = run.fr;
  std::string name, item;
  // The polygon file's name (item 2).
  if (frame::PARAM(fr, line, 2, name, ",", 200) <= 0) {
    return frame::endWithError(fr, {" No file descriptor for a Polygon file.", "   Command line: " + line});
  }
  if (namesVectorLayer(fr, line, name)) return handleVectorPolygonFile(run, line, name);
  // What the polygons do: CLEAR, ASSIGN a value, or RESET.
  frame::UnitLease unit(fr.units);
  Use use = Use::Clear;
  float value = 0.0f;
  if (frame::PARAM(fr, line, 3, item) > 0) {
    const std::string type = frame::upper(item);
    if (type == "RESET") {
      use = Use::Reset;
    } else if (type == "CLEAR") {
      use = Use::Clear;
    } else if (type == "ASSIGN") {
      use = Use::Assign;
      frame::UNFORM(fr, line, 4, "R4", value);
    } else {
      return frame::endWithError(
          fr, {" No correct type of use for a Polygon file.", " It must be CLEAR, ASSIGN or RESET."});
    }
  }
  Provenance& pv = run.provenance;
  pv.polygonUse = polygonUseText(use);
  pv.polygonCount = 0;
  if (pv.track) {
    pv.covered.reset(run.structure.grid.values.size());
  }
  // The polygons in coordinates relative to the structure's corner.
  PolygonReader r{
      fr,      name, frame::resolveInputName(name), true, run.structure.grid.xll, run.structure.grid.yll, {}, false,
      nullptr, {}};
  int e = r.rewind();
  if (e != 0) {
    return frame::endWithError(
        fr, {" The Polygon file " + name + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
  }
  unit.connect(name);
  grid::warnOnOtherCrs(fr, run.structure, name);
  // 4. The first line tells a polygon file from a line file; the first ID line is checked.
  std::string first;
  const bool any = nextLine(r, first);
  first = frame::trimmed(first);
  if (any && first != "END") {
    if (first != "CLOSE") {
      r.polygonFile = true;
      if (frame::PARAM(fr, first, 2, item) <= 0) {
        if (first.size() < 5 || first.substr(first.size() - 5) != " AUTO") {
          return frame::endWithError(fr, {" No correct generate Polygon file.",
                                          " An ID line must have the ID and the X,Y of the label point or,",
                                          "   an ID followed by AUTO.,", " Please check."});
        }
      } else if (frame::PARAM(fr, first, 3, item) <= 0) {
        return frame::endWithError(
            fr, {" No correct generate Polygon file.", " An ID line must have the ID and the X,Y of the label point.,",
                 " Please check."});
      }
      r.rewind();
    } else {
      r.polygonFile = false;
      std::string id;
      if (nextLine(r, id) && (frame::PARAM(fr, id, 2, item) > 0 || frame::PARAM(fr, id, 3, item) > 0)) {
        return frame::endWithError(
            fr, {" No correct Polygon file.", " It starts with CLOSE so it must be a generate Line file,",
                 " which means that the ID lines only may have the ID.", " Please check."});
      }
      r.rewind();
      nextLine(r, id);  // the CLOSE line
    }
    // With more than one core a structure held whole takes the polygons while the file is
    // read, its mask made beside the reading.
    const bool beside = run.structure.whole && run.fr.cores() > 1;
    if (beside && polygonsKeepMask(run)) grid::holdMask(run.structure, grid::Fill::Beside);
    if (beside) {
      // Every polygon of the file, in file order, applied as it is read.
      pv.polygonCount = applyWhileReading(run, r, use, value);
      if (r.failed) return true;
    } else {
      std::vector<std::vector<float>> polygons;
      while (APOLYGONFOUND(r)) polygons.push_back(r.vertices);
      if (r.failed) return true;
      pv.polygonCount = static_cast<int64_t>(polygons.size());
      if (run.structure.whole) {
        applyPolygons(run, polygons, use, value, 1, run.structure.grid.nrows);
      } else {
        // The structure is held a band at a time: the polygons are kept and applied to each band.
        run.polygonSets.push_back(PolygonSet{std::move(polygons), use, value, {}});
      }
    }
  }
  unit.release();
  return r.failed;
}

}  // namespace assign
