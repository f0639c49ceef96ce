#include "fuzz_support.h"

// A header may ask for arrays of up to 4 GiB each, which the program allocates before it reads
// a single point. Here an allocation past 128 MiB fails as a full memory would, so such inputs
// take the "Not enough memory" path instead of reaching the fuzzer's own allocation limit.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=128";
}
