// Helpers of the resource scan that the tests reach directly. Not part of the
// module's interface for the program.
#pragma once

#include "resinfo.hpp"

#include <cstdint>
#include <span>
#include <string_view>

// Appends a copy of `resinfo`'s type, name, language and offset after the
// last record of the list that contains `rlist` (follows `next` from `rlist`
// to the tail; pass the previous result to append in constant time). A record
// named exactly "CG02444" is stored 128 bytes further on. Returns the new tail.
RESINFO& add_resinfo(RESINFO& rlist, const RESINFO& resinfo);

// Writes the low byte of each of the first `strnum` UTF-16LE code units of
// `src` to `dst`, then a NUL. Converts fewer code units when `src` holds fewer
// than `strnum` or `dst` has no room for them and the NUL, so nothing is read
// or written outside the spans. Returns the number of code units converted.
std::size_t u2aconv(std::span<const std::uint8_t> src, std::span<char> dst, std::uint16_t strnum);

// The record's name as text: up to the first NUL, at most 16 characters.
std::string_view rlist_name(const RESINFO& record);
