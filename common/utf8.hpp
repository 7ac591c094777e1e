// UTF-8, as every program reads and writes it: file names, file lists, the
// text peek shows, JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace common {

// Length of the well-formed UTF-8 character (RFC 3629) at the start of `s`;
// 0 when none starts there: an empty span, a stray continuation byte, an
// overlong form, an encoded surrogate, a code point above U+10FFFF, a
// character cut short, or one of the bytes C0, C1 and F5 to FF.
std::size_t utf8_character(std::span<const std::uint8_t> s);

// Appends the UTF-8 form of the code point `cp` (at most U+10FFFF, no
// surrogate).
void append_utf8(std::string& out, std::uint32_t cp);

// `bytes` as well-formed UTF-8: every well-formed character is kept as it is,
// every other byte NN stands as the character U+00NN.
std::string as_utf8(std::string_view bytes);

}  // namespace common
