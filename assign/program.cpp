// The four steps of a run, shared by the program's main and the whole-run fuzz harness.
#include "assign/run.h"
#include "frame/startup.h"
#include "grid/structure.h"

namespace assign {

int TERVALAGRIDCREATE(Run& run) {
  startStep(run);
  frame::INITPR(run.fr, "Tervala", "TervalaGridCreate", 1.01f, 0.0f);
  endStep(run, "start-up");
  double start = run.fr.clock.monotonicSeconds();
  // With more than one core the structure's rows are filled beside the reading of the sets
  // (CREATEGRID settles them); THREADS=1 keeps the run on one thread.
  const grid::Fill fill = run.fr.cores() > 1 ? grid::Fill::Beside : grid::Fill::Now;
  if (grid::GETTERVALAGRIDSTRUCTURE(run.fr, run.structure, fill)) return 2;
  const grid::GridDescription& g = run.structure.grid;
  frame::logStep(run.fr,
                 "structure of " + std::to_string(g.ncols) + " x " + std::to_string(g.nrows) +
                     " cells, values related to " + (g.cellValues() ? "CELL" : "MIDDLE"),
                 start);
  endStep(run, "structure");
  if (CREATEGRID(run)) return 2;
  frame::ENDPR(run.fr);
  // Completed, but an input was left out after an ERROR block: never a plain success.
  return run.fr.inputLeftOut ? 3 : 0;
}

}  // namespace assign
