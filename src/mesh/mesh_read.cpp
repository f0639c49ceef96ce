// The form of a file told from its first bytes, and the reading of any form as a mesh.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "norvalex/tqs.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace norvalex {

namespace {

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

constexpr unsigned char HDF5_SIGNATURE[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// True when the first line of `text` is three numbers, as a T7 file's first line is.
bool starts_like_t7(const char* text, std::size_t length) {
  const char* p = text;
  const char* const end = text + length;
  int numbers = 0;
  for (;;) {
    while (p < end && *p != '\n' && is_space(*p))
      ++p;
    if (p == end || *p == '\n')
      return numbers == 3;
    char* stop = nullptr;
    std::strtod(p, &stop);
    if (stop == p || (stop < end && !is_space(*stop)) || ++numbers > 3)
      return false;
    p = stop;
  }
}

} // namespace

MeshForm detect_mesh_form(const char* path) {
  const std::unique_ptr<std::FILE, FileCloser> stream(platform_open_input(path));
  if (!stream) {
    const int error_number = errno;
    raise_input_failure(path, error_number, "%s: %s", path, platform_error_text(error_number));
  }
  // A NUL after the bytes read ends every scan below.
  char start[1025] = {};
  const std::size_t length = std::fread(start, 1, sizeof start - 1, stream.get());
  if (length >= sizeof HDF5_SIGNATURE && std::memcmp(start, HDF5_SIGNATURE, 8) == 0)
    return MeshForm::openpmd;
  if (length >= 4) {
    std::uint32_t magic;
    std::memcpy(&magic, start, sizeof magic);
    TqsBlockHeader block{};
    if (length >= sizeof block)
      std::memcpy(&block, start, sizeof block);
    if (magic == TQS_MAGIC || tqs_is_creator_block(block.type, block.name))
      return MeshForm::tqs;
  }
  return starts_like_t7(start, length) ? MeshForm::t7 : MeshForm::sf7;
}

FieldMesh read_mesh(const char* path, const MeshReadOptions& options) {
  switch (detect_mesh_form(path)) {
  case MeshForm::openpmd:
    return read_openpmd_mesh(path, options);
  case MeshForm::t7:
    return read_t7_mesh(path, options);
  case MeshForm::tqs:
    return read_tqs_mesh(path, options);
  case MeshForm::sf7:
    break;
  }
  return read_sf7_mesh(path, options);
}

} // namespace norvalex
