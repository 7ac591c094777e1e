// The chunk text steps on arbitrary input: the conversion stays inside its
// buffer and closes the text with a NUL; the reflow stays inside the text,
// keeps the NUL last, leaves short texts alone and, in join mode, removes
// nothing but line breaks.
#include "cutter.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte chooses the string (strip mode for an odd byte), the
    // rest is the text without its NUL, or a UTF-16 string with bit 1 set.
    if (size < 1) {
        return 0;
    }
    const bool strip = (data[0] & 1) != 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    std::vector<std::uint8_t> text;
    if ((data[0] & 2) != 0) {
        // Exactly as large as the conversion may use, so that a write past
        // it is caught; the code table stays empty, so U+0100 and up become
        // the replacement.
        std::vector<std::uint8_t> room(std::min<std::size_t>(rest.size() + 1, cutter::text_buffer_size));
        const std::size_t n = cutter::get_script(rest, room);
        if (n == 0) {
            return 0;
        }
        if (n > room.size() || room[n - 1] != 0) {
            std::abort();
        }
        text.assign(room.begin(), room.begin() + static_cast<std::ptrdiff_t>(n));
    } else {
        text.assign(rest.begin(), rest.end());
        text.push_back(0);
    }
    const std::vector<std::uint8_t> before = text;
    const std::size_t n = cutter::rearrange_script(text, strip ? 0x1D : 0x10, 0);
    if (n == 0 || n > text.size() || text[n - 1] != 0) {
        std::abort();
    }
    if (before.size() < cutter::reflow_min_size && (n != before.size() || text != before)) {
        std::abort();
    }
    if (!strip) {
        std::vector<std::uint8_t> a;
        std::vector<std::uint8_t> b;
        std::copy_if(before.begin(), before.end(), std::back_inserter(a), [](std::uint8_t c) { return c != '\n'; });
        std::copy_if(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), std::back_inserter(b),
                     [](std::uint8_t c) { return c != '\n'; });
        if (a != b) {
            std::abort();
        }
    }
    return 0;
}
