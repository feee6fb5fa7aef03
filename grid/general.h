#pragma once
// Plane geometry: distances, point in polygon, points on lines, and line intersections.
// Coordinates are single precision; the line-intersection family computes in double
// precision with exact comparisons, the other tests use fixed absolute tolerances.
#include <cmath>
#include <cstring>
#include <ostream>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace grid {

// The largest coordinate magnitude an input may hold. No map comes near it, and below it the
// squares and cross products of the single-precision geometry cannot overflow.
constexpr float kCoordinateLimit = 1.0e15f;

// The small tests below are inline: the point and cell searches call them for every candidate.
inline float DISTANCE(const float p[2], const float q[2]) {
  const float dx = p[0] - q[0];
  const float dy = p[1] - q[1];
  return std::sqrt(dx * dx + dy * dy);
}
// P inside or on the border of the convex polygon v (n vertices, x,y pairs). With debug the
// vertices and the answer are written to it.
bool POINTINPOLYGON(const float p[2], const float* v, int n, std::ostream* debug = nullptr);

// The four cross products of pointInQuad in single precision, all at once, and whether each
// is certainly clear of the bound on the side it shows: then the double-precision product has
// the same sign and is clear of 1e-10 too. Each float product differs from the exact one of
// the same floats by at most 3.1 float steps of its two terms (three roundings each, one for
// the difference), the double one by far less; the margin allows 8 steps and 2e-10, and a
// product that overflows, underflows into the margin or is not a number is never certain.
// Returns the certain ones as four bits (edge k in bit k), the positive ones in positive.
#if defined(__SSE2__)
inline int certainCrossSigns(const float p[2], const float v[8], int& positive) {
  const __m128 low = _mm_loadu_ps(v), high = _mm_loadu_ps(v + 4);
  const __m128 xi = _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 yi = _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1));
  const __m128 xj = _mm_shuffle_ps(xi, xi, _MM_SHUFFLE(0, 3, 2, 1));
  const __m128 yj = _mm_shuffle_ps(yi, yi, _MM_SHUFFLE(0, 3, 2, 1));
  const __m128 first = _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(p[1]), yi), _mm_sub_ps(xj, xi));
  const __m128 second = _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(p[0]), xi), _mm_sub_ps(yj, yi));
  const __m128 cross = _mm_sub_ps(first, second);
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 margin = _mm_add_ps(
      _mm_mul_ps(_mm_add_ps(_mm_and_ps(first, magnitude), _mm_and_ps(second, magnitude)), _mm_set1_ps(0x1p-21f)),
      _mm_set1_ps(2e-10f));
  positive = _mm_movemask_ps(_mm_cmpgt_ps(cross, _mm_setzero_ps()));
  return _mm_movemask_ps(_mm_cmpgt_ps(_mm_and_ps(cross, magnitude), margin));
}
#endif

// POINTINPOLYGON for four vertices, without debug: the same cross products and the same
// rule, written out (the model searches take it for every cell). Where the single-precision
// products are certain of every sign (nearly always), the answer is theirs: outside when the
// signs differ; else the double-precision products decide, as POINTINPOLYGON does.
inline bool pointInQuad(const float p[2], const float v[8]) {
#if defined(__SSE2__)
  int positive = 0;
  if (certainCrossSigns(p, v, positive) == 0xF) return positive == 0xF || positive == 0;
#endif
  const double xp = p[0], yp = p[1];
  double c[4];
  for (int i = 0; i < 4; ++i) {
    const int j = (i + 1) & 3;
    const double xi = v[2 * i], yi = v[2 * i + 1], xj = v[2 * j], yj = v[2 * j + 1];
    c[i] = (yp - yi) * (xj - xi) - (xp - xi) * (yj - yi);
  }
  // The sense from the first cross product clear of zero; a later one clear of zero against it
  // puts the point outside.
  int k = 0;
  while (k < 4 && !(std::fabs(c[k]) >= 1e-10)) ++k;
  for (int i = k + 1; i < 4; ++i) {
    if (std::fabs(c[i]) > 1e-10 && c[i] * c[k] < 0.0) return false;
  }
  return true;
}
inline float DISTANCEPOINTTOLINE(const float p[2], const float l[4]) {
  const float dx = std::fabs(l[0] - l[2]);
  const float dy = std::fabs(l[1] - l[3]);
  if (dx <= 0.00001f) return std::fabs(l[0] - p[0]);
  if (dy <= 0.00001f) return std::fabs(l[1] - p[1]);
  const float s = (l[3] - l[1]) / (l[2] - l[0]);
  const float t = l[1] - s * l[0];
  return std::fabs(p[1] - s * p[0] - t) / std::sqrt(1.0f + s * s);
}

