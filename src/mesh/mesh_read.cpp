// The form of a file told from its first bytes, and the reading of any form as a mesh.
#include "norvalex/mesh.h"

#include "diag/raise.h"
#include "mesh/mesh_build.h"
#include "mesh/openpmd.h"
#include "norvalex/tqs.h"
#include "platform/platform.h"
#include "sf7/sf7_exact.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace norvalex {

namespace {

// True when a regular file of `length` bytes has the HDF5 signature after a user block of 512,
// 1024, 2048, ... bytes, as the openPMD reader accepts it.
bool hdf5_after_user_block(std::FILE* stream, std::int64_t length) {
  for (std::int64_t offset = 512; offset + 8 <= length; offset *= 2) {
    unsigned char bytes[sizeof HDF5_SIGNATURE];
    if (platform_seek(stream, offset) != 0 || !platform_read_record(bytes, sizeof bytes, stream))
      return false;
    if (std::memcmp(bytes, HDF5_SIGNATURE, sizeof bytes) == 0)
      return true;
  }
  return false;
}

// True when the first line of `text` is three numbers, as a T7 file's first line is.
bool starts_like_t7(const char* text, std::size_t length) {
  const char* p = text;
  const char* const end = text + length;
  int numbers = 0;
  for (;;) {
    while (p < end && *p != '\n' && is_scan_space(*p))
      ++p;
    if (p == end || *p == '\n')
      return numbers == 3;
    char* stop = nullptr;
    std::strtod(p, &stop);
    if (stop == p || (stop < end && !is_scan_space(*stop)) || ++numbers > 3)
      return false;
    p = stop;
  }
}

} // namespace

MeshForm detect_mesh_form(const char* path) {
  const OwnedFile stream = open_mesh_input(path);
  // Its first bytes are read here and again by the reader of its form, which a pipe cannot
  // give twice; and a FIFO's reader would wait for a writer.
  PlatformFileKind kind = PlatformFileKind::other;
  std::int64_t length = 0;
  if (platform_file_status(stream.get(), kind, length) == 0 && kind == PlatformFileKind::other)
    raise_input_failure(path, 0, "%s: not a regular file", path);
  // A NUL after the bytes read ends every scan below.
  char start[1025] = {};
  const std::size_t got = std::fread(start, 1, sizeof start - 1, stream.get());
  if ((got >= sizeof HDF5_SIGNATURE && std::memcmp(start, HDF5_SIGNATURE, 8) == 0) ||
      (kind == PlatformFileKind::regular && hdf5_after_user_block(stream.get(), length)))
    return MeshForm::openpmd;
  if (got >= 4) {
    std::uint32_t magic;
    std::memcpy(&magic, start, sizeof magic);
    TqsBlockHeader block{};
    if (got >= sizeof block)
      std::memcpy(&block, start, sizeof block);
    if (magic == TQS_MAGIC || tqs_is_creator_block(block.type, block.name))
      return MeshForm::tqs;
  }
  return starts_like_t7(start, got) ? MeshForm::t7 : MeshForm::sf7;
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
