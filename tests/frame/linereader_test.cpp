#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "frame/files.h"
#include "support.h"

using namespace frame;

// Lines come whole however the blocks cut them: a line longer than a block, CR LF ends, empty
// lines, and a last line without an end of line; the line number counts them.
TEST(LineReader, LinesWholeAcrossBlocks) {
  const testing_support::TempDir temp;
  const std::filesystem::path& dir = temp.path;
  const std::string longLine(200000, 'x');
  testing_support::writeFile(dir / "t.txt", "first\r\n\n" + longLine + "\nlast");
  LineReader in;
  ASSERT_EQ(in.open((dir / "t.txt").string()), 0);
  std::vector<std::string> got;
  for (std::string line; in.next(line);) got.push_back(line);
  EXPECT_EQ(got, (std::vector<std::string>{"first", "", longLine, "last"}));
  EXPECT_EQ(in.lineNumber(), 4u);
  std::string line = "kept?";
  EXPECT_FALSE(in.next(line));
  EXPECT_TRUE(line.empty());
}

// A folder or a missing file is refused at open, and a reader never opened gives no lines.
TEST(LineReader, FoldersAndMissingFilesAreRefused) {
  const testing_support::TempDir temp;
  const std::filesystem::path& dir = temp.path;
  LineReader folder, missing, never;
  EXPECT_EQ(folder.open(dir.string()), EISDIR);
  EXPECT_EQ(missing.open((dir / "none.txt").string()), ENOENT);
  std::string line;
  EXPECT_FALSE(never.next(line));
  BlockReader blocks;
  EXPECT_EQ(blocks.open(dir.string()), EISDIR);
  char b[4];
  EXPECT_EQ(blocks.readBlock(b, sizeof b), -1);
}
