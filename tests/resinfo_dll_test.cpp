// The resource scan on libraries linked by the LLVM tools from
// tests/data/messages.rc (see tests/data/make_dlls.sh): every message block
// is found at the offset where its 16 strings are, and the whole list agrees
// with llvm-readobj when that tool is on the machine.
#include "file_io.hpp"
#include "resinfo.hpp"
#include "resinfo_internal.hpp"
#include "resinfo_test_support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#endif

namespace {

using namespace resinfo_test;

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
    std::unique_ptr<RESINFO> list;
};

scanned scan_library(const std::string& name) {
    scanned s{common::open_read(data_dir + name), create_rlist()};
    if (!s.file) {
        ADD_FAILURE() << "cannot open " << name;
        return s;
    }
    scan_dll(s.file.get(), *s.list);
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
            const RESINFO* r = search_rlist(*s.list, key);
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
        const RESINFO* block3 = search_rlist(*s.list, "0x3");
        ASSERT_NE(block3, nullptr);
        EXPECT_EQ(block3->lang, 0x409);
        ASSERT_NE(block3->next, nullptr);
        EXPECT_EQ(rlist_name(*block3->next), "0x3");
        EXPECT_EQ(block3->next->lang, 0x411);
        EXPECT_EQ(read_block(s.file.get(), block3->offset)[0], u"Introduction");
        // The RCDATA resource with ID 7 comes after string table block 0x7.
        EXPECT_EQ(search_rlist(*s.list, "0x7")->type, 6);
        // Long names keep 16 characters; CG02444 is recorded 128 bytes on.
        EXPECT_NE(search_rlist(*s.list, "HARBOURTOWNLIGHT"), nullptr);
        const RESINFO* picture = search_rlist(*s.list, "CG02444");
        const RESINFO* other = search_rlist(*s.list, "CG024440");
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

std::optional<std::string> run(const std::string& command) {
    std::FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) {
        return std::nullopt;
    }
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        out.append(buf, n);
    }
    return pclose(p) == 0 ? std::optional(out) : std::nullopt;
}

// What llvm-readobj lists, turned into the records the scan should make.
std::vector<rec> readobj_records(const std::string& resources, std::uint32_t rva, std::uint32_t raw) {
    std::vector<rec> out;
    std::optional<std::uint32_t> type;
    std::optional<std::uint32_t> lang;
    std::string name;
    std::istringstream in(resources);
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        const auto colon = line.find(": ");
        if (colon == std::string::npos) {
            continue;
        }
        const std::string field = line.substr(0, colon);
        std::string label = line.substr(colon + 2);
        if ((field == "Type" || field == "Name" || field == "Language") && label.size() > 2 &&
            label.compare(label.size() - 2, 2, " [") == 0) {
            label.resize(label.size() - 2);
            // "(ID 6)" at the end for an ID, "STRINGTABLE (ID 6)" for a known type
            const auto id_at = label.rfind("(ID ");
            const bool is_id = id_at != std::string::npos && label.back() == ')';
            const auto value = is_id ? static_cast<std::uint32_t>(std::stoul(label.substr(id_at + 4))) : 0u;
            if (field == "Type") {
                type = is_id ? std::optional(value) : std::nullopt;
            } else if (field == "Name") {
                char hex[16];
                std::snprintf(hex, sizeof hex, "0x%x", value);
                name = is_id ? std::string(hex) : label.substr(0, 16);
            } else {
                lang = is_id ? std::optional(value) : std::nullopt;
            }
        } else if (field == "DataRVA" && type && lang) {
            const std::uint32_t offset = static_cast<std::uint32_t>(std::stoul(label, nullptr, 16)) - rva + raw +
                                         (name == "CG02444" ? 128 : 0);
            out.push_back({static_cast<std::int32_t>(*type), name, static_cast<std::int32_t>(*lang),
                           static_cast<std::int32_t>(offset)});
        }
    }
    return out;
}

// The hexadecimal value of the first line "field: 0x..." after `from`.
std::uint32_t hex_field(const std::string& text, std::size_t from, const std::string& field) {
    const auto at = text.find(field + ": 0x", from);
    EXPECT_NE(at, std::string::npos) << field;
    return at == std::string::npos ? 0 : static_cast<std::uint32_t>(std::stoul(text.substr(at + field.size() + 2), nullptr, 16));
}

TEST(ResinfoLibraries, ListAgreesWithLlvmReadobj) {
    if (!run("llvm-readobj --version")) {
        GTEST_SKIP() << "llvm-readobj is not installed";
    }
    for (const char* name : libraries) {
        const std::string path = data_dir + name;
        const auto sections = run("llvm-readobj --sections " + path);
        const auto resources = run("llvm-readobj --coff-resources " + path);
        ASSERT_TRUE(sections && resources);
        const auto rsrc = sections->find("Name: .rsrc ");
        ASSERT_NE(rsrc, std::string::npos);
        const std::uint32_t rva = hex_field(*sections, rsrc, "VirtualAddress");
        const std::uint32_t raw = hex_field(*sections, rsrc, "PointerToRawData");
        const auto expected = readobj_records(*resources, rva, raw);
        ASSERT_GT(expected.size(), 40u);

        const auto s = scan_library(name);
        EXPECT_EQ(records(*s.list), expected) << name;
    }
}

}  // namespace
