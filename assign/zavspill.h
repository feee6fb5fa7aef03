#pragma once
// What the model search found, kept on disk for a run in bands or a tile. The search that
// carries its hint from cell to cell and reads the tables goes column by column over the
// whole structure; the cell loop goes by bands of rows. The column pass writes, per column,
// what every model use found for each cell to a scratch file; the cell loop reads back each
// band's rows of every column. The polygons' mask, which that pass needs column by column,
// goes the same way from bands of rows to columns.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace assign {

// A file on disk that nobody else sees: unnamed where the file system allows it, else
// removed from its folder as soon as it is made, so that it goes with the process however
// that ends. Written at its end through a buffer, read anywhere once flushed.
class ScratchFile {
 public:
  ScratchFile() = default;
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  int open(const std::string& folder);  // 0 or the error number
  // Appends n bytes and returns where they start.
  uint64_t append(const void* data, size_t n);
  // Writes what the buffer holds; 0 or the first error number met in writing.
  int flush();
  // Reads n bytes at offset (flushed before); false on an error or a short read.
  bool readAt(uint64_t offset, void* dst, size_t n) const;
  uint64_t size() const { return size_; }
  int error() const { return err_; }

 private:
  int fd_ = -1;
  int err_ = 0;
  uint64_t size_ = 0, written_ = 0;
  std::vector<char> buf_;
};

// One model piece of a cell: the segment and the overlap area (0 for a middle).
using ZavPiece = std::pair<int32_t, float>;

// Rows lo..hi of every column: per cell and model use, the pieces the search found (for a
// middle, one piece when a model cell holds it). Given to the searches in place of searching.
struct ZavBand {
  int32_t lo = 0, hi = 0, ncols = 0;
  size_t uses = 0;
  std::vector<uint32_t> start;  // per (cell, use), cells column by column, north first
  std::vector<ZavPiece> pieces;
  std::span<const ZavPiece> at(int use, int32_t i, int32_t j) const {
    const size_t k =
        (static_cast<size_t>(i - 1) * static_cast<size_t>(hi - lo + 1) + static_cast<size_t>(hi - j)) * uses +
        static_cast<size_t>(use);
    return {pieces.data() + start[k], pieces.data() + start[k + 1]};
  }
};

// The columns' records: each column's rows north first, a row only when a use found
// something: row, a count per use, then the pieces use after use.
class ZavSpill {
 public:
  int open(const std::string& folder, int32_t ncols, size_t uses);  // 0 or the error number
  // The record of one column's rows bottom..top. Per row r = j - bottom: counts[r * uses + k]
  // pieces of use k, the row's pieces from rowStart[r] on, use after use.
  static void encode(int32_t top, int32_t bottom, size_t uses, const std::vector<uint32_t>& counts,
                     const std::vector<uint32_t>& rowStart, const std::vector<ZavPiece>& pieces, std::string& record);
  void addColumn(int32_t i, const std::string& record);
  int finish() { return file_.flush(); }  // 0 or the error number
  // Loads rows lo..hi of every column, the band after those loaded before (north to south);
  // rowsLeft: the rows from hi down to the last row to be loaded. False on a read error.
  bool load(int32_t lo, int32_t hi, int32_t rowsLeft, ZavBand& band);
  uint64_t bytes() const { return file_.size(); }

 private:
  ScratchFile file_;
  size_t uses_ = 0;
  std::vector<uint64_t> cursor_, end_;  // per column: the next record, and the column's end
  std::vector<char> buf_;
};

// The structure's mask (the cells to compute, after the polygons) of every row, written band
// by band and read a window of columns at a time, each column's rows south first.
class MaskColumns {
 public:
  int open(const std::string& folder, int32_t ncols, int32_t nrows);  // 0 or the error number
  // Rows lo..hi of the mask, row after row from lo up, ncols a row; bands in any order.
  void addBand(int32_t lo, int32_t hi, const uint8_t* mask);
  int finish() { return file_.flush(); }
  // Column i's rows 1..nrows into out; columns in increasing order, window columns read at
  // once. False on a read error.
  bool column(int32_t i, int32_t window, std::vector<uint8_t>& out);

 private:
  ScratchFile file_;
  int32_t ncols_ = 0, nrows_ = 0;
  struct Band {
    int32_t lo, hi;
    uint64_t offset;
  };
  std::vector<Band> bands_;
  std::vector<uint8_t> window_, scratch_;
  int32_t first_ = 0, count_ = 0;  // the columns in window_
};

}  // namespace assign
