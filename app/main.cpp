// TervalaGridCreate: builds one raster grid and gives every cell a value from the sets of
// the command file. main only wires the run: the steps live in the library.
#include <cstdio>
#include <string>
#include <vector>

#include "frame/clock.h"
#include "frame/console.h"
#include "frame/frame.h"
#include "frame/startup.h"

namespace {

// TERVALAGRIDCREATE: the steps of a run. Returns the exit status of a run that was not
// stopped: 0 for success, 2 when a step reported an error.
int TERVALAGRIDCREATE(frame::Frame& fr) {
  frame::INITPR(fr, "Tervala", "TervalaGridCreate", 1.01f, 0.0f);
  frame::ENDPR(fr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  frame::installSignalHandlers();
  frame::StdConsole console;
  frame::SystemClock clock;
  frame::Frame fr(console, clock, std::vector<std::string>(argv, argv + argc));
  int status = 0;
  try {
    status = TERVALAGRIDCREATE(fr);
  } catch (const frame::Stop& stop) {
    status = stop.code;
    fr.units.flushAll();
    console.restore();
    std::fprintf(stderr, "STOP %d\n", stop.code);
    return status;
  }
  fr.units.flushAll();
  console.restore();
  if (status != 0) std::fprintf(stderr, "The run failed; the listing %s tells why.\n", fr.listingName.c_str());
  return status;
}
