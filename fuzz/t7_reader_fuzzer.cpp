// Any bytes as a T7 grid file. First as the stream of numbers that the reader takes it for,
// read in small blocks so that block boundaries and lines longer than the buffer fall inside
// the fuzzer's inputs: every word must give the bits that glibc's strtod gives for it whole, and
// the first word that is no number (or longer than the buffer) the located error, at the line of
// that word. Then as a file read into a mesh: a mesh whose axes, frequency and arrays are whole
// and finite and that check_mesh lets through, or a norvalex::Error; nothing read or written
// outside its buffers.
#include "fuzz_support.h"
#include "mesh_inputs.h"
#include "norvalex/mesh.h"
#include "text/number_input.h"
#include "text/number_scan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace norvalex;

namespace {

// The block size of the stream reading: its smallest.
constexpr std::size_t BLOCK_SIZE = TEXT_MIN_BLOCK_SIZE;

// What reading the whole stream gives: the bits of each number, then the error, if any.
struct StreamReading {
  std::vector<std::uint64_t> bits;
  std::string error;
};

std::uint64_t bits_of(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The reference: the words split at white space, each read by glibc's strtod from a copy.
StreamReading expected_reading(const std::string& bytes) {
  StreamReading reading;
  std::int32_t line = 1;
  for (std::size_t p = 0; p < bytes.size();) {
    if (is_scan_space(bytes[p])) {
      line += bytes[p++] == '\n';
      continue;
    }
    std::size_t q = p;
    while (q < bytes.size() && !is_scan_space(bytes[q]))
      ++q;
    const std::string word = bytes.substr(p, q - p);
    char* stop = nullptr;
    const double value = std::strtod(word.c_str(), &stop);
    const bool whole = stop == word.c_str() + word.size();
    const bool payload = std::isnan(value) && word.size() != 3 + (word[0] == '-' || word[0] == '+');
    if (!whole || payload || word.size() >= BLOCK_SIZE) {
      std::string shown;
      for (const char c : word.substr(0, 40))
        shown += c == '\0' ? std::string("\\x00") : std::string(1, c);
      reading.error = "fuzz.t7(" + std::to_string(line) + "): Not a number: " + shown +
                      (word.size() > 40 ? "..." : "");
      return reading;
    }
    reading.bits.push_back(bits_of(value));
    p = q;
  }
  return reading;
}

// The stream as the reader reads it, `chunk` numbers at a time: the numbers of the chunks read
// whole, then the error, if any.
StreamReading stream_reading(const std::string& bytes, std::size_t chunk) {
  StreamReading reading;
  std::FILE* stream = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
  FUZZ_CHECK(stream != nullptr);
  try {
    NumberInput input(stream, "fuzz.t7", 0, -1, BLOCK_SIZE);
    std::vector<double> values(chunk);
    while (const std::size_t got = input.read_numbers(values)) {
      for (std::size_t k = 0; k < got; ++k)
        reading.bits.push_back(bits_of(values[k]));
    }
  } catch (const Error& error) {
    reading.error = error.what();
  }
  std::fclose(stream);
  return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const StreamReading expected = expected_reading(bytes);
  // Chunks of one number to many, as the reader's own come in 4096.
  const StreamReading read = stream_reading(bytes, 1 + size % 97);
  // The numbers of a chunk that ends in an error are not returned: those before are the same.
  FUZZ_CHECK(read.bits.size() <= expected.bits.size());
  FUZZ_CHECK(std::equal(read.bits.begin(), read.bits.end(), expected.bits.begin()));
  FUZZ_CHECK(!expected.error.empty() || read.bits.size() == expected.bits.size());
  FUZZ_CHECK(read.error == expected.error);

  // The mesh; a header that asks for a huge grid meets the allocation limit of fuzz_support.cpp.
  static const FuzzInputFile input("fuzz.t7");
  const std::string& path = input.hold(bytes);
  MeshReadOptions options;
  options.field = (size & 1) != 0 ? FieldKind::electric : FieldKind::magnetic;
  try {
    check_read_mesh(read_t7_mesh(path.c_str(), options));
  } catch (const Error& error) {
    FUZZ_CHECK(error.file_name() == path);
  }
  return 0;
}
