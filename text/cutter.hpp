// cutter: the message library's 36 blocks, one chunk file per non-empty
// string.
//
// A message block is 16 strings, each a 16-bit little-endian count of UTF-16
// code units followed by those code units. Every non-empty string goes through
// the chunk pipeline, always in this order:
//   get_script         UTF-16LE -> Shift_JIS with a closing NUL;
//   rearrange_script   line breaks and spaces reflowed in place;
//   put_compress_script  the text and its NUL as one LZSS stream, written as
//                      the chunk file "<block>_<index>.txt".
// The encoder's record lives for the whole run and is passed along in block
// and string order, so that every chunk file is the same byte for byte from
// one run to the next.
//
// Run-ending failures throw common::fatal_error with the one-line message;
// progress lines and warnings go straight to standard error as they happen.
#pragma once

#include "compress.hpp"
#include "resinfo.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace cutter {

// Room for one string's Shift_JIS text with its NUL, and for its stream.
inline constexpr std::size_t text_buffer_size = 8000;
inline constexpr std::size_t compressed_buffer_size = 8000;
inline constexpr int strings_per_block = 16;
// Texts shorter than this, counting the NUL, are never reflowed.
inline constexpr std::size_t reflow_min_size = 100;

inline constexpr std::string_view usage_text = "usage: cutter rumomsg.dll fontfile";

// The 36 message blocks, in the order they are walked: blocks 7 to 42,
// spelled as the resource scan names a resource given by an ID.
inline constexpr std::array<std::string_view, 36> text_name = {
    "0x7",  "0x8",  "0x9",  "0xa",  "0xb",  "0xc",  "0xd",  "0xe",  "0xf",
    "0x10", "0x11", "0x12", "0x13", "0x14", "0x15", "0x16", "0x17", "0x18",
    "0x19", "0x1a", "0x1b", "0x1c", "0x1d", "0x1e", "0x1f", "0x20", "0x21",
    "0x22", "0x23", "0x24", "0x25", "0x26", "0x27", "0x28", "0x29", "0x2a",
};

// The whole program. argv[1] is the message library, argv[2] the font file.
// A lone "-h" or "--help" prints the help, a lone "--version" the version, on
// standard output, and returns 0.
// Lists the library's resources, loads the font file's code table, then walks
// the 36 blocks of `text_name` in order with `convert`, writing the chunk
// files into the current directory. Returns 0 when every block is done.
// Throws common::fatal_error with the usage text when there are not exactly
// two arguments (nothing is opened), with "Can't open <path>." for a library
// or font file that cannot be opened or read or is no regular file, and with
// whatever the resource scan, the table loading or `convert` report. Chunk
// files already written stay.
int cutter_main(int argc, char** argv);

// Walks the block named `id` (one of `text_name`): finds it with
// find_message, reads its 16 strings in sequence from the library `fp` with
// read_string_length and read_string_text, and makes one chunk file per
// non-empty string, announced on standard error as "<chunk> (size = <bytes>)".
// A chunk whose text had characters without a mapping is followed by one
// warning line with their count. For an empty string, a chunk file of its name
// left by an earlier run is removed, with the line "<chunk> removed (the
// string is empty)", so that the folder holds exactly the library's chunks.
// `state` is the run's encoder record. Returns 0. Throws common::fatal_error
//  - whatever open_message, read_string_length and read_string_text throw;
//  - a line naming the chunk when its text with its NUL exceeds
//    `text_buffer_size` bytes or its stream `compressed_buffer_size` bytes
//    (no chunk file is written or changed);
//  - "Can't open <chunk>." / "Can't write <chunk>." from put_compress_script,
//    "Can't remove <chunk>." when an outdated chunk file cannot be removed.
int convert(std::FILE* fp, const RESINFO& r, std::string_view id, compress::lz77_state& state);

// Resource type of a string table, the resources that hold message blocks.
inline constexpr std::int32_t string_table_type = 6;

// The resource that serves as message block `id`: the first string table of
// that name; when the library has none, the first resource of any type of
// that name, so that a library keeping its blocks under another type still
// works. Null when no resource has the name.
const RESINFO* find_message(const RESINFO& rlist, std::string_view id);

