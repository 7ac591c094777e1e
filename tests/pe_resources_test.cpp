// The resource scan over libraries built by tests/pe_writer: record order,
// names, offsets and lookups, then broken and hostile files.
#include "fatal_error.hpp"
#include "byte_source.hpp"
#include "pe_writer.hpp"
#include "pe_resources.hpp"
#include "pe_resources_internal.hpp"
#include "pe_resources_test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace pe_resources_test;

palm::resource_list scan(const std::vector<std::uint8_t>& bytes) {
    palm::resource_list list;
    palm::scan_dll(common::byte_source(bytes), list);
    return list;
}

// The message of the failure the scan ends with, or nothing when it succeeds.
std::optional<std::string> scan_error(const std::vector<std::uint8_t>& bytes) {
    try {
        scan(bytes);
    } catch (const common::fatal_error& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

std::vector<std::uint8_t> payload(const std::string& text) {
    return {text.begin(), text.end()};
}

// A type with one ID name and one language: the smallest library that lists
// a resource.
pe::image_plan one_resource() {
    pe::image_plan plan;
    plan.types = {{pe::id(6), {{pe::id(7), {{pe::id(0x411), payload("seven")}}}}}};
    return plan;
}

TEST(ResinfoSignature, OnlyPEAndNulPass) {
    struct row {
        std::array<std::uint8_t, 4> sig;
        bool accepted;
    };
    const row rows[] = {
        {{'P', 'E', 0, 0}, true},   {{'P', 'E', 0, 'x'}, true}, {{'P', 'E', 1, 0}, false},
        {{'P', 'E', 'E', 0}, false}, {{'p', 'e', 0, 0}, false}, {{'M', 'Z', 0, 0}, false},
    };
    for (const row& r : rows) {
        auto plan = one_resource();
        plan.signature = r.sig;
        const auto error = scan_error(pe::build(plan).bytes);
        if (r.accepted) {
            EXPECT_FALSE(error) << *error;
        } else {
            EXPECT_EQ(error, "This file is not PE format.") << r.sig[2];
        }
    }
}

// Files that are no PE file at all are told so, not reported as broken.
TEST(ResinfoSignature, NoPEFileAtAll) {
    const auto good = pe::build(one_resource()).bytes;
    const auto patched = [&](std::size_t at, std::uint32_t value) {
        auto b = good;
        pe::put32(b, at, value);
        return b;
    };
    const std::vector<std::uint8_t> text(500, 'x');
    for (const auto& bytes : {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>(good.begin(), good.begin() + 0x3F),
                              text, patched(0, 0x00005A4D + 1), patched(0x3C, static_cast<std::uint32_t>(good.size() - 3)),
                              patched(0x3C, 0xFFFFFFF0)}) {
        EXPECT_EQ(scan_error(bytes), "This file is not PE format.") << bytes.size();
    }
}

TEST(ResinfoSections, FirstSectionNamedRsrcAndNulIsUsed) {
    using pe::section_name;
    struct row {
        const char* label;
        std::vector<pe::section_plan> sections;
        std::optional<std::string> error;
        std::size_t records;
    };
    const std::array<char, 8> rsrc_tail = {'.', 'r', 's', 'r', 'c', 0, 'a', 'b'};
    const row rows[] = {
        {"no sections", {}, "No .rsrc section.", 0},
        {"only .text", {{section_name(".text"), 0x1000, true}}, "No .rsrc section.", 0},
        {".rsrc1 is another name", {{section_name(".rsrc1"), 0x1000, true}}, "No .rsrc section.", 0},
        {".rsrc, NUL, two other bytes", {{rsrc_tail, 0x1000, true}}, std::nullopt, 1},
        {"resources in the first .rsrc",
         {{section_name(".rsrc"), 0x1000, true}, {section_name(".rsrc"), 0x3000, false}},
         std::nullopt, 1},
        {"empty first .rsrc wins",
         {{section_name(".rsrc"), 0x1000, false}, {section_name(".rsrc"), 0x3000, true}},
         std::nullopt, 0},
    };
    for (const row& r : rows) {
        auto plan = one_resource();
        plan.sections = r.sections;
        const auto bytes = pe::build(plan).bytes;
        EXPECT_EQ(scan_error(bytes), r.error) << r.label;
        if (!r.error) {
            EXPECT_EQ(records(scan(bytes)).size(), r.records) << r.label;
        }
    }
}

TEST(ResinfoSections, OptionalHeaderSizePlacesTheSectionTable) {
    for (std::uint16_t size : {0, 0xE0, 0xF0, 0x1234}) {
        auto plan = one_resource();
        plan.optional_header_size = size;
        const auto img = pe::build(plan);
        EXPECT_EQ(records(scan(img.bytes)), (std::vector<rec>{{6, "0x7", 0x411, int(img.payloads[0])}}))
            << size;
    }
}

// Records: ID types in directory order; in a type its string names, then its
// ID names; in a name its ID languages. String types and languages give none.
TEST(ResinfoWalk, RecordOrderAndNames) {
    pe::image_plan plan;
    plan.types = {
        {pe::id(6),
         {{pe::id(7), {{pe::id(0x411), payload("a")}, {pe::named(u"EN"), payload("b")}, {pe::id(0x409), payload("c")}}},
          {pe::named(u"TITLE"), {{pe::id(0), payload("d")}}},
          {pe::id(42), {{pe::id(0x411), payload("e")}}},
          {pe::named(u"\uFF21B\u0100CD"), {{pe::id(1), payload("f")}}}}},
        {pe::named(u"BITMAPS"), {{pe::id(9), {{pe::id(1), payload("g")}}}}},
        {pe::id(10), {{pe::id(0x80000007), {{pe::id(2), payload("h")}}}, {pe::id(0), {{pe::id(3), payload("i")}}}}},
    };
    const auto img = pe::build(plan);
    const auto& p = img.payloads;  // tree order: a b c d e f g h i
    const std::vector<rec> expected = {
        {6, "TITLE", 0, int(p[3])},   {6, "!B", 1, int(p[5])},     {6, "0x7", 0x411, int(p[0])},
        {6, "0x7", 0x409, int(p[2])}, {6, "0x2a", 0x411, int(p[4])}, {10, "0x80000007", 2, int(p[7])},
        {10, "0x0", 3, int(p[8])},
    };
    EXPECT_EQ(records(scan(img.bytes)), expected);
}

TEST(ResinfoWalk, StringNamesKeepLowBytesAndAtMost16Characters) {
    struct row {
        std::u16string name;
        std::string stored;
    };
    const row rows[] = {
        {u"CG01000", "CG01000"},
        {u"\uFF21\u3042z", "!Bz"},
        {u"AB\u0100CD", "AB"},
        {u"", ""},
        {u"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP"},
        {u"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOP"},
        {std::u16string(300, u'x') + u"yz", std::string(16, 'x')},
        {std::u16string(65535, u'w'), std::string(16, 'w')},
    };
    for (const row& r : rows) {
        pe::image_plan plan;
        plan.types = {{pe::id(10), {{pe::named(r.name), {{pe::id(1), payload("x")}}}}}};
        const auto list = scan(pe::build(plan).bytes);
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(palm::rlist_name(list.front()), r.stored) << r.stored;
    }
}

TEST(ResinfoWalk, OffsetsComeFromTheResourceSectionAndWrap) {
    auto plan = one_resource();
    const auto img = pe::build(plan);
    auto bytes = img.bytes;
    // An RVA below the section's own address still goes through the
    // section's VirtualAddress and PointerToRawData, in 32 bits.
    pe::put32(bytes, img.data_entries[0], 0x10);
    const std::int32_t expected = static_cast<std::int32_t>(0x10u + img.rsrc_raw - img.rsrc_rva);
    EXPECT_EQ(scan(bytes).front().offset, expected);
    EXPECT_LT(expected, 0);
}

TEST(ResinfoWalk, OnlyCG02444IsRecorded128BytesOn) {
    struct row {
        std::u16string name;
        std::int32_t shift;
    };
    const row rows[] = {{u"CG02444", 128}, {u"CG024440", 0}, {u"cg02444", 0}, {u"CG02445", 0}};
    for (const row& r : rows) {
        pe::image_plan plan;
        plan.types = {{pe::id(10), {{pe::named(r.name), {{pe::id(1), payload("picture")}}}}}};
        const auto img = pe::build(plan);
        EXPECT_EQ(scan(img.bytes).front().offset, static_cast<std::int32_t>(img.payloads[0]) + r.shift);
    }
}

TEST(ResinfoWalk, ScanningTwiceAppendsEverythingAgain) {
    const auto img = pe::build(one_resource());
    const common::byte_source library(img.bytes);
    palm::resource_list list;
    palm::scan_dll(library, list);
    palm::scan_dll(library, list);
    EXPECT_EQ(records(list).size(), 2u);
}

TEST(ResinfoList, FirstMatchByNameOnly) {
    pe::image_plan plan;
    plan.types = {
        {pe::id(6), {{pe::id(16), {{pe::id(0x409), payload("en")}, {pe::id(0x411), payload("ja")}}}}},
        {pe::id(10), {{pe::named(u"0x10"), {{pe::id(0), payload("raw")}}},
                      {pe::named(u"ABCDEFGHIJKLMNOPQ"), {{pe::id(0), payload("long")}}}}},
    };
    const auto img = pe::build(plan);
    const auto list = scan(img.bytes);
    const palm::RESINFO* found = palm::search_rlist(list, "0x10");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->lang, 0x409);
    EXPECT_EQ(found->offset, static_cast<std::int32_t>(img.payloads[0]));
    EXPECT_EQ(palm::search_rlist(list, "0x11"), nullptr);
    EXPECT_EQ(palm::search_rlist(list, "0x1"), nullptr);
    // A stored name of 16 characters has no terminator: a shorter key never
    // matches it, the exact 16 characters do, and nothing past them is read.
    EXPECT_EQ(palm::search_rlist(list, "ABCDEFGHIJKLMNO"), nullptr);
    EXPECT_NE(palm::search_rlist(list, "ABCDEFGHIJKLMNOP"), nullptr);
    EXPECT_EQ(palm::search_rlist(list, "ABCDEFGHIJKLMNOPQ"), nullptr);

    testing::internal::CaptureStdout();
    palm::print_rlist(list);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "0x10\n0x10\n0x10\nABCDEFGHIJKLMNOP\n");
}

