#include "utf8.hpp"

namespace common {

std::size_t utf8_character(std::span<const std::uint8_t> s) {
    if (s.empty()) {
        return 0;
    }
    const std::uint8_t c = s[0];
    if (c < 0x80) {
        return 1;
    }
    std::size_t n = 0;
    std::uint8_t low = 0x80;  // the range of the second byte
    std::uint8_t high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        low = c == 0xE0 ? 0xA0 : low;    // shorter forms of U+0000 to U+07FF
        high = c == 0xED ? 0x9F : high;  // the surrogates U+D800 to U+DFFF
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        low = c == 0xF0 ? 0x90 : low;    // shorter forms of U+0000 to U+FFFF
        high = c == 0xF4 ? 0x8F : high;  // above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < n || s[1] < low || s[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return n;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string as_utf8(std::string_view bytes) {
    const std::span<const std::uint8_t> s(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < s.size();) {
        if (const std::size_t n = utf8_character(s.subspan(i)); n != 0) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            append_utf8(out, s[i]);
            ++i;
        }
    }
    return out;
}

}  // namespace common
