#include "tqs/tqs_stats.h"

#include "cli/diagnostics.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

// fpos_t is opaque (on glibc a record of an offset and a conversion state), so no portable code
// can turn what fgetpos gives into a byte offset. ftello and fseeko are the position calls that
// speak in byte offsets; with a 64-bit off_t they are the 64-bit ones.
static_assert(sizeof(off_t) == sizeof(std::int64_t), "stream positions need a 64-bit off_t");

namespace {

// The forward gap between a stream's position and a node's data is read into this buffer and
// discarded; one buffer serves every load.
char skip_buffer[TQS_SKIP_LIMIT];

// Moves the stream of `file` to `target` the cheap way: a short forward gap is read and
// discarded, any other move is a seek. False tells that a replaced handler returned.
bool move_to(const TqsFile& file, std::int64_t target) {
  const std::int64_t cur = tqs_tell(file.stream);
  // An unknown position (-1) says nothing about the gap, so the stream is sought.
  if (cur >= 0 && target > cur && target - cur <= TQS_SKIP_LIMIT) {
    return tqs_read_item(file, skip_buffer, static_cast<std::size_t>(target - cur));
  }
  return tqs_seek_to(file, target);
}

} // namespace

void tqs_report_system_error(const TqsFile& file) {
  report_message(library_messages, 0, file.name, std::strerror(errno));
}

bool tqs_seek_to(const TqsFile& file, std::int64_t offset) {
  const int result = tqs_seek(file.stream, offset, 0);
  if (result == 0) {
    return true;
  }
  // tqs_seek returns its own refusals (22, 9) without storing them in errno; the message must
  // name them, not whatever errno held before.
  if (result > 0) {
    errno = result;
  }
  tqs_report_system_error(file);
  return false;
}

bool tqs_read_item(const TqsFile& file, void* buffer, std::size_t bytes) {
  if (std::fread(buffer, bytes, 1, file.stream) == 1) {
    return true;
  }
  if (std::ferror(file.stream)) {
    tqs_report_system_error(file);
  }
  report_message(library_messages, 2, file.name);
  return false;
}

const std::array<StatEntry, 8> tqs_stat_table{{
    {"Min", stat_min},
    {"Max", stat_max},
    {"Max-Min", stat_range},
    {"Avg", stat_avg},
    {"Std", stat_std},
    {"Sum", stat_sum},
    {"N", stat_count},
    {"", nullptr},
}};

const StatEntry* tqs_find_stat(const char* name) {
  if (!name) {
    return nullptr;
  }
  // The closing row's function is null, so the empty name finds nothing.
  for (const StatEntry& entry : tqs_stat_table) {
    if (entry.function && std::strcmp(entry.name, name) == 0) {
      return &entry;
    }
  }
  return nullptr;
}

namespace {

// Computes the statistics of the selected arrays and writes the value that `pick` takes from
// them; fails, leaving `out` alone, with fewer than `minimum_count` elements.
template <typename Pick>
int write_stat(TqsNode* node, const char* name, double* out, int whole_tree, Pick pick,
               int minimum_count = 1) {
  ArrayStats stats;
  if (!tqs_array_stats(&stats, node, name, whole_tree) || stats.count < minimum_count) {
    return 0;
  }
  *out = pick(stats);
  return 1;
}

} // namespace

int stat_min(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.min; });
}

int stat_max(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.max; });
}

int stat_range(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.max - s.min; });
}

int stat_avg(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.avg; });
}

int stat_std(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(
      node, name, out, whole_tree, [](const ArrayStats& s) { return s.std; }, 2);
}

int stat_sum(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree, [](const ArrayStats& s) { return s.sum; });
}

int stat_count(TqsNode* node, const char* name, double* out, int whole_tree) {
  return write_stat(node, name, out, whole_tree,
                    [](const ArrayStats& s) { return static_cast<double>(s.count); });
}

int tqs_array_stats(ArrayStats* stats, TqsNode* node, const char* name, int whole_tree) {
  stats->min = std::numeric_limits<double>::max();
  stats->max = -std::numeric_limits<double>::max();
  stats->count = 0;
  stats->sum = 0;
  stats->sum_sq = 0;
  stats->name = name;
  if (!node) {
    return 0;
  }
  if (whole_tree) {
    TqsNode* root = node;
    while (root->parent) {
      root = root->parent;
    }
    tqs_walk(root, tqs_accumulate, 0, stats);
  } else {
    tqs_accumulate(node, 0, stats);
  }
  if (stats->count == 0) {
    return 0;
  }
  const double n = static_cast<double>(stats->count);
  stats->avg = stats->sum / n;
  const double square_of_sum = stats->sum * stats->sum;
  const double variance = (stats->sum_sq - square_of_sum / n) / n;
  // Rounding can leave a tiny negative variance; a NaN variance fails the test and stays NaN.
  stats->std = variance < 0 ? 0 : std::sqrt(variance);
  return 1;
}

