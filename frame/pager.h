#pragma once
// The paged writer of the listing, progress display, the overview of files and the sort
// with a companion array.
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/frame.h"

namespace frame {

// PAGN2: "INIT", "NEWPAGE", "NEWLINE", "PROGRESS"; any other action writes nothing.
// Every call polls the keyboard for Escape, which stops the run with code 101.
void PAGN2(Frame& fr, std::string_view action, std::string_view text);
// NEWP: a negative unit resets the counters; otherwise the next page header is written.
void NEWP(Frame& fr, int unit);
// PROGRM: program name for the header, the run's date and time, counters reset.
void PROGRM(Frame& fr, std::string_view name);
// SETLU: "INIT", "SET" or "RESET" the paged unit.
void SETLU(Frame& fr, int unit, std::string_view action);
// INIBAR: starts a progress bar for a loop first..last by step; returns how many loop turns
// lie between two BAR calls.
int INIBAR(Frame& fr, std::string_view text, int64_t first, int64_t last, int64_t step);
void BAR(Frame& fr);
void PRGRSS(Frame& fr, std::string_view text);
void COLLFI(Frame& fr, const std::string& name);
void PRCOLL(Frame& fr, int unit);
// USRTWI: sorts a(0..n-1) ascending, applying every exchange to b as well. A long array is
// sorted on two cores where threads allows it, in the same order.
void USRTWI(float* a, int64_t n, int32_t* b, int threads = 1);

// Counts the turns of a loop and advances the bar every INIBAR step.
class ProgressCounter {
 public:
  ProgressCounter(Frame& fr, std::string_view title, int64_t turns);
  void turn() {
    if (++count_ >= every_) {
      count_ = 0;
      BAR(fr_);
    }
  }
  // Advances by n turns at once (blocks of rows or cells).
  void turns(int64_t n);

 private:
  Frame& fr_;
  int64_t every_ = 1, count_ = 0;
};

}  // namespace frame
