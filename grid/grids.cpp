#include "grid/grids.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "frame/frame.h"
#include "grid/general.h"

namespace grid {

bool POINTINRECTANGULARGRID(const double p[2], const GridDescription& g) {
  double xmin, xmax, ymin, ymax;
  if (g.axisGrid()) {
    if (g.xAxis.empty() || g.yAxis.empty()) return false;
    xmin = g.xAxis.front();
    xmax = g.xAxis.back();
    ymin = g.yAxis.front();
    ymax = g.yAxis.back();
  } else {
    xmin = g.xll;
    xmax = g.xll + static_cast<double>(g.ncols) * g.dx;
    ymin = g.yll;
    ymax = g.yll + static_cast<double>(g.nrows) * g.dy;
  }
  return xmin <= p[0] && p[0] <= xmax && ymin <= p[1] && p[1] <= ymax;
}

void GETRELATIVEINDICESINRECTANGULAR(const double p[2], const GridDescription& g, float out[2]) {
  out[0] = out[1] = -1.0f;
  if (g.axisGrid()) return;
  out[0] = relativeIndex(p[0], g.xll, g.dx, g.ncols);  // from grids.h
  out[1] = relativeIndex(p[1], g.yll, g.dy, g.nrows);
}

namespace {
inline bool insideOf(const float l[4], float px, float py, float s) {
  const double c = (static_cast<double>(py) - l[1]) * (static_cast<double>(l[2]) - l[0]) -
                   (static_cast<double>(px) - l[0]) * (static_cast<double>(l[3]) - l[1]);
  if (c == 0.0) return true;
  return c * s > 0.0;
}
}  // namespace

bool POINTATINSIDEOFLINE(const float l[4], const float p[2], float s) {
  return insideOf(l, p[0], p[1], s);
}

AxisCell axisCell(const float c[8], float s) {
  AxisCell a;
  a.x0 = c[0];
  a.y0 = c[1];
  a.x1 = c[4];
  a.y1 = c[5];
  // Lower left, lower right, upper right, upper left, the inside to the left of each edge.
  a.usable = c[1] == c[3] && c[2] == c[4] && c[5] == c[7] && c[6] == c[0] && a.x0 < a.x1 && a.y0 < a.y1 && s == 1.0f;
  a.big = std::max(std::max(std::fabs(a.x0), std::fabs(a.x1)), std::max(std::fabs(a.y0), std::fabs(a.y1)));
  return a;
}

int8_t quadTurn(const float q[8]) {
  double ex[4], ey[4];
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) & 3;
    ex[k] = static_cast<double>(q[2 * n]) - q[2 * k];
    ey[k] = static_cast<double>(q[2 * n + 1]) - q[2 * k + 1];
  }
  int left = 0, right = 0;
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) & 3;
    const double turn = ex[k] * ey[n] - ey[k] * ex[n];
    const bool plain = turn * turn > 1e-18 * (ex[k] * ex[k] + ey[k] * ey[k]) * (ex[n] * ex[n] + ey[n] * ey[n]);
    left += plain && turn > 0.0;
    right += plain && turn < 0.0;
  }
  return left == 4 ? 1 : right == 4 ? -1 : 0;
}

