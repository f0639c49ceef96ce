// A large file's lines read in two parts at once: the first part by the calling thread, the rest
// by a helper thread on a stream of its own, as the T7 reader and the tables of points read
// their values. Each part says whether it read regularly; where either did not, the caller reads
// the file again in one pass, which reports any defect at its line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

namespace norvalex {

// Reads the file `path`, open as `stream`, from `start` in two parts, when it is a regular file
// of at least 8 MiB from there: `first` reads [start, split) from `stream`, positioned at
// `start` (its second argument is the part's length); `second` reads from `split`, the first
// line that starts past 55 % of the rest, to the end, from a stream of its own positioned there,
// on a helper thread whose interruption check is the first part's end. Each returns whether its
// part read regularly; an exception of `second` is a part that did not. An interruption of this
// thread stops the helper and is thrown again; any other exception of `first` is a part that did
// not read regularly. True when both parts read regularly; false when either did not, or the file
// is not so large or not regular, cannot be opened twice, or a thread cannot start.
bool read_in_two_parts(const char* path, std::FILE* stream, std::int64_t start,
                       const std::function<bool(std::FILE*, std::int64_t length)>& first,
                       const std::function<bool(std::FILE*, std::int64_t split)>& second);

} // namespace norvalex
