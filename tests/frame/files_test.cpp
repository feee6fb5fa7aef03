#include "frame/files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"

using namespace frame;
using testing_support::makeTempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the body with outputs written as unnamed files and again with named temporary files.
template <typename Body>
void bothWays(Body body) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary files" : "unnamed files");
    if (named) {
      ::setenv("TERVALA_NAMED_TEMPORARIES", "1", 1);
    } else {
      ::unsetenv("TERVALA_NAMED_TEMPORARIES");
    }
    const fs::path dir = makeTempDir();
    body(dir, named);
    fs::remove_all(dir);
  }
  ::unsetenv("TERVALA_NAMED_TEMPORARIES");
}

// A process id that no process holds any more.
pid_t deadProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

}  // namespace

TEST(AtomicOutputFile, TheNameShowsTheOldFileOrTheWholeNewOne) {
  bothWays([](const fs::path& dir, bool named) {
    const fs::path target = dir / "out.asc";
    // A new file: nothing under its name until it is committed.
    AtomicOutputFile f;
    ASSERT_EQ(f.open(target.string()), 0);
    EXPECT_EQ(f.unnamed(), !named);
    f.write("first\n", 6);
    EXPECT_FALSE(fs::exists(target));
    if (!named) {
      EXPECT_TRUE(entries(dir).empty());
    }
    ASSERT_EQ(f.commit(), 0);
    EXPECT_EQ(contents(target), "first\n");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"out.asc"});

    // Replacing it: the old file stays whole until the commit, and nothing else is left.
    AtomicOutputFile g;
    ASSERT_EQ(g.open(target.string(), /*sync=*/true), 0);
    g.write("second, longer\n", 15);
    ASSERT_EQ(g.complete(), 0);
    EXPECT_EQ(contents(target), "first\n");
    ASSERT_EQ(g.commit(), 0);
    EXPECT_EQ(contents(target), "second, longer\n");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"out.asc"});

    // Abandoned (a failed run): the old file as it was.
    AtomicOutputFile h;
    ASSERT_EQ(h.open(target.string()), 0);
    h.write("third\n", 6);
    h.abandon();
    EXPECT_EQ(contents(target), "second, longer\n");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"out.asc"});

    // A folder under the target's name is reported and left alone, with nothing beside it.
    fs::create_directory(dir / "adir");
    AtomicOutputFile d;
    ASSERT_EQ(d.open((dir / "adir").string()), 0);
    d.write("x", 1);
    EXPECT_EQ(d.commit(), EISDIR);
    EXPECT_TRUE(fs::is_directory(dir / "adir"));
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"adir", "out.asc"}));

    // A missing folder is reported when the file is opened.
    AtomicOutputFile m;
    EXPECT_EQ(m.open((dir / "nodir" / "out.asc").string()), ENOENT);
  });
}

// Blocks written straight from where they lie come after what the buffer held and before what
// is written next, in order, more of them than one system call takes, empty ones among them.
TEST(AtomicOutputFile, BlocksFollowTheBufferedTextInOrder) {
  bothWays([](const fs::path& dir, bool) {
    const fs::path target = dir / "out.bil";
    std::vector<std::string> rows;
    for (int k = 0; k < 2500; ++k)
      rows.push_back(std::string(static_cast<size_t>(k % 7 == 0 ? 0 : k % 50), static_cast<char>('a' + k % 26)));
    std::vector<AtomicOutputFile::Block> blocks;
    std::string expected = "head";
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
      blocks.push_back({it->data(), it->size()});
      expected += *it;
    }
    AtomicOutputFile f;
    ASSERT_EQ(f.open(target.string()), 0);
    f.write("head", 4);
    f.writeBlocks(blocks);
    f.write("tail", 4);
    ASSERT_EQ(f.commit(), 0);
    EXPECT_EQ(contents(target), expected + "tail");
  });
}

TEST(AtomicOutputFile, NamedTemporariesGoOnASignalOrWithTheNextRun) {
  ::setenv("TERVALA_NAMED_TEMPORARIES", "1", 1);
  const fs::path dir = makeTempDir();
  // The temporary name of this process, as a run killed while writing would leave it.
  AtomicOutputFile f;
  ASSERT_EQ(f.open((dir / "out.asc").string()), 0);
  const auto names = entries(dir);
  ASSERT_EQ(names.size(), 1u);
  const std::string ours = names[0];
  const std::string mine = "." + std::to_string(::getpid()) + ".";
  const size_t at = ours.rfind(mine);
  ASSERT_NE(at, std::string::npos) << ours;
  EXPECT_EQ(ours.size(), at + mine.size() + 6);
  EXPECT_EQ(ours.rfind("out.asc.tmp.", 0), 0u) << ours;
  // A signal handler removes it.
  removePendingTemporaries();
  EXPECT_TRUE(entries(dir).empty());
  f.abandon();

  // Left by other processes: of this host and a process that is gone (removed), of a process
  // that lives, of another host, and of another output (all kept).
  const fs::path later = makeTempDir();
  const std::string host = ours.substr(0, at);  // "out.asc.tmp.<host>"
  const std::string dead = std::to_string(deadProcess());
  const std::string stale = host + "." + dead + ".Ab3dE9";
  const std::string alive = host + "." + std::to_string(::getppid()) + ".Ab3dE9";
  const std::string elsewhere = "out.asc.tmp.otherhost." + dead + ".Ab3dE9";
  const std::string other = "run2.asc" + host.substr(7) + "." + dead + ".Ab3dE9";
  for (const auto& n : {stale, alive, elsewhere, other}) testing_support::writeFile(later / n, "part");
  AtomicOutputFile g;
  ASSERT_EQ(g.open((later / "out.asc").string()), 0);
  g.write("x", 1);
  ASSERT_EQ(g.commit(), 0);
  auto expected = std::vector<std::string>{"out.asc", alive, elsewhere, other};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries(later), expected);
  fs::remove_all(dir);
  fs::remove_all(later);
  ::unsetenv("TERVALA_NAMED_TEMPORARIES");
}
