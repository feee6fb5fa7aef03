// The BIL header reader on arbitrary header texts, over a fixed raster of 64 floats: as a
// grid set on a CELL structure and as the structure itself.
#include <cstdint>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::enterWorkspace(
      {{"DEVICE.CNF", fuzz::fixture("DEVICE.CNF")},
       {"set.pcf",
        "STRUCTURE\n#COLUMNS,8\n#ROWS,8\nCELLSIZE,1\nNODATA,-1\nDATARELATEDTO,CELL\nEND:STRUCTURE\n"
        "STOREFILE,ASC,out.asc\nTERVALAGRID,BIL,CELL,grid\n"},
       {"structure.pcf", "STRUCTURE\nFILE,BIL,grid\nEND:STRUCTURE\nSTOREFILE,BIL,out\nTERVALAGRID,BIL,MIDDLE,grid\n"},
       {"grid.bil", fuzz::fixture("grid.bil")}});
  const fuzz::Split in = fuzz::split(data, size, 2);
  fuzz::writeFile("grid.hdr", in.rest);
  if (in.variant == 0) {
    fuzz::runProgram("set.pcf", {"out.asc"});
  } else {
    fuzz::runProgram("structure.pcf", {"out.BIL", "out.HDR"});
  }
  return 0;
}
