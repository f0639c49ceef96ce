// Any bytes as a 3-D map: as one file of an ASTRA 3-D map (3D_fuzz.ex, the only file of its
// base), as an Impact-T 3-D file and as the one file of a TraceWin 3-D map (fuzz.edx), each read
// into a whole mesh (mesh_inputs.h) or a norvalex::Error that names the file; and each line as a
// record of complex values, whose items never lie outside it. Nothing read or written outside its
// buffers.
#include "fuzz_support.h"
#include "mesh_inputs.h"
#include "norvalex/mesh.h"
#include "text/list_directed.h"

#include <array>
#include <complex>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

using namespace norvalex;

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

  static const FuzzInputFile input("3D_fuzz.ex");
  static const FuzzInputFile tracewin("fuzz.edx");
  const std::string& path = input.hold(bytes);
  const std::string& tracewin_path = tracewin.hold(bytes);
  MeshReadOptions options;
  options.frequency_may_be_unknown = true;
  if ((size & 1) != 0)
    options.frequency = 1e9;
  for (const auto& [form, file] : {std::pair{MeshForm::astra_3d, &path},
                                   {MeshForm::impact_3d, &path},
                                   {MeshForm::tracewin_3d, &tracewin_path}}) {
    try {
      check_read_mesh(read_mesh(file->c_str(), form, options));
    } catch (const Error& error) {
      FUZZ_CHECK(error.file_name() == *file);
    }
  }
  return 0;
}
