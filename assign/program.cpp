// The four steps of a run, shared by the program's main and the whole-run fuzz harness.
#include "assign/run.h"
#include "frame/startup.h"
#include "grid/structure.h"

namespace assign {

int TERVALAGRIDCREATE(Run& run) {
  startStep(run);
  frame::INITPR(run.fr, "Tervala", "TervalaGridCreate", 1.01f, 0.0f);
  endStep(run, "start-up");
  if (grid::GETTERVALAGRIDSTRUCTURE(run.fr, run.structure)) return 2;
  endStep(run, "structure");
  if (CREATEGRID(run)) return 2;
  frame::ENDPR(run.fr);
  return 0;
}

}  // namespace assign
