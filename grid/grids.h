#pragma once
// Questions the cell searches ask about cells and grids, and the clipping of a polygon to
// a cell.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

// Cells are four corners lower-left, lower-right, upper-right, upper-left (x,y pairs).
inline bool POINTINGRIDCELL(const float p[2], const float c[8]) {
  return c[0] <= p[0] && p[0] <= c[4] && c[1] <= p[1] && p[1] <= c[5];
}
// P in the coordinates of the grid (map coordinates for a grid set).
bool POINTINRECTANGULARGRID(const double p[2], const GridDescription& g);
// Fractional column and row of P in a regular grid; a point on the boundary between two
// cells belongs to the lower (left) one. -1 outside, and for grids with axes.
void GETRELATIVEINDICESINRECTANGULAR(const double p[2], const GridDescription& g, float out[2]);
// One coordinate of it: the fractional index of v along an axis from origin by step.
inline float relativeIndex(double v, double origin, double step, int32_t count) {
  if (!(origin <= v && v <= origin + static_cast<double>(count) * step)) return -1.0f;
  const double r = (v - origin) / step;
  if (r < 0.001) return 1.0f;
  const double k = std::trunc(r + 0.001);
  if (std::fabs(r - k) < 0.0001) return static_cast<float>(r + 0.999);
  return static_cast<float>(r + 1.0);
}
// P on the inner side of line l, or on it; s = +1 with anticlockwise cell corners.
bool POINTATINSIDEOFLINE(const float l[4], const float p[2], float s);

// The area that clipping the axis-parallel rectangle [px0,px1]x[py0,py1] to the cell
// [cx0,cx1]x[cy0,cy1] (anticlockwise, s = +1) and SETPOLYGONAREA give, when it can be told
// without clipping: the clipped polygon is the intersection rectangle, and when the exponents
// of its coordinates lie close together every product and sum of the area is exact in double
// precision, so the plain width times height is the same number. Returns false when the
// caller must clip.

namespace detail {
// The binary exponent field of a float; 0 for zero and subnormals, 255 for infinities.
inline int exponentField(float v) {
  uint32_t b;
  std::memcpy(&b, &v, 4);
  return static_cast<int>((b >> 23) & 0xFFu);
}
}  // namespace detail

// The span of one axis that a rectangle and a cell share, and whether the short way holds:
// its ends are zero or normal numbers, with the spread of their exponents (0 for a zero end).
struct AxisOverlap {
  bool overlaps = false;  // the box test: touching is not overlapping
  bool usable = false;    // ends fit for the short way
  int spread = 0;
  float lo = 0.0f, hi = 0.0f;
};
inline AxisOverlap axisOverlap(float c0, float c1, float p0, float p1) {
  AxisOverlap a;
  a.overlaps = !(p1 <= c0 || p0 >= c1);
  a.lo = p0 > c0 ? p0 : c0;
  a.hi = p1 < c1 ? p1 : c1;
  const int e0 = detail::exponentField(a.lo), e1 = detail::exponentField(a.hi);
  const bool z0 = a.lo == 0.0f, z1 = a.hi == 0.0f;
  a.usable = p0 <= p1 && (z0 || (e0 != 0 && e0 != 255)) && (z1 || (e1 != 0 && e1 != 255));
  a.spread = (z0 || z1) ? 0 : (e0 > e1 ? e0 - e1 : e1 - e0);
  return a;
}

inline bool rectangleOverlapArea(float cx0, float cy0, float cx1, float cy1, float px0, float py0, float px1, float py1,
                                 float& area) {
  if (!(cx0 < cx1 && cy0 < cy1 && px0 <= px1 && py0 <= py1)) return false;
  // The box test of the clipping: touching is not overlapping.
  if (px1 <= cx0 || px0 >= cx1 || py1 <= cy0 || py0 >= cy1) {
    area = 0.0f;
    return true;
  }
  const float x0 = px0 > cx0 ? px0 : cx0, x1 = px1 < cx1 ? px1 : cx1;
  const float y0 = py0 > cy0 ? py0 : cy0, y1 = py1 < cy1 ? py1 : cy1;
  // A zero coordinate only gives exact zeros; other coordinates must be normal numbers.
  auto spreadOf = [](float a, float b, int& spread) {
    const int ea = detail::exponentField(a), eb = detail::exponentField(b);
    const bool za = a == 0.0f, zb = b == 0.0f;
    if ((!za && (ea == 0 || ea == 255)) || (!zb && (eb == 0 || eb == 255))) return false;
    spread = (za || zb) ? 0 : (ea > eb ? ea - eb : eb - ea);
    return true;
  };
  int sx = 0, sy = 0;
  if (!spreadOf(x0, x1, sx) || !spreadOf(y0, y1, sy) || sx + sy > 2) return false;
  area = static_cast<float>((static_cast<double>(x1) - x0) * (static_cast<double>(y1) - y0));
  return true;
}

