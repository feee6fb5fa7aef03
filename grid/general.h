#pragma once
// Plane geometry: distances, point in polygon, points on lines, and line intersections.
// Coordinates are single precision; the line-intersection family computes in double
// precision with exact comparisons, the other tests use fixed absolute tolerances.
#include <cmath>
#include <cstring>
#include <ostream>

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

void LINES_EXP_INT_2D(int& ival, float& x, float& y, float x1, float y1, float x2, float y2, float x3, float y3,
                      float x4, float y4);
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

void LINE_EXP2IMP_2D(double x1, double y1, double x2, double y2, double& a, double& b, double& c);
void LINES_IMP_INT_2D(double a1, double b1, double c1, double a2, double b2, double c2, int& ival, double& x,
                      double& y);
void RMAT2_INVERSE(const double a[2][2], double b[2][2], double& det);

void LINE_SEG_CONTAINS_POINT_2D(double x1, double y1, double x2, double y2, double x3, double y3, double& u, double& v);

// SETPOLYGONAREA: the area of the closed polygon (shoelace in double precision, absolute).
float SETPOLYGONAREA(const float* v, int count);

}  // namespace grid
