// The converter's entry: parses the command line, shows help or reads the whole SF7 field map,
// and only then opens the output and writes the map's columns as one TQS file.
#include "cli/diagnostics.h"
#include "cli/help.h"
#include "cli/program.h"
#include "convert/converter_options.h"
#include "convert/converter_output.h"
#include "norvalex/sf7.h"
#include "norvalex/tqs.h"
#include "sf7/sf7_exact.h"

#include <cstdio>

namespace {

using namespace norvalex;

// The benchmark's reference build reads every line by the exact path.
#ifdef NORVALEX_READ_EXACT_PATH_ONLY
constexpr bool read_exact_path_only = true;
#else
constexpr bool read_exact_path_only = false;
#endif

void convert(const char* input_name) {
  Sf7ReadOptions read_options;
  read_options.progress = verbose ? print_stderr_escaped : nullptr;
  Sf7ReadTuning tuning;
  tuning.exact_path_only = read_exact_path_only;
  FieldMap map;
  {
    // Named by the line of an allocation that fails; the reader's own memory line stays.
    const WorkingOn reading(input_name);
    read_field_map_file(input_name, map, read_options, tuning);
  }
  if (verbose)
    std::fputs("Writing results to TQS\n", stderr);

  // Opened only now: a defective input never creates, empties or appends to an output.
  const WorkingOn writing(append_file ? append_file : output_file ? output_file : "-");
  OutputFile file;
  TqsOutput output;
  tqs_open_output(output_file, append_file, file, output);
  write_field_map(output, map);
  tqs_close_output(output);
}

} // namespace

int main(int argc, char** argv) {
  using namespace norvalex;
  // A reader that quits early makes a write fail with EPIPE, and a file-size limit with EFBIG:
  // both are reported like a full disk, with the output undone, instead of ending the process
  // silently.
  prepare_process(true);
  if (parse_options(&argc, &argv, converter_options) != 0)
    print_stderr("\n");
  if (argc != 1)
    short_help = 1;
  if (long_help) {
    print_version(version_banner, print_stderr);
    print_help(converter_options, long_help, print_stderr);
  }
  if (short_help)
    print_help(converter_options, 0, print_stderr);

  // A lone "-" names a file too: standard input is never read.
  input_file_name = argv[0];
  run_reporting_errors([] { convert(input_file_name); });
  return 0;
}