QuadOnCell placeQuad(const float q[8], int8_t qturn, float qbig, const AxisCell& cell) {
  const double big = std::max(cell.big, static_cast<double>(qbig));
  if (!cell.usable || qturn == 0 || !(big <= kCoordinateLimit)) return QuadOnCell::Unsure;
  // 16 float steps at the largest coordinate (a float's step is at most 2^-23 of it, and 2^-149
  // at the smallest); compared as squares, against the squared lengths of the edges.
  const double margin = 16.0 * std::max(big * 0x1p-23, 0x1p-149);
  const double margin2 = margin * margin;
  // Per edge, the corners nearest and farthest on its inner side (the cell's edges are
  // parallel to the axes, so they are the corners the edge's direction picks).
  bool inside = true;
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) & 3;
    const double qx = q[2 * k], qy = q[2 * k + 1];
    const double ax = qturn * (q[2 * n] - qx), ay = qturn * (q[2 * n + 1] - qy);
    const double reach2 = margin2 * (ax * ax + ay * ay);
    if (reach2 < margin2 * margin2) return QuadOnCell::Unsure;  // an edge shorter than the margin
    const double nearest = ax * ((ax > 0.0 ? cell.y0 : cell.y1) - qy) - ay * ((ay > 0.0 ? cell.x1 : cell.x0) - qx);
    const double farthest = ax * ((ax > 0.0 ? cell.y1 : cell.y0) - qy) - ay * ((ay > 0.0 ? cell.x0 : cell.x1) - qx);
    if (farthest < 0.0 && farthest * farthest >= reach2) return QuadOnCell::Apart;
    inside = inside && nearest > 0.0 && nearest * nearest >= reach2;
  }
  return inside ? QuadOnCell::CellInside : QuadOnCell::Unsure;
}

float cornerArea(const float c[8]) {
  // SETPOLYGONAREA adds x_i y_j - x_j y_i for each edge i -> j. Going the other way round
  // negates each such term exactly and reverses their order, which the absolute value takes
  // back: the eight orders are the four turns of the terms and of the terms reversed.
  double t[4];
  for (int i = 0; i < 4; ++i) {
    const int j = (i + 1) % 4;
    t[i] = static_cast<double>(c[2 * i]) * c[2 * j + 1] - static_cast<double>(c[2 * j]) * c[2 * i + 1];
  }
  float area = 0.0f;
  for (int r = 0; r < 8; ++r) {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) sum += r < 4 ? t[(r + k) % 4] : t[(r - k + 8) % 4];
    const float a = static_cast<float>(std::fabs(sum) * 0.5);
    if (r == 0) {
      area = a;
    } else if (a != area) {
      return std::nanf("");
    }
  }
  return area;
}

namespace {

[[noreturn]] void noCrossing(bool fromInside) {
  throw frame::Failure::listedStop(
      {" ****Error", " ", " GENERAL.MOD/ClipPolygon>", " ",
       fromInside ? " No intersection found inside > outside" : " No intersection found outside > inside", " ",
       " Warn administrator"},
      100);
}

// The crossing of the line through vi and vj with the line of an edge parallel to an axis,
// vi and vj on either side of it, as LINES_EXP_INT_2D computes it. Its coordinate along the
// edge's axis comes out of that arithmetic as the edge's own value times (1 + a few double
// steps), which rounds to that float itself (a zero may come out with either sign, which no
// comparison and no area tells apart): only the other coordinate is computed, by the same
// operations. The lines are never parallel here.
template <bool Horizontal>
float crossingAlong(const float edge[4], const float vi[2], const float vj[2]) {
  double a1, b1, c1, a2, b2, c2;
  LINE_EXP2IMP_2D(edge[0], edge[1], edge[2], edge[3], a1, b1, c1);
  LINE_EXP2IMP_2D(vi[0], vi[1], vj[0], vj[1], a2, b2, c2);
  const double det = a1 * b2 - b1 * a2;
  if (Horizontal) {
    const double b00 = b2 / det, b01 = -b1 / det;
    return static_cast<float>(-(b00 * c1 + b01 * c2));
  }
  const double b10 = -a2 / det, b11 = a1 / det;
  return static_cast<float>(-(b10 * c1 + b11 * c2));
}

// One pass of the clipping against an edge parallel to an axis: the line y = edge[1]
// (Horizontal) or x = edge[0]. For such an edge the cross product of the general test is the
// exact product (p - line) times the edge's length (the other product is a zero), so its sign,
// and whether it is zero, are read from one comparison; Greater says which side is inside.
// The crossings are those of the general pass (crossingAlong).
//
// in holds m vertices and a copy of the first after them, so each edge vi -> vj is read
// without a wrap; the side of a vertex is known at compile time from Greater. Returns the
// count of vertices written to out.
template <bool Horizontal, bool Greater>
int clipAxisPass(const float* in, int m, float* out, const float edge[4]) {
  const float line = Horizontal ? edge[1] : edge[0];
  auto inside = [line](const float* p) {
    const float v = Horizontal ? p[1] : p[0];
    return Greater ? v >= line : v <= line;
  };
  int built = 0;
  bool inI = inside(in);
  for (int j = 1; j <= m; ++j) {
    const float* vi = in + 2 * (j - 1);
    const float* vj = in + 2 * j;
    const bool inJ = inside(vj);
    if (inI && inJ) {
      out[2 * built] = vj[0];
      out[2 * built + 1] = vj[1];
      ++built;
    } else if (inI || inJ) {
      float* x = out + 2 * built;
      if (Horizontal && vi[0] == vj[0] && vi[1] != vj[1]) {
        x[0] = vi[0];
        x[1] = line;
      } else if (!Horizontal && vi[1] == vj[1] && vi[0] != vj[0]) {
        x[0] = line;
        x[1] = vi[1];
      } else if (Horizontal) {
        x[0] = crossingAlong<true>(edge, vi, vj);
        x[1] = line;
      } else {
        x[0] = line;
        x[1] = crossingAlong<false>(edge, vi, vj);
      }
      ++built;
      if (inJ) {
        out[2 * built] = vj[0];
        out[2 * built + 1] = vj[1];
        ++built;
      }
    }
    inI = inJ;
  }
  return built;
}

}  // namespace

