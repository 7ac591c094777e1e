// A chunk's text: the conversion to Shift_JIS with its closing NUL, and the
// reflow in both modes.
#include "chunk_text.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace test_support;

const std::string font_path = PALMPORT_SOURCE_DIR "/examples/font.bin";

bytes b(const std::string& s) {
    return {s.begin(), s.end()};
}

// ---- reflow ------------------------------------------------------------

const std::string K = "\x8a\xbf";    // a two-byte character
const std::string FW = "\x81\x40";   // the full-width space
const std::string SMALL_A = "\x83\x40";  // second byte as in the full-width space
const std::string OPEN = "\x81\x75";     // first byte as in the full-width space

struct reflow_case {
    const char* what;
    int id;
    int block;
    std::string head;  // placed before a filler of '.' that makes the text 100 bytes
    std::string tail;  // placed after it, before the NUL
    std::string want_head;
    std::string want_tail;
    std::size_t size = 100;  // of the whole text, NUL included
};

TEST(Reflow, ThresholdBothModesTheJoinRuleAndModeSelection) {
    const int J = 0x10;
    const reflow_case cases[] = {
        {"join removes a break between two-byte characters", J, 3, K + "\n" + K, "", K + K, ""},
        {"join keeps the second of two breaks", J, 3, K + "\n\n" + K, "", K + "\n" + K, ""},
        {"test 1: a break after a one-byte character stays", J, 3, "A\n" + K + " \n" + K, "",
         "A\n" + K + " \n" + K, ""},
        {"test 2: a break after a full-width space stays", J, 3, K + FW + "\n" + K, "", K + FW + "\n" + K, ""},
        {"test 3: a break before a full-width space stays", J, 3, K + "\n" + FW, "", K + "\n" + FW, ""},
        {"test 4: a break before r or w stays, R and W do not", J, 3, K + "\nr" + K + "\nw" + K + "\nR" + K + "\nW",
         "", K + "\nr" + K + "\nw" + K + "R" + K + "W", ""},
        {"tests 2 and 3 compare both bytes", J, 3, SMALL_A + "\n" + K + "\n" + SMALL_A + K + "\n" + OPEN, "",
         SMALL_A + K + SMALL_A + K + OPEN, ""},
        {"after a removal, a full-width space before a break still counts", J, 3, K + "\n" + K + FW + "\n" + K, "",
         K + K + FW + "\n" + K, ""},
        {"a break at the very start stays", J, 3, "\n" + K, "", "\n" + K, ""},
        {"a break just before the NUL goes", J, 3, "", K + "\n", "", K},
        {"join keeps spaces and full-width spaces", J, 3, " " + FW + " ", "", " " + FW + " ", ""},
        {"a high byte takes the next byte, even a break", J, 3, "\xe9\n\n" + K, "", "\xe9\n" + K, ""},
        {"strip removes spaces and full-width spaces", 0x1C, 6, " a " + FW + K + FW, "", "a" + K, ""},
        {"strip halves runs of breaks, rounding up", 0x1C, 6,
         K + "\n" + K + "\n\n" + K + "\n\n\n" + K + "\n\n\n\n" + K, "", K + "\n" + K + "\n" + K + "\n\n" + K + "\n\n" + K,
         ""},
        {"strip: a removed space ends a run", 0x1C, 6, "\n \n" + K + "\n" + FW + "\n", "", "\n\n" + K + "\n\n", ""},
        {"strip keeps a break between two-byte characters", 0x1C, 6, K + "\n" + K, "", K + "\n" + K, ""},
        {"0x1d index 0 is stripped, from 100 bytes on", 0x1D, 0, " \n\n" + FW, "", "\n", ""},
        {"0x1d index 1 is joined", 0x1D, 1, " " + K + "\n" + K, "", " " + K + K, ""},
        {"0x1c index 5 is joined", 0x1C, 5, " \n\n", "", " \n\n", ""},
        {"0x1c index 15 is stripped", 0x1C, 15, " \n\n", "", "\n", ""},
        {"0x1b index 6 is joined", 0x1B, 6, " \n\n", "", " \n\n", ""},
        {"0x1d index 6 is joined", 0x1D, 6, " \n\n", "", " \n\n", ""},
        {"99 bytes stay as they are in strip mode", 0x1D, 0, " \n\n" + FW, "", " \n\n" + FW, "", 99},
        {"99 bytes stay as they are in join mode", J, 3, K + "\n" + K, "", K + "\n" + K, "", 99},
    };
    for (const auto& c : cases) {
        const std::string fill(c.size - 1 - c.head.size() - c.tail.size(), '.');
        bytes text = b(c.head + fill + c.tail + '\0');
        const bytes want = b(c.want_head + fill + c.want_tail + '\0');
        const std::size_t n = palm::rearrange_script(text, c.id, c.block);
        EXPECT_EQ(bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n)), want) << c.what;
    }
}

// ---- conversion --------------------------------------------------------

TEST(GetScript, ConvertsAndClosesWithNulWithinTheBuffer) {
    palm::sjis_table table;
    palm::make_u2e_table(table, font_path);
    struct row {
        bytes in;
        std::size_t room;
        bytes want;  // empty: refused (result 0)
    };
    const row rows[] = {
        {{0x41, 0x00}, 8, {0x41, 0x00}},
        {{}, 8, {0x00}},
        // あ, full-width space, é (no Shift_JIS code), ×
        {{0x42, 0x30, 0x00, 0x30, 0xE9, 0x00, 0xD7, 0x00}, 10, {0x82, 0xA0, 0x81, 0x40, 0x81, 0xAC, 0x81, 0x7E, 0x00}},
        {{0xD7, 0x00}, 2, {}},                                                            // × takes two bytes
        {{0x42, 0x30, 0x41, 0x00}, 4, {0x82, 0xA0, 0x41, 0x00}},                          // exactly fits
        {{0x42, 0x30, 0x42, 0x30}, 4, {}},                                                // the NUL would not fit
        {{0x41, 0x00}, 1, {}},
        {{}, 0, {}},
    };
    for (const row& r : rows) {
        bytes dest(r.room + 4, 0xEE);  // bytes past the room must stay untouched
        const std::size_t n = palm::get_script(table, r.in, std::span(dest).first(r.room));
        EXPECT_EQ(bytes(dest.begin(), dest.begin() + static_cast<std::ptrdiff_t>(n)), r.want);
        EXPECT_TRUE(std::all_of(dest.begin() + static_cast<std::ptrdiff_t>(r.room), dest.end(),
                                [](std::uint8_t v) { return v == 0xEE; }));
    }
}

}  // namespace
