// The chunk-stream decoder on arbitrary bytes: it must stay inside its input
// and its output limit, and report a cut or over-long stream consistently.
#include "lzss.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using palm::lz77_decode_status;
    // The first two bytes choose the output limit, the rest is the stream.
    if (size < 2) {
        return 0;
    }
    const std::size_t max_size = static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1]) << 8);
    const std::span<const std::uint8_t> stream(data + 2, size - 2);

    const auto dec = palm::lz77_decompress(stream, max_size);
    if (dec.bytes.size() > max_size) {
        std::abort();
    }
    if (dec.status == lz77_decode_status::too_long && dec.bytes.size() != max_size) {
        std::abort();
    }
    if (dec.status == lz77_decode_status::truncated_match && stream.empty()) {
        std::abort();
    }
    if (dec.status == lz77_decode_status::ok) {
        // The text is exactly as long as the stream makes it: a limit of its
        // length passes, one byte less is too long, and the bytes agree.
        const auto again = palm::lz77_decompress(stream, dec.bytes.size());
        if (again.status != lz77_decode_status::ok || again.bytes != dec.bytes) {
            std::abort();
        }
        if (!dec.bytes.empty()) {
            const auto shorter = palm::lz77_decompress(stream, dec.bytes.size() - 1);
            if (shorter.status != lz77_decode_status::too_long ||
                !std::equal(shorter.bytes.begin(), shorter.bytes.end(), dec.bytes.begin())) {
                std::abort();
            }
        }
    }
    return 0;
}
