// The two forms of tqsinfo's report on files: the text listing and one JSON document. Both read
// each file's blocks once more as they write them, from a summary that summarize_file made
// (file_summary.h), and hand what they have written to standard output a piece at a time.
#pragma once

#include "cli/text_output.h"
#include "tqsinfo/file_summary.h"

namespace norvalex {

// The listing of one file: the header lines, then per series a table of its blocks and, where
// statistics were computed, a table of them. A file after the first starts with an empty line.
void write_listing(Output& out, const FileSummary& file, bool first);

// {"files": [...]} with the same contents, one file at a time; the layout is described in
// docs/tqsinfo.md.
void write_json_start(Output& out);
void write_json_file(Output& out, const FileSummary& file, bool first);
void write_json_end(Output& out);

// What the listing and the document hold back at most before they write it.
inline constexpr std::size_t OUTPUT_PIECE_SIZE = std::size_t{1} << 20;

} // namespace norvalex
