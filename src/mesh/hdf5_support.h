// What the openPMD reader and writer share of the HDF5 C library: the scope in which HDF5 runs
// for them, its identifiers closed by their owners, its error stack, and the settings that every
// file gets. Private to the mesh layer; built only with HDF5.
#pragma once

#include <hdf5.h>

#include <mutex>
#include <utility>

namespace norvalex {

// Held while HDF5 runs in this process (the writer) and while the reader starts its child: a
// child started while another thread is inside HDF5 would find HDF5's lock taken forever.
std::mutex& hdf5_process_lock();

// HDF5's automatic error printing off for the calling thread while it lives, and whatever the
// caller had afterwards. In this process it holds hdf5_process_lock; in the reader's child, where
// that lock may have been copied taken, it does not (`in_child`).
//
// HDF5 also cleans up when the process ends, and after some damaged files (metadata it could not
// decode) that clean-up finds blocks it leaked and prints "HDF5: infinite loop closing library"
// on standard error. So the first scope asks HDF5, before it starts, not to clean up at the end:
// the system frees the memory anyway, and this library leaves no HDF5 file open. (A program that
// uses HDF5 itself and counts on that clean-up for files it left open calls H5close() before it
// ends; when HDF5 had started before this library's first call, nothing changes.)
class Hdf5Scope {
public:
  enum Where { in_process, in_child };
  explicit Hdf5Scope(Where where);
  ~Hdf5Scope();
  Hdf5Scope(const Hdf5Scope&) = delete;
  Hdf5Scope& operator=(const Hdf5Scope&) = delete;

private:
  std::unique_lock<std::mutex> guard_;
  H5E_auto2_t function_ = nullptr;
  void* data_ = nullptr;
};

// An HDF5 identifier and the call that closes it.
class Hdf5Id {
public:
  Hdf5Id() = default;
  Hdf5Id(hid_t id, herr_t (*closer)(hid_t)) : id_(id), close_(closer) {}
  Hdf5Id(Hdf5Id&& other) noexcept : id_(other.id_), close_(other.close_) {
    other.id_ = H5I_INVALID_HID;
  }
  Hdf5Id& operator=(Hdf5Id&& other) noexcept {
    std::swap(id_, other.id_);
    std::swap(close_, other.close_);
    return *this;
  }
  Hdf5Id(const Hdf5Id&) = delete;
  Hdf5Id& operator=(const Hdf5Id&) = delete;
  ~Hdf5Id() {
    if (id_ >= 0)
      close_(id_);
  }
  hid_t get() const { return id_; }
  bool valid() const { return id_ >= 0; }
  // Closes it now, for a close whose failure counts.
  herr_t close() { return id_ < 0 ? 0 : close_(std::exchange(id_, H5I_INVALID_HID)); }

private:
  hid_t id_ = H5I_INVALID_HID;
  herr_t (*close_)(hid_t) = nullptr;
};

// The error number that the innermost failure of HDF5's error stack reports ("errno = 28" in
// its description: the sec2 driver's open, read and write failures), 0 when none does. Read it
// before any other HDF5 call, which clears the stack.
int hdf5_stack_error_number();

// True when HDF5's error stack holds a failure of the minor number `minor` (and of the major
// number `major`, unless that is H5I_INVALID_HID): H5E_TRUNCATED, a file shorter than its
// superblock says; H5E_RESOURCE and H5E_NOSPACE, memory that ran out.
bool hdf5_stack_has(hid_t major, hid_t minor);

// Files opened or created without HDF5's file lock: a reader needs none, the writer's file is a
// temporary one of its own, and some file systems have none.
void hdf5_no_file_locking(hid_t access);

// The type of std::complex<double> in memory and in the files: a compound of the little-endian
// IEEE doubles r and i, what numpy's complex128 is in HDF5, so that values go between the files
// and the model's arrays unconverted. Invalid when HDF5 cannot make it.
Hdf5Id hdf5_complex_type();

} // namespace norvalex
