#pragma once
// Quick-look pictures of a run as PNG: the structure's values on a colour ramp with a legend
// (NODATA cells transparent), and the source grid in one colour per set with the sets' names.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "grid/griddesc.h"

namespace grid {

// An image of at most 256 colours, north row first: each pixel an index into the palette of
// red, green, blue and opacity. Maps are drawn from a ramp of few steps and a set of colours,
// and a palette is a quarter of the bytes to fill and pack.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
  std::vector<std::array<uint8_t, 4>> palette;
  // The pixels as red, green, blue and opacity, four bytes each.
  std::vector<uint8_t> rgba() const;
};

// One entry of the source picture's legend: a code of the source grid and its text.
struct SourceLegendEntry {
  int32_t code = 0;
  std::string text;
};

// The cells a picture shows, kept as the rows of the structure go by (a run in bands hands
// them on band by band): per pixel of the map the cell under its middle, at most 800 x 800 of
// them whatever the grid's size, and the lowest and highest value of all cells.
class PictureSampler {
 public:
  // For the structure's whole grid; codes: the source codes are kept too.
  void start(const Structure& s, bool codes);
  // The rows from..to (from >= to) that the structure holds now; range: their values widen
  // the ramp's range (else the caller gives it with widen).
  void rows(const Structure& s, int32_t from, int32_t to, bool range = true);
  // Widens the ramp's range to take in lo..hi (finite values of cells that are not NODATA).
  void widen(float lo, float hi);
  Picture values(const std::string& title) const;
  Picture sources(const std::vector<SourceLegendEntry>& legend, const std::string& title) const;

 private:
  int width_ = 0, height_ = 0;
  int64_t ncols_ = 0, nrows_ = 0;
  std::vector<size_t> column_;  // per pixel column, the cell column under it (from 0)
  std::vector<float> values_;
  std::vector<int32_t> codes_;
  std::vector<uint8_t> isValue_;  // the pixel's cell holds a value (not NODATA)
  bool keepCodes_ = false;
  double lo_ = 0.0, hi_ = 0.0;
  bool any_ = false;
};

// The values of the structure: every cell coloured on a ramp from the lowest to the highest
// value, NODATA cells transparent, a legend of the ramp and the title above the map.
Picture drawValues(const Structure& s, const std::string& title);
// The source grid (one code per cell, as Structure::source): one colour per set, code 0
// (NODATA) transparent, the legend listing the entries given.
Picture drawSources(const Structure& s, const std::vector<SourceLegendEntry>& legend, const std::string& title);
// The colour of a source code in drawSources (red, green, blue).
void sourceColour(int32_t code, uint8_t rgb[3]);

// The picture as PNG bytes; empty when libpng failed.
std::vector<uint8_t> encodePng(const Picture& p);
// Writes the picture as a PNG file, complete or not at all. 0 or the error number.
int writePng(const Picture& p, const std::string& fileName, bool sync);
// Writes PNG bytes from encodePng the same way; empty bytes (a failed encoding) give EIO.
int writeEncodedPng(const std::vector<uint8_t>& bytes, const std::string& fileName, bool sync);

}  // namespace grid
