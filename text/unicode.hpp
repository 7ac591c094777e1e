// UTF-16 code units to Shift_JIS bytes, through a code table from Unicode to
// EUC-JP that is loaded from a font file, then a fixed arithmetic step from
// EUC-JP to Shift_JIS.
//
// The table and the count of unmapped characters are process-wide: load the
// table once, before the first conversion, from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The two bytes written for a code unit that has no usable mapping: the geta
// mark, the usual stand-in for a missing character in Japanese text.
inline constexpr std::uint8_t sjis_replacement[2] = {0x81, 0xAC};

// Loads the code table from the font file at `fontfile`: big-endian pairs,
// the pair at offset 2k holding the EUC-JP code of U+0391 + k, no header.
// At most the pairs for U+0391 to U+FFFE are used; code points the file does
// not reach, and a last byte that does not complete a pair, leave entry 0.
// Every earlier entry is cleared first. Returns 0. Throws common::fatal_error
// "Can't open <fontfile>." when the file cannot be opened or read, or is no
// regular file (a folder, say). A short or empty file is no error.
int make_u2e_table(const std::string& fontfile);

// Converts the UTF-16LE code unit with low byte `b1` and high byte `b2` and
// writes its Shift_JIS bytes at the start of `dst`, without a terminator.
// Returns the number of bytes written:
//  - 1 for U+0000 to U+007F: the byte `b1` itself;
//  - 2 for U+0080 to U+00FF: the eight that Shift_JIS has (section sign,
//    diaeresis, degree sign, plus-minus sign, acute accent, pilcrow,
//    multiplication sign, division sign) as their codes, every other one as
//    `sjis_replacement`, counted by `unmapped_count()`;
//  - 2 for every code unit from U+0100 up: the Shift_JIS form of its table entry; a
//    half-width katakana entry (first byte 0x8E) becomes its full-width
//    equivalent; a code unit without a usable mapping (entry 0, U+FFFF, a
//    0x8E entry outside 0xA1-0xDF, an entry 0x01-0x7F with a second byte of
//    0x00 or 0x80 and above, or an entry whose conversion would give a first
//    byte below 0x80 or a 0x00 byte) becomes `sjis_replacement` and adds one
//    to `unmapped_count()`.
// Never writes a 0x00 byte, nor a lone byte of 0x80 or more, for a code unit
// above U+007F. Throws
// common::fatal_error when `dst` has no room for the result; then nothing is
// written.
int put_sjis(std::uint8_t b1, std::uint8_t b2, std::span<std::uint8_t> dst);

// Converts every code unit of the UTF-16LE string `utf16` (low byte first;
// an odd last byte is ignored) as put_sjis does and writes the bytes at the
// start of `dst`, without a terminator. Returns the number of bytes written,
// or nothing when they do not fit `dst` (nothing is written past it, and the
// text in it is incomplete). Replaced code units count in unmapped_count().
std::optional<std::size_t> put_sjis_units(std::span<const std::uint8_t> utf16, std::span<std::uint8_t> dst);

// The loaded table entry of `ucs` (first EUC byte * 256 + second byte), 0 for
// no mapping. U+FFFF has no entry and gives 0.
std::uint16_t u2e_entry(std::uint16_t ucs);

// The number of code units that `put_sjis` replaced since the program started
// or since the last `reset_unmapped_count()`. Callers reset it before a piece
// of text and read it afterwards to warn about that piece.
std::uint64_t unmapped_count();
void reset_unmapped_count();
