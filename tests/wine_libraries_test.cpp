// Wine's own PE libraries, when installed, as a corpus that nobody here
// wrote: the resource scan lists what llvm-readobj lists, cutter ends every
// run on them with exit status 0 or with one line and exit status 1, and
// their Japanese string tables, real user-interface text, come out of the
// Shift_JIS conversion as glibc's iconv converts them.
#include "chunk_text.hpp"
#include "cutter.hpp"
#include "message_blocks.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "readobj_listing.hpp"
#include "pe_resources.hpp"
#include "pe_resources_test_support.hpp"
#include "test_support.hpp"
#include "sjis.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#if __has_include(<iconv.h>)
#include <iconv.h>
#define PALMPORT_HAVE_ICONV 1
#endif

namespace {

// The sample font file's table, loaded by the test that converts text.
palm::sjis_table font_table;

using namespace test_support;

// Where Debian installs Wine's PE libraries: the 64-bit ones come with
// wine64, the 32-bit ones with the i386 libwine of a multiarch system.
const char* const wine_folders[] = {
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
    "/usr/lib/x86_64-linux-gnu/wine/i386-windows",
    "/usr/lib/i386-linux-gnu/wine/i386-windows",
};

struct wine_library {
    std::string path;
    bool is_64_bit;
};

// Every file of those folders, in name order.
std::vector<wine_library> wine_libraries() {
    std::vector<wine_library> out;
    for (const char* folder : wine_folders) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.is_regular_file()) {
                out.push_back({entry.path().string(), std::string_view(folder).ends_with("x86_64-windows")});
            }
        }
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return out;
}

const std::string no_libraries =
    "Wine's PE libraries are not installed (Debian packages wine and wine64; none in /usr/lib/*/wine/*-windows)";

struct scanned {
    common::file_ptr file;
    palm::resource_list list;
    std::string error;  // the scan's fatal error, if any
};

scanned scan(const std::string& path) {
    scanned s;
    s.file = common::open_read(path);
    if (!s.file) {
        s.error = "cannot be opened";
        return s;
    }
    try {
        palm::scan_dll(*common::byte_source::of_file(s.file.get()), s.list);
    } catch (const common::fatal_error& e) {
        s.error = e.what();
    }
    return s;
}

using WineLibraries = scratch;

