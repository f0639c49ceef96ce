#include "sf7/sf7_number_scan.h"

#include "sf7/sf7_portable_scan.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>

namespace norvalex {

namespace {

#ifdef __GLIBC__
// strtod over the word [p, last), which white space or the end of the text follows: in place
// when white space follows (strtod stops there at the latest), else from a copy that ends in a
// zero byte. True when strtod takes the whole word.
bool strtod_whole_word(const char* p, const char* last, const char* end, double& value) {
  const int saved_errno = errno;
  char* stop = nullptr;
  double result;
  std::size_t taken;
  if (last < end) {
    result = std::strtod(p, &stop);
    taken = static_cast<std::size_t>(stop - p);
  } else {
    const std::string word(p, last);
    result = std::strtod(word.c_str(), &stop);
    taken = static_cast<std::size_t>(stop - word.c_str());
  }
  errno = saved_errno;
  if (taken != static_cast<std::size_t>(last - p))
    return false;
  value = result;
  return true;
}
#endif

} // namespace

const char* scan_token_exact(const char* p, const char* end, double& value) noexcept {
#ifdef __GLIBC__
  if (p == end || is_scan_space(*p))
    return nullptr;
  const char* last = p;
  while (last < end && !is_scan_space(*last))
    ++last;
  double result;
  try {
    if (!strtod_whole_word(p, last, end, result))
      return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr; // no memory for the copy of a word that ends the text
  }
  // "nan(...)" is a NaN whose payload strtod takes from the parentheses: not read here. A plain
  // NaN is "nan" after at most a sign.
  if (std::isnan(result) && last - p != 3 + (*p == '-' || *p == '+'))
    return nullptr;
  value = result;
  return last;
#else
  return scan_token_portable(p, end, value);
#endif
}

} // namespace norvalex
