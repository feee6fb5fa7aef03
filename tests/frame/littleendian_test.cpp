#include "frame/littleendian.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

#include "frame/files.h"
#include "support.h"

using namespace frame;

namespace {

template <typename T>
std::vector<unsigned char> stored(T v) {
  std::vector<unsigned char> b(sizeof(T));
  le::store(b.data(), v);
  return b;
}

}  // namespace

// The files' byte order is the lowest byte first whatever the machine's; every item reads back
// as it was stored, the edges of each type and a float's bits included.
TEST(LittleEndian, ItemsAreStoredLowestByteFirstAndReadBack) {
  EXPECT_EQ(stored<int32_t>(0x01020304), (std::vector<unsigned char>{4, 3, 2, 1}));
  EXPECT_EQ(stored<int16_t>(-2), (std::vector<unsigned char>{0xfe, 0xff}));
  EXPECT_EQ(stored<uint32_t>(0xdeadbeefu), (std::vector<unsigned char>{0xef, 0xbe, 0xad, 0xde}));
  EXPECT_EQ(stored<float>(1.0f), (std::vector<unsigned char>{0, 0, 0x80, 0x3f}));
  EXPECT_EQ(stored<double>(-2.0), (std::vector<unsigned char>{0, 0, 0, 0, 0, 0, 0, 0xc0}));
  for (int16_t v : {int16_t{0}, int16_t{-1}, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()})
    EXPECT_EQ(le::load<int16_t>(stored(v).data()), v);
  for (int32_t v : {0, -9999, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()})
    EXPECT_EQ(le::load<int32_t>(stored(v).data()), v);
  for (float v : {0.0f, -0.0f, -999.999f, 1.0e-40f, std::numeric_limits<float>::max()}) {
    const float back = le::load<float>(stored(v).data());
    EXPECT_EQ(std::memcmp(&back, &v, 4), 0) << v;
  }
  const double d = 155000.125;
  EXPECT_EQ(le::load<double>(stored(d).data()), d);
  EXPECT_TRUE(std::isnan(le::load<float>(stored(std::numeric_limits<float>::quiet_NaN()).data())));
}

// Rows of a BIL: 16-bit integers become floats with their sign; 32-bit floats come through
// bit for bit, and are written back as the same bytes.
TEST(LittleEndian, RowsOfIntegersAndFloats) {
  const unsigned char sixteen[] = {0x18, 0xfc, 0x07, 0x00, 0xff, 0x7f};  // -1000, 7, 32767
  float row[3];
  le::loadFloats<int16_t>(sixteen, row, 3);
  EXPECT_EQ(row[0], -1000.0f);
  EXPECT_EQ(row[1], 7.0f);
  EXPECT_EQ(row[2], 32767.0f);
  const float values[3] = {1.5f, -9999.0f, 3.0e38f};
  unsigned char bytes[12];
  le::storeFloats(bytes, values, 3);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4), stored(1.5f));
  le::loadFloats<float>(bytes, row, 3);
  EXPECT_EQ(std::memcmp(row, values, 12), 0);
  int32_t items[2] = {le::load<int32_t>(stored<int32_t>(12).data()), 0};
  le::store(&items[1], int32_t{-3});
  le::fromLittleInPlace(items, 2);
  EXPECT_EQ(items[0], 12);
  EXPECT_EQ(items[1], -3);
}

// A record read past the end of its bytes fails, and stays failed, instead of giving a value
// made of whatever lies beyond; a short file read gives false and leaves the value alone.
TEST(LittleEndian, ShortReadsAreRefused) {
  std::vector<unsigned char> b = stored<int32_t>(7);
  b.push_back(1);
  b.push_back(2);
  le::ByteReader r(b.data(), b.size());
  EXPECT_EQ(r.i32(), 7);
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.has(2));
  EXPECT_EQ(r.i32(), 0);  // two bytes left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.position(), 4u);
  EXPECT_EQ(r.i16(), 0);  // failed for good, though two bytes would do
  char text[2];
  EXPECT_FALSE(r.bytes(text, 2));

  le::ByteReader empty(nullptr, 0);
  EXPECT_EQ(empty.f64(), 0.0);
  EXPECT_FALSE(empty.ok());

  const testing_support::TempDir temp;
  const std::filesystem::path& dir = temp.path;
  const std::string name = (dir / "three.bin").string();
  std::ofstream(name, std::ios::binary).write("\x05\x00\x00", 3);
  BinaryInputFile f;
  ASSERT_EQ(f.open(name), 0);
  int32_t v = 42;
  EXPECT_FALSE(le::read(f, v));
  EXPECT_EQ(v, 42);
  int16_t s = 0;
  EXPECT_TRUE(le::read(f, s));
  EXPECT_EQ(s, 5);
}
