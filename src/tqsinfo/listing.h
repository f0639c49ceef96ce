// The two forms of tqsinfo's report on files: the text listing and one JSON document.
#pragma once

#include "cli/text_output.h"
#include "tqsinfo/file_summary.h"

namespace norvalex {

// The listing of one file: the header lines, then per series a table of its blocks and, where
// statistics were added, a table of them. A file after the first starts with an empty line.
void write_listing(Output& out, const FileSummary& file, bool first);

// {"files": [...]} with the same contents, one file at a time; the layout is described in the
// README.
void write_json_start(Output& out);
void write_json_file(Output& out, const FileSummary& file, bool first);
void write_json_end(Output& out);

} // namespace norvalex
