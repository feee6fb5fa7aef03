#include "frame/datetime.h"

#include <gtest/gtest.h>

#include "support.h"

using namespace frame;
using testing_support::TestFrame;

TEST(Calendar, LeapYearsAndYearLengths) {
  EXPECT_FALSE(LYEAR(1900));
  EXPECT_TRUE(LYEAR(2000));
  EXPECT_TRUE(LYEAR(2024));
  EXPECT_FALSE(LYEAR(2023));
  EXPECT_EQ(GDATS(1), 365);
  EXPECT_EQ(GDATS(4), 1461);
  EXPECT_EQ(GDATS(100), 36524);
  EXPECT_EQ(GDATS(400), 146097);
}

TEST(Calendar, DatesToDayNumbersAndBack) {
  CalendarDate d;
  d.year = 2023;
  d.month = 2;
  d.day = 29;
  EXPECT_EQ(GDATE(1, d), 1);
  d = {};
  d.year = 1;
  d.month = 1;
  d.day = 1;
  ASSERT_EQ(GDATE(1, d), 0);
  EXPECT_EQ(d.dayNumber, 1);
  EXPECT_EQ(d.weekday, 2);
  d = {};
  d.year = 2026;
  d.month = 12;
  d.day = 8;
  ASSERT_EQ(GDATE(1, d), 0);
  EXPECT_EQ(d.weekday, 3);  // a Tuesday
  EXPECT_EQ(d.dayOfYear, 342);
  for (int year : {1, 4, 99, 100, 400, 1600, 1900, 2000, 2024, 9999}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day : {1, 15, 28, 29, 30, 31}) {
        CalendarDate a;
        a.year = year;
        a.month = month;
        a.day = day;
        if (GDATE(1, a) != 0) continue;
        CalendarDate b;
        b.dayNumber = a.dayNumber;
        ASSERT_EQ(GDATE(2, b), 0);
        EXPECT_EQ(b.year, year);
        EXPECT_EQ(b.month, month);
        EXPECT_EQ(b.day, day);
        EXPECT_EQ(b.weekday, a.weekday);
        EXPECT_EQ(b.dayOfYear, a.dayOfYear);
      }
    }
  }
  CalendarDate z;
  z.dayNumber = 0;
  EXPECT_EQ(GDATE(2, z), 1);
}

TEST(Calendar, TitleTextShowsNoonAsZeroPm) {
  TestFrame t;  // the fixed clock reads 8 December 2026, 12:05
  EXPECT_EQ(TIMEGEN(t.fr), " 00:05 PM Tuesday  8 December 2026");
  FixedClock morning(DateTime{2026, 1, 15, 9, 30, 0, 0});
  Frame f(t.console, morning, {"x"});
  EXPECT_EQ(TIMEGEN(f), " 09:30 AM Thursday 15 January 2026");
  FixedClock bad(DateTime{2026, 2, 30, 9, 30, 0, 0});
  Frame g(t.console, bad, {"x"});
  EXPECT_EQ(TIMEGEN(g), "");
  EXPECT_EQ(t.console.lines.back(), " Error calling GDATE, therefor an empty timestring.");
}

TEST(Calendar, WaitsEndAtOnceWithoutATerminalAndOnAKey) {
  TestFrame t;
  TIMOUT(t.fr, 0, 0, 100, 0);
  EXPECT_EQ(t.clock.monotonicSeconds(), 0.0);
  t.fr.keyboard.setActiveForTest(true);
  t.fr.keyboard.push('k');
  TIMOUT(t.fr, 0, 0, 100, 0);
  EXPECT_FALSE(t.fr.keyboard.KBCAVL());
  EXPECT_LT(t.clock.monotonicSeconds(), 1.0);
  TIMOUT(t.fr, 0, 0, 2, 50);
  EXPECT_GE(t.clock.monotonicSeconds(), 2.5);
}
