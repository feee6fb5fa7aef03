#include "grid/general.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "frame/format.h"

namespace grid {

bool POINTINPOLYGON(const float p[2], const float* v, int n, std::ostream* debug) {
  if (debug) {
    for (int i = 0; i < n; ++i) {
      *debug << " Vertex " << frame::listInt(i + 1) << " : " << frame::listReal(v[2 * i])
             << frame::listReal(v[2 * i + 1]) << "\n";
    }
  }
  if (n == 4 && !debug) return pointInQuad(p, v);
  const double xp = p[0], yp = p[1];
  auto cross = [&](int i) {
    const int j = i + 1 == n ? 0 : i + 1;
    const double xi = v[2 * i], yi = v[2 * i + 1], xj = v[2 * j], yj = v[2 * j + 1];
    return (yp - yi) * (xj - xi) - (xp - xi) * (yj - yi);
  };
  // A cross product within 1e-10 of zero puts the point on the edge's line: the border counts
  // as inside, and the sense is taken from the first edge the point is clearly beside.
  bool result = true;
  int k = 0;
  double ck = 0.0;
  for (; k < n; ++k) {
    ck = cross(k);
    if (std::fabs(ck) >= 1e-10) break;
  }
  for (int i = k + 1; i < n; ++i) {
    const double ci = cross(i);
    if (std::fabs(ci) > 1e-10 && ci * ck < 0.0) {
      result = false;
      break;
    }
  }
  if (debug) *debug << " PointInPolygon=" << (result ? "T" : "F") << "\n";
  return result;
}

void LINE_SEG_CONTAINS_POINT_2D(double x1, double y1, double x2, double y2, double x3, double y3, double& u,
                                double& v) {
  const double len = std::sqrt((x2 - x1) * (x2 - x1) + (y2 - y1) * (y2 - y1));
  if (len == 0.0) {
    u = 0.5;
    v = (x3 == x1 && y3 == y1) ? 0.0 : DBL_MAX;
    return;
  }
  u = ((x3 - x1) * (x2 - x1) + (y3 - y1) * (y2 - y1)) / (len * len);
  const double px = x1 + u * (x2 - x1), py = y1 + u * (y2 - y1);
  v = std::sqrt((px - x3) * (px - x3) + (py - y3) * (py - y3)) / len;
}

void LINES_SEG_INT_2D(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int& flag,
                      float& x, float& y) {
  x = y = 0.0f;
  flag = 0;
  int ival = 0;
  float px = 0, py = 0;
  LINES_EXP_INT_2D(ival, px, py, x1, y1, x2, y2, x3, y3, x4, y4);
  if (ival == 0) return;
  double u = 0, v = 0;
  LINE_SEG_CONTAINS_POINT_2D(x1, y1, x2, y2, px, py, u, v);
  if (!(0.0 <= u && u <= 1.0 && v <= 0.001)) return;
  LINE_SEG_CONTAINS_POINT_2D(x3, y3, x4, y4, px, py, u, v);
  if (!(0.0 <= u && u <= 1.0 && v <= 0.001)) return;
  flag = 1;
  x = px;
  y = py;
}

}  // namespace grid
