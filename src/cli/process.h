// The running program as the command-line layer sees it: the name it was invoked under, the
// print operation for standard error, and the one way a run ends.
#pragma once

// Name under which the program was invoked: the first word after its last "/" (on Windows also
// "\\" and ":", without ".exe"), by platform_program_name; set by the option parser.
extern const char* program_name;

// A print operation writes one string unchanged and adds nothing.
using PrintFunction = void (*)(const char* text);
void print_stderr(const char* text);

// Ends the process with `status`. Every path that ends a run goes through here.
[[noreturn]] void end_process(int status);

// Called by end_process with the status before the process ends, when set; null by default and
// never set by the programs. A harness that runs many inputs in one process (a fuzz target)
// stores a function here that throws, so that it goes on after a run that ended with an error
// or with help. A hook that returns changes nothing: the process then ends as always.
using ProcessEndHook = void (*)(int status);
extern ProcessEndHook process_end_hook;
