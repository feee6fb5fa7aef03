// TervalaGridCreate: builds one raster grid and gives every cell a value from the sets of
// the command file. main only wires the run: the steps live in the library.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/usage.h"
#include "assign/run.h"
#include "frame/clock.h"
#include "frame/console.h"
#include "frame/startup.h"
#include "grid/structure.h"

namespace {

// A run that cannot go on for want of a resource: the listing says so when it can.
int resourceFailure(assign::Run& run, frame::Console& console, const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  try {
    if (!run.fr.ended) {
      frame::writeListing(run.fr, {" ", " ERROR", " *****", " ", " " + what});
      frame::ENDPR(run.fr);
    }
  } catch (...) {
  }
  run.fr.units.flushAll();
  console.restore();
  std::fprintf(stderr, "STOP 100\n");
  return 100;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) return app::printUsage();
  if (args.size() == 2 && args[1] == "--version") return app::printVersion();
  frame::installSignalHandlers();
  frame::StdConsole console;
  frame::SystemClock clock;
  auto run = std::make_unique<assign::Run>(console, clock, args);
  int status = 0;
  try {
    status = assign::TERVALAGRIDCREATE(*run);
  } catch (const frame::Stop& stop) {
    run->fr.units.flushAll();
    console.restore();
    std::fprintf(stderr, "STOP %d\n", stop.code);
    return stop.code;
  } catch (const std::bad_alloc&) {
    return resourceFailure(*run, console, "The run needs more memory than this machine can give it.");
  } catch (const std::exception& e) {
    return resourceFailure(*run, console, std::string("The run could not go on: ") + e.what());
  }
  run->fr.units.flushAll();
  console.restore();
  // A listing that could not be written whole (a full disk) is a failed run too.
  if (frame::TextOutputFile* listing = run->fr.units.output(run->fr.listingUnit); listing && listing->error() != 0) {
    std::fprintf(stderr, "The listing %s could not be written: %s\n", run->fr.listingName.c_str(),
                 std::strerror(listing->error()));
    std::fprintf(stderr, "STOP 13\n");
    return 13;
  }
  if (!console.interactive() && (status == 0 || status == 3)) {
    std::fprintf(stderr, "TervalaGridCreate: finished with status %d: %s written\n", status,
                 run->fr.resultName.c_str());
  }
  if (status == 3) {
    std::fprintf(stderr, "The run completed, but an input was left out; the listing %s tells which.\n",
                 run->fr.listingName.c_str());
  } else if (status != 0) {
    std::fprintf(stderr, "The run failed; the listing %s tells why.\n", run->fr.listingName.c_str());
  }
  return status;
}
