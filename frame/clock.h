#pragma once
// The clock: the run's date and time, and waiting; and the process's peak memory.
#include <cstdint>

namespace frame {

struct DateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, hundredths = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime now() = 0;
  // Seconds on a monotonic clock, for waits.
  virtual double monotonicSeconds() = 0;
  virtual void sleepMilliseconds(int ms) = 0;
};

class SystemClock : public Clock {
 public:
  DateTime now() override;
  double monotonicSeconds() override;
  void sleepMilliseconds(int ms) override;
};

// A clock that always reads the same date and time (tests).
class FixedClock : public Clock {
 public:
  explicit FixedClock(DateTime t) : t_(t) {}
  DateTime now() override { return t_; }
  double monotonicSeconds() override { return elapsed_; }
  void sleepMilliseconds(int ms) override { elapsed_ += ms / 1000.0; }

 private:
  DateTime t_;
  double elapsed_ = 0.0;
};

// The largest resident memory the process has held so far, in bytes; 0 when not known.
uint64_t peakMemoryBytes();

}  // namespace frame
