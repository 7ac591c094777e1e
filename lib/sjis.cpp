#include "sjis.hpp"

#include "cli.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "sjis_internal.hpp"
#include "utf8.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace palm {

namespace {

// The font file's first pair belongs to this code point.
constexpr std::size_t first_code_point = 0x391;
// Pairs for U+0391 to U+FFFE; bytes past them are ignored.
constexpr std::size_t max_pairs = 0xFFFF - first_code_point;

// The characters from U+0080 to U+00FF that Shift_JIS has, as two-byte codes
// (first byte * 256 + second byte); 0 for the others, which are replaced.
constexpr std::array<std::uint16_t, 0x80> latin1_sjis = [] {
    std::array<std::uint16_t, 0x80> t{};
    t[0xA7 - 0x80] = 0x8198;  // section sign
    t[0xA8 - 0x80] = 0x814E;  // diaeresis
    t[0xB0 - 0x80] = 0x818B;  // degree sign
    t[0xB1 - 0x80] = 0x817D;  // plus-minus sign
    t[0xB4 - 0x80] = 0x814C;  // acute accent
    t[0xB6 - 0x80] = 0x81F7;  // pilcrow
    t[0xD7 - 0x80] = 0x817E;  // multiplication sign
    t[0xF7 - 0x80] = 0x8180;  // division sign
    return t;
}();

// A two-byte code as the bytes written, first byte first. No usable result
// has a zero byte, so two zero bytes stand for "no usable mapping".
using sjis_pair = std::array<std::uint8_t, 2>;
constexpr sjis_pair pair_of(std::uint16_t code) {
    return {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code & 0xFF)};
}

constexpr std::uint32_t geta_mark = 0x3013;
constexpr std::uint32_t replacement_character = 0xFFFD;

// Shift_JIS of the full-width forms of the half-width katakana 0xA1 to 0xDF
// (EUC-JP 0x8E 0xA1 to 0x8E 0xDF): punctuation, the kana, the sound marks.
constexpr std::array<std::uint16_t, 63> full_width_kana = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342,
    0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362, 0x815B,
    0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E,
    0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E,
    0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C,
    0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E,
    0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389, 0x838A,
    0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

bool is_half_width_kana(std::uint8_t d) {
    return d >= 0xA1 && d <= 0xDF;
}

// The two Shift_JIS bytes of a table entry (first EUC byte * 256 + second), or
// 0 when the entry gives no usable character: entry 0, a 0x8E entry outside
// the half-width katakana, an entry 0x01-0x7F with a second byte of 0x00 or
// 0x80 and above, or a conversion that gives a first byte below 0x80 or a
// 0x00 byte.
std::uint16_t sjis_of_entry(std::uint16_t entry) {
    const std::uint8_t hi = static_cast<std::uint8_t>(entry >> 8);
    const std::uint8_t lo = static_cast<std::uint8_t>(entry & 0xFF);
    if (hi == 0) {
        return 0;
    }
    if (hi < 0x80 && (lo == 0 || lo >= 0x80)) {
        return 0;  // would put a NUL, or one byte and a stray lead byte, into the text
    }
    if (hi == 0x8E && !is_half_width_kana(lo)) {
        return 0;
    }
    const std::array<std::uint8_t, 3> euc = {hi, lo, 0};
    std::array<std::uint8_t, 3> sjis{};
    euc2sjis(euc, sjis);
    // Lead bytes 0x80 to 0xA0 outside JIS X 0208 give a first byte below
    // 0x80, and some second bytes give 0x00: neither reads back as one
    // two-byte character, so they are replaced too.
    if (hi >= 0x80 && (sjis[0] < 0x80 || sjis[1] == 0)) {
        return 0;
    }
    return static_cast<std::uint16_t>((sjis[0] << 8) | sjis[1]);
}

}  // namespace

sjis_table::sjis_table() : u2e(0xFFFF, 0), u2s(0x10000, sjis_pair{}) {
    // The code units up to U+00FF bypass the table: U+0080 to U+00FF get the
    // codes Shift_JIS has for them, so that converting a character is one
    // lookup and one two-byte copy.
    for (std::size_t i = 0; i < latin1_sjis.size(); ++i) {
        u2s[0x80 + i] = pair_of(latin1_sjis[i]);
    }
}

