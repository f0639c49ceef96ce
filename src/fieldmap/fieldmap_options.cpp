#include "fieldmap/fieldmap_options.h"

#include "cli/diagnostics.h"
#include "cli/help.h"
#include "cli/long_options.h"
#include "cli/text_output.h"

#include "norvalex/version.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvalex {

namespace {

// "a, b or c".
std::string listed(const std::vector<std::string>& words, const char* last = " or ") {
  std::string text;
  for (std::size_t k = 0; k < words.size(); ++k)
    text += (k == 0 ? "" : k + 1 == words.size() ? last : ", ") + words[k];
  return text;
}

// The names of the forms that are written (or read), in the table's order.
std::vector<std::string> form_names(bool written) {
  std::vector<std::string> names;
  for (const MeshFormInfo& info : mesh_forms()) {
    if (written ? info.writable : info.readable)
      names.emplace_back(info.name);
  }
  return names;
}

// The names of the written forms that take the write option `bit`.
std::string forms_taking(unsigned bit) {
  std::vector<std::string> names;
  for (const MeshFormInfo& info : mesh_forms()) {
    if (info.writable && (info.write_options & bit) != 0)
      names.emplace_back(info.name);
  }
  return listed(names, ", ");
}

// What the option rows set during one parse.
struct OptionTargets {
  int help = 0;
  int version = 0;
  const char* from = nullptr;
  const char* with = nullptr;
  const char* to = nullptr;
  const char* field = nullptr;
  int planar = 0;
  const char* frequency = nullptr;
  const char* points = nullptr;
  const char* resample = nullptr;
  const char* scale = nullptr;
  const char* normalize = nullptr;
  const char* coefficients = nullptr;
  int ascii = 0;
  int mirror = 0;
  const char* z_offset = nullptr;
  const char* plane = nullptr;
  int cylindrical = 0;
  int json = 0;
  // The texts of the rows that name forms, which live as long as the table.
  std::string from_text = "IN's form, " + listed(form_names(false)) + " (default: by its content)";
  std::string to_text =
      "convert: OUT's form, " + listed(form_names(true)) + " (default: by its name)";
  std::string coefficients_text =
      "convert: values of each Fourier block, odd (" + forms_taking(MESH_OPTION_COEFFICIENTS) + ")";
  std::string ascii_text =
      "convert: text data, not binary (" + forms_taking(MESH_OPTION_ASCII) + ")";
  std::string mirror_text =
      "convert: the map mirrored about its first z (" + forms_taking(MESH_OPTION_MIRROR) + ")";
  std::string z_offset_text =
      "convert: m added to the positions written (" + forms_taking(MESH_OPTION_Z_OFFSET) + ")";
};

constexpr std::size_t OPTION_ROWS = 21;

std::array<OptionSpec, OPTION_ROWS> option_table(OptionTargets& targets) {
  return {{
      {' ', nullptr, nullptr, "IN [OUT]",
       "convert field maps between Superfish's forms, openPMD and the trackers' own files"},
      {'h', &targets.help, set_flag, nullptr, "Give this help and quit"},
      {'V', &targets.version, set_flag, nullptr, "Print the version and quit"},
      {'r', &targets.from, set_string, "form", targets.from_text.c_str()},
      {'w', &targets.with, set_string, "file",
       "A second file of IN's form whose fields join IN's (E and H exported apart)"},
      {'t', &targets.to, set_string, "form", targets.to_text.c_str()},
      {'f', &targets.field, set_string, "field",
       "The field of a file that does not say: electric or magnetic"},
      {'p', &targets.planar, set_flag, nullptr, "A static T7 file's map is planar (x, y)"},
      {'F', &targets.frequency, set_string, "hz", "An RF map's frequency, in Hz"},
      {'P', &targets.points, set_string, "n", "Points of a field read as a series (default 401)"},
      {'R', &targets.resample, set_string, "n",
       "Read a 1-D map on n equally spaced points (a cubic spline)"},
      {'s', &targets.scale, set_string, "factor", "convert: multiply the field by factor"},
      {'n', &targets.normalize, set_string, "value",
       "convert: scale the field to an on-axis peak |Ez| or |Bz| of value (V/m or T), or OPAL's "
       "TRUE or FALSE"},
      {'c', &targets.coefficients, set_string, "n", targets.coefficients_text.c_str()},
      {'a', &targets.ascii, set_flag, nullptr, targets.ascii_text.c_str()},
      {'m', &targets.mirror, set_flag, nullptr, targets.mirror_text.c_str()},
      {'z', &targets.z_offset, set_string, "m", targets.z_offset_text.c_str()},
      {'l', &targets.plane, set_string, "axis=m",
       "A 3-D map's grid plane where x, y or z is m (e.g. y=0)"},
      {'C', &targets.cylindrical, set_flag, nullptr,
       "A 3-D map's r-z map, from x >= 0 at y = 0, and its departure from symmetry"},
      {'j', &targets.json, set_flag, nullptr, "info: print one JSON document"},
      {0, nullptr, nullptr, nullptr, "unknown option -"},
  }};
}

constexpr LongOption long_options[] = {
    {"help", 'h'},         {"version", 'V'},     {"from", 'r'},   {"with", 'w'},
    {"to", 't'},           {"field", 'f'},       {"planar", 'p'}, {"frequency", 'F'},
    {"points", 'P'},       {"resample", 'R'},    {"scale", 's'},  {"normalize", 'n'},
    {"coefficients", 'c'}, {"ascii", 'a'},       {"mirror", 'm'}, {"z-offset", 'z'},
    {"plane", 'l'},        {"cylindrical", 'C'}, {"json", 'j'},
};

void print_stdout(const char* text) {
  std::fputs(text, stdout);
}

// One line per form: its name, what it is, whether it is read and written, and the names of its
// files.
void print_forms() {
  TextTable forms({{"form", false}, {"what it is", false}, {"use", false}, {"files", false}});
  for (const MeshFormInfo& info : mesh_forms()) {
    std::vector<std::string> names;
    for (const char* extension : info.extensions)
      names.push_back(std::string("*").append(extension));
    if (info.file_names[0] != '\0')
      names.emplace_back(info.file_names);
    std::string files;
    for (const std::string& file_name : names)
      files.append(files.empty() ? "" : " ").append(file_name);
    const std::string ways = std::string(info.readable ? "in" : "") +
                             (info.readable && info.writable ? ", " : "") +
                             (info.writable ? "out" : "");
    forms.add_row({info.name, info.title, ways, files});
  }
  Output out;
  forms.write(out);
  out.finish();
}

[[noreturn]] void print_fieldmap_help(OptionTable table) {
  const std::string name = shown_program_name();
  std::printf("%s %s - %s\n", name.c_str(), NORVALEX_VERSION_STRING, table[0].description);
  std::printf("usage: %s convert [options] IN OUT\n", name.c_str());
  std::printf("       %s info [options] IN\n", name.c_str());
  std::printf("\noptions:\n");
  print_option_lines(table, long_options, print_stdout);
  std::printf("\n");
  flush_stdout();
  print_forms();
  std::printf("\nIN's form is told by its content where the form has a signature, else by its\n"
              "name, or given with --from; OUT's by its name or --to. \"-\" is standard output,\n"
              "for every form written as one file but openPMD. Options stand in front of the\n"
              "file names; -- ends them.\n");
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

// A count option's value: a whole number from `least` on.
std::int64_t count_of(const char* option, const char* text, std::int64_t least) {
  char* stop = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &stop, 10);
  if (stop == text || *stop != '\0' || errno != 0 || value < least) {
    refuse(std::string("--") + option + " needs a whole number from " + std::to_string(least) +
           " on, not " + listing_text(text, true));
  }
  return value;
}

// The form named by an option's value, one that `direction` ("read" or "written") allows.
MeshForm form_of(const char* option, const char* text, bool written) {
  const MeshFormInfo* form = find_mesh_form(text);
  if (form == nullptr || !(written ? form->writable : form->readable)) {
    refuse(std::string("--") + option + " needs " + listed(form_names(written)) + ", not " +
           listing_text(text, true));
  }
  return form->form;
}

} // namespace

