#include "assign/ongrid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace assign;

namespace {

// A value drawn from the kinds that decide a cell: its set's NODATA and the numbers either side
// of 0.0001 from it, the structure's NODATA and the numbers either side of 0.0001 from that
// (in double precision), both zeros, the smallest and largest floats, NaN, and ordinary numbers
// that are often equal between sets.
float drawValue(std::mt19937& rng, float setNodata, float nodata, bool infinities) {
  const float inf = std::numeric_limits<float>::infinity();
  const float kinds[] = {setNodata,
                         setNodata + 0.0001f,
                         setNodata - 0.0001f,
                         std::nextafter(setNodata + 0.0001f, inf),
                         std::nextafter(setNodata - 0.0001f, -inf),
                         nodata,
                         static_cast<float>(static_cast<double>(nodata) + 0.0001),
                         static_cast<float>(static_cast<double>(nodata) - 0.0001),
                         std::nextafter(static_cast<float>(static_cast<double>(nodata) + 0.0001), inf),
                         0.0f,
                         -0.0f,
                         std::numeric_limits<float>::denorm_min(),
                         -std::numeric_limits<float>::max(),
                         std::numeric_limits<float>::max(),
                         std::nanf(""),
                         3.25f,
                         -7.5f};
  const size_t n = sizeof kinds / sizeof kinds[0];
  const size_t pick = rng() % (n + 12);
  if (pick < n) return kinds[pick];
  if (infinities && pick == n) return rng() % 2 ? inf : -inf;
  return std::uniform_real_distribution<float>(-1000.0f, 1000.0f)(rng);
}

bool sameBits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Rows of N sets, with and without a mask, over every run method the rows take: each cell the
// mask lets through is, bit for bit, what the cell-by-cell combination gives it, and each other
// cell keeps what it held; found tells whether one of them is not NODATA; a row with a value
// that is not a finite number is turned back whole.
template <size_t N>
void compareRows(float nodata, const std::array<double, N>& weight, bool infinities, uint32_t seed) {
  std::mt19937 rng(seed);
  const int32_t cells = 64;
  const std::array<float, 3> setNodataOf = {-9999.0f, 0.0f, nodata};
  std::array<std::vector<float>, N> rows;
  std::array<const float*, N> in;
  std::array<float, N> setNodata;
  std::array<int32_t, N> priority{};
  int checkedRows = 0, turnedBack = 0, allNodata = 0;
  for (int round = 0; round < 300; ++round) {
    for (size_t k = 0; k < N; ++k) {
      setNodata[k] = setNodataOf[(k + static_cast<size_t>(round)) % 3];
      rows[k].resize(cells);
      // Some rows hold nothing but NODATA, so that found is seen staying false.
      const bool empty = round % 10 == 9;
      for (auto& v : rows[k]) v = empty ? setNodata[k] : drawValue(rng, setNodata[k], nodata, infinities);
      in[k] = rows[k].data();
    }
    std::vector<uint8_t> mask(cells);
    for (auto& m : mask) m = rng() % 4 == 0 ? 0 : static_cast<uint8_t>(1 + rng() % 3);
    for (int method = 0; method < 3; ++method) {
      const bool average = method == 0, max = method == 1;
      for (bool masked : {false, true}) {
        std::vector<float> got(cells, 123.5f);
        bool found = false;
        bool whole = false;
        const uint8_t* m = masked ? mask.data() : nullptr;
        if (average) {
          whole = combineRowOnGrid<N, true, false>(in.data(), setNodata.data(), weight.data(), cells, nodata, m,
                                                   got.data(), found);
        } else if (max) {
          whole = combineRowOnGrid<N, false, true>(in.data(), setNodata.data(), weight.data(), cells, nodata, m,
                                                   got.data(), found);
        } else {
          whole = combineRowOnGrid<N, false, false>(in.data(), setNodata.data(), weight.data(), cells, nodata, m,
                                                    got.data(), found);
        }
        bool finite = true, anyValue = false;
        for (int32_t c = 0; c < cells; ++c) {
          if (m && !m[c]) continue;
          const float want =
              combineOnGrid(in.data(), c, setNodata.data(), priority.data(), weight.data(), N, average, max, nodata);
          finite = finite && std::isfinite(want);
          anyValue = anyValue || want != nodata;
          if (!std::isfinite(want)) continue;
          EXPECT_TRUE(sameBits(got[static_cast<size_t>(c)], want))
              << N << " sets, method " << method << ", round " << round << ", cell " << c << ": "
              << got[static_cast<size_t>(c)] << " against " << want;
        }
        EXPECT_EQ(whole, finite) << N << " sets, method " << method << ", round " << round;
        if (!whole) {
          ++turnedBack;
          continue;
        }
        ++checkedRows;
        allNodata += !anyValue;
        EXPECT_EQ(found, anyValue) << N << " sets, method " << method << ", round " << round;
        for (int32_t c = 0; c < cells && m; ++c) {
          if (!m[c]) {
            EXPECT_EQ(got[static_cast<size_t>(c)], 123.5f) << "masked cell " << c;
          }
        }
        if (testing::Test::HasFailure()) return;
      }
    }
  }
  EXPECT_GT(checkedRows, 100);
  EXPECT_GT(allNodata, 10);
  if (infinities) {
    EXPECT_GT(turnedBack, 10);
  }
}

}  // namespace

// Four cells at a time, the values of a row on the structure's grid are bit for bit those of the
// cell-by-cell combination: NODATA of either grid and the numbers at 0.0001 from it, minus zero
// kept where one value stands alone, MAXIMUM and MINIMUM of equal values, the largest floats,
// NaN, sets of unequal weights and one weight each (a structure of points), masked cells left
// alone; infinities turn the row back to go cell by cell.
TEST(RowsOnGrid, FourCellsAtATimeTheyAreWhatOneAtATimeGives) {
  compareRows<1>(-9999.0f, {100.0}, false, 1);
  compareRows<2>(-9999.0f, {100.0, 100.0}, false, 2);
  compareRows<2>(0.5f, {25.0, static_cast<double>(0.3f)}, false, 3);
  compareRows<3>(-9999.0f, {1.0, 1.0, 1.0}, false, 4);
  compareRows<3>(0.0f, {6.25, 100.0, static_cast<double>(1.0e-3f)}, false, 5);
  compareRows<1>(-9999.0f, {100.0}, true, 6);
  compareRows<2>(-1.0f, {4.0, 9.0}, true, 7);
  compareRows<3>(-9999.0f, {1.0, 2.0, 3.0}, true, 8);
}
