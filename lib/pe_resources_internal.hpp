// Helpers of the resource scan that the tests reach directly. Not part of the
// module's interface for the program.
#pragma once

#include "pe_resources.hpp"

#include <cstdint>
#include <span>
#include <string_view>

namespace palm {

// Appends a copy of `resinfo` to the list. A record named exactly "CG02444"
// is stored 128 bytes further on.
void add_resinfo(resource_list& rlist, const RESINFO& resinfo);

// Writes the low byte of each of the first `strnum` UTF-16LE code units of
// `src` to `dst`, then a NUL. Converts fewer code units when `src` holds fewer
// than `strnum` or `dst` has no room for them and the NUL, so nothing is read
// or written outside the spans. Returns the number of code units converted.
std::size_t u2aconv(std::span<const std::uint8_t> src, std::span<char> dst, std::uint16_t strnum);

}  // namespace palm
