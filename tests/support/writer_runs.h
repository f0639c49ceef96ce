// For the tests of the TQS writer and of the converter's choice of output: the golden bytes of
// the header and the blocks written, writer code run in a child (every failure ends the
// process), and the size of a stream's buffer. Header only: the tests that include it link the
// TQS library, which the other tests need not.
#pragma once

#include "cli/program.h"
#include "norvalex/tqs.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <stdio_ext.h>
#endif

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace test_support {

using namespace std::string_literals;

// Golden bytes, written out by hand from the format's byte layout.
inline const std::string kBphiBlock = "Bphi\0\0\0\0\0\0\0\0\0\0\0\0"
                                      "\x03\x08\0\0"
                                      "\x10\0\0\0"
                                      "\0\0\0\0\0\0\xF0\x3F"
                                      "\0\0\0\0\0\0\0\x40"s;
inline const std::string kCreatorBlock = "creator\0\0\0\0\0\0\0\0\0"
                                         "\x01\x04\0\0"
                                         "\x09\0\0\0"
                                         "NORVALEX\0"s;
// The converter's header with the creation time (bytes 4 to 7) masked to zeros.
inline const std::string kMaskedHeader = "\x75\x4C\x9F\x05"
                                         "\0\0\0\0"
                                         "NORVALEX\0\0\0\0\0\0\0\0"
                                         "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                         "\x01\x01\x01\0\0\0\0\0"s;
// The values of kBphiBlock.
inline constexpr double kBphiValues[] = {1.0, 2.0};

// Writes the converter's header and the array of kBphiBlock to `output`, and closes it.
inline void write_bphi_series(norvalex::TqsOutput& output) {
  norvalex::tqs_write_header(output, {.creator = "NORVALEX", .creator_version = {1, 0}});
  norvalex::tqs_write_array(output, "Bphi", 2, norvalex::TQS_TYPE_DOUBLE, kBphiValues);
  norvalex::tqs_close_output(output);
}

// Writer calls run in a child, since every failure ends the process.
inline ProcessResult run_writer(const std::function<void()>& body, const RunOptions& options = {}) {
  return run_in_child(
      [&] {
        norvalex::program_name = "norvalex";
#ifndef _WIN32
        // The test program wrote to standard output before the fork; reopening gives the child
        // the unused stream a program starts with.
        if (options.stdout_mode == StdoutMode::file && !std::freopen(nullptr, "wb", stdout)) {
          norvalex::end_process(125);
        }
#endif
        body();
      },
      options);
}

// The size of the buffer that `stream` was given.
inline std::size_t buffer_size(std::FILE* stream) {
#ifdef _WIN32
  return static_cast<std::size_t>(stream->_bufsiz);
#else
  return __fbufsize(stream);
#endif
}

} // namespace test_support
