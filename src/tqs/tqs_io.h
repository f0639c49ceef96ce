// The checked moves and reads that every load from a TQS file shares.
#pragma once

#include "norvalex/tqs.h"

#include <cstddef>
#include <cstdint>

namespace norvalex {

// Positions the stream of `file` at `offset` from the start; throws message 0 on failure.
void tqs_seek_to(const TqsFile& file, std::int64_t offset);

// The length of the regular file behind `file`; throws message 0 for anything else (EISDIR for a
// folder, ESPIPE for a pipe or a terminal), whose blocks cannot be found by their offsets.
std::int64_t tqs_file_length(const TqsFile& file);

// Reads `bytes` bytes at `offset` as one item (tqs_seek_to, then tqs_read_item).
void tqs_read_at(const TqsFile& file, std::int64_t offset, void* buffer, std::size_t bytes);

// Reads `bytes` bytes as one item. A short read throws message 0 when the stream's error
// indicator is set, otherwise message 2 ("Unexpected end of file").
void tqs_read_item(const TqsFile& file, void* buffer, std::size_t bytes);

// The largest piece of a block's data that is read, written or summed between two questions to
// the thread's interruption check (check_interruption).
inline constexpr std::size_t TQS_INTERRUPTION_PIECE = std::size_t{16} << 20;

// Reads `bytes` bytes of a block's data as tqs_read_item does, in pieces of at most
// TQS_INTERRUPTION_PIECE with the interruption check asked before each.
void tqs_read_data(const TqsFile& file, void* buffer, std::size_t bytes);

} // namespace norvalex
