// Any bytes as a Bmad grid_field file, text with nesting whose every index and count comes from
// the input: a mesh whose axes, attributes and arrays are whole and finite, or a norvalex::Error
// naming the file; nothing read or written outside its buffers, no grid allocated past the
// mesh's limit. A mesh read is written back as Bmad text when the form holds it, and that text
// reads back as the same mesh, bit for bit.
#include "fuzz_support.h"
#include "norvalex/mesh.h"

#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <string>

using namespace norvalex;

namespace {

// Files of this process that hold the input and the text written back, removed when it ends.
struct InputFiles {
  std::string input;
  std::string written;
  InputFiles() : input(made("/tmp/bmad_reader_fuzzer.XXXXXX")), written(input + ".bmad") {}
  ~InputFiles() {
    std::remove(input.c_str());
    std::remove(written.c_str());
  }
  static std::string made(std::string pattern) {
    const int fd = mkstemp(pattern.data());
    FUZZ_CHECK(fd >= 0);
    close(fd);
    return pattern;
  }
};

const InputFiles& files() {
  static const InputFiles paths;
  return paths;
}

void check_whole(const FieldMesh& mesh) {
  FUZZ_CHECK(mesh.source.form == MeshForm::bmad);
  for (const MeshAxis& axis : mesh.axes) {
    FUZZ_CHECK(axis.points >= 1);
    FUZZ_CHECK(std::isfinite(axis.origin) && std::isfinite(axis.spacing));
    FUZZ_CHECK(axis.points == 1 || axis.spacing > 0);
  }
  FUZZ_CHECK(std::isfinite(mesh.frequency) && std::isfinite(mesh.field_scale));
  FUZZ_CHECK(mesh.harmonic >= 0);
  for (const MeshComponent& component : mesh.components) {
    FUZZ_CHECK(component.values.size() == mesh.point_count());
    for (std::size_t k = 0; k < component.values.size(); ++k)
      FUZZ_CHECK(std::isfinite(std::abs(component.values[k])));
  }
  check_mesh(mesh);
}

void check_same(const FieldMesh& a, const FieldMesh& b) {
  for (std::size_t k = 0; k < 3; ++k) {
    FUZZ_CHECK(a.axes[k].points == b.axes[k].points);
    FUZZ_CHECK(a.axes[k].origin == b.axes[k].origin);
    FUZZ_CHECK(a.axes[k].spacing == b.axes[k].spacing);
  }
  FUZZ_CHECK(a.harmonic == b.harmonic && a.field_scale == b.field_scale);
  FUZZ_CHECK(a.rf_phase == b.rf_phase && a.anchor == b.anchor);
  FUZZ_CHECK(a.components.size() == b.components.size());
  for (std::size_t c = 0; c < a.components.size(); ++c) {
    FUZZ_CHECK(a.components[c].name() == b.components[c].name());
    for (std::size_t k = 0; k < a.point_count(); ++k)
      FUZZ_CHECK(a.components[c].values[k] == b.components[c].values[k]);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const InputFiles& paths = files();
  std::FILE* file = std::fopen(paths.input.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
  // The choices the file may leave open, by the input's length.
  MeshReadOptions options;
  options.field = (size & 1) != 0 ? FieldKind::electric : FieldKind::magnetic;
  if ((size & 2) != 0)
    options.frequency = 1.3e9;
  else
    options.frequency_may_be_unknown = true;
  FieldMesh mesh;
  try {
    mesh = read_mesh(paths.input.c_str(), MeshForm::bmad, options);
  } catch (const Error& error) {
    FUZZ_CHECK(error.file_name() == paths.input);
    return 0;
  }
  check_whole(mesh);
  try {
    write_mesh_file(mesh, MeshFormat::bmad, paths.written.c_str());
  } catch (const Error&) {
    return 0; // a map the form cannot hold: one point along r or z, say
  }
  check_same(mesh, read_mesh(paths.written.c_str(), MeshForm::bmad, options));
  return 0;
}
