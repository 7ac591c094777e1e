// The code table and the Shift_JIS conversion: loading the font file, the
// bytes written per code unit, the replacement for code units without a
// usable mapping, and the arithmetic against the system's iconv.
#include "fatal_error.hpp"
#include "sjis.hpp"
#include "sjis_internal.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include <array>
#include <string>
#include <vector>

#if __has_include(<iconv.h>)
#include <iconv.h>
#define PALMPORT_HAVE_ICONV 1
#endif

namespace {

// The table the tests load and convert with, one for the whole test program.
palm::sjis_table table;

// A font whose pair for code point `ucs` holds `entry` (all others 0).
std::vector<std::uint8_t> font_with(std::uint16_t ucs, std::uint16_t entry) {
    std::vector<std::uint8_t> font(2 * (ucs - 0x391u + 1), 0);
    font[font.size() - 2] = static_cast<std::uint8_t>(entry >> 8);
    font[font.size() - 1] = static_cast<std::uint8_t>(entry);
    return font;
}

std::vector<std::uint8_t> convert(std::uint16_t ucs) {
    std::array<std::uint8_t, 2> out{0xEE, 0xEE};
    const int n = palm::put_sjis(table, static_cast<std::uint8_t>(ucs), static_cast<std::uint8_t>(ucs >> 8), out);
    return {out.begin(), out.begin() + n};
}

using bytes = std::vector<std::uint8_t>;
const bytes geta = {0x81, 0xAC};

TEST(UnicodePutSjis, TableEntriesGiveTwoBytes) {
    struct row {
        std::uint16_t entry;
        bytes sjis;
        bool unmapped;
    };
    const row rows[] = {
        // JIS X 0208 through the arithmetic
        {0xA4A2, {0x82, 0xA0}, false}, {0xA1A1, {0x81, 0x40}, false}, {0xA1DF, {0x81, 0x7E}, false},
        {0xA1E0, {0x81, 0x80}, false}, {0xDEFE, {0x9F, 0xFC}, false}, {0xDFA1, {0xE0, 0x40}, false},
        {0xFEFE, {0xEF, 0xFC}, false},
        // other lead bytes from 0x80 go through the same arithmetic
        {0xFF81, {0xF0, 0x20}, false}, {0xA00A, {0x80, 0x07}, false},
        // one-byte pairs are written unchanged
        {0x2141, {0x21, 0x41}, false}, {0x0A0A, {0x0A, 0x0A}, false},
        // half-width katakana become their full-width forms
        {0x8EB1, {0x83, 0x41}, false}, {0x8EA1, {0x81, 0x42}, false}, {0x8EDF, {0x81, 0x4B}, false},
        // no usable mapping: the geta mark, counted
        {0x0000, geta, true}, {0x00A1, geta, true}, {0x8EA0, geta, true}, {0x8EE0, geta, true},
        {0x2100, geta, true}, {0x2180, geta, true}, {0x21FF, geta, true},
        {0x80A1, geta, true},  // first byte 0x70 would read as a one-byte character
        {0xA161, geta, true},  // second byte would be 0x00
        {0xA003, geta, true},
    };
    for (const row& r : rows) {
        palm::load_u2e_table(table, font_with(0x4E00, r.entry));
        table.unmapped = 0;
        EXPECT_EQ(convert(0x4E00), r.sjis) << std::hex << r.entry;
        EXPECT_EQ(table.unmapped, r.unmapped ? 1u : 0u) << std::hex << r.entry;
    }
}

// Only U+0000 to U+007F stay one byte; U+0080 to U+00FF never go through the
// table: the eight that Shift_JIS has get their codes, the rest the geta mark.
TEST(UnicodePutSjis, CodeUnitsUpToFFBypassTheTable) {
    palm::load_u2e_table(table, font_with(0xFFFE, 0xA4A2));
    table.unmapped = 0;
    struct row {
        std::uint16_t ucs;
        bytes sjis;
    };
    const row rows[] = {
        {0x0041, {0x41}},       {0x0000, {0x00}},       {0x000A, {0x0A}},       {0x007F, {0x7F}},
        {0x00A7, {0x81, 0x98}}, {0x00A8, {0x81, 0x4E}}, {0x00B0, {0x81, 0x8B}}, {0x00B1, {0x81, 0x7D}},
        {0x00B4, {0x81, 0x4C}}, {0x00B6, {0x81, 0xF7}}, {0x00D7, {0x81, 0x7E}}, {0x00F7, {0x81, 0x80}},
        {0x0080, geta},         {0x00A5, geta},         {0x00E9, geta},         {0x00FF, geta},
        {0x0100, geta},         {0x0390, geta},         {0xFFFF, geta},         {0xD800, geta},
        {0xFFFE, {0x82, 0xA0}},
    };
    for (const row& r : rows) {
        EXPECT_EQ(convert(r.ucs), r.sjis) << std::hex << r.ucs;
    }
    EXPECT_EQ(table.unmapped, 8u);
}

TEST(UnicodePutSjis, NeverWritesPastItsDestination) {
    palm::load_u2e_table(table, font_with(0x3042, 0xA4A2));
    std::array<std::uint8_t, 2> out{0xEE, 0xEE};
    EXPECT_EQ(palm::put_sjis(table, 0x41, 0x00, std::span(out).first(1)), 1);
    EXPECT_THROW(palm::put_sjis(table, 0x42, 0x30, std::span(out).first(1)), common::fatal_error);
    EXPECT_THROW(palm::put_sjis(table, 0x41, 0x00, std::span(out).first(0)), common::fatal_error);
    EXPECT_EQ(out[1], 0xEE);
}

TEST(UnicodeEuc2Sjis, StringsAndBounds) {
    struct row {
        bytes euc;
        std::size_t room;
        bytes sjis;  // without the NUL
    };
    const row rows[] = {
        {{'A', 0xA4, 0xA2, 'B', 0}, 8, {'A', 0x82, 0xA0, 'B'}},
        {{'A', 0, 0xA4, 0xA2}, 8, {'A'}},              // the NUL ends the input
        {{0xA4}, 8, {0x82, 0xFD}},                      // the end taken as a NUL second byte
        {{0xA4, 0x00, 'X'}, 8, {0x82, 0xFD}},           // ... and it ends the input
        {{0x8E, 0xB1, 0x8E, 0x20}, 8, {0x83, 0x41, 0x81, 0xAC}},
        {{'A', 0xA4, 0xA2}, 3, {'A'}},                  // no room for the pair and the NUL
        {{'A', 'B', 'C'}, 3, {'A', 'B'}},
    };
    for (const row& r : rows) {
        std::vector<std::uint8_t> out(r.room, 0xEE);
        const std::size_t n = palm::euc2sjis(r.euc, out);
        EXPECT_EQ(bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), r.sjis);
        EXPECT_EQ(out[n], 0);
    }
    EXPECT_EQ(palm::euc2sjis(bytes{'A'}, std::span<std::uint8_t>()), 0u);
}

