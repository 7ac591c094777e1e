// The resource scan on libraries linked by the LLVM tools from
// tests/data/messages.rc (see tests/data/make_dlls.sh): every message block
// is found at the offset where its 16 strings are, and the whole list agrees
// with llvm-readobj when that tool is on the machine.
#include "file_io.hpp"
#include "pe_resources.hpp"
#include "pe_resources_internal.hpp"
#include "readobj_listing.hpp"
#include "pe_resources_test_support.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace pe_resources_test;

const std::string data_dir = PALMPORT_SOURCE_DIR "/tests/data/";
const char* const libraries[] = {"messages_x86.dll", "messages_x64.dll"};

std::u16string utf8_to_utf16(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = c;
        std::size_t len = 1;
        if (c >= 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            len = 2;
        }
        for (std::size_t k = 1; k < len; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        out.push_back(static_cast<char16_t>(cp));
        i += len;
    }
    return out;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The first (Japanese) STRINGTABLE of messages.rc: string ID -> text, from
// its lines of the form: 96, "text" (with \n for a line break).
std::map<int, std::u16string> japanese_strings() {
    std::ifstream in(data_dir + "messages.rc", std::ios::binary);
    std::map<int, std::u16string> out;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line == "BEGIN") {
            inside = true;
        } else if (line == "END") {
            break;
        } else if (const auto quote = line.find(", \""); inside && quote != std::string::npos &&
                                                         line.back() == '"') {
            const std::string quoted = line.substr(quote + 3, line.size() - quote - 4);
            std::string text;
            for (std::size_t i = 0; i < quoted.size(); ++i) {
                const bool line_break = quoted[i] == '\\' && i + 1 < quoted.size() && quoted[i + 1] == 'n';
                text.push_back(line_break ? '\n' : quoted[i]);
                i += line_break ? 1 : 0;
            }
            out[std::stoi(line.substr(0, quote))] = utf8_to_utf16(text);
        }
    }
    return out;
}

struct scanned {
    common::file_ptr file;
    palm::resource_list list;
};

scanned scan_library(const std::string& name) {
    scanned s{common::open_read(data_dir + name), {}};
    const auto library = s.file ? common::byte_source::of_file(s.file.get()) : std::nullopt;
    if (!library) {
        ADD_FAILURE() << "cannot open " << name;
        return s;
    }
    palm::scan_dll(*library, s.list);
    return s;
}

// The 16 length-prefixed UTF-16LE strings at `offset`.
std::array<std::u16string, 16> read_block(std::FILE* f, std::int64_t offset) {
    std::array<std::u16string, 16> strings;
    EXPECT_TRUE(common::seek_to(f, offset));
    for (auto& s : strings) {
        std::array<std::uint8_t, 2> len{};
        EXPECT_TRUE(common::read_exact(f, len));
        std::vector<std::uint8_t> text(2 * static_cast<std::size_t>(len[0] | (len[1] << 8)));
        EXPECT_TRUE(common::read_exact(f, text));
        for (std::size_t i = 0; i < text.size(); i += 2) {
            s.push_back(static_cast<char16_t>(text[i] | (text[i + 1] << 8)));
        }
    }
    return strings;
}

TEST(ResinfoLibraries, EveryMessageBlockIsFoundAtItsStrings) {
    const auto expected = japanese_strings();
    ASSERT_GT(expected.size(), 40u);
    for (const char* name : libraries) {
        const auto s = scan_library(name);
        for (int block = 7; block <= 42; ++block) {
            char key[8];
            std::snprintf(key, sizeof key, "0x%x", block);
            const palm::RESINFO* r = palm::search_rlist(s.list, key);
            ASSERT_NE(r, nullptr) << name << " " << key;
            EXPECT_EQ(r->type, 6);
            EXPECT_EQ(r->lang, 0x411);
            const auto strings = read_block(s.file.get(), r->offset);
            for (int i = 0; i < 16; ++i) {
                const auto it = expected.find((block - 1) * 16 + i);
                EXPECT_TRUE(strings[i] == (it == expected.end() ? u"" : it->second))
                    << name << " " << key << " index " << i;
            }
        }
    }
}

TEST(ResinfoLibraries, LanguagesNamesAndTheShiftedPicture) {
    for (const char* name : libraries) {
        const auto s = scan_library(name);
        // Block 0x3 exists in English and Japanese; English sorts first.
        const palm::RESINFO* block3 = palm::search_rlist(s.list, "0x3");
        ASSERT_NE(block3, nullptr);
        EXPECT_EQ(block3->lang, 0x409);
        ASSERT_NE(block3 + 1, s.list.data() + s.list.size());
        EXPECT_EQ(palm::rlist_name(block3[1]), "0x3");
        EXPECT_EQ(block3[1].lang, 0x411);
        EXPECT_EQ(read_block(s.file.get(), block3->offset)[0], u"Introduction");
        // The RCDATA resource with ID 7 comes after string table block 0x7.
        EXPECT_EQ(palm::search_rlist(s.list, "0x7")->type, 6);
        // Long names keep 16 characters; CG02444 is recorded 128 bytes on.
        EXPECT_NE(palm::search_rlist(s.list, "HARBOURTOWNLIGHT"), nullptr);
        const palm::RESINFO* picture = palm::search_rlist(s.list, "CG02444");
        const palm::RESINFO* other = palm::search_rlist(s.list, "CG024440");
        ASSERT_NE(picture, nullptr);
        ASSERT_NE(other, nullptr);
        std::array<std::uint8_t, 16> bytes{};
        ASSERT_TRUE(common::seek_to(s.file.get(), picture->offset - 128));
        ASSERT_TRUE(common::read_exact(s.file.get(), bytes));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789abcdef");
        ASSERT_TRUE(common::seek_to(s.file.get(), other->offset));
        ASSERT_TRUE(common::read_exact(s.file.get(), std::span(bytes).first(12)));
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 12), "not adjusted");
    }
}

TEST(ResinfoLibraries, ListAgreesWithLlvmReadobj) {
    if (const auto why = test_support::missing_tool("llvm-readobj --version", "llvm-readobj", "llvm"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    for (const char* name : libraries) {
        const auto listed = readobj::run({data_dir + name});
        ASSERT_EQ(listed.status, 0);
        ASSERT_EQ(listed.libraries.size(), 1u);
        ASSERT_TRUE(listed.libraries[0].has_rsrc);
        const auto& expected = listed.libraries[0].records;
        ASSERT_GT(expected.size(), 40u);

        const auto s = scan_library(name);
        EXPECT_EQ(records(s.list), expected) << name;
    }
}

}  // namespace
