// Linked into norvalex_exact, the benchmark's reference program: the converter's own main()
// with every line of the input read by the exact path, set before main() runs.
#include "convert/sf7_reader.h"

namespace {

[[maybe_unused]] const bool exact_path_selected = (sf7_exact_path_only = true);

} // namespace
