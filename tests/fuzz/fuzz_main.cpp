// One libFuzzer program per target: KIT_FUZZ_ENTRY names the target's entry.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  return KIT_FUZZ_ENTRY(data, size);
}
