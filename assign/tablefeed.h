#pragma once
// TABLE-USE tables read ahead: blocks of whole lines parsed on helper threads while the model
// search takes their lines in the file's order.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "frame/files.h"

namespace assign {

// The items of a table line: column, row, segment and (where asked for) the area.
struct TableItems {
  int32_t column = 0, row = 0, segment = 0;
  float area = 0.0f;
};

// A line that holds nothing but blanks is passed over.
inline bool blankTableLine(std::string_view line) {
  return line.find_first_not_of(' ') == std::string_view::npos;
}

// Reads a table line: three whole numbers (a plus sign allowed) between commas, blanks around
// them, and with withArea and a segment of 0 or more a fourth item, a number. The written form
// ("    1,    1,    61090,...") is read in one pass, any other line item by item. False when
// the line is not of that form.
bool parseTableLine(std::string_view line, bool withArea, TableItems& out);

// The lines with items of one table, in the file's order, parsed ahead on `parsers` threads of
// their own, a block of lines each at a time; the reader is theirs until the feed is gone.
class TableFeed {
 public:
  TableFeed(frame::LineReader& in, bool withArea, int parsers);
  ~TableFeed();
  TableFeed(const TableFeed&) = delete;
  TableFeed& operator=(const TableFeed&) = delete;
  // The next line with items: false at the end of the file. A line not of the written form
  // gives ok false, with its text in line; number is the line's number in the file.
  bool next(TableItems& items, bool& ok, std::string& line, size_t& number);

 private:
  struct Line {
    TableItems items;
    uint32_t from = 0, length = 0;  // its text in the block
    uint32_t number = 0;            // its number in the block, from 1
    bool ok = true;
  };
  struct Block {
    std::string text;
    std::vector<Line> lines;
    uint32_t count = 0;  // the block's lines, blank ones too
    bool ready = false;
  };
  void parse();
  void parseBlock(Block& b) const;

  frame::LineReader& in_;
  const bool withArea_;
  std::vector<Block> ring_;
  std::mutex lock_;
  std::condition_variable changed_;
  uint64_t taken_ = 0, consumed_ = 0;  // blocks taken from the reader, blocks used up
  bool end_ = false, stop_ = false;
  std::exception_ptr fault_;
  // The consumer's place: the block in use, its next line, the lines before the block.
  Block* current_ = nullptr;
  size_t at_ = 0, before_ = 0;
  std::vector<std::thread> parsers_;
};

}  // namespace assign
