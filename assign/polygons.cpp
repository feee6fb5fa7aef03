#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <numbers>

#include "assign/run.h"
#include "frame/cmdfile.h"
#include "frame/files.h"
#include "frame/format.h"
#include "frame/startup.h"
#include "frame/text.h"
#include "grid/general.h"

namespace assign {
namespace {

bool polygonError(frame::Frame& fr, const std::vector<std::string>& message) {
  std::vector<std::string> lines = frame::errorHeading();
  lines.insert(lines.end(), message.begin(), message.end());
  frame::writeErrorUnit(fr, lines);
  frame::ENDPR(fr);
  return true;
}

// The polygon set being applied.
struct PolygonReader {
  frame::Frame& fr;
  int unit;
  std::string name;
  bool polygonFile = true;  // false: a line file (first line CLOSE)
  std::vector<float> vertices;
  bool failed = false;
};

// The next significant line, upper-cased with its inner blanks kept.
bool nextLine(PolygonReader& r, std::string& line) {
  if (!frame::SLEZEN(r.fr, r.unit, line, frame::LineMode::NOCHNG)) return false;
  frame::CASEF(line);
  return true;
}

// APOLYGONFOUND: reads the next polygon (an ID line, vertex lines, END) into r.vertices.
bool APOLYGONFOUND(PolygonReader& r) {
  r.vertices.clear();
  std::string line;
  if (!nextLine(r, line) || frame::trimmed(line) == "END") return false;
  while (nextLine(r, line)) {
    if (frame::trimmed(line) == "END") break;
    std::string item;
    float x = 0, y = 0;
    const bool ok = frame::PARAM(r.fr, line, 1, item) > 0 && frame::parseFortranReal(item, x) &&
                    frame::PARAM(r.fr, line, 2, item) > 0 && frame::parseFortranReal(item, y);
    if (!ok) {
      const size_t at = r.fr.units.input(r.unit)->position();
      polygonError(r.fr, {" The Polygon file " + r.name + " has a line that is not a vertex (X,Y) in line " +
                              std::to_string(at) + ":",
                          " " + line});
      r.failed = true;
      return false;
    }
    r.vertices.push_back(x);
    r.vertices.push_back(y);
  }
  // In a polygon file the last vertex repeats the first.
  if (r.polygonFile && !r.vertices.empty()) r.vertices.resize(r.vertices.size() - 2);
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
    if (std::fabs(c) <= 1e-10 && std::min(xa, xb) <= px && px <= std::max(xa, xb) && std::min(ya, yb) <= py &&
        py <= std::max(ya, yb)) {
      return true;
    }
    if ((ya <= py) != (yb <= py)) {
      const double xint = xa + (py - ya) * (xb - xa) / (yb - ya);
      if (xint > px) ++crossings;
    }
  }
  return crossings % 2 == 1;
}

// Calls mark(j, k) for every sample point (xs[k], ys[j]) that the polygon covers. Samples
// far (more than two sample spacings) from every place where the boundary meets their row
// are classified from those places; the others are tested one by one. Convex polygons are
// tested with POINTINPOLYGON, others with insideSimple, and both ways give the same answers.
template <typename Mark>
void coverSamples(const std::vector<float>& v, const std::vector<float>& xs, const std::vector<float>& ys,
                  float spacing, Mark mark) {
  const size_t n = v.size() / 2;
  if (n < 3) return;  // no area: nothing is covered
  const bool convex = isConvex(v);
  float bx0 = v[0], bx1 = v[0], by0 = v[1], by1 = v[1];
  double minEdge = DBL_MAX;
  for (size_t i = 0; i < n; ++i) {
    bx0 = std::min(bx0, v[2 * i]);
    bx1 = std::max(bx1, v[2 * i]);
    by0 = std::min(by0, v[2 * i + 1]);
    by1 = std::max(by1, v[2 * i + 1]);
    const size_t j = (i + 1) % n;
    const double len = std::hypot(static_cast<double>(v[2 * j]) - v[2 * i], static_cast<double>(v[2 * j + 1]) - v[2 * i + 1]);
    if (len > 0.0) minEdge = std::min(minEdge, len);
  }
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
  const size_t j0 = static_cast<size_t>(std::lower_bound(ys.begin(), ys.end(), by0 - m) - ys.begin());
  const size_t j1 = static_cast<size_t>(std::upper_bound(ys.begin(), ys.end(), by1 + m) - ys.begin());
  // Near a vertex that is a top or bottom, the convex test counts points a hair outside as on
  // the border; rows that close to a vertex are tested one by one.
  const double vertexBand = 1e-8 / (minEdge == DBL_MAX ? 1.0 : minEdge);
  std::vector<double> events, crossings;
  std::vector<std::pair<double, double>> flats;
  for (size_t j = j0; j < j1; ++j) {
    const double y = ys[j];
    events.clear();
    crossings.clear();
    flats.clear();
    bool vertexRow = false;
    for (size_t i = 0; i < n; ++i) {
      const size_t q = i + 1 == n ? 0 : i + 1;
      const double xa = v[2 * i], ya = v[2 * i + 1], xb = v[2 * q], yb = v[2 * q + 1];
      if (convex && std::fabs(ya - y) <= vertexBand + 4.0 * FLT_EPSILON * std::fabs(ya)) vertexRow = true;
      if (y < std::min(ya, yb) || y > std::max(ya, yb)) continue;
      if (ya == yb) {
        flats.push_back({std::min(xa, xb), std::max(xa, xb)});
        continue;
      }
      const double xint = xa + (y - ya) * (xb - xa) / (yb - ya);
      events.push_back(xint);
      if ((ya <= y) != (yb <= y)) crossings.push_back(xint);
    }
    if (vertexRow) {
      for (size_t k = k0; k < k1; ++k) {
        if (exact(xs[k], static_cast<float>(y))) mark(j, k);
      }
      continue;
    }
    for (const auto& f : flats) {
      events.push_back(f.first);
      events.push_back(f.second);
    }
    if (events.empty()) continue;
    std::sort(events.begin(), events.end());
    std::sort(crossings.begin(), crossings.end());
    size_t e = 0, c = 0;
    for (size_t k = k0; k < k1; ++k) {
      const double x = xs[k];
      while (e < events.size() && events[e] < x - m) ++e;
      bool nearBoundary = e < events.size() && events[e] <= x + m;
      for (const auto& f : flats) nearBoundary = nearBoundary || (f.first - m <= x && x <= f.second + m);
      bool inside;
      if (nearBoundary) {
        inside = exact(static_cast<float>(x), static_cast<float>(y));
      } else if (convex) {
        inside = x > events.front() && x < events.back();
      } else {
        while (c < crossings.size() && crossings[c] <= x) ++c;
        inside = (crossings.size() - c) % 2 == 1;
      }
      if (inside) mark(j, k);
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
  coverSamples(polygon, xs, ys, spacing, [&](size_t j, size_t k) { inside[j * xs.size() + k] = 1; });
  return inside;
}

namespace {

enum class Use { Clear, Assign, Reset };

// APPLYPOLYGON: every cell the polygon covers (its middle for a MIDDLE structure, any of its
// corners for a CELL one) is cleared, assigned or reset.
void APPLYPOLYGON(Run& run, const std::vector<float>& polygon, Use use, float value) {
  grid::Structure& s = run.structure;
  const int32_t nc = s.grid.ncols, nr = s.grid.nrows;
  if (nc == 0 || nr == 0) return;
  const float nodata = s.grid.nodata;
  auto apply = [&](size_t index) {
    switch (use) {
      case Use::Clear:
        s.grid.values[index] = nodata;
        s.assignMask[index] = 0;
        break;
      case Use::Assign:
        s.grid.values[index] = value;
        s.assignMask[index] = 0;
        break;
      case Use::Reset:
        s.grid.values[index] = nodata;
        s.assignMask[index] = 1;
        break;
    }
  };
  const float xll = s.grid.xll, yll = s.grid.yll, cs = s.cellsize;
  std::vector<float> xs, ys;
  if (!s.grid.cellValues()) {
    for (int32_t i = 1; i <= nc; ++i) xs.push_back(xll + (static_cast<float>(i - 1) + 0.5f) * cs);
    for (int32_t j = 1; j <= nr; ++j) ys.push_back(yll + (static_cast<float>(j - 1) + 0.5f) * cs);
    coverSamples(polygon, xs, ys, cs, [&](size_t j, size_t k) { apply(s.grid.index(static_cast<int32_t>(k) + 1, static_cast<int32_t>(j) + 1)); });
    return;
  }
  // The corners of the cells: a cell is covered when any of its four corners is.
  for (int32_t i = 0; i <= nc; ++i) xs.push_back(xll + static_cast<float>(i) * cs);
  for (int32_t j = 0; j <= nr; ++j) ys.push_back(yll + static_cast<float>(j) * cs);
  std::vector<std::pair<int32_t, int32_t>> corners;
  coverSamples(polygon, xs, ys, cs, [&](size_t j, size_t k) { corners.push_back({static_cast<int32_t>(j), static_cast<int32_t>(k)}); });
  std::vector<size_t> cells;
  for (const auto& [j, k] : corners) {
    for (int32_t dj = 0; dj <= 1; ++dj) {
      for (int32_t dk = 0; dk <= 1; ++dk) {
        const int32_t cj = j + dj, ci = k + dk;  // cells (ci, cj) with this corner, 1-based
        if (ci >= 1 && ci <= nc && cj >= 1 && cj <= nr) cells.push_back(s.grid.index(ci, cj));
      }
    }
  }
  std::sort(cells.begin(), cells.end());
  cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
  for (size_t index : cells) apply(index);
}

}  // namespace

bool HANDLEPOLYGONFILE(Run& run, const std::string& line) {
  frame::Frame& fr = run.fr;
  std::string name, item;
  // 1.
  if (frame::PARAM(fr, line, 2, name, ",", 200) <= 0) {
    return polygonError(fr, {" No file descriptor for a Polygon file.", "   Command line: " + line});
  }
  // 2.
  const int unit = fr.units.FREEFILE(100);
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
      return polygonError(fr, {" No correct type of use for a Polygon file.", " It must be CLEAR, ASSIGN or RESET."});
    }
  }
  // 3.
  std::vector<std::string> records;
  bool openFailed = false;
  const std::string path = frame::resolveInputName(name);
  int e = frame::isDirectory(path) ? EISDIR : frame::readTextRecords(path, records, openFailed);
  if (e != 0) {
    return polygonError(fr, {" The Polygon file " + name + " could not be opened.", " Error number=" + frame::fmtI(e, 6, 6)});
  }
  fr.units.connectInput(unit, name, std::move(records));
  PolygonReader r{fr, unit, name, true, {}, false};
  frame::TextInputUnit* in = fr.units.input(unit);
  // 4. The first line tells a polygon file from a line file; the first ID line is checked.
  std::string first;
  const bool any = nextLine(r, first);
  first = frame::trimmed(first);
  if (any && first != "END") {
    if (first != "CLOSE") {
      r.polygonFile = true;
      if (frame::PARAM(fr, first, 2, item) <= 0) {
        if (first.size() < 5 || first.substr(first.size() - 5) != " AUTO") {
          fr.units.close(unit);
          return polygonError(fr, {" No correct generate Polygon file.",
                                   " An ID line must have the ID and the X,Y of the label point or,",
                                   "   an ID followed by AUTO.,", " Please check."});
        }
      } else if (frame::PARAM(fr, first, 3, item) <= 0) {
        fr.units.close(unit);
        return polygonError(fr, {" No correct generate Polygon file.",
                                 " An ID line must have the ID and the X,Y of the label point.,", " Please check."});
      }
      in->rewind();
    } else {
      r.polygonFile = false;
      std::string id;
      if (nextLine(r, id) && (frame::PARAM(fr, id, 2, item) > 0 || frame::PARAM(fr, id, 3, item) > 0)) {
        fr.units.close(unit);
        return polygonError(fr, {" No correct Polygon file.", " It starts with CLOSE so it must be a generate Line file,",
                                 " which means that the ID lines only may have the ID.", " Please check."});
      }
      in->rewind();
      nextLine(r, id);  // the CLOSE line
    }
    // 5.
    while (APOLYGONFOUND(r)) APPLYPOLYGON(run, r.vertices, use, value);
  }
  fr.units.close(unit);
  return r.failed;
}

}  // namespace assign
