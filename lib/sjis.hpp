// UTF-16 code units to Shift_JIS bytes, through a code table from Unicode to
// EUC-JP that is loaded from a font file, then a fixed arithmetic step from
// EUC-JP to Shift_JIS; and Shift_JIS back to UTF-8 through the same table.
//
// The table is an object the caller owns (`sjis_table`): load it with
// make_u2e_table, then convert with put_sjis_units (get_script does, for a
// chunk's text); it counts the code units it replaced. Nothing is process-wide.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace palm {

// Shift_JIS text, as every reader of it walks it: a byte of 0x80 or more
// begins a two-byte character, the next byte being its second whatever its
// value; any other byte is a character of its own.
constexpr bool starts_two_byte_character(std::uint8_t b) {
    return b >= 0x80;
}

// The full-width space, 0x81 0x40.
constexpr bool is_full_width_space(std::uint8_t first, std::uint8_t second) {
    return first == 0x81 && second == 0x40;
}

// The two bytes written for a code unit that has no usable mapping: the geta
// mark, the usual stand-in for a missing character in Japanese text.
inline constexpr std::uint8_t sjis_replacement[2] = {0x81, 0xAC};

// A font file's code table and the conversion it gives. A new table maps
// U+0000 to U+00FF (see put_sjis) and nothing above.
struct sjis_table {
    sjis_table();

    // Entry per code unit U+0000 to U+FFFE: EUC-JP first byte * 256 + second
    // byte, 0 for no mapping.
    std::vector<std::uint16_t> u2e;
    // The two Shift_JIS bytes put_sjis writes for each code unit from U+0080
    // up, worked out when the table is loaded; two zero bytes: no usable
    // mapping, the replacement is written.
    std::vector<std::array<std::uint8_t, 2>> u2s;
    // The code units put_sjis replaced since the table was made; the caller
    // sets it to 0 before a piece of text to count that piece.
    std::uint64_t unmapped = 0;
};

// Loads `table` from the font file at `fontfile`: big-endian pairs, the pair
// at offset 2k holding the EUC-JP code of U+0391 + k, no header. At most the
// pairs for U+0391 to U+FFFE are used; code points the file does not reach,
// and a last byte that does not complete a pair, leave entry 0. Every earlier
// entry is cleared first. Returns 0. Throws common::fatal_error
// "Can't open <fontfile>." when the file cannot be opened or read, or is no
// regular file (a folder, say). A short or empty file is no error.
int make_u2e_table(sjis_table& table, const std::string& fontfile);

// Converts the UTF-16LE code unit with low byte `b1` and high byte `b2` and
// writes its Shift_JIS bytes at the start of `dst`, without a terminator.
// Returns the number of bytes written:
//  - 1 for U+0000 to U+007F: the byte `b1` itself;
//  - 2 for U+0080 to U+00FF: the eight that Shift_JIS has (section sign,
//    diaeresis, degree sign, plus-minus sign, acute accent, pilcrow,
//    multiplication sign, division sign) as their codes, every other one as
//    `sjis_replacement`, counted in `table.unmapped`;
//  - 2 for every code unit from U+0100 up: the Shift_JIS form of its table
//    entry; a half-width katakana entry (first byte 0x8E) becomes its
//    full-width equivalent; a code unit without a usable mapping (entry 0,
//    U+FFFF, a 0x8E entry outside 0xA1-0xDF, an entry 0x01-0x7F with a
//    second byte of 0x00 or 0x80 and above, or an entry whose conversion
//    would give a first byte below 0x80 or a 0x00 byte) becomes
//    `sjis_replacement`, counted in `table.unmapped`.
// Never writes a 0x00 byte, nor a lone byte of 0x80 or more, for a code unit
// above U+007F. Throws common::fatal_error when `dst` has no room for the
// result; then nothing is written.
int put_sjis(sjis_table& table, std::uint8_t b1, std::uint8_t b2, std::span<std::uint8_t> dst);

// Converts every code unit of the UTF-16LE string `utf16` (low byte first;
// an odd last byte is ignored) as put_sjis does and writes the bytes at the
// start of `dst`, without a terminator. Returns the number of bytes written,
// or nothing when they do not fit `dst` (nothing is written past it, and the
// text in it is incomplete). Replaced code units count in `table.unmapped`.
std::optional<std::size_t> put_sjis_units(sjis_table& table, std::span<const std::uint8_t> utf16,
                                          std::span<std::uint8_t> dst);

// The table entry of `ucs` (first EUC byte * 256 + second byte), 0 for no
// mapping. U+FFFF has no entry and gives 0.
std::uint16_t u2e_entry(const sjis_table& table, std::uint16_t ucs);

// True when the table gives a usable code to some code unit from U+0100 up:
// false for a font file that is empty or holds only zero pairs.
bool maps_any(const sjis_table& table);

// The characters of the UTF-16LE string `utf16` that put_sjis replaces, each
// once, in the order they first appear, as code points (a surrogate pair as
// the one character it encodes); at most `most` of them.
std::vector<std::uint32_t> unmapped_characters(const sjis_table& table, std::span<const std::uint8_t> utf16,
                                               std::size_t most);

// Shift_JIS text back to UTF-8, through the inverse of a loaded table: each
// two-byte code to the lowest code point that put_sjis turns into it.
class sjis_reader {
public:
    explicit sjis_reader(const sjis_table& table);

    // The text as UTF-8. The replacement 0x81 0xAC becomes the geta mark
    // U+3013; a byte that starts no character of the table, or a control
    // byte other than line feed and tab, becomes U+FFFD. The text's closing
    // zero byte is dropped; an inner zero byte becomes U+FFFD too.
    std::string to_utf8(std::span<const std::uint8_t> sjis) const;

private:
    std::vector<std::uint32_t> inverse_;  // Shift_JIS code to code point, 0 for none
};

}  // namespace palm
