// Start-up on an arbitrary DEVICE.CNF: the run string, the listing and its paging settings,
// then a short run and shutdown.
#include <cstdint>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::enterWorkspace({{"run.pcf",
                         "STRUCTURE\n#COLUMNS,3\n#ROWS,2\nCELLSIZE,10\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\n"
                         "TERVALAGRID,ASC,CELL,base.asc\n"},
                        {"base.asc", fuzz::fixture("base.asc")}});
  fuzz::writeFile("DEVICE.CNF", std::string_view(reinterpret_cast<const char*>(data), size));
  fuzz::runProgram("run.pcf", {"out.asc"});
  return 0;
}
