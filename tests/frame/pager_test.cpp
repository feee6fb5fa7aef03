#include "frame/pager.h"

#include <gtest/gtest.h>

#include <cmath>

#include "frame/startup.h"
#include "support.h"

using namespace frame;
using testing_support::TestFrame;

namespace {
void writeLines(Frame& fr, int n) {
  for (int i = 1; i <= n; ++i) PAGN2(fr, "NEWLINE", "line " + std::to_string(i));
}
}  // namespace

TEST(Pager, PageBreakInModeYeWritesFooterEndingInColumn76) {
  TestFrame t;
  t.openListing();
  writeLines(t.fr, 51);  // header 3 + 51 = line counter 54
  EXPECT_EQ(t.fr.pager.lineCounter, 54);
  PAGN2(t.fr, "NEWLINE", "next");
  auto l = t.lines();
  ASSERT_GE(l.size(), 60u);
  EXPECT_EQ(l[0], " 00:05 PM Tuesday  8 December 2026.  program = TervalaGri Version 4.00");
  EXPECT_EQ(l[54], "");
  EXPECT_EQ(l[55], std::string(72, ' ') + "/1..");
  EXPECT_EQ(l[55].size(), 76u);
  EXPECT_EQ(l[56], l[0]);
  EXPECT_EQ(l[59], "next");
  EXPECT_EQ(t.fr.pager.pageCounter, 2);
}

TEST(Pager, EndprCompletesTheLastPage) {
  TestFrame t;
  t.openListing();
  PAGN2(t.fr, "NEWPAGE", " ");
  PAGN2(t.fr, "NEWPAGE", " ");
  PAGN2(t.fr, "NEWPAGE", " ");
  writeLines(t.fr, 7);
  EXPECT_EQ(t.fr.pager.pageCounter, 3);
  size_t before = t.lines().size();
  ENDPR(t.fr);
  auto l = t.lines();
  EXPECT_EQ(l.size() - before, 47u);  // 46 empty lines and the footer
  EXPECT_EQ(l.back(), std::string(74, ' ') + "/3");
  // A page closed by NEWPAGE holds one line fewer than one closed by NEWLINE.
  EXPECT_EQ(l[54], std::string(72, ' ') + "/1..");
}

TEST(Pager, ModeNoHasOneHeaderAndNoBreaks) {
  TestFrame t;
  t.openListing("NO");
  PAGN2(t.fr, "NEWLINE", " ");  // a blank line right after the header is not written
  writeLines(t.fr, 120);
  PAGN2(t.fr, "NEWPAGE", "new page text");
  auto l = t.lines();
  EXPECT_EQ(l.size(), 3u + 120u + 1u);
  EXPECT_EQ(l[3], "line 1");
  EXPECT_EQ(l.back(), "new page text");
}

TEST(Pager, ModeHeaderRepeatsHeadersWithoutFooters) {
  TestFrame t;
  t.openListing("HD", 10);
  writeLines(t.fr, 9);
  auto l = t.lines();
  // 3 header lines + 7 text lines, then a new header and the remaining text.
  ASSERT_EQ(l.size(), 15u);
  EXPECT_EQ(l[10], l[0]);
  EXPECT_EQ(l[13], "line 8");
}

TEST(Pager, SetluSwitchesToTheErrorFileAndBackSharingThePageCounter) {
  TestFrame t;
  t.openListing();
  t.openOutput(101, "errors.txt");
  PAGN2(t.fr, "NEWLINE", "in listing");
  SETLU(t.fr, 101, "SET");
  PAGN2(t.fr, "NEWLINE", "an error");
  SETLU(t.fr, 101, "RESET");
  PAGN2(t.fr, "NEWLINE", "back");
  auto l = t.lines();
  auto e = t.lines(101, "errors.txt");
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[3], "an error");
  EXPECT_EQ(t.fr.pager.pageCounter, 3);
  ASSERT_EQ(l.size(), 8u);
  EXPECT_EQ(l[7], "back");
  // Switching to the same file changes nothing.
  SETLU(t.fr, 11, "SET");
  PAGN2(t.fr, "NEWLINE", "same");
  SETLU(t.fr, 11, "RESET");
  EXPECT_EQ(t.fr.pager.pageCounter, 3);
}

