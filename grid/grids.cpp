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
  // 3. Each pass at most doubles the vertices: room for four passes, kept from call to call.
  const size_t room = 32 * static_cast<size_t>(n) + 16;
  if (work_.size() < room) {
    work_.resize(room);
    build_.resize(room);
    inside_.resize(room / 2);
  }
  std::copy(v, v + 2 * n, work_.begin());
  m_ = n;
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
      if (!found) {
        throw frame::Failure::listedStop(
            {" ****Error", " ", " GENERAL.MOD/ClipPolygon>", " ",
             inI ? " No intersection found inside > outside" : " No intersection found outside > inside", " ",
             " Warn administrator"},
            100);
      }
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