bool axisClipCell(const float c[8], float s) {
  const bool lowerUpper = c[1] == c[3] && c[5] == c[7] && c[0] != c[2] && c[4] != c[6];
  const bool rightLeft = c[2] == c[4] && c[6] == c[0] && c[3] != c[5] && c[7] != c[1];
  if (!lowerUpper || !rightLeft || !(s == 1.0f || s == -1.0f)) return false;
  for (int k = 0; k < 8; ++k) {
    if (!(std::fabs(c[k]) <= kCoordinateLimit)) return false;
  }
  return true;
}

bool coordinatesLimited(const float* v, int n) {
  bool limited = true;
  for (int i = 0; i < 2 * n; ++i) limited = limited && std::fabs(v[i]) <= kCoordinateLimit;
  return limited;
}

void PolygonClipper::CLIPQUADINAXISCELL(const float c[8], const float q[8], float s) {
  if (work_.size() < kQuadRoom) {
    work_.resize(kQuadRoom);
    build_.resize(kQuadRoom);
    inside_.resize(kQuadRoom / 2);
  }
  std::copy(q, q + 8, work_.begin());
  m_ = 4;
  built_ = 0;
  axisPasses(c, s);
}

bool PolygonClipper::clipAxisCell(const float c[8], float s) {
  if (!axisClipCell(c, s)) return false;
  axisPasses(c, s);
  return true;
}

void PolygonClipper::axisPasses(const float c[8], float s) {
  float* a = work_.data();
  float* b = build_.data();
  for (int e = 0; e < 4; ++e) {
    const int f = (e + 1) % 4;
    const float edge[4] = {c[2 * e], c[2 * e + 1], c[2 * f], c[2 * f + 1]};
    // Inside where the cross product times s is positive: for the lower and upper edges
    // (y - line) (x_to - x_from) s, for the right and left ones -(x - line) (y_to - y_from) s.
    const bool positive = s > 0.0f;
    a[2 * m_] = a[0];
    a[2 * m_ + 1] = a[1];
    int built;
    if (e % 2 == 0) {
      built = (edge[2] > edge[0]) == positive ? clipAxisPass<true, true>(a, m_, b, edge)
                                              : clipAxisPass<true, false>(a, m_, b, edge);
    } else {
      built = (edge[3] > edge[1]) != positive ? clipAxisPass<false, true>(a, m_, b, edge)
                                              : clipAxisPass<false, false>(a, m_, b, edge);
    }
    if (built == 0) {
      // Every vertex lies outside this edge: nothing of the polygon is inside the cell.
      m_ = 0;
      return;
    }
    m_ = built;
    std::swap(a, b);
  }
  if (a != work_.data()) work_.swap(build_);
}

