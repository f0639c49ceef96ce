// What the fuzz targets of the mesh readers share: the file that holds an input for a reader
// that takes a path, and the checks of a mesh read from it.
#pragma once

#include "fuzz_support.h"
#include "norvalex/mesh.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

// The file `name` in a folder of this process, removed when the process ends.
class FuzzInputFile {
public:
  explicit FuzzInputFile(const char* name) {
    char folder[] = "/tmp/mesh_fuzzer.XXXXXX";
    FUZZ_CHECK(mkdtemp(folder) != nullptr);
    folder_ = folder;
    path_ = folder_ + "/" + name;
  }
  ~FuzzInputFile() {
    std::remove(path_.c_str());
    rmdir(folder_.c_str());
  }
  FuzzInputFile(const FuzzInputFile&) = delete;
  FuzzInputFile& operator=(const FuzzInputFile&) = delete;

  // Writes `bytes` as the whole file: its path.
  const std::string& hold(std::string_view bytes) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);
    return path_;
  }

private:
  std::string folder_;
  std::string path_;
};

// A mesh read is whole, with finite axes and frequency, and one that every writer's check
// (check_mesh) lets through.
inline void check_read_mesh(const norvalex::FieldMesh& mesh) {
  try {
    norvalex::check_mesh(mesh);
  } catch (const norvalex::Error&) {
    FUZZ_CHECK(false);
  }
  for (const norvalex::MeshAxis& axis : mesh.axes) {
    FUZZ_CHECK(axis.points >= 1);
    FUZZ_CHECK(std::isfinite(axis.origin) && std::isfinite(axis.spacing));
  }
  FUZZ_CHECK(std::isfinite(mesh.frequency));
  for (const norvalex::MeshComponent& component : mesh.components)
    FUZZ_CHECK(component.values.size() == mesh.point_count());
}
