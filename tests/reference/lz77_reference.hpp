// The chunk encoder written out plainly, to check the real one against and to
// time it against: int tables, the textbook insertion into and deletion from
// binary search trees, keys compared byte by byte. Not used by the programs.
//
// It writes the same streams as palm::lz77_compress, including what one
// call leaves for the next: each call clears the trees and ring positions 0 to
// 4077, while positions 4078 to 4112 keep the previous call's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lz77_reference {

// Compresses `in` into `out`, which needs room for n + ceil(n / 8) bytes, and
// returns the stream's length. The ring and trees are process-wide: every call
// goes on from what the previous one left, as calls on one palm::lz77_state
// do.
std::size_t compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

// Every table back to zero, as at the start of a process.
void reset();

}  // namespace lz77_reference