std::string write_font(const std::string& name, const bytes& font) {
    test_support::write_bytes(name, font);
    return name;
}

TEST(UnicodeTable, FontFileLengths) {
    // Three bytes: U+0391 only, the stray byte ignored.
    EXPECT_EQ(palm::make_u2e_table(table, write_font("font3.bin", {0xA6, 0xA1, 0xA6})), 0);
    EXPECT_EQ(palm::u2e_entry(table, 0x391), 0xA6A1);
    EXPECT_EQ(palm::u2e_entry(table, 0x392), 0);
    EXPECT_EQ(palm::u2e_entry(table, 0x390), 0);

    // 129246 bytes: U+FFFE takes the pair at 129242, the last pair is ignored.
    bytes font(129246, 0);
    font[129240] = 0xB0;
    font[129241] = 0xA1;
    font[129242] = 0xA4;
    font[129243] = 0xA2;
    font[129244] = 0xA1;
    font[129245] = 0xA1;
    palm::make_u2e_table(table, write_font("font_full.bin", font));
    EXPECT_EQ(palm::u2e_entry(table, 0xFFFD), 0xB0A1);
    EXPECT_EQ(palm::u2e_entry(table, 0xFFFE), 0xA4A2);
    EXPECT_EQ(palm::u2e_entry(table, 0xFFFF), 0);

    // Loading again starts from an empty table; an empty file is no error.
    palm::make_u2e_table(table, write_font("font0.bin", {}));
    EXPECT_EQ(palm::u2e_entry(table, 0xFFFE), 0);
}

