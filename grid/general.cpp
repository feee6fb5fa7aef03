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

void LINE_EXP2IMP_2D(double x1, double y1, double x2, double y2, double& a, double& b, double& c) {
  a = y2 - y1;
  b = x1 - x2;
  c = x2 * y1 - x1 * y2;
}

void RMAT2_INVERSE(const double a[2][2], double b[2][2], double& det) {
  det = a[0][0] * a[1][1] - a[0][1] * a[1][0];
  if (det == 0.0) {
    b[0][0] = b[0][1] = b[1][0] = b[1][1] = 0.0;
    return;
  }
  b[0][0] = a[1][1] / det;
  b[0][1] = -a[0][1] / det;
  b[1][0] = -a[1][0] / det;
  b[1][1] = a[0][0] / det;
}

void LINES_IMP_INT_2D(double a1, double b1, double c1, double a2, double b2, double c2, int& ival, double& x,
                      double& y) {
  x = y = 0.0;
  if (a1 == 0.0 && b1 == 0.0) {
    ival = -1;
    return;
  }
  if (a2 == 0.0 && b2 == 0.0) {
    ival = -2;
    return;
  }
  const double a[2][2] = {{a1, b1}, {a2, b2}};
  double b[2][2];
  double det = 0.0;
  RMAT2_INVERSE(a, b, det);
  if (det == 0.0) {
    if (a1 != 0.0) {
      ival = a2 * c1 == a1 * c2 ? 2 : 0;
    } else {
      ival = b2 * c1 == b1 * c2 ? 2 : 0;
    }
    return;
  }
  ival = 1;
  x = -(b[0][0] * c1 + b[0][1] * c2);
  y = -(b[1][0] * c1 + b[1][1] * c2);
}

void LINES_EXP_INT_2D(int& ival, float& x, float& y, float x1, float y1, float x2, float y2, float x3, float y3,
                      float x4, float y4) {
  ival = 0;
  x = y = 0.0f;
  const bool point1 = x1 == x2 && y1 == y2;
  const bool point2 = x3 == x4 && y3 == y4;
  double a1 = 0, b1 = 0, c1 = 0, a2 = 0, b2 = 0, c2 = 0;
  if (!point1) LINE_EXP2IMP_2D(x1, y1, x2, y2, a1, b1, c1);
  if (!point2) LINE_EXP2IMP_2D(x3, y3, x4, y4, a2, b2, c2);
  if (point1 && point2) {
    if (x1 == x3 && y1 == y3) {
      ival = 1;
      x = x1;
      y = y1;
    }
  } else if (point1) {
    if (a2 * x1 + b2 * y1 + c2 == 0.0) {
      ival = 1;
      x = x1;
      y = y1;
    }
  } else if (point2) {
    if (a1 * x3 + b1 * y3 + c1 == 0.0) {
      ival = 1;
      x = x3;
      y = y3;
    }
  } else {
    double dx = 0, dy = 0;
    LINES_IMP_INT_2D(a1, b1, c1, a2, b2, c2, ival, dx, dy);
    x = static_cast<float>(dx);
    y = static_cast<float>(dy);
  }
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

float SETPOLYGONAREA(const float* v, int count) {
  if (count < 1) return 0.0f;
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    const int j = i + 1 == count ? 0 : i + 1;
    sum += static_cast<double>(v[2 * i]) * v[2 * j + 1] - static_cast<double>(v[2 * j]) * v[2 * i + 1];
  }
  return static_cast<float>(std::fabs(sum) * 0.5);
}

}  // namespace grid
