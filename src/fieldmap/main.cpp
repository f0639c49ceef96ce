// fieldmap: takes a Superfish field map wherever it must go. `convert` reads an SF7 table, a T7
// file, an openPMD file or a TQS file written from a map, and only then opens its output and
// writes it as TQS, openPMD, T7 or an on-axis table; `info` tells what a file holds.
#include "cli/diagnostics.h"
#include "cli/program.h"
#include "cli/program_output.h"
#include "fieldmap/fieldmap_options.h"
#include "fieldmap/info.h"
#include "mesh/mesh_forms.h"
#include "mesh/sf7_tqs.h"
#include "norvalex/mesh.h"

#include <string>

namespace {

using namespace norvalex;

// Opens OUT in `form`, after the whole input has been read: standard output for "-", else the
// named file, replaced whole at the close.
void open_output(const FieldmapRequest& request, MeshForm form, OutputFile& output) {
  if (!is_standard_output_name(request.output.c_str())) {
    open_output_file(output, request.output.c_str(), mesh_output_mode(form));
    return;
  }
  bool buffered = false;
  if (!open_standard_output(output, buffered)) {
    refuse("output can not be written to a terminal: give OUT a file name, or redirect "
           "standard output");
  }
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
  const MeshForm from = detect_mesh_form(input);
  OutputFile output;
  std::string dropped; // the table's other columns, which only a TQS file keeps
  if (*format == MeshFormat::tqs && from == MeshForm::sf7) {
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
    open_output(request, *format, output);
    write_sf7_tqs(table, output, factor);
  } else {
    MeshReadOptions options = request.read;
    // TQS arrays and on-axis tables hold no frequency: an RF table needs none to go there.
    options.frequency_may_be_unknown = *format == MeshFormat::tqs || *format == MeshFormat::on_axis;
    FieldMesh mesh = read_mesh(input, from, options);
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
    check_mesh_for_form(mesh, *format, request.output.c_str());
    open_output(request, *format, output);
    write_checked_mesh(mesh, *format, output);
  }
  close_output_file(output);
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
