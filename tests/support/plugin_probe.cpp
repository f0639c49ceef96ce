// A library that says on standard error that it was loaded. The openPMD tests put it where HDF5
// looks for filter plugins, which the reader must never load.
#include <cstdio>

[[gnu::constructor]] static void say_loaded() {
  std::fputs("plugin_probe loaded\n", stderr);
}
