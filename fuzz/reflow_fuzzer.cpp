// Reflows arbitrary text with cutter's rearrange_script and compares every
// result with a plain character-by-character reading of the rules. The first
// two bytes choose the message block (0x7 to 0x2a) and the string index; the
// rest, with a closing zero byte, is the text, held in a buffer of exactly
// its size so that a sanitizer sees any read or write outside it. A
// difference aborts.
#include "chunk_text.hpp"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

bool full_width_space(std::uint8_t a, std::uint8_t b) {
    return a == 0x81 && b == 0x40;
}

// The rules read one character at a time: strip mode drops spaces and
// full-width spaces and every second line break of a run; join mode drops a
// line break after a two-byte character other than the full-width space,
// unless a full-width space, 'r' or 'w' follows it.
std::vector<std::uint8_t> plain_reflow(const std::vector<std::uint8_t>& text, int id, int index) {
    if (text.size() < 100) {
        return text;
    }
    const bool strip = (id == 0x1D && index == 0) || (id == 0x1C && index > 5);
    std::vector<std::uint8_t> out;
    int prev = 0;
    bool prev_space = false;
    bool flip = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::uint8_t c = text[i];
        if (c >= 0x80 && i + 1 < text.size()) {
            const bool space = full_width_space(c, text[i + 1]);
            if (!(strip && space)) {
                out.push_back(c);
                out.push_back(text[i + 1]);
            }
            prev = -1;
            prev_space = space;
            i += 2;
        } else if (strip && c == 0x20) {
            prev = 0x20;
            ++i;
        } else if (c == 0x0A) {
            bool keep = true;
            if (strip) {
                keep = !(prev == 0x0A && flip);
                flip = keep;
            } else if (prev == -1 && !prev_space) {
                const std::uint8_t next = i + 1 < text.size() ? text[i + 1] : 0;
                const std::uint8_t after = i + 2 < text.size() ? text[i + 2] : 0;
                keep = full_width_space(next, after) || next == 'r' || next == 'w';
            }
            if (keep) {
                out.push_back(c);
            }
            prev = 0x0A;
            ++i;
        } else {
            out.push_back(c);
            prev = c;
            ++i;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const int id = 7 + data[0] % 36;
    const int index = data[1] % 16;
    std::vector<std::uint8_t> text(data + 2, data + size);
    text.push_back(0);
    const auto want = plain_reflow(text, id, index);
    const std::size_t n = palm::rearrange_script(text, id, index);
    if (n != want.size() || !std::equal(want.begin(), want.end(), text.begin()) || text[n - 1] != 0) {
        std::abort();
    }
    return 0;
}
