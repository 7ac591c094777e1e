// The message library's 36 message blocks: their names, where they are found
// among the library's resources, the 16 strings each holds, and the chunk
// file each non-empty string becomes.
//
// A message block is 16 strings one after another, each a 16-bit
// little-endian count of UTF-16 code units followed by those code units; all
// 16 must lie inside the block's resource data.
#pragma once

#include "byte_source.hpp"
#include "pe_resources.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace palm {

inline constexpr int first_block = 0x7;
inline constexpr int last_block = 0x2a;
inline constexpr int strings_per_block = 16;

// The message blocks, in the order they are walked: blocks 7 to 42, spelled
// as the resource scan names a resource given by an ID.
inline constexpr std::array<std::string_view, last_block - first_block + 1> text_name = {
    "0x7",  "0x8",  "0x9",  "0xa",  "0xb",  "0xc",  "0xd",  "0xe",  "0xf",
    "0x10", "0x11", "0x12", "0x13", "0x14", "0x15", "0x16", "0x17", "0x18",
    "0x19", "0x1a", "0x1b", "0x1c", "0x1d", "0x1e", "0x1f", "0x20", "0x21",
    "0x22", "0x23", "0x24", "0x25", "0x26", "0x27", "0x28", "0x29", "0x2a",
};

// The number of block `id`, a name such as "0x1d" read in base 16 after
// its "0x" (29); 0 when no hexadecimal digit follows.
int block_number(std::string_view id);

// The chunk file name of string `index` (0 to 15) of block `id`:
// "<id>_<index>.txt" with the index in two decimal digits ("0x1d_03.txt").
std::string chunk_name(std::string_view id, int index);

// Resource type of a string table, the resources that hold message blocks.
inline constexpr std::int32_t string_table_type = 6;

// The resource that serves as message block `id`: the first string table of
// that name; when the library has none, the first resource of any type of
// that name, so that a library keeping its blocks under another type still
// works. Null when no resource has the name.
const RESINFO* find_message(const resource_list& rlist, std::string_view id);

// A message block being read: its strings lie one after another from the
// block's offset up to the end of its resource's data.
struct message_block {
    const common::byte_source* library = nullptr;
    std::string name;            // the block name, such as "0x1d"
    std::int64_t next = 0;       // offset of the next string in the library
    std::int64_t data_end = 0;   // end of the resource's data
    std::uint32_t data_size = 0; // its length, as its data entry gives it
};

// Finds block `id` in `rlist` (find_message) and makes ready to read its
// strings from `library`. Throws common::fatal_error with
//  - "Can't find the message \"<id>\"." when no resource has that name;
// and common::input_error, for the caller to put the library's name in front,
//  - "The message \"<id>\" lies outside the library's resource section
//    (offset <n>, <size> bytes)." when its data does not lie wholly inside
//    the raw data of the resource section;
//  - "The message \"<id>\" lies outside the library (offset <n>)." when its
//    data starts past the end of the file.
message_block open_message(const common::byte_source& library, const resource_list& rlist, std::string_view id);

// Reads the length of string `index` and returns the size of its text in
// bytes (two per UTF-16 code unit). Throws common::input_error naming the
// block and the string when the length lies past the end of the block's data
// ("The message \"<id>\" ends inside the length of string <i>: its data holds
// <n> bytes.") or of the library ("The library ends inside the message
// \"<id>\", in the length of string <i>.").
std::size_t read_string_length(message_block& block, int index);

// Reads the text of string `index` into `units` (its size from
// read_string_length), with the same two failures for the text.
void read_string_text(message_block& block, int index, std::span<std::uint8_t> units);

}  // namespace palm
