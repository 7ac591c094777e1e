// Parts of the Shift_JIS conversion that the tests reach directly. Not part
// of the module's interface for the program.
#pragma once

#include "sjis.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace palm {

// Converts the EUC-JP bytes of `euc`, up to its first NUL or its end, to
// Shift_JIS in `sjis`, followed by a NUL. Returns the number of bytes written
// before the NUL. A byte below 0x80 is copied. A byte c of 0x80 or above takes
// the next byte d as its second byte, whatever its value (a NUL or the end of
// `euc` there also ends the input), and gives two bytes:
//  - for c = 0x8E: the full-width equivalent of half-width katakana d
//    (d from 0xA1 to 0xDF), else the replacement 0x81 0xAC;
//  - otherwise s = floor((c - 0xA1) / 2) + 0x81, plus 0x40 if above 0x9F;
//    t = d - 0xA1 + (c odd ? 0x40 : 0x9E), plus 1 if above 0x7E; the low 8
//    bits of s and t are written.
// Stops early, still terminated, when `sjis` has no room for the next
// character and the NUL; writes nothing when `sjis` is empty.
std::size_t euc2sjis(std::span<const std::uint8_t> euc, std::span<std::uint8_t> sjis);

// Loads `table` from the bytes of a font file (see make_u2e_table).
void load_u2e_table(sjis_table& table, std::span<const std::uint8_t> font);

}  // namespace palm
