// LZSS coding of one chunk's text: a 4096-byte ring, matches of 3 to 18
// bytes, and binary search trees (one per first byte) to find the longest
// match. The stream has no header and no end marker; the chunk file or
// database record that holds it gives its length.
//
// Stream layout: groups of one flag byte and up to eight items. Bit 7 of the
// flag byte describes the first item, bit 0 the eighth; a set bit is a
// literal (one byte), a clear bit a match (two bytes B1 B2). A match copies
// L = (B1 & 0x0F) + 3 bytes from the absolute ring position
// P = B2 * 16 + (B1 >> 4). The decoder's ring starts as zeros and the first
// byte of the text goes to ring position 4078.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace palm {

inline constexpr std::int32_t ring_size = 4096;
inline constexpr std::int32_t lookahead_size = 18;  // longest match
inline constexpr std::int32_t match_threshold = 2;  // matches this short go out as literals
inline constexpr std::int32_t first_position = ring_size - lookahead_size;  // 4078

// Longest stream for `n` input bytes: all literals, one flag byte per eight.
constexpr std::size_t lz77_max_compressed_size(std::size_t n) {
    return n + n / 8 + (n % 8 != 0 ? 1 : 0);
}

// A tree link: a node number (see lz77_state). 16 bits keep the tables small
// enough to stay in the first-level cache; unsigned, a link widens to an
// index at no cost.
using lz77_link = std::uint16_t;

// The encoder's ring and trees. A value-initialised record is the state at the
// start of a run. Keep ONE record for the whole run and pass it to every call:
// each call clears the trees and ring positions 0 to 4077, but positions 4078
// to 4112 of the ring keep what the previous call left there. Near the end of an
// input the tree search compares bytes beyond the valid look-ahead and so reads
// those leftovers, which can change the position bytes of a final match (never
// its length, nor the decoded text). Callers that must reproduce a run's chunk
// files byte for byte therefore call with the same inputs in the same order on
// one record. About 30 KB: hold it in a std::unique_ptr or a static.
struct lz77_state {
    // Ring positions 0 to 4095, then 4096 to 4112 repeating ring positions 0
    // to 16 so that 18 bytes from any position read as one straight run; kept
    // back to front: straight index i is text[4112 - i]. That way eight bytes
    // of a string load as one little-endian number that orders like the bytes
    // compared one by one.
    std::array<std::uint8_t, ring_size + lookahead_size - 1> text{};
    // The trees, indexed by node number: ring position p is node 4104 - p, so
    // that the bytes 1 to 8 of node n's string start at text[n]; 0 is no node
    // (its parent entry takes writes made through empty links), and 4105 + b
    // is the root of the tree for first byte b, whose right link holds the
    // top of that tree.
    std::array<lz77_link, 4105 + 256> lson{};
    std::array<lz77_link, 4105 + 256> rson{};
    std::array<lz77_link, 4105 + 256> dad{};  // parent, 0 when not in a tree
};

enum class lz77_status {
    ok,        // the whole stream is in `dst`
    overflow,  // the stream is longer than `dst`; only its first dst.size() bytes were written
};

struct lz77_result {
    std::size_t size;  // length of the whole stream, also when it did not fit
    lz77_status status;
};

// Compresses `img` into `dst` using and updating `state`. Reads each byte of
// `img` once, in order. Whatever earlier calls left in the record, the stream
// decodes to `img`; its bytes are reproducible when the record was
// value-initialised and then changed only by this function, called with the
// same inputs in the same order.
// Returns the stream's full length. When it exceeds dst.size() the result is
// `overflow`, `dst` holds the stream's first dst.size() bytes and nothing is
// written past its end; `state` is then left exactly as after a call with
// enough room, so later calls write the same streams either way.
// Room for lz77_max_compressed_size(img.size()) bytes always suffices.
// An empty `img` gives an empty stream.
lz77_result lz77_compress(lz77_state& state, std::span<const std::uint8_t> img,
                          std::span<std::uint8_t> dst);

enum class lz77_decode_status {
    ok,               // every byte of the stream was used
    too_long,         // the text would be longer than the caller's maximum
    truncated_match,  // the stream ends after the first of a match's two bytes
};

struct lz77_decoded {
    std::vector<std::uint8_t> bytes;  // the text decoded before decoding stopped
    lz77_decode_status status;
};

// Decodes one stream with a fresh ring, producing at most `max_size` bytes.
// Safe on any input: reads only inside `stream`, allocates at most `max_size`
// bytes, and keeps going to the end of the stream or the first fault:
// - `too_long`: the text would exceed `max_size`; `bytes` holds its first
//   `max_size` bytes;
// - `truncated_match`: the last byte begins a match whose second byte is
//   missing; `bytes` holds the text decoded before it.
// A last group with fewer items than its flag byte announces simply ends the
// stream. A match may name any ring position; ring positions never written
// read as zero.
lz77_decoded lz77_decompress(std::span<const std::uint8_t> stream, std::size_t max_size);

}  // namespace palm
