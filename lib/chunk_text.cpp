#include "chunk_text.hpp"

#include <cstring>
#include <optional>

namespace palm {

namespace {

constexpr std::uint8_t line_break = 0x0A;
constexpr std::uint8_t space = 0x20;

}  // namespace

std::size_t get_script(sjis_table& table, std::span<const std::uint8_t> buf, std::span<std::uint8_t> dest) {
    // Keep one byte for the NUL behind the last character.
    if (dest.empty()) {
        return 0;
    }
    const std::optional<std::size_t> out = put_sjis_units(table, buf, dest.first(dest.size() - 1));
    if (!out) {
        return 0;
    }
    dest[*out] = 0;
    return *out + 1;
}

bool strip_mode(int id, int block) {
    return (id == 0x1D && block == 0) || (id == 0x1C && block > 5);
}

std::size_t rearrange_script(std::span<std::uint8_t> buf, int id, int block) {
    const std::size_t size = buf.size();
    if (size < reflow_min_size) {
        return size;
    }
    const bool strip = strip_mode(id, block);
    std::size_t i = 0;
    std::size_t j = 0;
    // The last character read: its byte, -1 for a two-byte character, 0
    // before the first. `after_full_width_space` tells, when prev is -1,
    // whether that character was the full-width space.
    int prev = 0;
    bool after_full_width_space = false;
    bool flip = false;  // strip mode: the last line break read was kept
    std::uint8_t* const text = buf.data();
    while (i < size) {
        // Most characters are kept unchanged and matter to no rule: every
        // two-byte character (but the full-width space in strip mode) and
        // every one-byte character but the line break (and the space in strip
        // mode). Such a run is found first and moved in one piece.
        const std::size_t run = i;
        std::size_t last = i;
        while (i < size) {
            const std::uint8_t c = text[i];
            if (starts_two_byte_character(c)) {
                if (i + 1 >= size || (strip && is_full_width_space(c, text[i + 1]))) {
                    break;
                }
                last = i;
                i += 2;
            } else if (c == line_break || (strip && c == space)) {
                break;
            } else {
                last = i;
                ++i;
            }
        }
        if (i != run) {
            // Read the run's last character before the move may overwrite it.
            if (starts_two_byte_character(text[last])) {
                prev = -1;
                after_full_width_space = is_full_width_space(text[last], text[last + 1]);
            } else {
                prev = text[last];
            }
            if (j != run) {
                std::memmove(text + j, text + run, i - run);
            }
            j += i - run;
            continue;
        }
        const std::uint8_t c = buf[i];
        if (starts_two_byte_character(c) && i + 1 < size) {
            // The only whole two-byte character that ends a run at once is
            // strip mode's full-width space: dropped.
            prev = -1;
            after_full_width_space = true;
            i += 2;
            continue;
        }
        if (strip && c == space) {
            prev = space;
            ++i;
            continue;
        }
        if (c == line_break) {
            bool keep = true;
            if (strip) {
                keep = !(prev == line_break && flip);
                flip = keep;
            } else if (prev == -1 && !after_full_width_space) {
                // The text ends in its NUL, so a byte follows every line break
                // but a malformed last one; the second byte is read only
                // after a first byte of 0x81, which is never the NUL.
                const std::uint8_t next = i + 1 < size ? buf[i + 1] : 0;
                const std::uint8_t after = i + 2 < size ? buf[i + 2] : 0;
                keep = is_full_width_space(next, after) || next == 'r' || next == 'w';
            }
            if (keep) {
                buf[j++] = c;
            }
            prev = line_break;
            ++i;
            continue;
        }
        buf[j++] = c;
        prev = c;
        ++i;
    }
    return j;
}

std::size_t make_chunk_text(sjis_table& table, std::span<const std::uint8_t> utf16, int id, int index,
                            std::span<std::uint8_t> text) {
    const std::size_t n = get_script(table, utf16, text);
    return n == 0 ? 0 : rearrange_script(text.first(n), id, index);
}

}  // namespace palm