void tqs_accumulate(TqsNode* node, int /*depth*/, void* context) {
  auto* stats = static_cast<ArrayStats*>(context);
  TqsNode* child = tqs_find_child(node, stats->name);
  tqs_load_data(child);
  if (!child || !child->data) {
    return;
  }
  const auto* bytes = static_cast<const unsigned char*>(child->data);
  const std::size_t elements = child->size / sizeof(double); // a partial element is ignored
  for (std::size_t i = 0; i < elements; ++i) {
    double x;
    // Data built by a caller need not be aligned for doubles.
    std::memcpy(&x, bytes + i * sizeof(double), sizeof x);
    ++stats->count;
    if (x < stats->min) {
      stats->min = x;
    }
    if (x > stats->max) {
      stats->max = x;
    }
    // Separate statements: each sum is rounded to double after every addition, and no
    // multiply-add is fused.
    stats->sum = stats->sum + x;
    const double square = x * x;
    stats->sum_sq = stats->sum_sq + square;
  }
}

void tqs_walk(TqsNode* node, TqsVisitor visitor, int depth, void* context) {
  if (!node) {
    return;
  }
  if (node->type & TQS_FLAG_GROUP) {
    visitor(node, depth, context);
  }
  for (TqsNode* child = node->first_child; child; child = child->next) {
    tqs_walk(child, visitor, depth + 1, context);
  }
}

TqsNode* tqs_find_child(TqsNode* node, const char* name) {
  TqsNode* match = nullptr;
  for (TqsNode* child = node->first_child; child; child = child->next) {
    // A name field without its NUL would be read past its end; such a child matches nothing.
    if (!std::memchr(child->name, '\0', sizeof child->name) ||
        std::strcmp(child->name, name) != 0) {
      continue;
    }
    if (match) {
      return nullptr;
    }
    match = child;
  }
  return match;
}

void tqs_load_data(TqsNode* node) {
  if (!node || node->stored_size == 0 || node->data) {
    return;
  }
  if (!node->file) {
    // Stored data without a file to read it from: the tree was built wrongly.
    report_message(library_messages, 5);
    return;
  }
  // The buffer receives stored_size bytes and afterwards holds `size` = stored_size bytes, so
  // it gets the larger of the two sizes: a builder's smaller `size` never makes the read
  // overrun it.
  const std::size_t bytes = std::max(node->size, node->stored_size);
  void* buffer = std::malloc(bytes);
  if (!buffer) {
    report_message(library_messages, 1);
    return; // a returning handler leaves the node unloaded, and nothing is read
  }
  const TqsFile& file = *node->file;
  if (!move_to(file, node->data_offset) || !tqs_read_item(file, buffer, node->stored_size)) {
    std::free(buffer); // a returning handler leaves the node unloaded
    return;
  }
  node->data = buffer;
  node->size = node->stored_size;
  node->type = node->stored_type;
}

std::int64_t tqs_tell(std::FILE* stream) {
  return ftello(stream); // -1 when the position is unknown (a pipe, a closed descriptor)
}

int tqs_seek(std::FILE* stream, std::int64_t offset, int whence) {
  std::int64_t base;
  switch (whence) {
  case 0:
    base = 0;
    break;
  case 1:
    base = tqs_tell(stream);
    if (base < 0) {
      return -1; // the position is unknown, so no move relative to it can be made
    }
    break;
  case 2: {
    // Only a regular file has a length; a pipe or a terminal reports 0, which is no length.
    const int descriptor = fileno(stream);
    struct stat status;
    if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
      return EBADF;
    }
    base = status.st_size;
    break;
  }
  default:
    return EINVAL;
  }
  std::int64_t target;
  // A target beyond the largest offset is refused like one before the start.
  if (__builtin_add_overflow(base, offset, &target) || target < 0) {
    return EINVAL;
  }
  return fseeko(stream, static_cast<off_t>(target), SEEK_SET);
}
