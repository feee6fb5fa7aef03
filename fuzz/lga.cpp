// LGA files of arbitrary bytes in a model run.
#include <cstdint>

#include "fuzz/zavcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::zavRun("w.lga", data, size);
  return 0;
}
