// TervalaGridCreate: builds one raster grid and gives every cell a value from the sets of
// the command file. main only wires the run: the steps live in the library.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "assign/run.h"
#include "frame/clock.h"
#include "frame/console.h"
#include "frame/startup.h"
#include "grid/structure.h"

namespace {

// TERVALAGRIDCREATE: the four steps of a run. Returns the exit status of a run that was not
// stopped: 0 for success, 2 when a step reported an error (its messages are in the listing).
int TERVALAGRIDCREATE(assign::Run& run) {
  frame::INITPR(run.fr, "Tervala", "TervalaGridCreate", 1.01f, 0.0f);
  if (grid::GETTERVALAGRIDSTRUCTURE(run.fr, run.structure)) return 2;
  if (assign::CREATEGRID(run)) return 2;
  frame::ENDPR(run.fr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  frame::installSignalHandlers();
  frame::StdConsole console;
  frame::SystemClock clock;
  auto run = std::make_unique<assign::Run>(console, clock, std::vector<std::string>(argv, argv + argc));
  int status = 0;
  try {
    status = TERVALAGRIDCREATE(*run);
  } catch (const frame::Stop& stop) {
    run->fr.units.flushAll();
    console.restore();
    std::fprintf(stderr, "STOP %d\n", stop.code);
    return stop.code;
  }
  run->fr.units.flushAll();
  console.restore();
  if (status != 0) {
    std::fprintf(stderr, "The run failed; the listing %s tells why.\n", run->fr.listingName.c_str());
  }
  return status;
}