TEST_F(WineLibraries, ScanListsWhatLlvmReadobjLists) {
    if (const auto why = missing_tool("llvm-readobj --version", "llvm-readobj", "llvm"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const auto libraries = wine_libraries();
    if (libraries.empty()) {
        GTEST_SKIP() << no_libraries;
    }
    std::vector<std::string> paths;
    for (const auto& l : libraries) {
        paths.push_back(l.path);
    }
    const auto listed = readobj::run(paths);
    std::map<std::string, const readobj::library*> by_path;
    for (const auto& l : listed.libraries) {
        by_path[l.file] = &l;
    }

    int with_resources[2] = {0, 0};
    int agreeing[2] = {0, 0};
    std::size_t id_named = 0;
    std::size_t string_named = 0;
    for (const auto& library : libraries) {
        const auto it = by_path.find(library.path);
        if (it == by_path.end()) {
            ADD_FAILURE() << library.path << ": llvm-readobj lists nothing (its error is above)";
            continue;
        }
        const readobj::library& expected = *it->second;
        const scanned s = scan(library.path);
        if (!expected.has_rsrc) {
            EXPECT_EQ(s.error, "No .rsrc section.") << library.path;
            continue;
        }
        ++with_resources[library.is_64_bit];
        if (!s.error.empty()) {
            ADD_FAILURE() << library.path << ": " << s.error;
            continue;
        }
        const auto got = pe_resources_test::records(s.list);
        const auto differs = std::mismatch(got.begin(), got.end(), expected.records.begin(), expected.records.end());
        if (differs.first != got.end() || differs.second != expected.records.end()) {
            ADD_FAILURE() << library.path << ": record " << (differs.first - got.begin()) << " is "
                          << (differs.first == got.end() ? "missing" : testing::PrintToString(*differs.first))
                          << ", llvm-readobj lists "
                          << (differs.second == expected.records.end() ? "nothing"
                                                                         : testing::PrintToString(*differs.second));
            continue;
        }
        ++agreeing[library.is_64_bit];
        const auto ids =
            static_cast<std::size_t>(std::count(expected.named_by_id.begin(), expected.named_by_id.end(), true));
        id_named += ids;
        string_named += expected.records.size() - ids;
    }
    std::printf("%zu libraries; with resources: %d 64-bit, %d 32-bit; agreeing with llvm-readobj: %d 64-bit, "
                "%d 32-bit; records compared: %zu named by an ID, %zu by a string\n",
                libraries.size(), with_resources[1], with_resources[0], agreeing[1], agreeing[0], id_named,
                string_named);
    EXPECT_GT(with_resources[0] + with_resources[1], 0);
}

// A progress line of cutter: "<chunk> (size = <n>)", "<chunk>: characters
// without a mapping in the font file replaced: <n>" or "<chunk> removed (the
// string is empty)".
bool is_progress(std::string_view line) {
    const auto txt = line.find(".txt");
    if (!line.starts_with("0x") || txt == std::string_view::npos || line.find(' ') < txt) {
        return false;
    }
    const std::string_view rest = line.substr(txt + 4);
    return (rest.starts_with(" (size = ") && rest.ends_with(")")) ||
           rest.starts_with(": characters without a mapping in the font file replaced: ") ||
           rest == " removed (the string is empty)";
}

// The outcome of one cutter run as a kind of message: its last line with
// every block name "0x…" and every number "N".
std::string message_kind(std::string_view line) {
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        const auto digits_from = [&](std::size_t at, auto is_digit) {
            while (at < line.size() && is_digit(static_cast<unsigned char>(line[at]))) {
                ++at;
            }
            return at;
        };
        if (line.substr(i).starts_with("0x")) {
            i = digits_from(i + 2, [](unsigned char c) { return std::isxdigit(c) != 0; });
            out += "0x…";
        } else if (std::isdigit(static_cast<unsigned char>(line[i])) != 0) {
            i = digits_from(i, [](unsigned char c) { return std::isdigit(c) != 0; });
            out += "N";
        } else {
            out += line[i++];
        }
    }
    return out;
}

TEST_F(WineLibraries, CutterEndsWithStatusZeroOrOneLine) {
    PALM_SKIP_ON_WINDOWS("runs cutter through a POSIX shell under a time limit (timeout)");
    const auto libraries = wine_libraries();
    if (libraries.empty()) {
        GTEST_SKIP() << no_libraries;
    }
    const std::string font = (source_dir / "examples/font.bin").string();
    struct kind {
        int count = 0;
        std::string example;
    };
    std::map<std::string, kind> kinds;
    double slowest = 0;
    std::string slowest_library;
    for (const auto& library : libraries) {
        fs::create_directory("run");
        const auto start = std::chrono::steady_clock::now();
        // At most 10 s per run; a run that takes longer fails with status 124.
        const int status = run_shell("cd run && timeout -k 5 10 \"" CUTTER_PROGRAM "\" \"" + library.path + "\" \"" +
                                     font + "\" >../stdout.txt 2>../stderr.txt");
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > slowest) {
            slowest = seconds;
            slowest_library = library.path;
        }
        fs::remove_all("run");
        const std::string err = read_file("stderr.txt");
        EXPECT_EQ(read_file("stdout.txt"), "") << library.path;
        if (status != 0 && status != 1) {
            ADD_FAILURE() << library.path << ": exit status " << status << "\n" << err;
            continue;
        }
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        EXPECT_TRUE(err.empty() || err.back() == '\n') << library.path << ": " << err;
        const auto progress_lines = static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), is_progress));
        if (status == 0) {
            EXPECT_EQ(progress_lines, lines.size()) << library.path << ":\n" << err;
            kinds["(exit status 0)"].count++;
            continue;
        }
        // Progress lines for the chunks written, then exactly one message.
        if (lines.empty() || progress_lines != lines.size() - 1 || is_progress(lines.back())) {
            ADD_FAILURE() << library.path << ": exit status 1 without one closing message:\n" << err;
            continue;
        }
        kind& k = kinds[message_kind(lines.back())];
        if (k.count++ == 0) {
            k.example = fs::path(library.path).filename().string() + ": " + lines.back();
        }
    }
    std::printf("cutter on %zu libraries, the slowest %.2f s (%s):\n", libraries.size(), slowest,
                slowest_library.c_str());
    for (const auto& [message, k] : kinds) {
        std::printf("%5d  %s%s%s\n", k.count, message.c_str(), k.example.empty() ? "" : "  e.g. ", k.example.c_str());
    }
}