TEST(Pager, EscapeStopsTheRunAtAnyActionAndOtherKeysAreDropped) {
  TestFrame t;
  t.openListing();
  t.fr.keyboard.setActiveForTest(true);
  t.fr.keyboard.push('a');
  PAGN2(t.fr, "WAIT", " ");  // takes and drops the letter
  EXPECT_FALSE(t.fr.keyboard.KBCAVL());
  t.fr.keyboard.push(27);
  try {
    PAGN2(t.fr, "WAIT", " ");
    FAIL();
  } catch (const Stop& s) {
    EXPECT_EQ(s.code, 101);
  }
  EXPECT_TRUE(t.fr.ended);
}

TEST(Keyboard, RingHoldsAtMost255Keys) {
  TestFrame t;
  t.fr.keyboard.setActiveForTest(true);
  for (int i = 0; i < 256; ++i) t.fr.keyboard.push(static_cast<unsigned char>('a' + i % 26));
  EXPECT_EQ(t.console.beeps, 1);
  int n = 0;
  while (t.fr.keyboard.KBCAVL()) {
    t.fr.keyboard.USERGETCHAR();
    ++n;
  }
  EXPECT_EQ(n, 255);
  EXPECT_EQ(t.fr.keyboard.USERGETCHAR(), ' ');
  EXPECT_EQ(t.console.beeps, 2);
}

TEST(Progress, BarGeometry) {
  TestFrame t;
  t.fr.progressDisplay = true;
  int every = INIBAR(t.fr, std::string(20, 'L'), 1, 1000, 1);
  EXPECT_EQ(every, 18);
  EXPECT_EQ(t.fr.bar.line.size(), 20u + 1u + 56u);
  BAR(t.fr);
  EXPECT_EQ(t.fr.bar.line[21], '@');
  EXPECT_EQ(t.fr.bar.line[22], '\xB2');
  // Few turns: several bar characters per turn.
  every = INIBAR(t.fr, "Writing information", 1, 3, 1);
  EXPECT_EQ(every, 1);
  EXPECT_EQ(t.fr.bar.perCall, 19);
  // No room for a bar, or nothing to do: inactive, and never a zero step.
  EXPECT_EQ(INIBAR(t.fr, std::string(77, 'L'), 1, 10, 1), 10);
  EXPECT_FALSE(t.fr.bar.active);
  EXPECT_EQ(INIBAR(t.fr, "x", 1, 0, 1), 1);
}

TEST(Overview, CollectedNamesAreUniqueAndLimited) {
  TestFrame t;
  COLLFI(t.fr, "a.pcf");
  COLLFI(t.fr, "a.pcf");
  COLLFI(t.fr, " ");
  EXPECT_EQ(t.fr.overview.names.size(), 1u);
  for (int i = 0; i < 60; ++i) COLLFI(t.fr, "f" + std::to_string(i));
  EXPECT_EQ(t.fr.overview.names.size(), 50u);
  EXPECT_TRUE(t.fr.overview.overflow);
}

TEST(Overview, EchoesTheConnectedCommandFileAndRewindsIt) {
  TestFrame t;
  t.openListing();
  t.input(10, "LINE ONE\n\tTAB\n");
  COLLFI(t.fr, "input10");
  t.fr.units.input(10)->setPosition(2);
  PRCOLL(t.fr, 11);
  auto l = t.lines();
  ASSERT_EQ(l.size(), 9u);
  EXPECT_EQ(l[3], "Overview of files");
  EXPECT_EQ(l[5], "++++ FILE input10 ++++ (01)");
  EXPECT_EQ(l[7], "LINE ONE");
  EXPECT_EQ(l[8], "\tTAB");
  EXPECT_EQ(t.fr.units.input(10)->position(), 0u);
}

TEST(Sort, UsrtwiCarriesTheCompanionArray) {
  float a[] = {3, 1, 2};
  int32_t b[] = {'x', 'y', 'z'};
  USRTWI(a, 3, b);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a[2], 3);
  EXPECT_EQ(b[0], 'y');
  EXPECT_EQ(b[1], 'z');
  EXPECT_EQ(b[2], 'x');
  // Larger inputs with many equal keys: sorted, and the companions still match their keys.
  std::vector<float> v;
  std::vector<int32_t> c;
  for (int i = 0; i < 5000; ++i) {
    v.push_back(static_cast<float>((i * 7919) % 97));
    c.push_back(i);
  }
  std::vector<float> orig = v;
  USRTWI(v.data(), static_cast<int64_t>(v.size()), c.data());
  EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
  for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(orig[static_cast<size_t>(c[i])], v[i]);
}