// Where a convex quadrilateral q lies against an axis-parallel cell when the rounding of the
// clipping cannot decide it: the whole cell inside q, or the whole cell beyond one of q's edges,
// each by a margin of 16 float steps at the largest coordinate. A crossing that CLIPPOLYGON
// computes lies within a step or two of the true one, so then its answer is known without
// clipping: the cell's own four corners (the crossings of the cell's edges with each other are
// taken exactly), or nothing. Nearer than the margin, a quadrilateral that is not plainly
// convex or has an edge shorter than the margin, or a cell that is not axis-parallel: Unsure.
enum class QuadOnCell : uint8_t { Unsure, CellInside, Apart };
// The cell (corners lower left, lower right, upper right, upper left; s the side CLIPPOLYGON
// is given for it) as placeQuad reads it, made once for all quadrilaterals tried against it.
struct AxisCell {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0, big = 0;
  bool usable = false;
};
AxisCell axisCell(const float c[8], float s);
// +1 or -1 for a plainly convex quadrilateral turning left or right at every corner, none of
// its turns within 10^-9 of straight; 0 for any other.
int8_t quadTurn(const float q[8]);
// qturn is quadTurn(q), qbig the largest magnitude among q's coordinates.
QuadOnCell placeQuad(const float q[8], int8_t qturn, float qbig, const AxisCell& cell);

// The area SETPOLYGONAREA gives the cell's four corners whatever corner it starts from and
// whichever way round it goes, or NaN where the order changes the rounding.
float cornerArea(const float c[8]);

// CLIPPOLYGON keeps the clipped polygon; its storage is reused from call to call.
// Whether CLIPPOLYGON clips against cell c (inside on side s) by the passes for a cell whose
// edges are parallel to the axes: c's corners lower left, lower right, upper right, upper left,
// every coordinate within the limit, s one or minus one.
bool axisClipCell(const float c[8], float s);
// Whether the n vertices' coordinates are all numbers within the limit.
bool coordinatesLimited(const float* v, int n);

class PolygonClipper {
 public:
  // The part of polygon v (n vertices) inside cell c. A needed intersection that cannot be
  // found throws a Failure that stops the run with code 100.
  void CLIPPOLYGON(const float c[8], const float* v, int n, float s);
  // CLIPPOLYGON of quadrilateral q where the caller knows what CLIPPOLYGON would first find out:
  // axisClipCell(c, s), coordinatesLimited(q, 4), and q's box overlapping the cell's.
  void CLIPQUADINAXISCELL(const float c[8], const float q[8], float s);
  // The clipped polygon: m vertices as x,y pairs.
  const float* vertices() const { return work_.data(); }
  int count() const { return m_; }
  void clear() { m_ = 0; }

 private:
  // The passes for a cell whose edges are parallel to the axes; false for any other cell.
  bool clipAxisCell(const float c[8], float s);
  void axisPasses(const float c[8], float s);
  // Room for the passes on a quadrilateral: each pass at most doubles the vertices, and a
  // pass reads a copy of its first vertex after its last.
  static constexpr size_t kQuadRoom = 32 * 4 + 16;
  // Appends p to the polygon under construction, or (finish) makes it the working polygon.
  void BUILDNEWPOLYGON(const float p[2], bool finish);
  std::vector<float> work_, build_;
  std::vector<unsigned char> inside_;
  int m_ = 0, built_ = 0;
};

}  // namespace grid