#ifdef PALMPORT_HAVE_ICONV
// Characters whose Shift_JIS code stands for another code point in Windows'
// table than in glibc's, from which the font file is made: text written on
// Windows uses the right-hand code points. A difference from iconv is allowed
// at these characters only.
struct table_difference {
    char16_t glibc;
    char16_t windows;
    const char* what;  // the character and its Shift_JIS code
};
const table_difference table_differences[] = {
    {u'\u301C', u'\uFF5E', "wave dash 81 60"},
    {u'\u2016', u'\u2225', "double vertical line 81 61"},
    {u'\u2212', u'\uFF0D', "minus sign 81 7C"},
    {u'\u00A2', u'\uFFE0', "cent sign 81 91"},
    {u'\u00A3', u'\uFFE1', "pound sign 81 92"},
    {u'\u00AC', u'\uFFE2', "not sign 81 CA"},
};

const table_difference* documented_difference(char16_t c) {
    for (const auto& d : table_differences) {
        if (c == d.glibc || c == d.windows) {
            return &d;
        }
    }
    return nullptr;
}

// The Shift_JIS that glibc's iconv makes of `units`, or nothing when it
// refuses a character.
std::optional<bytes> iconv_sjis(iconv_t cd, const std::u16string& units) {
    std::vector<char> in;
    for (const char16_t u : units) {
        in.push_back(static_cast<char>(u & 0xFF));
        in.push_back(static_cast<char>(u >> 8));
    }
    std::vector<char> out(2 * units.size() + 4);
    char* in_p = in.data();
    char* out_p = out.data();
    std::size_t in_left = in.size();
    std::size_t out_left = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    return bytes(out.data(), out_p);
}

bytes cutter_sjis(const std::u16string& units) {
    bytes in;
    for (const char16_t u : units) {
        in.push_back(static_cast<std::uint8_t>(u & 0xFF));
        in.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    bytes out(palm::text_buffer_size);
    const std::size_t n = palm::get_script(font_table, in, out);
    return n == 0 ? bytes{} : bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n - 1));
}

// The 16 strings of a string table's data; fewer when a length runs past it.
std::vector<std::u16string> table_strings(std::FILE* f, const palm::RESINFO& r) {
    bytes data(r.size);
    std::vector<std::u16string> out;
    if (!common::seek_to(f, r.offset) || !common::read_exact(f, data)) {
        return out;
    }
    std::size_t at = 0;
    for (int i = 0; i < 16 && at + 2 <= data.size(); ++i) {
        const std::size_t units = data[at] | (data[at + 1] << 8);
        at += 2;
        if (units > (data.size() - at) / 2) {
            break;
        }
        std::u16string s;
        for (std::size_t k = 0; k < units; ++k, at += 2) {
            s.push_back(static_cast<char16_t>(data[at] | (data[at + 1] << 8)));
        }
        out.push_back(s);
    }
    return out;
}

#endif

