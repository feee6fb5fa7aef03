#include "frame/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace frame {

DateTime SystemClock::now() {
  auto tp = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(tp);
  std::tm tmv{};
  localtime_r(&t, &tmv);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count() % 1000;
  DateTime d;
  d.year = tmv.tm_year + 1900;
  d.month = tmv.tm_mon + 1;
  d.day = tmv.tm_mday;
  d.hour = tmv.tm_hour;
  d.minute = tmv.tm_min;
  d.second = tmv.tm_sec;
  d.hundredths = static_cast<int>(ms / 10);
  return d;
}

double SystemClock::monotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleepMilliseconds(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace frame
