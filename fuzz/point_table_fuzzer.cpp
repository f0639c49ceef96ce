// Any bytes as a table of points of the 3-D exports: as they are, read in the form their content
// tells (CST, HFSS, Opera or any other), and after a header of each form, so that the points
// themselves reach the engine that finds their grid. A mesh that check_mesh takes, or a
// norvalex::Error about the file; nothing read or written outside the buffers.
#include "fuzz_support.h"
#include "mesh_inputs.h"
#include "norvalex/mesh.h"

#include <cstdint>
#include <string>

using namespace norvalex;

namespace {

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
  static const FuzzInputFile input("table");
  const std::string& path = input.hold(HEADERS[size % std::size(HEADERS)] +
                                       std::string(reinterpret_cast<const char*>(data), size));
  MeshReadOptions options;
  options.frequency = 1.3e9;
  try {
    check_read_mesh(read_mesh(path.c_str(), options));
  } catch (const Error& error) {
    FUZZ_CHECK(error.file_name() == path);
  }
  return 0;
}
