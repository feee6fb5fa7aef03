#include "frame/datetime.h"

#include "frame/format.h"

namespace frame {

const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kWeekdayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

namespace {
int monthLength(int month, int year) {
  static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && LYEAR(year)) return 29;
  return lengths[month - 1];
}
}  // namespace

bool LYEAR(int year) {
  return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

int GDATS(int year) {
  return 365 * year + (year % 100) / 4 + (year / 100) * 24 + year / 400;
}

int GDATE(int mode, CalendarDate& d) {
  if (mode < 2) {
    if (d.year <= 0 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return 1;
    if (d.day > monthLength(d.month, d.year)) return 1;
    int before = 0;
    for (int m = 1; m < d.month; ++m) before += monthLength(m, d.year);
    d.dayOfYear = before + d.day;
    d.dayNumber = GDATS(d.year - 1) + d.dayOfYear;
    d.daysInMonth = monthLength(d.month, d.year);
    d.weekday = d.dayNumber % 7 + 1;
    return 0;
  }
  const int dn = d.dayNumber;
  if (dn <= 0) return 1;
  int year = dn / 366 - 1;
  do {
    ++year;
  } while (dn - GDATS(year) - 368 > 0);
  for (int y = year + 1;; ++y) {
    int total = GDATS(y - 1);
    for (int m = 1; m <= 12; ++m) {
      int len = monthLength(m, y);
      if (total + len >= dn) {
        d.year = y;
        d.month = m;
        d.day = dn - total;
        d.daysInMonth = len;
        d.dayOfYear = dn - GDATS(y - 1);
        d.weekday = dn % 7 + 1;
        return 0;
      }
      total += len;
    }
  }
}

std::string TIMEGEN(Frame& fr) {
  DateTime t = fr.clock.now();
  CalendarDate d;
  d.year = t.year;
  d.month = t.month;
  d.day = t.day;
  if (GDATE(1, d) != 0) {
    fr.console.screenLine(" Error calling GDATE, therefor an empty timestring.");
    return std::string();
  }
  int hour = t.hour;
  const char* half = "AM";
  if (hour >= 12) {
    hour -= 12;
    half = "PM";
  }
  return " " + fmtI(hour, 2, 2) + ":" + fmtI(t.minute, 2, 2) + " " + half + " " + kWeekdayNames[d.weekday - 1] + " " +
         fmtI(d.day, 2) + " " + kMonthNames[d.month - 1] + " " + fmtI(d.year, 4);
}

void TIMOUT(Frame& fr, int hours, int minutes, int seconds, int hundredths) {
  if (!fr.keyboard.active()) return;
  const double target = hours * 3600.0 + minutes * 60.0 + seconds + hundredths / 100.0;
  const double start = fr.clock.monotonicSeconds();
  while (fr.clock.monotonicSeconds() - start < target) {
    if (fr.keyboard.KBCAVL()) {
      fr.keyboard.USERGETCHAR();
      return;
    }
    fr.clock.sleepMilliseconds(10);
  }
}

}  // namespace frame
