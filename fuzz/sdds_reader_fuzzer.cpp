// Any bytes as an SDDS file. First its header and every page, every numeric column read: each
// page's columns of one length, or a norvalex::Error; no count believed beyond the bytes that
// hold it. Then as a file read into a mesh, with the choices the input's size picks: a mesh whose
// axes and arrays are whole and finite, or a norvalex::Error; and a mesh that the SDDS writer
// takes is written and read back as a mesh of the same grid.
#include "fuzz_support.h"
#include "mesh/sdds.h"
#include "norvalex/mesh.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace norvalex;

namespace {

// A file of this process, removed when the process ends.
struct ScratchFile {
  std::string path;
  explicit ScratchFile(const char* suffix) {
    std::string name = std::string("/tmp/sdds_reader_fuzzer.XXXXXX") + suffix;
    const int fd = mkstemps(name.data(), static_cast<int>(std::string(suffix).size()));
    FUZZ_CHECK(fd >= 0);
    close(fd);
    path = name;
  }
  ~ScratchFile() { std::remove(path.c_str()); }
};

const std::string& input_path() {
  static const ScratchFile file(".sdds");
  return file.path;
}

const std::string& output_path() {
  static const ScratchFile file(".sdds");
  return file.path;
}

void check_pages(const std::string& bytes) {
  const char* const path = input_path().c_str();
  try {
    const SddsHeader header = read_sdds_header(path, bytes);
    FUZZ_CHECK(header.data_start <= bytes.size());
    std::vector<std::size_t> wanted;
    for (std::size_t k = 0; k < header.columns.size(); ++k) {
      if (sdds_is_number(header.columns[k].type))
        wanted.push_back(k);
    }
    for (const SddsPage& page : read_sdds_pages(path, bytes, header, wanted, 0)) {
      FUZZ_CHECK(page.size() == wanted.size());
      for (const std::vector<double>& column : page)
        FUZZ_CHECK(column.size() == page.front().size() && column.size() <= bytes.size());
    }
  } catch (const Error& error) {
    FUZZ_CHECK(error.file_name() == input_path());
  }
}

void expect_whole(const FieldMesh& mesh) {
  for (const MeshAxis& axis : mesh.axes) {
    FUZZ_CHECK(axis.points >= 1);
    FUZZ_CHECK(std::isfinite(axis.origin) && std::isfinite(axis.spacing));
  }
  for (const MeshComponent& component : mesh.components)
    FUZZ_CHECK(component.values.size() == mesh.point_count());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  check_pages(bytes);

  std::FILE* file = std::fopen(input_path().c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  FUZZ_CHECK(std::fclose(file) == 0);
  MeshReadOptions options;
  options.frequency_may_be_unknown = true;
  if (size % 3 != 0)
    options.field = size % 3 == 1 ? FieldKind::electric : FieldKind::magnetic;
  if (size % 5 == 0)
    options.resample = static_cast<std::int64_t>(size % 64);
  FieldMesh mesh;
  try {
    mesh = read_mesh(input_path().c_str(), MeshForm::sdds, options);
  } catch (const Error& error) {
    FUZZ_CHECK(error.file_name() == input_path());
    return 0;
  }
  expect_whole(mesh);
  MeshWriteOptions write;
  write.ascii = (size & 1) != 0;
  try {
    write_mesh_file(mesh, MeshFormat::sdds, output_path().c_str(), write);
  } catch (const Error&) {
    return 0; // a map that the form cannot hold, refused before anything is written
  }
  options.resample.reset();
  const FieldMesh back = read_mesh(output_path().c_str(), MeshForm::sdds, options);
  expect_whole(back);
  FUZZ_CHECK(back.point_count() == mesh.point_count());
  return 0;
}
