// Table files of arbitrary texts used by a model run instead of its cell search.
#include <cstdint>

#include "fuzz/zavcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::zavRun("t.tab", data, size);
  return 0;
}