// A font file that is missing, or a folder, would load as an empty table
// and replace every character: the run ends instead.
TEST(UnicodeTable, MissingOrUnreadableFontFileEndsTheRun) {
    std::filesystem::create_directories("font_folder.bin");
    for (const std::string name : {"no_such_font.bin", "font_folder.bin"}) {
        try {
            palm::make_u2e_table(table, name);
            ADD_FAILURE() << name;
        } catch (const common::fatal_error& e) {
            EXPECT_EQ(e.what(), "Can't open " + name + ".");
        }
    }
}

TEST(UnicodeTable, SampleFontMapsJapaneseText) {
    palm::make_u2e_table(table, PALMPORT_SOURCE_DIR "/examples/font.bin");
    table.unmapped = 0;
    // あ, 漢, the full-width space, Α (the first code point of the file), ー
    EXPECT_EQ(convert(0x3042), (bytes{0x82, 0xA0}));
    EXPECT_EQ(convert(0x6F22), (bytes{0x8A, 0xBF}));
    EXPECT_EQ(convert(0x3000), (bytes{0x81, 0x40}));
    EXPECT_EQ(convert(0x0391), (bytes{0x83, 0x9F}));
    EXPECT_EQ(convert(0x30FC), (bytes{0x81, 0x5B}));
    EXPECT_EQ(convert(0xFF71), geta);  // half-width katakana are not in the file
    EXPECT_EQ(table.unmapped, 1u);
    // Every code the file holds is a JIS X 0208 character: none is replaced.
    table.unmapped = 0;
    int mapped = 0;
    for (std::uint32_t u = 0x391; u <= 0xFFFE; ++u) {
        if (palm::u2e_entry(table, static_cast<std::uint16_t>(u)) != 0) {
            convert(static_cast<std::uint16_t>(u));
            ++mapped;
        }
    }
    EXPECT_EQ(table.unmapped, 0u);
    EXPECT_GT(mapped, 6800);
}

#ifdef PALMPORT_HAVE_ICONV
// Every JIS X 0208 code that the system converts from EUC-JP to Shift_JIS
// must come out of the arithmetic the same.
TEST(UnicodeEuc2Sjis, AgreesWithIconvOnJisX0208) {
    iconv_t cd = iconv_open("SHIFT_JIS", "EUC-JP");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        GTEST_SKIP() << "iconv cannot convert EUC-JP to SHIFT_JIS here";
    }
    int compared = 0;
    for (int c = 0xA1; c <= 0xFE; ++c) {
        for (int d = 0xA1; d <= 0xFE; ++d) {
            char in[2] = {static_cast<char>(c), static_cast<char>(d)};
            char out[8];
            char* in_p = in;
            char* out_p = out;
            std::size_t in_left = 2;
            std::size_t out_left = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<std::size_t>(-1) ||
                out_p - out != 2) {
                continue;
            }
            const bytes euc = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d), 0};
            std::array<std::uint8_t, 3> sjis{};
            ASSERT_EQ(palm::euc2sjis(euc, sjis), 2u);
            EXPECT_EQ(sjis[0], static_cast<std::uint8_t>(out[0])) << std::hex << c << d;
            EXPECT_EQ(sjis[1], static_cast<std::uint8_t>(out[1])) << std::hex << c << d;
            ++compared;
        }
    }
    iconv_close(cd);
    EXPECT_GT(compared, 6800);
    std::printf("compared %d codes with iconv\n", compared);
}
#endif

}  // namespace
