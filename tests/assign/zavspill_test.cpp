// The scratch files of a model run in bands: what the column pass writes column by column comes
// back band by band, cell for cell, and the polygons' mask written by bands of rows comes back
// by columns.
#include "assign/zavspill.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>

using namespace assign;

namespace {

// Per cell (column-major, rows 1..nr) and use: the pieces of a made-up column pass; some
// cells empty, some with more pieces than a guessed read takes.
struct Findings {
  int32_t nc, nr;
  size_t uses;
  std::vector<std::vector<ZavPiece>> cell;  // ((i-1)*nr + (j-1))*uses + k
  const std::vector<ZavPiece>& at(int32_t i, int32_t j, size_t k) const {
    return cell[(static_cast<size_t>(i - 1) * static_cast<size_t>(nr) + static_cast<size_t>(j - 1)) * uses + k];
  }
};

Findings makeFindings(int32_t nc, int32_t nr, size_t uses, unsigned seed) {
  std::mt19937 rng(seed);
  Findings f{nc, nr, uses, {}};
  f.cell.resize(static_cast<size_t>(nc) * static_cast<size_t>(nr) * uses);
  for (auto& pieces : f.cell) {
    const auto r = static_cast<unsigned>(rng() % 100);
    const size_t n = r < 50 ? 0 : r < 90 ? 1 + rng() % 3 : r < 99 ? 4 + rng() % 20 : 700;
    for (size_t p = 0; p < n; ++p)
      pieces.push_back({static_cast<int32_t>(rng() % 1000) - 1, static_cast<float>(rng() % 10000) / 7.0f});
  }
  return f;
}

// Writes the findings of rows bottom..top, column after column, as the column pass does.
void writeColumns(const Findings& f, int32_t bottom, int32_t top, ZavSpill& spill) {
  std::string record;
  for (int32_t i = 1; i <= f.nc; ++i) {
    std::vector<uint32_t> counts, rowStart{0};
    std::vector<ZavPiece> pieces;
    for (int32_t j = bottom; j <= top; ++j) {
      for (size_t k = 0; k < f.uses; ++k) {
        const auto& p = f.at(i, j, k);
        counts.push_back(static_cast<uint32_t>(p.size()));
        pieces.insert(pieces.end(), p.begin(), p.end());
      }
      rowStart.push_back(static_cast<uint32_t>(pieces.size()));
    }
    ZavSpill::encode(top, bottom, f.uses, counts, rowStart, pieces, record);
    spill.addColumn(i, record);
  }
  ASSERT_EQ(spill.finish(), 0);
}

// Reads rows bottom..top back in bands of `height` rows, north first, and compares every cell.
void readBands(const Findings& f, int32_t bottom, int32_t top, int32_t height, ZavSpill& spill) {
  ZavBand band;
  for (int32_t hi = top; hi >= bottom; hi -= height) {
    const int32_t lo = std::max(bottom, hi - height + 1);
    ASSERT_TRUE(spill.load(lo, hi, hi - bottom + 1, band));
    for (int32_t i = 1; i <= f.nc; ++i) {
      for (int32_t j = lo; j <= hi; ++j) {
        for (size_t k = 0; k < f.uses; ++k) {
          const auto got = band.at(static_cast<int>(k), i, j);
          const auto& want = f.at(i, j, k);
          ASSERT_EQ(got.size(), want.size()) << "column " << i << " row " << j << " use " << k;
          for (size_t p = 0; p < want.size(); ++p) {
            EXPECT_EQ(got[p].first, want[p].first);
            EXPECT_EQ(got[p].second, want[p].second);
          }
        }
      }
    }
  }
}

std::string freshFolder(const char* name) {
  const auto dir = std::filesystem::temp_directory_path() / (std::string(name) + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

}  // namespace

TEST(ZavSpill, BandsOfAnyHeightGiveBackEveryCellsPieces) {
  const Findings f = makeFindings(23, 41, 3, 7);
  const std::string dir = freshFolder("zavspill");
  for (int32_t height : {1, 4, 7, 41, 100}) {
    ZavSpill spill;
    ASSERT_EQ(spill.open(dir, f.nc, f.uses), 0);
    writeColumns(f, 1, f.nr, spill);
    readBands(f, 1, f.nr, height, spill);
  }
  // A tile's rows only, and a single use.
  const Findings one = makeFindings(9, 30, 1, 11);
  ZavSpill spill;
  ASSERT_EQ(spill.open(dir, one.nc, one.uses), 0);
  writeColumns(one, 8, 19, spill);
  readBands(one, 8, 19, 5, spill);
  // Nothing of the scratch file is left in the folder.
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  std::filesystem::remove_all(dir);
}

TEST(ZavSpill, ScratchFileReadsBackPastItsBufferAndLeavesNothingWhenNamed) {
  const std::string dir = freshFolder("scratch");
  for (const char* named : {"0", "1"}) {
    ::setenv("TERVALA_NAMED_TEMPORARIES", named, 1);
    ScratchFile file;
    ASSERT_EQ(file.open(dir), 0);
    std::vector<uint32_t> data(700000);
    for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<uint32_t>(k * 2654435761u);
    const uint64_t a = file.append(data.data(), data.size() * 4);
    const uint64_t b = file.append(data.data(), 12);
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, data.size() * 4);
    EXPECT_EQ(file.flush(), 0);
    std::vector<uint32_t> back(data.size());
    ASSERT_TRUE(file.readAt(0, back.data(), back.size() * 4));
    EXPECT_EQ(back, data);
    uint32_t tail[3];
    ASSERT_TRUE(file.readAt(b, tail, 12));
    EXPECT_EQ(tail[2], data[2]);
    EXPECT_FALSE(file.readAt(b + 8, tail, 12));  // beyond the end: refused, not garbage
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << "named=" << named;
  }
  ::unsetenv("TERVALA_NAMED_TEMPORARIES");
  ScratchFile missing;
  EXPECT_NE(missing.open(dir + "/no/such/folder"), 0);
  std::filesystem::remove_all(dir);
}

TEST(ZavSpill, MaskWrittenByRowBandsIsReadByColumns) {
  const int32_t nc = 17, nr = 29;
  std::mt19937 rng(3);
  std::vector<uint8_t> mask(static_cast<size_t>(nc) * nr);  // row-major, row 1 first
  for (auto& m : mask) m = rng() % 3 != 0;
  const std::string dir = freshFolder("maskcols");
  for (int32_t height : {1, 5, 29}) {
    for (int32_t window : {1, 4, 17, 40}) {
      MaskColumns columns;
      ASSERT_EQ(columns.open(dir, nc, nr), 0);
      // North to south, as the cell loop holds them.
      for (int32_t hi = nr; hi >= 1; hi -= height) {
        const int32_t lo = std::max(1, hi - height + 1);
        columns.addBand(lo, hi, mask.data() + static_cast<size_t>(lo - 1) * nc);
      }
      ASSERT_EQ(columns.finish(), 0);
      std::vector<uint8_t> column;
      for (int32_t i = 1; i <= nc; ++i) {
        ASSERT_TRUE(columns.column(i, window, column));
        ASSERT_EQ(column.size(), static_cast<size_t>(nr));
        for (int32_t j = 1; j <= nr; ++j)
          ASSERT_EQ(column[static_cast<size_t>(j - 1)], mask[static_cast<size_t>(j - 1) * nc + (i - 1)])
              << "height " << height << " window " << window << " column " << i << " row " << j;
      }
    }
  }
  std::filesystem::remove_all(dir);
}
