// Byte records and codes of the TQS data-file format: a 48-byte file header followed by blocks,
// each a 24-byte block header and then its data. Byte-layout tables: docs/tqs-format.md.
#pragma once

#include "../diag/api.h"
#include "../diag/error.h" // failures throw norvalex::Error

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Records go to and from files as their exact memory image, and array data go straight from the
// caller's memory, so the host must store integers and doubles little-endian as the files do.
static_assert(std::endian::native == std::endian::little, "TQS data are stored little-endian");

inline constexpr std::uint32_t TQS_MAGIC = 0x059F4C75; // 75 4C 9F 05 on disk
inline constexpr std::uint8_t TQS_FORMAT_VERSION = 1;  // both format_version bytes

// A text field holds at most 15 bytes and a NUL.
inline constexpr std::size_t TQS_NAME_SIZE = 16;

// Type word: the element type code in the low byte, flags above it.
inline constexpr std::uint32_t TQS_TYPE_CODE_MASK = 0xFF;
// Marks a group node of a loaded tree; the whole-tree statistics look for arrays among the
// children of group nodes. The writer never sets it.
inline constexpr std::uint32_t TQS_FLAG_GROUP = 0x100;
inline constexpr std::uint32_t TQS_FLAG_SINGLE = 0x400; // the data is one single value
inline constexpr std::uint32_t TQS_FLAG_ARRAY = 0x800;  // the data is elements one after another

// Element type codes. Apart from strings and doubles the format knows a code only by the size
// of its elements, so those names state the size and the code.
inline constexpr std::uint32_t TQS_TYPE_STRING = 0x01; // NUL-terminated text, single value only
inline constexpr std::uint32_t TQS_TYPE_SIZE4_02 = 0x02;
inline constexpr std::uint32_t TQS_TYPE_DOUBLE = 0x03;   // IEEE 754 binary64
inline constexpr std::uint32_t TQS_TYPE_SIZE0_10 = 0x10; // elements without data bytes
inline constexpr std::uint32_t TQS_TYPE_SIZE1_20 = 0x20;
inline constexpr std::uint32_t TQS_TYPE_SIZE1_30 = 0x30;
inline constexpr std::uint32_t TQS_TYPE_SIZE2_40 = 0x40;
inline constexpr std::uint32_t TQS_TYPE_SIZE2_50 = 0x50;
inline constexpr std::uint32_t TQS_TYPE_SIZE4_60 = 0x60;
inline constexpr std::uint32_t TQS_TYPE_SIZE4_90 = 0x90;

// A "creator" block: a single-value string named "creator" holding the writing program's name. It
// stands where a file header would when a program appends its blocks to a file, and so starts
// each appended series.
inline constexpr char TQS_CREATOR_NAME[] = "creator";
inline constexpr std::uint32_t TQS_CREATOR_TYPE = TQS_FLAG_SINGLE | TQS_TYPE_STRING;

inline bool tqs_is_creator_block(std::uint32_t type, const char (&name)[TQS_NAME_SIZE]) {
  return type == TQS_CREATOR_TYPE &&
         std::memcmp(name, TQS_CREATOR_NAME, sizeof TQS_CREATOR_NAME) == 0;
}

struct TqsFileHeader {
  std::uint32_t magic;
  std::int32_t created; // seconds since 1970-01-01 00:00:00 UTC
  char creator[TQS_NAME_SIZE];
  char second_name[TQS_NAME_SIZE];
  std::uint8_t format_version[2];
  std::uint8_t creator_version[2];
  std::uint8_t second_version[2];
  std::uint8_t unused[2]; // no defined content
};

struct TqsBlockHeader {
  char name[TQS_NAME_SIZE];
  std::uint32_t type;
  std::uint32_t size; // number of data bytes that follow the header
};

// The memory image is the file image: exact sizes, no padding, fields at their file offsets.
static_assert(sizeof(TqsFileHeader) == 48);
static_assert(std::has_unique_object_representations_v<TqsFileHeader>);
static_assert(offsetof(TqsFileHeader, creator) == 8 && offsetof(TqsFileHeader, second_name) == 24);
static_assert(offsetof(TqsFileHeader, format_version) == 40 &&
              offsetof(TqsFileHeader, second_version) == 44);
static_assert(sizeof(TqsBlockHeader) == 24);
static_assert(std::has_unique_object_representations_v<TqsBlockHeader>);
static_assert(offsetof(TqsBlockHeader, type) == 16 && offsetof(TqsBlockHeader, size) == 20);

// Element size in bytes of the code in the low byte of `type`, or -1 for a code without a size.
// Flag bits do not change the result.
NORVALEX_TQS_API int tqs_element_size(std::uint32_t type);
