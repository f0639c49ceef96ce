// fieldmap: takes a Superfish field map wherever it must go. `convert` reads an SF7 table, a T7
// file, an openPMD file or a TQS file written from a map, and only then opens its output and
// writes it as TQS, openPMD, T7 or an on-axis table; `info` tells what a file holds.
#include "cli/diagnostics.h"
#include "cli/program.h"
#include "cli/program_output.h"
#include "diag/raise.h"
#include "fieldmap/fieldmap_options.h"
#include "fieldmap/info.h"
#include "mesh/mesh_forms.h"
#include "mesh/sf7_tqs.h"
#include "norvalex/mesh.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace norvalex;

// The departure from the symmetry about z of a cylindrical map beyond which convert warns.
constexpr double SYMMETRY_WARNING = 1e-3;

// Opens the files of OUT in `form`, after the whole input has been read: standard output for
// "-", else each named file, replaced whole when all are committed. The files keep `paths`'s
// names, which must outlive them.
void open_outputs(const std::vector<std::string>& paths, MeshForm form, OutputFile* files) {
  if (paths.size() == 1 && is_standard_output_name(paths[0].c_str())) {
    bool buffered = false;
    if (!open_standard_output(files[0], buffered)) {
      refuse("output can not be written to a terminal: give OUT a file name, or redirect "
             "standard output");
    }
    return;
  }
  for (std::size_t k = 0; k < paths.size(); ++k)
    open_output_file(files[k], paths[k].c_str(), mesh_output_mode(form));
}

void convert(const FieldmapRequest& request) {
  const std::optional<MeshFormat> named = format_of_name(request.output);
  const bool to_standard_output = is_standard_output_name(request.output.c_str());
  const std::optional<MeshFormat> format = request.to ? request.to : named;
  if (!format) {
    refuse(to_standard_output ? "standard output has no extension: give its format with --to"
                              : "OUT's format is not told by its extension: give it with --to");
  }
  if (*format == MeshFormat::openpmd && to_standard_output) {
    refuse("an openPMD file is written by its name, not to standard output");
  }
  if (*format == MeshFormat::openpmd && !mesh_has_openpmd()) {
    refuse("openPMD files are not supported by this build (no HDF5)");
  }
  const char* input = request.input.c_str();
  const WorkingOn reading(input);
  const MeshForm from = request.from.value_or(detect_mesh_form(input));
  std::string dropped; // the table's other columns, which only a TQS file keeps
  const bool whole_map = !request.plane && !request.cylindrical;
  if (*format == MeshFormat::tqs && from == MeshForm::sf7 && whole_map && request.with.empty()) {
    // An SF7 table keeps the converter's bytes: its columns as they are, none left out.
    Sf7Table table;
    read_sf7_table_file(input, table, sf7_mesh_units());
    double factor = request.scale.value_or(1);
    if (request.normalize) {
      MeshReadOptions options = request.read;
      options.frequency_may_be_unknown = true; // the peak does not depend on it
      factor =
          normalization_factor(sf7_table_mesh(table, input, options, true), *request.normalize);
    }
    const WorkingOn writing(request.output.c_str());
    OutputFile output;
    const std::vector<std::string> paths{request.output}; // the output keeps its name
    open_outputs(paths, *format, &output);
    write_sf7_tqs(table, output, factor);
    close_output_file(output);
    return;
  }
  MeshReadOptions options = read_options(request);
  // A form that holds no frequency needs none: an RF table may go there without it.
  options.frequency_may_be_unknown = !mesh_form_info(*format).holds_frequency;
  double departure = 0;
  FieldMesh mesh = requested_map(read_mesh(input, from, options), request, departure);
  if (*format != MeshFormat::tqs) {
    for (const MeshColumn& column : mesh.columns)
      dropped += (dropped.empty() ? "" : ", ") + column.name;
  }
  if (request.scale) {
    scale_mesh(mesh, *request.scale);
  }
  if (request.normalize) {
    normalize_mesh(mesh, *request.normalize);
  }
  const WorkingOn writing(request.output.c_str());
  // Refused before OUT is opened, which may empty a file written in place.
  check_mesh_for_form(mesh, *format, request.output.c_str(), request.write);
  const std::vector<std::string> paths =
      mesh_output_paths(mesh, *format, request.output, request.write);
  if (paths.size() > 1 && to_standard_output) {
    refuse(with_article(mesh_form_info(*format).title) +
           " of this map is written as several files: give OUT a file name");
  }
  // A form of several files names even the one it writes by OUT and an extension.
  if (to_standard_output && !paths.empty() && paths.front() != request.output) {
    refuse(std::string(mesh_form_info(*format).name) +
           " files are named by OUT and their extensions: give OUT a file name");
  }
  const std::unique_ptr<OutputFile[]> files(new OutputFile[paths.size()]);
  open_outputs(paths, *format, files.get());
  const MeshWriteReport report =
      write_checked_mesh(mesh, *format, {files.get(), paths.size()}, request.write);
  for (std::size_t k = 0; k < paths.size(); ++k)
    close_output_file(files[k]);
  for (const std::string& warning : report.warnings)
    warning_message_handler("%s", warning.c_str());
  // A departure that the rounding of a solver's map does not explain.
  if (departure > SYMMETRY_WARNING) {
    warning_message_handler("%s: its cylindrical map departs from the symmetry about z by %s of "
                            "its largest field at most, more than %s",
                            input, number_text(departure).c_str(),
                            number_text(SYMMETRY_WARNING).c_str());
  }
  // Said once the file is written: a refused mesh gets its error alone.
  if (!dropped.empty()) {
    warning_message_handler("%s", ("\"" + request.output + "\" holds no " + dropped +
                                   ": only TQS files keep a table's other columns")
                                      .c_str());
  }
}

} // namespace

int main(int argc, char** argv) {
  using namespace norvalex;
  // Writes to a closed pipe and past a file-size limit fail as errors, with the output undone;
  // so does an interruption.
  prepare_process(true);
  program_name = "fieldmap"; // until the parse takes the name from the command line
  input_errors_name_the_program = true;
  memory_errors_name_the_file = true;
  run_reporting_errors([&] {
    const FieldmapRequest request = read_fieldmap_command_line(argc, argv);
    if (request.command == FieldmapCommand::convert) {
      convert(request);
    } else {
      write_info(request);
    }
  });
  return 0;
}
