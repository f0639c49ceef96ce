// Any bytes as a table of points of the 3-D exports: as they are, read in the form their content
// tells (CST, HFSS, Opera or any other), and after a header of each form, so that the points
// themselves reach the engine that finds their grid. A mesh that check_mesh takes (whole axes,
// finite positive spacings, an array of the grid's points per component), or a norvalex::Error
// about the file; nothing read or written outside the buffers.
#include "fuzz_support.h"
#include "norvalex/mesh.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

using namespace norvalex;

namespace {

// A file of this process that holds the input, removed when the process ends.
struct InputFile {
  std::string path;
  InputFile() {
    char name[] = "/tmp/point_table_fuzzer.XXXXXX";
    const int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0);
    close(fd);
    path = name;
  }
  ~InputFile() { std::remove(path.c_str()); }
};

const std::string& input_path() {
  static const InputFile file;
  return file.path;
}

// The headers put before the bytes: the form's columns, one of each kind.
const std::string HEADERS[] = {
    "",
    "x [mm] y [mm] z [mm] ExRe [V/m] ExIm [V/m] Hz [A/m]\n-----\n",
    "x [cm] y [cm] z [cm] Bx [T] By [G] Bz [mT]\n-----\n",
    "Grid Output Min: [0mm 0mm 0mm]\nX, Y, Z, Complex Vector data \"<Ex,Ey,Ez>\"\n",
    "2 2 2\n1 X [METRE]\n2 Y [MM]\n3 Z [CENTIMETRE]\n4 BX [GAUSS]\n5 POT [V]\n0\n",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes =
      HEADERS[size % std::size(HEADERS)] + std::string(reinterpret_cast<const char*>(data), size);
  std::FILE* file = std::fopen(input_path().c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  FUZZ_CHECK(std::fclose(file) == 0);
  MeshReadOptions options;
  options.frequency = 1.3e9;
  try {
    const FieldMesh mesh = read_mesh(input_path().c_str(), options);
    check_mesh(mesh); // what the readers give, every writer takes
    for (const MeshComponent& component : mesh.components)
      FUZZ_CHECK(component.values.size() == mesh.point_count());
  } catch (const Error& error) {
    FUZZ_CHECK(error.file_name() == input_path());
  }
  return 0;
}
