#include "fieldmap/fieldmap_options.h"

#include "cli/diagnostics.h"
#include "cli/help.h"
#include "cli/long_options.h"
#include "cli/text_output.h"

#include "norvalex/version.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace norvalex {

namespace {

// "tqs, openpmd, t7 or onaxis": the names, or the extensions (".h5 or .hdf5"), of the forms
// that are written, in the table's order.
std::string written_forms(bool extensions) {
  std::vector<std::string> words;
  for (const MeshFormInfo& info : mesh_forms()) {
    if (!info.writable)
      continue;
    if (!extensions) {
      words.emplace_back(info.name);
      continue;
    }
    std::string word;
    for (const char* extension : info.extensions) {
      if (extension != nullptr)
        word += (word.empty() ? "" : " or ") + std::string(extension);
    }
    words.push_back(word);
  }
  std::string text;
  for (std::size_t k = 0; k < words.size(); ++k)
    text += (k == 0 ? "" : k + 1 == words.size() && !extensions ? " or " : ", ") + words[k];
  return text;
}

// What the option rows set during one parse.
struct OptionTargets {
  int help = 0;
  int version = 0;
  const char* to = nullptr;
  const char* field = nullptr;
  int planar = 0;
  const char* frequency = nullptr;
  const char* scale = nullptr;
  const char* normalize = nullptr;
  int json = 0;
  // The text of --to's row, which names the forms written.
  std::string to_description =
      "convert: OUT's format, " + written_forms(false) + " (default: by its extension)";
};

std::array<OptionSpec, 11> option_table(OptionTargets& targets) {
  return {{
      {' ', nullptr, nullptr, "IN [OUT]",
       "convert Superfish field maps between SF7, T7, openPMD, on-axis and TQS files"},
      {'h', &targets.help, set_flag, nullptr, "Give this help and quit"},
      {'V', &targets.version, set_flag, nullptr, "Print the version and quit"},
      {'t', &targets.to, set_string, "format", targets.to_description.c_str()},
      {'f', &targets.field, set_string, "field", "A static T7 file's field: electric or magnetic"},
      {'p', &targets.planar, set_flag, nullptr, "A static T7 file's map is planar (x, y)"},
      {'F', &targets.frequency, set_string, "hz", "An RF table's frequency, in Hz"},
      {'s', &targets.scale, set_string, "factor", "convert: multiply the field by factor"},
      {'n', &targets.normalize, set_string, "value",
       "convert: scale the field to an on-axis peak |Ez| or |Bz| of value (V/m or T)"},
      {'j', &targets.json, set_flag, nullptr, "info: print one JSON document"},
      {0, nullptr, nullptr, nullptr, "unknown option -"},
  }};
}

constexpr LongOption long_options[] = {
    {"help", 'h'},      {"version", 'V'}, {"to", 't'},        {"field", 'f'}, {"planar", 'p'},
    {"frequency", 'F'}, {"scale", 's'},   {"normalize", 'n'}, {"json", 'j'},
};

// `text` in lines of at most 80 characters, each ended by a line feed, broken at blanks.
std::string wrapped(const std::string& text) {
  constexpr std::size_t width = 80;
  std::string lines;
  std::size_t line_start = 0;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find(' ', from);
    if (end == std::string::npos)
      end = text.size();
    if (lines.size() > line_start && lines.size() - line_start + 1 + (end - from) > width) {
      lines += '\n';
      line_start = lines.size();
    } else if (lines.size() > line_start) {
      lines += ' ';
    }
    lines.append(text, from, end - from);
    from = end + 1;
  }
  return lines + '\n';
}

void print_stdout(const char* text) {
  std::fputs(text, stdout);
}

