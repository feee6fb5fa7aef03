// ASC grids on arbitrary texts, header and values: as a grid set on the same grid, as a grid
// set on another grid, and as the structure itself.
#include <cstdint>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::enterWorkspace(
      {{"DEVICE.CNF", fuzz::fixture("DEVICE.CNF")},
       {"same.pcf",
        "STRUCTURE\n#COLUMNS,10\n#ROWS,8\nCELLSIZE,1\nNODATA,-9999\nDATARELATEDTO,CELL\n"
        "END:STRUCTURE\nSTOREFILE,ASC,out.asc\nTERVALAGRID,ASC,CELL,grid.asc\n"},
       {"other.pcf",
        "STRUCTURE\n#COLUMNS,5\n#ROWS,4\nXLL,0.5\nYLL,0.25\nCELLSIZE,1.7\nNODATA,-1\n"
        "DATARELATEDTO,CELL\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\nRUN-METHOD,MAJORITY\n"
        "TERVALAGRID,ASC,CELL,grid.asc,#VALUES=4\nTERVALAGRID,ASC,MIDDLE,grid.asc,2\n"},
       {"structure.pcf",
        "STRUCTURE\nFILE,ASC,grid\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\nTERVALAGRID,ASC,CELL,grid\n"}});
  const fuzz::Split in = fuzz::split(data, size, 3);
  fuzz::writeFile("grid.asc", in.rest);
  const char* pcf[] = {"same.pcf", "other.pcf", "structure.pcf"};
  fuzz::runProgram(pcf[in.variant], {"out.asc"});
  return 0;
}