FieldMesh requested_map(FieldMesh mesh, const FieldmapRequest& request, double& departure) {
  departure = 0;
  if (request.plane)
    return mesh_plane(mesh, request.plane->axis, request.plane->value);
  if (request.cylindrical) {
    CylindricalMap map = mesh_cylindrical(mesh);
    departure = map.departure;
    return std::move(map.mesh);
  }
  return mesh;
}

std::optional<MeshFormat> format_of_name(const std::string& name) {
  const MeshFormInfo* form = mesh_form_of_path(name);
  if (form == nullptr || !form->writable)
    return std::nullopt;
  return form->form;
}

MeshReadOptions read_options(const FieldmapRequest& request) {
  MeshReadOptions options = request.read;
  options.with_file = request.with.empty() ? nullptr : request.with.c_str();
  return options;
}

FieldmapRequest read_fieldmap_command_line(int argc, char** argv) {
  OptionTargets targets;
  const std::array<OptionSpec, OPTION_ROWS> table = option_table(targets);
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
  } else if (targets.coefficients || targets.ascii || targets.mirror || targets.z_offset) {
    refuse("--coefficients, --ascii, --mirror and --z-offset go with convert only");
  }
  if (convert && targets.json) {
    refuse("--json goes with info only");
  }
  request.json = targets.json != 0;
  if (targets.from) {
    request.from = form_of("from", targets.from, false);
  }
  if (targets.with) {
    request.with = targets.with;
  }
  if (targets.to) {
    request.to = form_of("to", targets.to, true);
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
  if (targets.points) {
    request.read.points = count_of("points", targets.points, 2);
  }
  if (targets.resample) {
    request.read.resample = count_of("resample", targets.resample, 2);
  }
  if (targets.scale) {
    request.scale = number_of("scale", targets.scale);
  }
  if (targets.normalize) {
    const std::string_view word = targets.normalize;
    if (word == "TRUE" || word == "FALSE") {
      request.write.normalize_word = word == "TRUE";
    } else {
      request.normalize = number_of("normalize", targets.normalize);
      if (!(*request.normalize > 0)) {
        refuse("--normalize needs a positive peak");
      }
    }
  }
  if (request.scale && targets.normalize) {
    refuse("--scale and --normalize do not go together");
  }
  if (targets.coefficients) {
    request.write.coefficients = count_of("coefficients", targets.coefficients, 1);
  }
  request.write.ascii = targets.ascii != 0;
  request.write.mirror = targets.mirror != 0;
  if (targets.z_offset) {
    request.write.z_offset = number_of("z-offset", targets.z_offset);
  }
  if (targets.plane) {
    const std::string_view choice = targets.plane;
    const std::size_t equals = choice.find('=');
    const std::string axis(choice.substr(0, equals));
    char* stop = nullptr;
    const std::string value(equals == std::string_view::npos ? "" : choice.substr(equals + 1));
    const double position = std::strtod(value.c_str(), &stop);
    if ((axis != "x" && axis != "y" && axis != "z") || value.empty() || *stop != '\0' ||
        !std::isfinite(position)) {
      refuse("--plane needs AXIS=M, the axis x, y or z and a position in m, not " +
             listing_text(choice, true));
    }
    request.plane = PlaneChoice{axis, position};
  }
  request.cylindrical = targets.cylindrical != 0;
  if (request.plane && request.cylindrical) {
    refuse("--plane and --cylindrical do not go together");
  }
  return request;
}

} // namespace norvalex
