#include "norvalex/tqs.h"

#include "diag/raise.h"
#include "platform/platform.h"
#include "tqs/tqs_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace norvalex {

namespace {

// The first defect found; the walk stops there.
struct Defect {
  std::int64_t offset;
  std::string text;
};

[[gnu::format(gnu_printf, 2, 3)]] Defect defect_at(std::int64_t offset, const char* format, ...) {
  char text[160];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return {offset, text};
}

bool has_nul(const char (&field)[TQS_NAME_SIZE]) {
  return std::memchr(field, '\0', sizeof field) != nullptr;
}

class Walk {
public:
  explicit Walk(const char* name) : name_(name) {
    // Never waits for a FIFO's writer: a FIFO is refused at once as no regular file.
    stream_.reset(platform_open_input(name));
    if (!stream_) {
      raise_file_error(name, errno);
    }
    length_ = tqs_file_length(file());
  }

  // The first defect, or an offset of -1 when there is none.
  Defect first_defect() {
    std::int64_t offset = 0;
    if (Defect found = check_start(offset); found.offset >= 0) {
      return found;
    }
    while (offset < length_) {
      if (Defect found = check_block(offset); found.offset >= 0) {
        return found;
      }
    }
    return {-1, {}};
  }

private:
  TqsFile file() const { return {stream_.get(), name_}; }

  // Checks the file header, or the "creator" block that stands in for it, and moves `offset` to
  // the first block.
  Defect check_start(std::int64_t& offset) {
    unsigned char start[sizeof(TqsFileHeader)] = {};
    const std::int64_t available = std::min(length_, static_cast<std::int64_t>(sizeof start));
    if (available > 0) {
      tqs_read_at(file(), 0, start, static_cast<std::size_t>(available));
    }
    if (available >= static_cast<std::int64_t>(sizeof(TqsBlockHeader))) {
      TqsBlockHeader block;
      std::memcpy(&block, start, sizeof block);
      if (tqs_is_creator_block(block.type, block.name)) {
        return {-1, {}}; // appended to a new file: the block is checked as any other
      }
    }
    TqsFileHeader header;
    std::memcpy(&header, start, sizeof header);
    if (available < static_cast<std::int64_t>(sizeof header) || header.magic != TQS_MAGIC) {
      return defect_at(0, "no file header and no leading \"creator\" block");
    }
    if (!has_nul(header.creator)) {
      return defect_at(offsetof(TqsFileHeader, creator), "creator name without its NUL");
    }
    if (!has_nul(header.second_name)) {
      return defect_at(offsetof(TqsFileHeader, second_name), "second name without its NUL");
    }
    if (header.format_version[0] != TQS_FORMAT_VERSION ||
        header.format_version[1] != TQS_FORMAT_VERSION) {
      return defect_at(offsetof(TqsFileHeader, format_version), "format version %u.%u, not 1.1",
                       header.format_version[0], header.format_version[1]);
    }
    offset = sizeof header;
    return {-1, {}};
  }

  // Checks the block at `offset` and moves `offset` past it.
  Defect check_block(std::int64_t& offset) {
    constexpr auto header_size = static_cast<std::int64_t>(sizeof(TqsBlockHeader));
    const auto type_offset = offset + static_cast<std::int64_t>(offsetof(TqsBlockHeader, type));
    const auto size_offset = offset + static_cast<std::int64_t>(offsetof(TqsBlockHeader, size));
    if (length_ - offset < header_size) {
      return defect_at(offset, "block header cut short: %lld of 24 bytes",
                       static_cast<long long>(length_ - offset));
    }
    TqsBlockHeader block;
    tqs_read_at(file(), offset, &block, sizeof block);
    if (!has_nul(block.name)) {
      return defect_at(offset, "block name without its NUL");
    }
    const std::uint32_t code = block.type & TQS_TYPE_CODE_MASK;
    const int element_size = tqs_element_size(block.type);
    if (code != TQS_TYPE_STRING && element_size < 0) {
      return defect_at(type_offset, "unknown element type 0x%02X in type word 0x%X", code,
                       block.type);
    }
    const std::int64_t data_offset = offset + header_size;
    if (block.size > length_ - data_offset) {
      return defect_at(size_offset, "data cut short: size %u, %lld bytes left", block.size,
                       static_cast<long long>(length_ - data_offset));
    }
    if (code == TQS_TYPE_STRING) {
      if (block.size == 0) {
        return defect_at(size_offset, "string of size 0, without its NUL");
      }
      const std::int64_t last = data_offset + block.size - 1;
      char last_byte;
      tqs_read_at(file(), last, &last_byte, 1);
      if (last_byte != '\0') {
        return defect_at(last, "string without its closing NUL");
      }
    } else if (element_size == 0 ? block.size != 0
                                 : block.size % static_cast<std::uint32_t>(element_size) != 0) {
      return defect_at(size_offset, "size %u is no whole number of %d-byte elements", block.size,
                       element_size);
    }
    offset = data_offset + block.size;
    return {-1, {}};
  }

  const char* name_;
  OwnedFile stream_;
  std::int64_t length_ = 0;
};

} // namespace

TqsCheck tqs_check_file(const char* name) {
  Defect found = Walk(name).first_defect();
  return {found.offset < 0 ? 1 : 0, found.offset, std::move(found.text)};
}

} // namespace norvalex
