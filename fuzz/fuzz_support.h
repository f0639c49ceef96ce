// What the fuzz targets share: ending a run by an exception instead of the process exit, and
// the sanitizer settings that every target runs with.
#pragma once

#include "cli/program.h"

// Thrown by the process-end hook; caught by the target, which then takes the next input.
struct RunEnded {
  int status;
};

[[noreturn]] inline void throw_run_ended(int status) {
  throw RunEnded{status};
}

// Stops the target at once, so that libFuzzer keeps the input that broke a rule.
#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition))                                                                              \
      __builtin_trap();                                                                            \
  } while (false)