inline bool POINTONLINE(const float p[2], const float l[4]) {
  const float dx = std::fabs(l[0] - l[2]);
  const float dy = std::fabs(l[1] - l[3]);
  if (dx <= 0.00001f) return std::fabs(p[0] - l[0]) < 0.00001f;
  if (dy <= 0.00001f) return std::fabs(p[1] - l[1]) < 0.00001f;
  const float s = (l[3] - l[1]) / (l[2] - l[0]);
  const float t = l[1] - s * l[0];
  return std::fabs(p[1] - s * p[0] - t) < 0.00001f;
}

// V between a and b, either way round, ends included.
inline bool between(float v, float a, float b) {
  return (a <= v && v <= b) || (b <= v && v <= a);
}

inline bool POINTBETWEENLINEPOINTS(const float p[2], const float l[4]) {
  const float dx = std::fabs(l[0] - l[2]);
  const float dy = std::fabs(l[1] - l[3]);
  if (dx <= 0.00001f) return between(p[1], l[1], l[3]);
  if (dy <= 0.00001f) return between(p[0], l[0], l[2]);
  const bool inX = between(p[0], l[0], l[2]);
  const bool inY = between(p[1], l[1], l[3]);
  return POINTONLINE(p, l) && inX && inY;
}

// The line through two points as a x + b y + c = 0, the inverse of a 2 x 2 matrix, and the
// crossing of two lines given so or by two points each. Inline: they are the inner step of
// clipping, the largest part of a run with models.
inline void LINE_EXP2IMP_2D(double x1, double y1, double x2, double y2, double& a, double& b, double& c) {
  a = y2 - y1;
  b = x1 - x2;
  c = x2 * y1 - x1 * y2;
}

inline void RMAT2_INVERSE(const double a[2][2], double b[2][2], double& det) {
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

inline void LINES_IMP_INT_2D(double a1, double b1, double c1, double a2, double b2, double c2, int& ival, double& x,
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

inline void LINES_EXP_INT_2D(int& ival, float& x, float& y, float x1, float y1, float x2, float y2, float x3, float y3,
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

void LINES_SEG_INT_2D(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int& flag,
                      float& x, float& y);

// mode "FREE": the lines through the two segments; "INSEGMENTS": the segments themselves.
// Inline, so that the mode of a call with a literal is decided where it is compiled.
inline void INTERSECTION(const float l1[4], const float l2[4], const char* mode, bool& found, float out[2]) {
  found = false;
  out[0] = out[1] = 0.0f;
  if (std::strcmp(mode, "FREE") == 0) {
    int ival = 0;
    LINES_EXP_INT_2D(ival, out[0], out[1], l1[0], l1[1], l1[2], l1[3], l2[0], l2[1], l2[2], l2[3]);
    found = ival == 1;
  } else if (std::strcmp(mode, "INSEGMENTS") == 0) {
    int flag = 0;
    LINES_SEG_INT_2D(l1[0], l1[1], l1[2], l1[3], l2[0], l2[1], l2[2], l2[3], flag, out[0], out[1]);
    found = flag == 1;
  }
}

void LINE_SEG_CONTAINS_POINT_2D(double x1, double y1, double x2, double y2, double x3, double y3, double& u, double& v);

// SETPOLYGONAREA: the area of the closed polygon (shoelace in double precision, absolute).
// Inline: every clipped piece and every cell of a model search takes it.
inline float SETPOLYGONAREA(const float* v, int count) {
  if (count < 1) return 0.0f;
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    const int j = i + 1 == count ? 0 : i + 1;
    sum += static_cast<double>(v[2 * i]) * v[2 * j + 1] - static_cast<double>(v[2 * j]) * v[2 * i + 1];
  }
  return static_cast<float>(std::fabs(sum) * 0.5);
}

}  // namespace grid
