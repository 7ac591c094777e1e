// Unique IDs from file names: chunk files, picture names, the counter.
#include "crate_test_support.hpp"

namespace {

struct id_case {
    const char* name;
    std::int32_t id;   // -1: the counter's value (it stands at 0)
    const char* line;  // what goes on standard error
};

TEST(UniqueId, FromNames) {
    const id_case cases[] = {
        {"0x1d_03.txt", 3083, "0x1d_03.txt: 3083(29:3)\n"},
        {"0x7_00.txt", 2640, "0x7_00.txt: 2640(7:0)\n"},
        {"0x2a_15.txt", 3355, "0x2a_15.txt: 3355(42:15)\n"},
        {"work/sub/0x7_00.txt", 2640, "0x7_00.txt: 2640(7:0)\n"},  // only the base name counts and shows
        {"0X7_00.txt", -1, ""},                                    // prefixes are case-sensitive
        {"0x1d_03", 3083, "0x1d_03: 3083(29:3)\n"},                // no "." behind "_": index runs to the end
        {"0x1d.txt", -1, ""},                                      // no "_": not a chunk name
        {"0x_3a.txt", 2503, "0x_3a.txt: 2503(0:3)\n"},             // fields read like strtol
        {"0xffffffffff_00.txt", 2480, "0xffffffffff_00.txt: 2480(2147483647:0)\n"},  // clamped, then wraps
        {"CGRUMO.bmp", 2499, "CGRUMO.bmp: 2499\n"},
        {"CGBLACK.bmp", 2498, "CGBLACK.bmp: 2498\n"},
        {"CGBLACK2.bmp", 2498, "CGBLACK2.bmp: 2498\n"},
        {"ZOPA01.bmp", 2497, "ZOPA01.bmp: 2497\n"},
        {"ZOPA03x", 2495, "ZOPA03x: 2495\n"},
        {"ZOPA05.bmp", 2493, "ZOPA05.bmp: 2493\n"},
        {"CG012.bmp", 12, "CG012.bmp: 12\n"},
        {"ZOPA06.bmp", 6, "ZOPA06.bmp: 6\n"},
        {"ZOPA10.bmp", 0, "ZOPA10.bmp: 0\n"},  // the number starts at the first zero
        {"CG1205.bmp", 5, "CG1205.bmp: 5\n"},
        {"CG012", 12, "CG012: 12\n"},     // no "." behind the zero: the number runs to the end
        {"CGRUM.bmp", -1, ""},            // too short for its prefix and no zero: counted
        {"cg012.bmp", -1, ""},
        {"", -1, ""},                     // a file that was not found
    };
    for (const auto& c : cases) {
        palm::uid_counter counter;
        testing::internal::CaptureStderr();
        const std::int32_t id = palm::get_uid_from_filename(counter, c.name);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line) << c.name;
        EXPECT_EQ(id, c.id < 0 ? 0 : c.id) << c.name;
        EXPECT_EQ(counter.uid, c.id < 0 ? 1 : 0) << c.name;  // only counted names advance the counter
    }
}

TEST(UniqueId, CounterNumbersOnlyUnrecognisedNamesInCallOrder) {
    palm::uid_counter counter;
    testing::internal::CaptureStderr();
    std::vector<std::int32_t> ids;
    for (const char* name : {"a.bin", "0x7_00.txt", "b.bin", "CG003.bmp", "c.bin"}) {
        ids.push_back(palm::get_uid_from_filename(counter, name));
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ids, (std::vector<std::int32_t>{0, 2640, 1, 3, 2}));
}

}  // namespace
