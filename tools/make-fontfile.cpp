// make-fontfile: writes the font file that cutter reads, from the system's own
// EUC-JP conversion (glibc iconv).
//
// For every code point from U+0391 to U+FFFE, in order, two bytes: its EUC-JP
// code, first byte first, when that code is a JIS X 0208 character (both
// bytes 0xA1 to 0xFE); otherwise 0x00 0x00. No header. Half-width katakana
// (0x8E ..) and JIS X 0212 (0x8F .. ..) codes are left out.
//
// usage: make-fontfile output-file
#include "file_io.hpp"

#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

bool in_jis0208_range(unsigned char b) {
    return b >= 0xA1 && b <= 0xFE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fontfile output-file\n");
        return 1;
    }
    iconv_t cd = iconv_open("EUC-JP", "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "This system's iconv cannot convert to EUC-JP.\n");
        return 1;
    }
    std::vector<std::uint8_t> font;
    int mapped = 0;
    for (std::uint32_t u = 0x391; u <= 0xFFFE; ++u) {
        std::uint8_t out[2] = {0, 0};
        if (u < 0xD800 || u > 0xDFFF) {
            char in[4] = {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF), 0, 0};
            char conv[8];
            char* in_p = in;
            char* out_p = conv;
            std::size_t in_left = sizeof in;
            std::size_t out_left = sizeof conv;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const std::size_t r = iconv(cd, &in_p, &in_left, &out_p, &out_left);
            const auto* b = reinterpret_cast<const unsigned char*>(conv);
            if (r != static_cast<std::size_t>(-1) && out_p - conv == 2 && in_jis0208_range(b[0]) &&
                in_jis0208_range(b[1])) {
                out[0] = b[0];
                out[1] = b[1];
                ++mapped;
            }
        }
        font.push_back(out[0]);
        font.push_back(out[1]);
    }
    iconv_close(cd);

    auto f = common::open_write(argv[1]);
    if (!f || !common::write_all(f.get(), font) || !common::close_file(f)) {
        std::fprintf(stderr, "Can't open %s.\n", argv[1]);
        return 1;
    }
    std::fprintf(stderr, "%s: %d of %zu code points mapped\n", argv[1], mapped, font.size() / 2);
    return 0;
}
