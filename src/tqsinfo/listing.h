// The two forms of tqsinfo's report on files: the text listing and one JSON document.
#pragma once

#include "tqsinfo/file_summary.h"
#include "tqsinfo/output.h"

#include <vector>

// Per file: the header lines, then per series a table of its blocks and, where statistics were
// added, a table of them. Files are separated by an empty line.
void write_listing(Output& out, const std::vector<FileSummary>& files);

// {"files": [...]} with the same contents; the layout is described in the README.
void write_json(Output& out, const std::vector<FileSummary>& files);