TEST(WineJapaneseText, ConvertsAsIconvDoes) {
#ifndef PALMPORT_HAVE_ICONV
    GTEST_SKIP() << "this build has no iconv (<iconv.h>): glibc's iconv is a Linux library";
#else
    const auto libraries = wine_libraries();
    if (libraries.empty()) {
        GTEST_SKIP() << no_libraries;
    }
    iconv_t cd = iconv_open("SHIFT_JIS", "UTF-16LE");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "this system's iconv cannot convert UTF-16LE to SHIFT_JIS";
    palm::make_u2e_table(font_table, (source_dir / "examples/font.bin").string());

    int tables = 0;
    int strings = 0;
    std::size_t characters = 0;
    std::size_t non_ascii = 0;
    int skipped = 0;
    std::map<char16_t, int> lacking;  // characters the font file lacks: strings left out for them
    std::map<const table_difference*, int> listed;   // occurrences in the strings compared
    std::map<const table_difference*, int> allowed;  // ... that differ from iconv
    for (const auto& library : libraries) {
        const scanned s = scan(library.path);
        const std::string name = fs::path(library.path).filename().string();
        for (const palm::RESINFO& record : s.list) {
            const palm::RESINFO* r = &record;
            if (r->type != palm::string_table_type || (r->lang != 0x11 && r->lang != 0x411) || !r->in_section) {
                continue;
            }
            ++tables;
            const auto texts = table_strings(s.file.get(), *r);
            for (std::size_t i = 0; i < texts.size(); ++i) {
                const std::u16string& text = texts[i];
                const auto lacks = std::find_if(text.begin(), text.end(),
                                                [](char16_t c) { return c >= 0x80 && palm::u2e_entry(font_table, c) == 0; });
                if (text.empty()) {
                    continue;
                }
                if (lacks != text.end()) {
                    ++skipped;
                    ++lacking[*lacks];
                    continue;
                }
                ++strings;
                characters += text.size();
                for (const char16_t c : text) {
                    if (const table_difference* d = documented_difference(c)) {
                        ++listed[d];
                    }
                }
                non_ascii += static_cast<std::size_t>(
                    std::count_if(text.begin(), text.end(), [](char16_t c) { return c >= 0x80; }));
                const auto want = iconv_sjis(cd, text);
                if (want && cutter_sjis(text) == *want) {
                    continue;
                }
                // Which characters differ, and are they all documented ones?
                std::ostringstream report;
                bool documented = true;
                for (const char16_t c : text) {
                    const std::u16string one(1, c);
                    const auto w = iconv_sjis(cd, one);
                    const bytes got = cutter_sjis(one);
                    if (w && got == *w) {
                        continue;
                    }
                    const table_difference* d = documented_difference(c);
                    documented = documented && d != nullptr;
                    if (d != nullptr) {
                        ++allowed[d];
                    }
                    report << std::hex << " U+" << static_cast<int>(c) << ": cutter " << testing::PrintToString(got)
                           << ", iconv " << (w ? testing::PrintToString(*w) : std::string("refuses it"));
                }
                if (!documented) {
                    ADD_FAILURE() << name << " block " << palm::rlist_name(*r) << " language 0x" << std::hex << r->lang
                                  << " string " << std::dec << i << ":" << report.str();
                }
            }
        }
    }
    iconv_close(cd);
    std::printf("%d Japanese string tables: %d strings compared (%zu characters, %zu of them not ASCII); "
                "left out for characters the font file lacks: %d\n",
                tables, strings, characters, non_ascii, skipped);
    std::vector<std::pair<int, char16_t>> most;
    for (const auto& [c, n] : lacking) {
        most.push_back({n, c});
    }
    std::sort(most.rbegin(), most.rend());
    for (std::size_t k = 0; k < most.size() && k < 5; ++k) {
        std::printf("  U+%04X: in %d of them\n", static_cast<unsigned>(most[k].second), most[k].first);
    }
    for (const auto& d : table_differences) {
        std::printf("  %s (U+%04X, on Windows U+%04X): %d in the strings compared, %d of them differ\n", d.what,
                    static_cast<unsigned>(d.glibc), static_cast<unsigned>(d.windows), listed[&d], allowed[&d]);
    }
    EXPECT_GT(strings, 0);
#endif
}

}  // namespace
