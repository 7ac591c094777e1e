// A message string made ready for its chunk file: its UTF-16 code units
// turned into Shift_JIS with a closing NUL (get_script), then its line breaks
// and spaces reflowed for the handheld's screen (rearrange_script). cutter
// writes what this makes; peek --verify makes it again to compare.
#pragma once

#include "sjis.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace palm {

// Room for one string's Shift_JIS text with its NUL: every string of up to
// 3999 code units fits.
inline constexpr std::size_t text_buffer_size = 8000;
// Texts shorter than this, counting the NUL, are never reflowed.
inline constexpr std::size_t reflow_min_size = 100;

// Converts the message string `buf` (UTF-16LE code units, low byte first; an
// odd last byte is ignored) to Shift_JIS with put_sjis (one byte for U+0000 to
// U+007F, two for every other code unit) and writes it to `dest` followed by
// one NUL. Returns the text's length counting the NUL, or 0 when the text and
// its NUL do not fit in `dest`; nothing is ever written past `dest`. Code
// units without a mapping become the replacement character and are counted in
// `table.unmapped`.
std::size_t get_script(sjis_table& table, std::span<const std::uint8_t> buf, std::span<std::uint8_t> dest);

// True when the string `block` (0 to 15) of message block `id` (7 to 42) is
// reflowed in strip mode: block 0x1D index 0 and block 0x1C indexes 6 to 15.
// Every other string is reflowed in join mode.
bool strip_mode(int id, int block);

// Reflows the text `buf` in place and returns its new length, counting the
// NUL. `buf` is the text with its closing NUL as its last byte (the result of
// get_script). A text shorter than `reflow_min_size` bytes comes back
// unchanged. Otherwise the text is read as characters (starts_two_byte_character)
// and compacted:
//  - strip mode removes every space 0x20 and full-width space 0x81 0x40, and
//    of each run of directly consecutive line breaks keeps the 1st, 3rd, 5th...;
//  - join mode removes a line break when the character before it is a
//    two-byte character other than the full-width space, the next two bytes
//    are not a full-width space and the next byte is neither 'r' nor 'w'.
// Bytes between the new length and the old one are left as they were. Never
// reads or writes outside `buf`.
std::size_t rearrange_script(std::span<std::uint8_t> buf, int id, int block);

// The text of string `index` of message block `id`, made as cutter makes it:
// get_script into `text`, then rearrange_script. Returns its length counting
// the NUL, or 0 when it does not fit `text`.
std::size_t make_chunk_text(sjis_table& table, std::span<const std::uint8_t> utf16, int id, int index,
                            std::span<std::uint8_t> text);

}  // namespace palm