namespace {

// The quicksort as the listing's sort is meant to be, written recursively: the median of three
// to the end on more than five values, the split around it, each part sorted.
void referenceSort(std::vector<float>& a, std::vector<int32_t>& b, int64_t lo, int64_t hi) {
  auto swap = [&](int64_t i, int64_t j) {
    std::swap(a[static_cast<size_t>(i)], a[static_cast<size_t>(j)]);
    std::swap(b[static_cast<size_t>(i)], b[static_cast<size_t>(j)]);
  };
  auto at = [&](int64_t i) { return a[static_cast<size_t>(i)]; };
  while (hi > lo) {
    if (hi - lo + 1 > 5) {
      const int64_t mid = (lo + hi) / 2;
      const float x = at(lo), y = at(mid), z = at(hi);
      if ((x <= y && y <= z) || (z <= y && y <= x)) {
        swap(mid, hi);
      } else if ((y <= x && x <= z) || (z <= x && x <= y)) {
        swap(lo, hi);
      }
    }
    const float pivot = at(hi);
    int64_t l = lo - 1, r = hi;
    for (;;) {
      while (at(++l) < pivot) {
      }
      while (--r > l && pivot < at(r)) {
      }
      if (l >= r) break;
      swap(l, r);
    }
    swap(l, hi);
    // The smaller part by recursion, the larger here: the depth stays small.
    if (l - lo < hi - l) {
      referenceSort(a, b, lo, l - 1);
      lo = l + 1;
    } else {
      referenceSort(a, b, l + 1, hi);
      hi = l - 1;
    }
  }
}

}  // namespace

TEST(Sort, UsrtwiTakesKeysTheWrongWayRoundInTimeAndInItsOwnOrder) {
  // Keys the wrong way round cost this quicksort a time that grows with the square of their
  // number; with all keys different another sort takes over, whose order is the only one.
  // With equal keys among them the order is the quicksort's own, whatever the work.
  for (const bool ties : {false, true}) {
    std::vector<float> a;
    std::vector<int32_t> b;
    for (int32_t i = 0; i < 30000; ++i) {
      a.push_back(static_cast<float>(ties ? -(i / 3) : -i));
      b.push_back(i);
    }
    std::vector<float> want = a;
    std::vector<int32_t> wantAt = b;
    referenceSort(want, wantAt, 0, static_cast<int64_t>(want.size()) - 1);
    USRTWI(a.data(), static_cast<int64_t>(a.size()), b.data());
    EXPECT_TRUE(a == want && b == wantAt) << (ties ? "with" : "without") << " ties";
  }
  // A NaN among them leaves the quicksort to finish alone, as it always did.
  std::vector<float> a;
  std::vector<int32_t> b;
  for (int32_t i = 0; i < 30000; ++i) {
    a.push_back(i == 12345 ? std::nanf("") : static_cast<float>(-i));
    b.push_back(i);
  }
  std::vector<float> want = a;
  std::vector<int32_t> wantAt = b;
  referenceSort(want, wantAt, 0, static_cast<int64_t>(want.size()) - 1);
  USRTWI(a.data(), static_cast<int64_t>(a.size()), b.data());
  EXPECT_TRUE(b == wantAt);
}

TEST(Sort, UsrtwiOnTwoCoresLeavesTheOrderOfOne) {
  // Equal keys come out in an order of the sort's own making: on two cores it must be that
  // same order, for long arrays of few keys, of keys already in order and of keys the wrong
  // way round (which this quicksort takes slowly: the arrays are just long enough for two).
  for (int shape = 0; shape < 3; ++shape) {
    std::vector<float> one;
    std::vector<int32_t> oneAt;
    for (int32_t i = 0; i < 70000; ++i) {
      const float key =
          shape == 0 ? static_cast<float>((i * 7919) % 613) : static_cast<float>(shape == 1 ? i / 3 : -i / 3);
      one.push_back(key);
      oneAt.push_back(i);
    }
    std::vector<float> two = one;
    std::vector<int32_t> twoAt = oneAt;
    USRTWI(one.data(), static_cast<int64_t>(one.size()), oneAt.data());
    USRTWI(two.data(), static_cast<int64_t>(two.size()), twoAt.data(), 2);
    EXPECT_TRUE(std::is_sorted(two.begin(), two.end())) << shape;
    EXPECT_TRUE(one == two && oneAt == twoAt) << shape;
  }
}