TEST(ResinfoList, EmptyListFindsAndPrintsNothing) {
    const palm::resource_list list;
    EXPECT_EQ(palm::search_rlist(list, "0x7"), nullptr);
    testing::internal::CaptureStdout();
    palm::print_rlist(list);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(ResinfoList, LongListIsReleasedWithoutDeepRecursion) {
    palm::resource_list list;
    const palm::RESINFO r;
    for (int i = 0; i < 1'000'000; ++i) {
        palm::add_resinfo(list, r);
    }
    EXPECT_EQ(list.size(), 1'000'000u);
}

TEST(ResinfoList, U2aconvNeverLeavesItsBuffers) {
    const std::vector<std::uint8_t> src = {'a', 0, 'b', 1, 'c', 0};
    std::array<char, 3> small{'?', '?', '?'};
    EXPECT_EQ(palm::u2aconv(src, small, 3), 2u);  // room for two and the NUL
    EXPECT_EQ(std::string(small.data()), "ab");
    std::array<char, 8> big{};
    EXPECT_EQ(palm::u2aconv(src, big, 60000), 3u);  // only three code units given
    EXPECT_EQ(std::string(big.data()), "abc");
}

// Cutting the file anywhere before the end of the last structure the scan
// reads gives one line; the complete structures scan.
TEST(ResinfoBroken, EveryTruncationIsReported) {
    pe::image_plan plan;
    plan.types = {{pe::id(6), {{pe::named(u"NAMED"), {{pe::id(1), payload("x")}}},
                               {pe::id(7), {{pe::id(0x411), payload("y")}}}}}};
    const auto img = pe::build(plan);
    for (std::uint32_t cut = 0; cut < img.structures_end; ++cut) {
        const std::vector<std::uint8_t> part(img.bytes.begin(), img.bytes.begin() + cut);
        const auto error = scan_error(part);
        ASSERT_TRUE(error) << "cut at " << cut;
        // Up to the PE signature, the file is no PE file at all.
        const char* expected = cut < 0x84 ? "This file is not PE format." : "past the end";
        EXPECT_NE(error->find(expected), std::string::npos) << cut << ": " << *error;
    }
    const std::vector<std::uint8_t> whole(img.bytes.begin(), img.bytes.begin() + img.structures_end);
    EXPECT_EQ(records(scan(whole)).size(), 2u);
}

TEST(ResinfoBroken, OffsetsAndCountsPastTheEndAreNamed) {
    pe::image_plan plan;
    plan.types = {{pe::id(6), {{pe::named(u"NAMED"), {{pe::id(1), payload("x")}}}}}};
    const auto img = pe::build(plan);
    const std::uint32_t root = img.directories[0];
    const std::uint32_t names = img.directories[1];
    const std::uint32_t langs = img.directories[2];
    struct patch {
        std::size_t at;
        std::uint32_t value;
        int width;
    };
    struct row {
        const char* label;
        std::vector<patch> patches;
        std::string expected;  // part of the message
        std::size_t kept = 8;  // bytes kept past the structures
    };
    const auto hex = [](std::uint64_t v) {
        char s[32];
        std::snprintf(s, sizeof s, "0x%llx", static_cast<unsigned long long>(v));
        return std::string(s);
    };
    const std::uint32_t pe_at = 0x80;
    const std::uint32_t rsrc_header = img.section_table + 40;
    const row rows[] = {
        {"section count", {{pe_at + 6, 0xFFFF, 16}, {rsrc_header, 0x58585858, 32}},
         "section header at offset"},
        {"optional header size", {{pe_at + 20, 0xFFFF, 16}}, "section header at offset " + hex(pe_at + 24 + 0xFFFF)},
        {"PointerToRawData", {{rsrc_header + 20, 0x7FFFFFFF, 32}}, "type directory at offset 0x7fffffff"},
        {"ID count", {{root + 14, 0xFFFF, 16}}, "directory entries at offset " + hex(root + 16)},
        {"both counts", {{root + 12, 0xFFFFFFFF, 32}}, "more than 65536 resource directory entries"},
        {"type subdirectory", {{root + 20, 0x80100000, 32}}, "name directory at offset " + hex(img.rsrc_raw + 0x100000)},
        {"name string", {{names + 16, 0x80FFFFF0, 32}}, "name string at offset " + hex(img.rsrc_raw + 0xFFFFF0)},
        {"language subdirectory", {{names + 20, 0xFFFFFFFF, 32}}, "language directory at offset"},
        {"data entry", {{langs + 20, 0x7FFFFFF0, 32}}, "data entry at offset " + hex(img.rsrc_raw + 0x7FFFFFF0ull)},
        {"name length", {{img.structures_end - 12, 0xFFFF, 16}}, "name string at offset"},
        // 300 code units run past the end, though the 256 that are kept would fit.
        {"name length past the end", {{img.structures_end - 12, 300, 16}}, "Broken library: the name string at offset",
         520},
    };
    for (const row& r : rows) {
        auto bytes = img.bytes;
        for (const patch& p : r.patches) {
            if (p.width == 16) {
                pe::put16(bytes, p.at, static_cast<std::uint16_t>(p.value));
            } else {
                pe::put32(bytes, p.at, p.value);
            }
        }
        bytes.resize(img.structures_end + r.kept);  // the payload is not needed
        const auto error = scan_error(bytes);
        ASSERT_TRUE(error) << r.label;
        EXPECT_NE(error->find(r.expected), std::string::npos) << r.label << ": " << *error;
    }
}

// Directory entries may all point back at the same directory: three levels of
// that fan out to billions of records unless the walk is bounded.
TEST(ResinfoBroken, SelfReferencingDirectoriesAreCapped) {
    pe::image_plan plan;
    for (std::uint32_t t = 0; t < 100; ++t) {
        plan.types.push_back({pe::id(t), {}});
    }
    const auto img = pe::build(plan);
    auto bytes = img.bytes;
    for (std::uint32_t t = 0; t < 100; ++t) {
        pe::put32(bytes, img.directories[0] + 16 + 8 * t + 4, 0x80000000);
    }
    const auto error = scan_error(bytes);
    ASSERT_TRUE(error);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "Broken library: more than 65536 resource directory entries (the language "
                  "directory at offset 0x%x).",
                  img.rsrc_raw);
    EXPECT_EQ(*error, expected);
}

}  // namespace