void load_u2e_table(sjis_table& table, std::span<const std::uint8_t> font) {
    std::fill(table.u2e.begin(), table.u2e.end(), std::uint16_t{0});
    const std::size_t pairs = std::min(font.size() / 2, max_pairs);
    for (std::size_t k = 0; k < pairs; ++k) {
        table.u2e[first_code_point + k] = static_cast<std::uint16_t>((font[2 * k] << 8) | font[2 * k + 1]);
    }
    for (std::size_t ucs = 0x100; ucs < table.u2e.size(); ++ucs) {
        table.u2s[ucs] = pair_of(sjis_of_entry(table.u2e[ucs]));
    }
}

int make_u2e_table(sjis_table& table, const std::string& fontfile) {
    // A folder or a file that fails while it is read would otherwise load
    // as a short table and replace every kana and kanji without a word.
    auto f = common::open_read_regular(fontfile);
    std::vector<std::uint8_t> font(2 * max_pairs);
    if (f) {
        font.resize(std::fread(font.data(), 1, font.size(), f.get()));
    }
    if (!f || std::ferror(f.get()) != 0) {
        throw common::fatal_error("Can't open " + common::shown(fontfile) + ".");
    }
    load_u2e_table(table, font);
    return 0;
}

std::uint16_t u2e_entry(const sjis_table& table, std::uint16_t ucs) {
    return ucs < table.u2e.size() ? table.u2e[ucs] : 0;
}

bool maps_any(const sjis_table& table) {
    return std::any_of(table.u2s.begin() + 0x100, table.u2s.end(), [](const sjis_pair& code) { return code[0] != 0; });
}

std::vector<std::uint32_t> unmapped_characters(const sjis_table& table, std::span<const std::uint8_t> utf16,
                                               std::size_t most) {
    std::vector<std::uint32_t> found;
    const std::size_t units = utf16.size() / 2;
    const auto unit = [&](std::size_t k) { return static_cast<std::uint16_t>(utf16[2 * k] | (utf16[2 * k + 1] << 8)); };
    for (std::size_t k = 0; k < units && found.size() < most; ++k) {
        const std::uint16_t ucs = unit(k);
        if (ucs < 0x80 || table.u2s[ucs][0] != 0) {
            continue;
        }
        std::uint32_t cp = ucs;
        if (ucs >= 0xD800 && ucs <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
            cp = 0x10000 + ((ucs - 0xD800u) << 10) + (unit(k + 1) - 0xDC00u);
            ++k;
        }
        if (std::find(found.begin(), found.end(), cp) == found.end()) {
            found.push_back(cp);
        }
    }
    return found;
}

std::size_t euc2sjis(std::span<const std::uint8_t> euc, std::span<std::uint8_t> sjis) {
    if (sjis.empty()) {
        return 0;
    }
    const std::size_t room = sjis.size() - 1;  // one byte kept for the NUL
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < euc.size() && euc[i] != 0) {
        const int c = euc[i];
        if (c < 0x80) {
            if (j + 1 > room) {
                break;
            }
            sjis[j++] = static_cast<std::uint8_t>(c);
            ++i;
            continue;
        }
        const int d = i + 1 < euc.size() ? euc[i + 1] : 0;
        int s = 0;
        int t = 0;
        if (c == 0x8E) {
            const std::uint16_t code = is_half_width_kana(static_cast<std::uint8_t>(d))
                                           ? full_width_kana[static_cast<std::size_t>(d - 0xA1)]
                                           : static_cast<std::uint16_t>((sjis_replacement[0] << 8) |
                                                                        sjis_replacement[1]);
            s = code >> 8;
            t = code & 0xFF;
        } else {
            // Two JIS rows share one Shift_JIS first byte; the halving rounds
            // toward minus infinity (an arithmetic shift) below 0xA1 too.
            s = ((c - 0xA1) >> 1) + 0x81;
            if (s > 0x9F) {
                s += 0x40;
            }
            t = d - 0xA1 + ((c & 1) != 0 ? 0x40 : 0x9E);
            if (t > 0x7E) {
                ++t;
            }
        }
        if (j + 2 > room) {
            break;
        }
        sjis[j++] = static_cast<std::uint8_t>(s & 0xFF);
        sjis[j++] = static_cast<std::uint8_t>(t & 0xFF);
        // A NUL taken as the second byte was also the end of the input.
        i = d == 0 ? euc.size() : i + 2;
    }
    sjis[j] = 0;
    return j;
}

