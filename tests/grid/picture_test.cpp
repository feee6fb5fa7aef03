#include "grid/picture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

using namespace grid;

namespace {

Structure makeGrid(int32_t nc, int32_t nr, std::vector<float> values) {
  Structure s;
  s.grid.ncols = nc;
  s.grid.nrows = nr;
  s.grid.nodata = -9999.0f;
  s.grid.values.assign(values.begin(), values.end());
  s.assignMask.assign(s.grid.values.size(), 1);
  return s;
}

// An image as red, green, blue and opacity, four bytes a pixel.
struct Rgba {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

Rgba expanded(const Picture& p) {
  return {p.width, p.height, p.rgba()};
}

// Decodes PNG bytes with libpng into RGBA rows.
bool decode(const std::vector<uint8_t>& bytes, Rgba& out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgba.assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
}

const uint8_t* pixel(const Rgba& p, int x, int y) {
  return &p.rgba[(static_cast<size_t>(y) * p.width + x) * 4];
}

}  // namespace

TEST(Pictures, ValuesOnARampWithNodataTransparentAndTheNorthRowOnTop) {
  // 2 x 2 cells, row 1 (south) first in memory: south-west NODATA, north-east the highest.
  Structure s = makeGrid(2, 2, {-9999.0f, 1.0f, 2.0f, 3.0f});
  const Picture p = drawValues(s, "LEVELS");
  Rgba back;
  ASSERT_TRUE(decode(encodePng(p), back));
  EXPECT_EQ(back.width, p.width);
  EXPECT_EQ(back.rgba, p.rgba());  // what was drawn is what the file holds
  // Small grids are enlarged to 640 pixels: 320 a cell, below the title.
  const int top = 34, left = 10;
  EXPECT_EQ(pixel(back, left + 10, top + 330)[3], 0);     // south-west: NODATA, transparent
  EXPECT_EQ(pixel(back, left + 330, top + 330)[3], 255);  // south-east
  const uint8_t* high = pixel(back, left + 330, top + 10);
  const uint8_t* low = pixel(back, left + 330, top + 330);
  EXPECT_EQ(high[0], 150);               // the ramp ends in brown at the highest value
  EXPECT_EQ(low[2], 160);                // and starts in deep blue at the lowest
  EXPECT_EQ(pixel(back, 0, 0)[3], 255);  // the margin is opaque
}

TEST(Pictures, LargeGridsAreSampledDownAndSourcesGetOneColourPerSet) {
  Structure s = makeGrid(2000, 1000, std::vector<float>(2000000, 5.0f));
  s.source.assign(2000000, 1);
  s.source[0] = 2;  // the south-west corner cell
  const Picture values = drawValues(s, "");
  EXPECT_LE(values.width, 1200);
  const Rgba p = expanded(drawSources(s, {{1, "1 A.ASC"}, {2, "2 B.TXT"}, {0, "0 NODATA"}}, ""));
  uint8_t one[3], two[3];
  sourceColour(1, one);
  sourceColour(2, two);
  EXPECT_NE(std::memcmp(one, two, 3), 0);
  // The map is 800 x 400 pixels; the one cell of set 2 is too small to show.
  const uint8_t* q = pixel(p, 10 + 400, 10 + 200);
  EXPECT_EQ(std::memcmp(q, one, 3), 0);
  uint8_t combined[3], cleared[3];
  sourceColour(-1, combined);  // several sets
  sourceColour(-2, cleared);   // cleared
  EXPECT_NE(std::memcmp(combined, cleared, 3), 0);
}
