// Any bytes as an SDDS file. First its header and every page, every numeric column read: each
// page's columns of one length, or a norvalex::Error; no count believed beyond the bytes that
// hold it. Then as a file read into a mesh, with the choices the input's size picks: a mesh that
// check_read_mesh passes, or a norvalex::Error; and a mesh that the SDDS writer takes is written
// and read back as a mesh of the same grid.
#include "mesh/sdds.h"
#include "mesh_inputs.h"
#include "norvalex/mesh.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace norvalex;

namespace {

void check_pages(const std::string& path_text, const std::string& bytes) {
  const char* const path = path_text.c_str();
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
    FUZZ_CHECK(error.file_name() == path_text);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  static const FuzzInputFile input("fuzz.sdds");
  static const FuzzInputFile output("out.sdds");
  const std::string& path = input.hold(bytes);
  check_pages(path, bytes);

  MeshReadOptions options;
  options.frequency_may_be_unknown = true;
  if (size % 3 != 0)
    options.field = size % 3 == 1 ? FieldKind::electric : FieldKind::magnetic;
  if (size % 5 == 0)
    options.resample = static_cast<std::int64_t>(size % 64);
  FieldMesh mesh;
  try {
    mesh = read_mesh(path.c_str(), MeshForm::sdds, options);
  } catch (const Error& error) {
    FUZZ_CHECK(error.file_name() == path);
    return 0;
  }
  check_read_mesh(mesh);
  MeshWriteOptions write;
  write.ascii = (size & 1) != 0;
  const std::string& written = output.hold(""); // its name; the writer replaces it
  try {
    write_mesh_file(mesh, MeshFormat::sdds, written.c_str(), write);
  } catch (const Error&) {
    return 0; // a map that the form cannot hold, refused before anything is written
  }
  options.resample.reset();
  const FieldMesh back = read_mesh(written.c_str(), MeshForm::sdds, options);
  check_read_mesh(back);
  FUZZ_CHECK(back.point_count() == mesh.point_count());
  return 0;
}
