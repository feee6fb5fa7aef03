// Point files on arbitrary texts, under the per-set methods and with a radius on the line.
#include <cstdint>

#include "fuzz/harness.h"

namespace {
const char* kStructure =
    "STRUCTURE\n#COLUMNS,6\n#ROWS,5\nCELLSIZE,10\nNODATA,-1\nDATARELATEDTO,CELL\nEND:STRUCTURE\n"
    "STOREFILE,ASC,out.asc\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string s = kStructure;
  fuzz::enterWorkspace({{"DEVICE.CNF", fuzz::fixture("DEVICE.CNF")},
                        {"closest.pcf", s + "POINTFILE,pts.txt\n"},
                        {"average.pcf", s + "METHOD-PER-SET,AVERAGE\nRUN-METHOD,MAXIMUM\nPOINTFILE,pts.txt\n"},
                        {"all.pcf", s + "METHOD-PER-SET,ALL-VALUES\nRUN-METHOD,MINORITY\nPOINTFILE,pts.txt,2,15\n"},
                        {"middle.pcf",
                         "STRUCTURE\n#COLUMNS,6\n#ROWS,5\nCELLSIZE,10\nNODATA,-1\nEND:STRUCTURE\n"
                         "STOREFILE,BIL,out\nPOINTFILE,pts.txt,,0\n"}});
  const fuzz::Split in = fuzz::split(data, size, 4);
  fuzz::writeFile("pts.txt", in.rest);
  switch (in.variant) {
    case 0:
      fuzz::runProgram("closest.pcf", {"out.asc"});
      break;
    case 1:
      fuzz::runProgram("average.pcf", {"out.asc"});
      break;
    case 2:
      fuzz::runProgram("all.pcf", {"out.asc"});
      break;
    default:
      fuzz::runProgram("middle.pcf", {"out.BIL", "out.HDR"});
      break;
  }
  return 0;
}