[[noreturn]] void print_fieldmap_help(OptionTable table) {
  const std::string name = shown_program_name();
  std::printf("%s %s - %s\n", name.c_str(), NORVALEX_VERSION_STRING, table[0].description);
  std::printf("usage: %s convert [options] IN OUT\n", name.c_str());
  std::printf("       %s info [options] IN\n", name.c_str());
  std::printf("\noptions:\n");
  print_option_lines(table, long_options, print_stdout);
  std::printf("\n%s",
              wrapped("IN is an SF7 table, a T7 file, an openPMD file or a TQS file written "
                      "from a map, told by its content. OUT's format is told by its "
                      "extension (" +
                      written_forms(true) +
                      ") or --to; \"-\" is standard output, for every format but "
                      "openPMD.")
                  .c_str());
  std::printf("Options stand in front of the file names; -- ends them.\n");
  flush_stdout();
  end_process(0);
}

// A number option's value: all of its text one finite number.
double number_of(const char* option, const char* text) {
  char* stop = nullptr;
  const double value = std::strtod(text, &stop);
  if (stop == text || *stop != '\0' || !std::isfinite(value)) {
    refuse(std::string("--") + option + " needs a number, not \"" + text + "\"");
  }
  return value;
}

} // namespace

std::optional<MeshFormat> format_of_name(const std::string& name) {
  const MeshFormInfo* form = mesh_form_of_path(name);
  if (form == nullptr || !form->writable)
    return std::nullopt;
  return form->form;
}

FieldmapRequest read_fieldmap_command_line(int argc, char** argv) {
  OptionTargets targets;
  const std::array<OptionSpec, 11> table = option_table(targets);
  // The command word comes first; a command line without one may still ask for help.
  const bool has_command = argc > 1 && argv[1][0] != '-';
  const CommandLine words(table.data(), long_options, argc, argv, has_command ? 2 : 1);
  if (targets.help) {
    print_fieldmap_help(table.data());
  }
  if (targets.version) {
    print_program_version();
  }
  if (!has_command) {
    refuse("no command given: convert or info; \"fieldmap --help\" lists the options");
  }
  FieldmapRequest request;
  const std::string_view command = argv[1];
  if (command == "convert") {
    request.command = FieldmapCommand::convert;
  } else if (command == "info") {
    request.command = FieldmapCommand::info;
  } else {
    refuse("unknown command " + listing_text(command, true) + ": convert or info");
  }
  const bool convert = request.command == FieldmapCommand::convert;
  const std::size_t wanted = convert ? 2 : 1;
  if (words.operands().size() != wanted) {
    const std::size_t given = words.operands().size();
    refuse(std::string(convert ? "convert reads IN and writes OUT" : "info reads one file IN") +
           ", not " + std::to_string(given) + (given == 1 ? " file name" : " file names"));
  }
  request.input = words.operands()[0];
  if (convert) {
    request.output = words.operands()[1];
  } else if (targets.to || targets.scale || targets.normalize) {
    refuse("--to, --scale and --normalize go with convert only");
  }
  if (convert && targets.json) {
    refuse("--json goes with info only");
  }
  request.json = targets.json != 0;
  if (targets.to) {
    const MeshFormInfo* form = find_mesh_form(targets.to);
    if (form == nullptr || !form->writable) {
      refuse("--to needs " + written_forms(false) + ", not " + listing_text(targets.to, true));
    }
    request.to = form->form;
  }
  if (targets.field) {
    const std::string field = targets.field;
    if (field != "electric" && field != "magnetic") {
      refuse("--field needs electric or magnetic, not " + listing_text(field, true));
    }
    request.read.field = field == "electric" ? FieldKind::electric : FieldKind::magnetic;
  }
  if (targets.planar) {
    request.read.geometry = MeshGeometry::rectangular;
  }
  if (targets.frequency) {
    request.read.frequency = number_of("frequency", targets.frequency);
    if (!(*request.read.frequency > 0)) {
      refuse("--frequency needs a positive number of Hz");
    }
  }
  if (targets.scale) {
    request.scale = number_of("scale", targets.scale);
  }
  if (targets.normalize) {
    request.normalize = number_of("normalize", targets.normalize);
    if (!(*request.normalize > 0)) {
      refuse("--normalize needs a positive peak");
    }
  }
  if (request.scale && request.normalize) {
    refuse("--scale and --normalize do not go together");
  }
  return request;
}

} // namespace norvalex
