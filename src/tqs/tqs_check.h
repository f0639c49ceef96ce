// Checks the structure of a TQS file without reading it into a tree and tells where its first
// defect lies: the start that the loader (tqs_loader.h) accepts, every block complete, and the
// contents of every block header besides.
#pragma once

#include "../diag/api.h"

#include <cstdint>
#include <string>

struct TqsCheck {
  int sound;           // 1 when no defect was found
  std::int64_t offset; // byte offset of the first defect; -1 when sound
  std::string defect;  // what is wrong there, in words; empty when sound
};

// Walks the file `name` from its start to its end, reading only headers (and the last byte of
// each string), and returns the defect at the lowest offset where it stops, or a sound result:
// - offset 0: neither a file header (magic 75 4C 9F 05, at least 48 bytes) nor the header of a
//   "creator" block; offsets 8 and 24: a creator or second name without its NUL; offset 40: a
//   format version other than 1.1;
// - for a block at offset o: a header cut short by the end of the file (o); a name without its
//   NUL (o); an element type code that has no size and is no string (o + 16); a size word
//   beyond the end of the file (o + 20); a size that is no whole number of elements, or not 0
//   for code 0x10 (o + 20); a string whose data does not end with its NUL (its last data byte,
//   or o + 20 for a string of size 0).
// A file without defects is one that the loader accepts; a file that it refuses always has one.
// A file that cannot be opened or read, or is not a regular file, throws norvalex::Error with
// message 0 as the loader does.
NORVALEX_TQS_API TqsCheck tqs_check_file(const char* name);
