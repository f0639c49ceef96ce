// Any bytes as a 3-D map: as one file of an ASTRA 3-D map (3D_fuzz.ex, the only file of its
// base) and as an Impact-T 3-D file, each read into a whole mesh (mesh_checks.h) or a
// norvalex::Error that names the file; and each line as a record of complex values, whose items
// never lie outside it. Nothing read or written outside its buffers.
#include "fuzz_support.h"
#include "mesh_checks.h"
#include "norvalex/mesh.h"
#include "text/list_directed.h"

#include <unistd.h>

#include <array>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace norvalex;

namespace {

// A folder of this process that holds the input as 3D_fuzz.ex, removed when the process ends.
struct InputFile {
  std::string folder;
  std::string path;
  InputFile() {
    char name[] = "/tmp/three_d_reader_fuzzer.XXXXXX";
    FUZZ_CHECK(mkdtemp(name) != nullptr);
    folder = name;
    path = folder + "/3D_fuzz.ex";
  }
  ~InputFile() {
    std::remove(path.c_str());
    rmdir(folder.c_str());
  }
};

const std::string& input_path() {
  static const InputFile file;
  return file.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // Every record as complex items: what it reads lies within it.
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t feed = bytes.find('\n', start);
    const std::size_t end = feed == std::string::npos ? bytes.size() : feed + 1;
    const std::string_view record(bytes.data() + start, end - start);
    std::array<std::complex<double>, 6> values{};
    const ListItems items = scan_list_items(record, values);
    FUZZ_CHECK(items.count <= values.size());
    FUZZ_CHECK(items.bad.empty() || (items.bad.data() >= record.data() &&
                                     items.bad.data() + items.bad.size() <= record.end()));
    start = end;
  }

  std::FILE* file = std::fopen(input_path().c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  FUZZ_CHECK(std::fclose(file) == 0);
  MeshReadOptions options;
  options.frequency_may_be_unknown = true;
  if ((size & 1) != 0)
    options.frequency = 1e9;
  for (const MeshForm form : {MeshForm::astra_3d, MeshForm::impact_3d}) {
    try {
      check_read_mesh(read_mesh(input_path().c_str(), form, options));
    } catch (const Error& error) {
      FUZZ_CHECK(error.file_name() == input_path());
    }
  }
  return 0;
}
