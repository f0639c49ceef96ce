// What the openPMD reader and writer share of the HDF5 C library (hdf5_support.h).
#include "mesh/hdf5_support.h"

#include <bit>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace norvalex {

std::mutex& hdf5_process_lock() {
  static std::mutex lock;
  return lock;
}

Hdf5Scope::Hdf5Scope(Where where) {
  if (where == in_process)
    guard_ = std::unique_lock<std::mutex>(hdf5_process_lock());
  [[maybe_unused]] static const bool no_clean_up_at_exit = H5dont_atexit() >= 0;
  H5Eget_auto2(H5E_DEFAULT, &function_, &data_);
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

Hdf5Scope::~Hdf5Scope() {
  H5Eset_auto2(H5E_DEFAULT, function_, data_);
}

int hdf5_stack_error_number() {
  int number = 0;
  H5Ewalk2(
      H5E_DEFAULT, H5E_WALK_UPWARD,
      [](unsigned, const H5E_error2_t* error, void* found) -> herr_t {
        const char* at = error->desc ? std::strstr(error->desc, "errno = ") : nullptr;
        if (at) {
          *static_cast<int*>(found) = std::atoi(at + 8);
          return 1; // the innermost one is enough
        }
        return 0;
      },
      &number);
  return number;
}

bool hdf5_stack_has(hid_t major, hid_t minor) {
  struct Wanted {
    hid_t major;
    hid_t minor;
    bool found;
  } wanted{major, minor, false};
  H5Ewalk2(
      H5E_DEFAULT, H5E_WALK_UPWARD,
      [](unsigned, const H5E_error2_t* error, void* context) -> herr_t {
        auto& w = *static_cast<Wanted*>(context);
        if (error->min_num == w.minor && (w.major == H5I_INVALID_HID || error->maj_num == w.major))
          w.found = true;
        return 0;
      },
      &wanted);
  return wanted.found;
}

void hdf5_no_file_locking([[maybe_unused]] hid_t access) {
#if (H5_VERS_MAJOR == 1 && H5_VERS_MINOR == 10 && H5_VERS_RELEASE >= 7) || H5_VERSION_GE(1, 12, 1)
  H5Pset_file_locking(access, false, true);
#endif
}

Hdf5Id hdf5_complex_type() {
  static_assert(sizeof(std::complex<double>) == 2 * sizeof(double));
  static_assert(std::endian::native == std::endian::little &&
                    std::numeric_limits<double>::is_iec559,
                "the values go between memory and the files as little-endian IEEE doubles");
  Hdf5Id type(H5Tcreate(H5T_COMPOUND, sizeof(std::complex<double>)), H5Tclose);
  if (type.valid() && (H5Tinsert(type.get(), "r", 0, H5T_IEEE_F64LE) < 0 ||
                       H5Tinsert(type.get(), "i", sizeof(double), H5T_IEEE_F64LE) < 0))
    return {};
  return type;
}

} // namespace norvalex
