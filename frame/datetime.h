#pragma once
// The calendar and the run's date-and-time text; waits that end early on a key.
#include <string>

#include "frame/frame.h"

namespace frame {

bool LYEAR(int year);
// Days in the years 1..year.
int GDATS(int year);

struct CalendarDate {
  int month = 0, day = 0, year = 0;
  int weekday = 0;  // 1 = Sunday .. 7 = Saturday
  int dayOfYear = 0;
  int daysInMonth = 0;
  int dayNumber = 0;  // 1 = 1 January of year 1
};

// mode < 2: from month, day and year; mode >= 2: from the day number. 0 = success, 1 = invalid.
int GDATE(int mode, CalendarDate& d);

extern const char* const kMonthNames[12];
extern const char* const kWeekdayNames[7];

// The title text of the page header from the clock, blank when the date is rejected.
std::string TIMEGEN(Frame& fr);
// Waits the given time or until a key is pressed (the key is consumed). Without a terminal
// no key can come and nobody is watching, so the wait ends at once.
void TIMOUT(Frame& fr, int hours, int minutes, int seconds, int hundredths);

}  // namespace frame