int put_sjis(sjis_table& table, std::uint8_t b1, std::uint8_t b2, std::span<std::uint8_t> dst) {
    const std::uint8_t units[2] = {b1, b2};
    const auto n = put_sjis_units(table, units, dst);
    if (!n) {
        throw common::fatal_error("Shift_JIS text does not fit in its buffer.");
    }
    return static_cast<int>(*n);
}

std::optional<std::size_t> put_sjis_units(sjis_table& table, std::span<const std::uint8_t> utf16,
                                          std::span<std::uint8_t> dst) {
    const std::size_t units = utf16.size() / 2;
    // With room for two bytes per code unit, which a string that fits usually
    // has, no code unit needs a check of its own.
    const bool roomy = dst.size() >= 2 * units;
    const std::uint8_t* in = utf16.data();
    std::uint8_t* const base = dst.data();
    const sjis_pair* const u2s = table.u2s.data();
    std::size_t out = 0;
    std::uint64_t replaced = 0;
    for (std::size_t k = 0; k < units; ++k, in += 2) {
        const auto ucs = static_cast<std::uint16_t>(in[0] | (in[1] << 8));
        if (ucs < 0x80) {
            if (!roomy && out + 1 > dst.size()) {
                return std::nullopt;
            }
            base[out++] = in[0];
            continue;
        }
        // A single byte of 0x80 or more would read as the first byte of a
        // two-byte character and swallow the next byte, so U+0080 to U+00FF
        // get a two-byte code too.
        if (!roomy && out + 2 > dst.size()) {
            return std::nullopt;
        }
        const sjis_pair& code = u2s[ucs];
        if (code[0] == 0) {
            std::memcpy(base + out, sjis_replacement, 2);
            ++replaced;
        } else {
            std::memcpy(base + out, code.data(), 2);
        }
        out += 2;
    }
    table.unmapped += replaced;
    return out;
}

sjis_reader::sjis_reader(const sjis_table& table) : inverse_(0x10000, 0) {
    // Going down, the lowest code point that gives a code wins. A lone
    // surrogate is no character of its own.
    for (std::uint32_t u = 0xFFFE; u >= 0x80; --u) {
        const sjis_pair& code = table.u2s[u];
        if (code[0] != 0 && (u < 0xD800 || u > 0xDFFF)) {
            inverse_[static_cast<std::size_t>(code[0] << 8 | code[1])] = u;
        }
    }
    inverse_[static_cast<std::size_t>(sjis_replacement[0] << 8 | sjis_replacement[1])] = geta_mark;
}

std::string sjis_reader::to_utf8(std::span<const std::uint8_t> sjis) const {
    std::string out;
    out.reserve(sjis.size() * 2);
    std::size_t i = 0;
    while (i < sjis.size()) {
        const std::uint8_t c = sjis[i];
        if (c == 0 && i + 1 == sjis.size()) {
            break;  // the closing zero byte
        }
        if (starts_two_byte_character(c)) {
            const std::uint32_t cp = i + 1 < sjis.size() ? inverse_[static_cast<std::size_t>(c << 8 | sjis[i + 1])] : 0;
            if (cp != 0) {
                common::append_utf8(out, cp);
                i += 2;
                continue;
            }
            common::append_utf8(out, replacement_character);
        } else if (c < 0x20 && c != '\n' && c != '\t') {
            common::append_utf8(out, replacement_character);
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out;
}

}  // namespace palm