void PolygonClipper::BUILDNEWPOLYGON(const float p[2], bool finish) {
  if (!finish) {
    build_[2 * static_cast<size_t>(built_)] = p[0];
    build_[2 * static_cast<size_t>(built_) + 1] = p[1];
    ++built_;
    return;
  }
  work_.swap(build_);
  m_ = built_;
  built_ = 0;
}

void PolygonClipper::CLIPPOLYGON(const float c[8], const float* v, int n, float s) {
  // 2. The polygon's bounding box must overlap the cell; touching is not overlapping.
  m_ = 0;
  built_ = 0;
  if (n < 1) return;
  float minx = v[0], maxx = v[0], miny = v[1], maxy = v[1];
  for (int i = 1; i < n; ++i) {
    const float x = v[2 * i], y = v[2 * i + 1];
    if (x < minx) minx = x;
    if (x > maxx) maxx = x;
    if (y < miny) miny = y;
    if (y > maxy) maxy = y;
  }
  if (maxx <= c[0] || minx >= c[2] || maxy <= c[1] || miny >= c[5]) return;
  // Every coordinate a number within the limit (a NaN passes the box test above unseen).
  const bool limited = coordinatesLimited(v, n);
  // 3. Each pass at most doubles the vertices: room for four passes (and the copy of a pass's
  // first vertex after its last), kept from call to call.
  const size_t room = 32 * static_cast<size_t>(n) + 16;
  if (work_.size() < room) {
    work_.resize(room);
    build_.resize(room);
    inside_.resize(room / 2);
  }
  std::copy(v, v + 2 * n, work_.begin());
  m_ = n;
  // A cell whose edges are parallel to the axes (every structure cell): the same passes with
  // the inside tests read from comparisons.
  if (limited && clipAxisCell(c, s)) return;
  // 4. Against the edges lower, right, upper, left.
  for (int e = 0; e < 4; ++e) {
    const int f = (e + 1) % 4;
    const float edge[4] = {c[2 * e], c[2 * e + 1], c[2 * f], c[2 * f + 1]};
    const bool horizontal = edge[1] == edge[3] && edge[0] != edge[2];
    const bool vertical = edge[0] == edge[2] && edge[1] != edge[3];
    const float* w = work_.data();
    for (int i = 0; i < m_; ++i) inside_[static_cast<size_t>(i)] = insideOf(edge, w[2 * i], w[2 * i + 1], s);
    built_ = 0;
    for (int i = 0; i < m_; ++i) {
      const int j = i + 1 == m_ ? 0 : i + 1;
      const float vi[2] = {w[2 * i], w[2 * i + 1]};
      const float vj[2] = {w[2 * j], w[2 * j + 1]};
      const bool inI = inside_[static_cast<size_t>(i)], inJ = inside_[static_cast<size_t>(j)];
      if (inI && inJ) {
        BUILDNEWPOLYGON(vj, false);
        continue;
      }
      if (!inI && !inJ) continue;
      // The crossing of the clip edge's line with the line vi-vj. For an axis-parallel edge
      // and a perpendicular polygon edge the point is the pair of their coordinates, which
      // is what the general intersection rounds to; other pairs take the general way.
      float x[2];
      bool found = true;
      if (horizontal && vi[0] == vj[0] && vi[1] != vj[1]) {
        x[0] = vi[0];
        x[1] = edge[1];
      } else if (vertical && vi[1] == vj[1] && vi[0] != vj[0]) {
        x[0] = edge[0];
        x[1] = vi[1];
      } else {
        const float seg[4] = {vi[0], vi[1], vj[0], vj[1]};
        INTERSECTION(edge, seg, "FREE", found, x);
      }
      if (!found) noCrossing(inI);
      BUILDNEWPOLYGON(x, false);
      if (!inI) BUILDNEWPOLYGON(vj, false);
    }
    if (built_ == 0) {
      // Every vertex lies outside this edge: nothing of the polygon is inside the cell.
      m_ = 0;
      return;
    }
    BUILDNEWPOLYGON(nullptr, true);
  }
}

}  // namespace grid
