#include "convert/converter_options.h"

namespace norvalex {

int short_help = 0;
int long_help = 0;
int verbose = 0;
const char* output_file = nullptr;
const char* append_file = nullptr;

constexpr OptionSpec converter_options[7] = {
    {' ', nullptr, nullptr, "SF7file", "Superfish SF7 to TQS converter"},
    {'h', &short_help, set_flag, nullptr, "Give short help and quit"},
    {'H', &long_help, set_flag, nullptr, "Give long help and quit"},
    {'v', &verbose, set_flag, nullptr, "Verbose mode"},
    {'o', &output_file, set_string, "outfile", "Write output to outfile"},
    {'a', &append_file, set_string, "outfile", "Append output to outfile"},
    {0, nullptr, warn_unknown_option, nullptr, "Warning: unknown option -"},
};

const char version_banner[] = "norvalex - Sep  3 2008";

} // namespace norvalex
