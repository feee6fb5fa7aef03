// Polygon files on arbitrary texts: clearing, assigning, resetting and line files, on MIDDLE
// and CELL structures.
#include <cstdint>

#include "fuzz/harness.h"

namespace {
const char* kMiddle =
    "STRUCTURE\n#COLUMNS,10\n#ROWS,8\nNODATA,-1\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\n"
    "TERVALAGRID,ASC,MIDDLE,base.asc\n";
const char* kCell =
    "STRUCTURE\n#COLUMNS,10\n#ROWS,8\nNODATA,-1\nDATARELATEDTO,CELL\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\n"
    "TERVALAGRID,ASC,CELL,base.asc\n";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string m = kMiddle, c = kCell;
  fuzz::enterWorkspace({{"DEVICE.CNF", fuzz::fixture("DEVICE.CNF")},
                        {"base.asc", fuzz::fixture("base.asc")},
                        {"clear.pcf", m + "POLYGONFILE,p.gen\n"},
                        {"assign.pcf", c + "POLYGONFILE,p.gen,ASSIGN,7.5\n"},
                        {"reset.pcf", m + "POLYGONFILE,all.gen\nPOLYGONFILE,p.gen,RESET\n"},
                        {"all.gen", "1\n-1,-1\n11,-1\n11,9\n-1,9\n-1,-1\nEND\nEND\n"}});
  const fuzz::Split in = fuzz::split(data, size, 3);
  fuzz::writeFile("p.gen", in.rest);
  const char* pcf[] = {"clear.pcf", "assign.pcf", "reset.pcf"};
  fuzz::runProgram(pcf[in.variant], {"out.asc"});
  return 0;
}
