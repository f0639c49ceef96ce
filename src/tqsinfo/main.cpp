// tqsinfo: lists the header and blocks of TQS files, with the statistics of their arrays, as
// text or JSON; writes arrays as text columns; checks the structure of files. All of it through
// the TQS library's public interface.
#include "cli/diagnostics.h"
#include "cli/program.h"
#include "cli/text_output.h"
#include "norvalex/tqs.h"
#include "tqsinfo/dump.h"
#include "tqsinfo/file_summary.h"
#include "tqsinfo/listing.h"
#include "tqsinfo/tqsinfo_options.h"

#include <string>
#include <vector>

namespace {

using namespace norvalex;

// Options that ask for more than one kind of output, or for nothing that they could change.
void refuse_mixed_options(const Command& command) {
  const int kinds = (command.json ? 1 : 0) + (command.check ? 1 : 0) + (command.dump_names ? 1 : 0);
  if (kinds > 1) {
    refuse("--json, --check and --dump do not go together");
  }
  if (command.stats && (command.check || command.dump_names)) {
    refuse("--stats goes with the listing or --json only");
  }
  if (command.series && !command.dump_names) {
    refuse("--series goes with --dump only");
  }
  if (command.dump_names && command.files.size() != 1) {
    refuse("--dump reads one file, not " + std::to_string(command.files.size()));
  }
}

// One line per file, "OK" or its first defect; returns the exit status.
int check_files(Output& out, const Command& command) {
  int status = 0;
  for (const char* path : command.files) {
    const WorkingOn working_on(path);
    const TqsCheck check = tqs_check_file(path);
    // One line per file, whatever the name holds: its control bytes as error lines show them.
    out << escape_control_bytes(path);
    if (check.sound) {
      out << ": OK\n";
    } else {
      out << ": defect at byte " << std::to_string(check.offset) << ": " << check.defect << "\n";
      status = 1;
    }
  }
  return status;
}

int run(const Command& command) {
  Output out;
  if (command.check) {
    const int status = check_files(out, command);
    out.finish();
    return status;
  }
  if (command.dump_names) {
    const WorkingOn working_on(command.files[0]);
    write_dump(out, command.files[0], command.dump_names->c_str(), command.series.value_or(1));
    out.finish();
    return 0;
  }
  // Every file is read through once before anything is written, so that a file that the library
  // refuses leaves standard output empty. The summaries keep a few dozen bytes per series; each
  // file's blocks are read once more as its part is written, a piece at a time, so that any
  // number of files of any number of blocks can be listed.
  std::vector<FileSummary> files;
  for (const char* path : command.files) {
    const WorkingOn working_on(path);
    files.push_back(summarize_file(path, command.stats));
  }
  if (command.json) {
    write_json_start(out);
  }
  for (std::size_t k = 0; k < files.size(); ++k) {
    const WorkingOn working_on(command.files[k]);
    if (command.json) {
      write_json_file(out, files[k], k == 0);
    } else {
      write_listing(out, files[k], k == 0);
    }
  }
  if (command.json) {
    write_json_end(out);
  }
  out.finish();
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  using namespace norvalex;
  prepare_process(false);
  // A reader that quits early ("tqsinfo -d Z f.tqs | head") ends the run quietly, as it ends
  // the standard text tools; every memory line names the file in work.
  end_quietly_when_reader_quits();
  memory_errors_name_the_file = true;
  program_name = "tqsinfo"; // until the parse takes the name from the command line
  int status = 0;
  run_reporting_errors([&] {
    const Command command = read_command_line(argc, argv);
    refuse_mixed_options(command);
    status = run(command);
  });
  return status;
}
