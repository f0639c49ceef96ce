#include "cli/process.h"

#include <cstdio>
#include <cstdlib>

// Never read before the option parser sets it, but a message raised without a parse (a test)
// still gets a sensible name.
const char* program_name = "norvalex";

void print_stderr(const char* text) {
  std::fputs(text, stderr);
}

ProcessEndHook process_end_hook = nullptr;

void end_process(int status) {
  if (process_end_hook != nullptr)
    process_end_hook(status);
  std::exit(status);
}