// A message block being read: its strings lie one after another from the
// block's offset up to the end of its resource's data.
struct message_block {
    std::FILE* fp = nullptr;
    std::string name;          // the block name, such as "0x1d"
    std::int64_t next = 0;     // file offset of the next string
    std::int64_t data_end = 0; // end of the resource's data
    std::uint32_t data_size = 0;  // its length, as its data entry gives it
    std::int64_t file_size = 0;
};

// Finds block `id` in `rlist` (find_message) and places `fp` at its first
// string. Throws common::fatal_error with
//  - "Can't find the message \"<id>\"." when no resource has that name;
// and common::input_error, for the caller to put the library's name in front,
//  - "The message \"<id>\" lies outside the library's resource section
//    (offset <n>, <size> bytes)." when its data does not lie wholly inside
//    the raw data of the resource section;
//  - "The message \"<id>\" lies outside the library (offset <n>)." when its
//    data starts past the end of the file.
message_block open_message(std::FILE* fp, const RESINFO& rlist, std::string_view id);

// Reads the length of string `index` and returns the size of its text in
// bytes (two per UTF-16 code unit). Throws common::input_error naming the block and the
// string when the length lies past the end of the block's data ("The message
// \"<id>\" ends inside the length of string <i>: its data holds <n>
// bytes.") or of the library ("The library ends inside the message \"<id>\",
// in the length of string <i>.").
std::size_t read_string_length(message_block& block, int index);

// Reads the text of string `index` into `units` (its size from
// read_string_length), with the same two failures for the text.
void read_string_text(message_block& block, int index, std::span<std::uint8_t> units);

// Converts the message string `buf` (UTF-16LE code units, low byte first; an
// odd last byte is ignored) to Shift_JIS with `put_sjis` (one byte for
// U+0000 to U+007F, two for every other code unit) and writes it to
// `dest` followed by one NUL. Returns the text's length counting the NUL, or
// 0 when the text and its NUL do not fit in `dest`; nothing is ever written
// past `dest`. Code units without a mapping become the replacement character
// and are counted by unmapped_count(). Needs the code table loaded.
std::size_t get_script(std::span<const std::uint8_t> buf, std::span<std::uint8_t> dest);

// True when the string `block` (0 to 15) of message block `id` (7 to 42) is
// reflowed in strip mode: block 0x1D index 0 and block 0x1C indexes 6 to 15.
// Every other string is reflowed in join mode.
bool strip_mode(int id, int block);

// The chunk file name of string `index` (0 to 15) of block `id`:
// "<id>_<index>.txt" with the index in two decimal digits ("0x1d_03.txt").
std::string chunk_name(std::string_view id, int index);

// The number of block `id`, a name such as "0x1d" read in base 16 after
// its "0x" (29); 0 when no hexadecimal digit follows.
int block_number(std::string_view id);

// Reflows the text `buf` in place and returns its new length, counting the
// NUL. `buf` is the text with its closing NUL as its last byte (the result of
// get_script). A text shorter than `reflow_min_size` bytes comes back
// unchanged. Otherwise the text is read as characters (a byte of 0x80 or more
// begins a two-byte character, the next byte being its second) and compacted:
//  - strip mode removes every space 0x20 and full-width space 0x81 0x40, and
//    of each run of directly consecutive line breaks keeps the 1st, 3rd, 5th...;
//  - join mode removes a line break when the character before it is a
//    two-byte character other than the full-width space, the next two bytes
//    are not a full-width space and the next byte is neither 'r' nor 'w'.
// Bytes between the new length and the old one are left as they were. Never
// reads or writes outside `buf`.
std::size_t rearrange_script(std::span<std::uint8_t> buf, int id, int block);

// Compresses `text` (the text and its NUL) with `state` and writes the stream
// as the file `filename` in the current directory, replacing an older file of
// that name (or a link of that name: the link, never its target). A file that
// already holds exactly the stream is left untouched, modification time
// included. The stream is written under a temporary name and renamed only
// when complete, so the file is never half-written. Throws common::fatal_error
//  - "<filename>: the compressed text is longer than 8000 bytes." when the
//    stream would not fit the compressed buffer; the file is not touched;
//  - "Can't open <filename>." when the file cannot be created;
//  - "Can't write <filename>." when a write, the close or the rename fails;
//    then an older file of that name stays as it was.
void put_compress_script(const std::string& filename, std::span<const std::uint8_t> text,
                         compress::lz77_state& state);

}  // namespace cutter
