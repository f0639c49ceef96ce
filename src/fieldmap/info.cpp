#include "fieldmap/info.h"

#include "cli/diagnostics.h"
#include "cli/text_output.h"
#include "mesh/real_fields.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace norvalex {

namespace {

const char* unit_of(const MeshComponent& component) {
  return component.field == FieldKind::electric ? "V/m" : "T";
}

// The smallest and the largest value of an array.
struct Range {
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();

  void add(double x) {
    min = std::min(min, x);
    max = std::max(max, x);
  }
};

// What info tells of a mesh.
struct Description {
  // The components' ranges of their real amplitudes, or of their magnitudes where the fields
  // need more than one phase.
  bool real_amplitudes = true;
  std::vector<Range> components;
  std::vector<Range> columns;
  std::optional<OnAxisPeak> peak;
  const MeshComponent* peak_component = nullptr;
  const MeshAxis* peak_axis = nullptr;
  std::string no_peak; // why there is none
};

Description describe(const FieldMesh& mesh) {
  Description description;
  std::optional<RealFields> fields;
  try {
    fields.emplace(mesh);
  } catch (const Error&) {
    description.real_amplitudes = false;
  }
  for (const MeshComponent& component : mesh.components) {
    Range range;
    for (std::size_t k = 0; k < component.values.size(); ++k)
      range.add(fields ? fields->value(component, k)
                       : std::abs(component.values[k]) * std::abs(mesh.field_scale));
    description.components.push_back(range);
  }
  for (const MeshColumn& column : mesh.columns) {
    Range range;
    for (std::size_t k = 0; k < column.values.size(); ++k)
      range.add(column.values[k]);
    description.columns.push_back(range);
  }
  try {
    const OnAxisField axis = on_axis_field(mesh);
    description.peak = on_axis_peak(mesh);
    description.peak_component = axis.component;
    description.peak_axis = &mesh.axes[static_cast<std::size_t>(axis.axis)];
  } catch (const Error& error) {
    // The reason stands after the file's name.
    std::string text = error.what();
    const std::string file = error.file_name() + ": ";
    if (text.starts_with(file))
      text.erase(0, file.size());
    description.no_peak = text;
  }
  return description;
}

double axis_end(const MeshAxis& axis) {
  return axis.origin + static_cast<double>(axis.points - 1) * axis.spacing;
}

void write_text(Output& out, const FieldMesh& mesh, const Description& d) {
  out << "file       " << listing_text(mesh.source.file) << "\n";
  out << "form       " << mesh_form_info(mesh.source.form).title << "\n";
  out << "problem    " << problem_kind_name(mesh.source.problem) << "\n";
  out << "geometry   "
      << (mesh.geometry == MeshGeometry::cylindrical ? "cylindrical" : "rectangular") << "\n";
  out << "frequency  ";
  if (mesh.frequency == 0 && mesh.harmonic != 0) {
    out << "not stated in the file (give --frequency)\n";
  } else {
    out << shortest_text(mesh.frequency) << " Hz\n";
  }
  // What the reader tells of the file beyond the mesh, in its own lines.
  for (const MeshNote& note : mesh.source.notes) {
    const std::string label = listing_text(note.label);
    out << label << std::string(label.size() < 11 ? 11 - label.size() : 1, ' ')
        << listing_text(note.text) << "\n";
  }
  out << "\n";
  TextTable grid({{"axis", false},
                  {"points", true},
                  {"from (m)", true},
                  {"to (m)", true},
                  {"spacing (m)", true}});
  for (const MeshAxis& axis : mesh.axes) {
    grid.add_row({axis.label, std::to_string(axis.points), shortest_text(axis.origin),
                  shortest_text(axis_end(axis)), shortest_text(axis.spacing)});
  }
  grid.write(out);
  if (!mesh.components.empty() || !mesh.columns.empty()) {
    out << "\n";
    TextTable values({{"component", false}, {"unit", false}, {"min", true}, {"max", true}});
    for (std::size_t k = 0; k < mesh.components.size(); ++k) {
      const MeshComponent& component = mesh.components[k];
      values.add_row({component.name(), unit_of(component), shortest_text(d.components[k].min),
                      shortest_text(d.components[k].max)});
    }
    for (std::size_t k = 0; k < mesh.columns.size(); ++k) {
      const MeshColumn& column = mesh.columns[k];
      values.add_row({listing_text(column.name), listing_text(column.unit),
                      shortest_text(d.columns[k].min), shortest_text(d.columns[k].max)});
    }
    values.write(out);
    if (!d.real_amplitudes) {
      out << "(the fields need more than one phase: min and max of the magnitudes)\n";
    }
  }
  out << "\non-axis peak  ";
  if (d.peak) {
    out << shortest_text(d.peak->value) << " " << unit_of(*d.peak_component) << " ("
        << d.peak_component->name() << ") at " << d.peak_axis->label << " = "
        << shortest_text(d.peak->position) << " m\n";
  } else {
    out << "none: " << listing_text(d.no_peak) << "\n";
  }
}

void write_json(Output& out, const FieldMesh& mesh, const Description& d) {
  out << "{\n";
  out << "  \"file\": " << json_string(mesh.source.file) << ",\n";
  out << "  \"form\": " << json_string(mesh_form_name(mesh.source.form)) << ",\n";
  out << "  \"problem\": " << json_string(problem_kind_name(mesh.source.problem)) << ",\n";
  out << "  \"geometry\": "
      << json_string(mesh.geometry == MeshGeometry::cylindrical ? "cylindrical" : "rectangular")
      << ",\n";
  out << "  \"frequency\": "
      << (mesh.frequency == 0 && mesh.harmonic != 0 ? "null" : json_number(mesh.frequency))
      << ",\n";
  out << "  \"harmonic\": " << std::to_string(mesh.harmonic) << ",\n";
  if (!mesh.source.notes.empty()) {
    out << "  \"notes\": {";
    for (std::size_t k = 0; k < mesh.source.notes.size(); ++k) {
      const MeshNote& note = mesh.source.notes[k];
      out << (k == 0 ? "\n    " : ",\n    ") << json_string(note.label) << ": "
          << json_string(note.text);
    }
    out << "\n  },\n";
  }
  out << "  \"axes\": [";
  for (std::size_t k = 0; k < mesh.axes.size(); ++k) {
    const MeshAxis& axis = mesh.axes[k];
    out << (k == 0 ? "\n    " : ",\n    ") << "{\"label\": " << json_string(axis.label)
        << ", \"points\": " << std::to_string(axis.points)
        << ", \"from\": " << json_number(axis.origin) << ", \"to\": " << json_number(axis_end(axis))
        << ", \"spacing\": " << json_number(axis.spacing) << "}";
  }
  out << "\n  ],\n";
  out << "  \"amplitudes\": " << json_string(d.real_amplitudes ? "real" : "magnitude") << ",\n";
  out << "  \"components\": [";
  for (std::size_t k = 0; k < mesh.components.size(); ++k) {
    const MeshComponent& component = mesh.components[k];
    out << (k == 0 ? "\n    " : ",\n    ") << "{\"name\": " << json_string(component.name())
        << ", \"unit\": " << json_string(unit_of(component))
        << ", \"min\": " << json_number(d.components[k].min)
        << ", \"max\": " << json_number(d.components[k].max) << "}";
  }
  out << (mesh.components.empty() ? "],\n" : "\n  ],\n");
  out << "  \"columns\": [";
  for (std::size_t k = 0; k < mesh.columns.size(); ++k) {
    const MeshColumn& column = mesh.columns[k];
    out << (k == 0 ? "\n    " : ",\n    ") << "{\"name\": " << json_string(column.name)
        << ", \"unit\": " << json_string(column.unit)
        << ", \"min\": " << json_number(d.columns[k].min)
        << ", \"max\": " << json_number(d.columns[k].max) << "}";
  }
  out << (mesh.columns.empty() ? "],\n" : "\n  ],\n");
  out << "  \"on_axis_peak\": ";
  if (d.peak) {
    out << "{\"component\": " << json_string(d.peak_component->name())
        << ", \"unit\": " << json_string(unit_of(*d.peak_component))
        << ", \"value\": " << json_number(d.peak->value)
        << ", \"axis\": " << json_string(d.peak_axis->label)
        << ", \"position\": " << json_number(d.peak->position) << "}\n";
  } else {
    out << "null\n";
  }
  out << "}\n";
}

} // namespace

void write_info(const FieldmapRequest& request) {
  const WorkingOn reading(request.input.c_str());
  MeshReadOptions options = read_options(request);
  options.frequency_may_be_unknown = true;
  double departure = 0; // in the map's notes
  const FieldMesh mesh =
      requested_map(request.from ? read_mesh(request.input.c_str(), *request.from, options)
                                 : read_mesh(request.input.c_str(), options),
                    request, departure);
  const Description description = describe(mesh);
  Output out;
  if (request.json) {
    write_json(out, mesh, description);
  } else {
    write_text(out, mesh, description);
  }
  out.finish();
}

} // namespace norvalex
