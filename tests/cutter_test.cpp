// The chunk file and the block walk's messages, exit statuses and files,
// over small libraries from tests/pe_writer.
#include "cutter.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "pe_writer.hpp"
#include "platform.hpp"
#include "test_support.hpp"
#include "message_blocks.hpp"
#include "sjis.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using namespace test_support;

const std::string font_path = PALMPORT_SOURCE_DIR "/examples/font.bin";

bytes b(const std::string& s) {
    return {s.begin(), s.end()};
}

using ChunkFile = scratch;

TEST_F(ChunkFile, HoldsExactlyTheStreamAndReplacesAnOlderFile) {
    auto state = std::make_unique<palm::lz77_state>();
    write_file("0x7_00.txt", std::string(5000, 'x'));
    const bytes text = b("ABABABAB" + std::string(300, 'z') + '\0');
    cutter::put_compress_script("0x7_00.txt", text, *state);
    const bytes file = read_bytes("0x7_00.txt");
    auto fresh = std::make_unique<palm::lz77_state>();
    bytes stream(palm::lz77_max_compressed_size(text.size()));
    stream.resize(palm::lz77_compress(*fresh, text, stream).size);
    EXPECT_EQ(file, stream);
    const auto decoded = palm::lz77_decompress(file, 8000);
    EXPECT_EQ(decoded.status, palm::lz77_decode_status::ok);
    EXPECT_EQ(decoded.bytes, text);
}

TEST_F(ChunkFile, RefusesWhatCannotBeWrittenWhole) {
    auto state = std::make_unique<palm::lz77_state>();
    // 7200 bytes without a repeat of three: 7200 + 900 bytes of stream.
    bytes wide;
    for (int i = 0; wide.size() < 7200; ++i) {
        wide.push_back(static_cast<std::uint8_t>(0x81 + (i / 256) % 60));
        wide.push_back(static_cast<std::uint8_t>(i % 256));
    }
    wide.back() = 0;
    write_file("0x7_01.txt", "old");
    const struct {
        std::string name;
        bytes text;
        std::string err;
    } rows[] = {
        {"0x7_01.txt", wide, "0x7_01.txt: the compressed text is longer than 8000 bytes."},
        {"no/such/0x7_02.txt", b("A"), "Can't open no/such/0x7_02.txt."},
        {"0x7_03.txt", b("A"), "Can't open 0x7_03.txt."},  // a folder has the name
    };
    fs::create_directory("0x7_03.txt");
    for (const auto& r : rows) {
        try {
            cutter::put_compress_script(r.name, r.text, *state);
            ADD_FAILURE() << r.name << " accepted";
        } catch (const common::fatal_error& e) {
            EXPECT_EQ(e.what(), r.err);
        }
    }
    EXPECT_EQ(read_bytes("0x7_01.txt"), b("old"));
}

// ---- the block walk ----------------------------------------------------

// A library of the 36 blocks (plus any extra plan changes): block 7 + k holds
// the strings of strings[k]; a missing entry of `skip` leaves its block out.
struct library {
    std::vector<std::vector<std::u16string>> strings = std::vector<std::vector<std::u16string>>(36);
    std::set<int> skip;
    std::uint32_t block_type = 6;               // the blocks' resource type
    std::vector<pe::type_node> types_before;  // other resources listed first

    library() {
        // One short string per block, at an index that moves with the block.
        for (int k = 0; k < 36; ++k) {
            strings[static_cast<std::size_t>(k)].resize(16);
            strings[static_cast<std::size_t>(k)][static_cast<std::size_t>((k + 3) % 16)] = u"Hi\x3042";
        }
    }
    pe::image build() const {
        pe::image_plan plan;
        pe::type_node type{pe::id(block_type), {}};
        for (int k = 0; k < 36; ++k) {
            if (skip.count(7 + k) != 0) {
                continue;
            }
            bytes data;
            for (const auto& s : strings[static_cast<std::size_t>(k)]) {
                pe::put16(data, data.size(), static_cast<std::uint16_t>(s.size()));
                for (const char16_t u : s) {
                    pe::put16(data, data.size(), static_cast<std::uint16_t>(u));
                }
            }
            type.names.push_back({pe::id(static_cast<std::uint32_t>(7 + k)), {{pe::id(0x411), data}}});
        }
        plan.types = types_before;
        plan.types.push_back(type);
        return pe::build(plan);
    }
};

// The progress line of the default library's only string in block 7 + k.
std::string progress(int k) {
    char line[64];
    std::snprintf(line, sizeof line, "%s_%02d.txt (size = 6)\n", std::string(palm::text_name[static_cast<std::size_t>(k)]).c_str(),
                  (k + 3) % 16);
    return line;
}
std::string progress_upto(int end) {
    std::string out;
    for (int k = 0; k < end; ++k) {
        out += progress(k);
    }
    return out;
}
std::set<std::string> chunk_files() {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(".")) {
        if (e.path().extension() == ".txt") {
            out.insert(e.path().filename().string());
        }
    }
    return out;
}
// The closing line of a run that wrote `written` of the 36 chunk files.
std::string closing(int written, int removed = 0) {
    return "36 chunk files: " + std::to_string(written) + " written, " + std::to_string(36 - written) +
           " unchanged, " + std::to_string(removed) + " removed; 0 with unmapped characters\n";
}
std::set<std::string> names_upto(int end) {
    std::set<std::string> out;
    for (int k = 0; k < end; ++k) {
        std::string line = progress(k);
        out.insert(line.substr(0, line.find(' ')));
    }
    return out;
}

// Runs cutter with `args` behind the program name, as main does.
run_result run(std::vector<std::string> args) {
    args.insert(args.begin(), "cutter");
    return run_main(cutter::cutter_main, std::move(args));
}

using Driver = scratch;

TEST_F(Driver, MessagesStatusesAndFiles) {
    const std::string usage = "usage: cutter rumomsg.dll fontfile\n";
    const library plain;
    const pe::image good = plain.build();
    pe::image not_pe = good;
    not_pe.bytes[not_pe.section_table - 24 - 0xE0 + 2] = 'X';
    pe::image no_rsrc = good;
    no_rsrc.bytes[no_rsrc.section_table + 40 + 1] = 'R';
    library gap;
    gap.skip = {0x10};
    // The last block ends the file: cut inside string 1's text, then inside
    // string 2's length. Block 0x2a holds "AB" at 0 and "Hi" + U+3042 at 1.
    library last;
    last.strings[35][0] = u"AB";
    last.strings[35][1] = u"Hi\x3042";
    const pe::image whole = last.build();
    pe::image cut_text = whole;
    cut_text.bytes.resize(whole.payloads.back() + 6 + 2 + 5);
    pe::image cut_length = whole;
    cut_length.bytes.resize(whole.payloads.back() + 6 + 8 + 1);
    pe::image outside = good;
    pe::put32(outside.bytes, outside.data_entries[4], 0x7FFFF000u);
    const std::int32_t outside_offset =
        static_cast<std::int32_t>(0x7FFFF000u + outside.rsrc_raw - outside.rsrc_rva);
    const pe::image gap_image = gap.build();
    // Block 0x7's data entry says 4 bytes: string 2's length lies past them.
    pe::image short_data = good;
    pe::put32(short_data.bytes, short_data.data_entries[0] + 4, 4);
    pe::image text_file;
    text_file.bytes = b(std::string(300, 'x'));
    // Icons named 7 to 42 listed before the string tables, then blocks kept
    // under another type than the string table.
    library icons_first;
    for (std::uint32_t n = 7; n <= 42; ++n) {
        if (icons_first.types_before.empty()) {
            icons_first.types_before.push_back({pe::id(3), {}});
        }
        icons_first.types_before[0].names.push_back({pe::id(n), {{pe::id(0x411), bytes(40, 0xFF)}}});
    }
    const pe::image icons_image = icons_first.build();
    library other_type;
    other_type.block_type = 10;
    const pe::image other_type_image = other_type.build();
    fs::create_directory("folder");
#ifndef _WIN32
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
#endif

    const struct {
        const char* what;
        std::vector<std::string> args;
        const pe::image* lib;
        std::string err;
        int status;
        std::set<std::string> files;
    } cases[] = {
        {"no argument", {}, &good, usage, 1, {}},
        {"one argument", {"lib.dll"}, &good, usage, 1, {}},
        {"three arguments", {"lib.dll", font_path, "x"}, &good, usage, 1, {}},
        {"help", {"--help"}, &good, "", 0, {}},
        {"version", {"--version"}, &good, "", 0, {}},
        {"help is asked alone", {"-h", font_path}, &good, usage, 1, {}},
        {"help with more", {"--help", "extra"}, &good, usage, 1, {}},
        {"an option for the library", {"-x", font_path}, &good, usage, 1, {}},
        {"a file that begins with -", {"./-x", font_path}, &good, "Can't open ./-x.\n", 1, {}},
        {"missing library", {"none.dll", font_path}, &good, "Can't open none.dll.\n", 1, {}},
        {"not PE", {"lib.dll", font_path}, &not_pe, "This file is not PE format.\n", 1, {}},
        {"no .rsrc", {"lib.dll", font_path}, &no_rsrc, "No .rsrc section.\n", 1, {}},
        {"missing font file", {"lib.dll", "nofont.bin"}, &good, "Can't open nofont.bin.\n", 1, {}},
        {"all blocks", {"lib.dll", font_path}, &good, progress_upto(36) + closing(36), 0, names_upto(36)},
        // A library that stops the run leaves the folder as it was.
        {"block 0x10 missing", {"lib.dll", font_path}, &gap_image,
         progress_upto(9) + "Can't find the message \"0x10\".\n", 1, {}},
        {"cut inside a text", {"lib.dll", font_path}, &cut_text,
         progress_upto(35) + "0x2a_00.txt (size = 4)\n0x2a_01.txt (size = 6)\n"
                             "lib.dll: The library ends inside the message \"0x2a\", in the text of string 1.\n",
         1, {}},
        {"cut inside a length", {"lib.dll", font_path}, &cut_length,
         progress_upto(35) + "0x2a_00.txt (size = 4)\n0x2a_01.txt (size = 6)\n"
                             "lib.dll: The library ends inside the message \"0x2a\", in the length of string 2.\n",
         1, {}},
        {"block outside the resource section", {"lib.dll", font_path}, &outside,
         progress_upto(4) + "lib.dll: The message \"0xb\" lies outside the library's resource section (offset " +
             std::to_string(outside_offset) + ", 38 bytes).\n",
         1, {}},
        {"a folder as the library", {"folder", font_path}, &good, "Can't open folder.\n", 1, {}},
        {"a folder as the font file", {"lib.dll", "folder"}, &good, "Can't open folder.\n", 1, {}},
#ifndef _WIN32
        {"a FIFO as the library", {"fifo", font_path}, &good, "Can't open fifo.\n", 1, {}},  // at once
        {"a FIFO as the font file", {"lib.dll", "fifo"}, &good, "Can't open fifo.\n", 1, {}},
#endif
        {"no PE file at all", {"lib.dll", font_path}, &text_file, "This file is not PE format.\n", 1, {}},
        {"data shorter than the strings", {"lib.dll", font_path}, &short_data,
         "lib.dll: The message \"0x7\" ends inside the length of string 2: its data holds 4 bytes.\n", 1, {}},
        {"string tables before icons of the same names", {"lib.dll", font_path}, &icons_image,
         progress_upto(36) + closing(36), 0, names_upto(36)},
        {"blocks under another type", {"lib.dll", font_path}, &other_type_image, progress_upto(36) + closing(36), 0,
         names_upto(36)},
    };
    for (const auto& c : cases) {
        for (const auto& f : chunk_files()) {
            fs::remove(f);
        }
        pe::write_file("lib.dll", c.lib->bytes);
        const run_result r = run(c.args);
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(chunk_files(), c.files) << c.what;
    }
    testing::internal::CaptureStdout();
    run({"--version"});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "cutter " PALMPORT_VERSION "\n");
}

// A rerun leaves chunk files that already hold their stream untouched,
// rewrites the others (a link at a chunk's name is replaced, its target kept)
// and removes the chunk file of a string that is empty now.
TEST_F(Driver, RerunMirrorsTheLibrary) {
    pe::write_file("lib.dll", library().build().bytes);
    ASSERT_EQ(run({"lib.dll", font_path}).status, 0);
    const auto old_time = fs::last_write_time("0x7_03.txt") - std::chrono::hours(24);
    fs::last_write_time("0x7_03.txt", old_time);
    const bytes kept = read_bytes("0x8_04.txt");
    write_file("0x8_04.txt", "changed");
    write_file("0x7_05.txt", "stale");
#ifdef _WIN32
    const bool links = false;  // making a symbolic link needs a privilege there
#else
    const bool links = true;
#endif
    if (links) {
        write_file("outside.bin", "outside");
        fs::remove("0x9_05.txt");
        fs::create_symlink("outside.bin", "0x9_05.txt");
    }
    const run_result r = run({"lib.dll", font_path});
    const std::string first = progress(0);
    EXPECT_EQ(r.err, first + "0x7_05.txt removed (the string is empty)\n" + progress_upto(36).substr(first.size()) +
                         closing(links ? 2 : 1, 1));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fs::last_write_time("0x7_03.txt"), old_time);
    EXPECT_EQ(read_bytes("0x8_04.txt"), kept);
    EXPECT_EQ(chunk_files(), names_upto(36));
    if (links) {
        EXPECT_FALSE(fs::is_symlink("0x9_05.txt"));
        EXPECT_EQ(read_file("outside.bin"), "outside");
    }
}

// --quiet leaves the warnings and the closing line; --strict makes a warning
// fatal before any chunk file is written or removed; a font file that maps
// nothing is one warning line first.
TEST_F(Driver, QuietStrictAndAnEmptyFontFile) {
    library lib;
    lib.strings[0][3] = u"caf\x00E9";  // é has no code in the font file
    pe::write_file("lib.dll", lib.build().bytes);
    write_file("0x8_04.txt", "old");
    write_file("empty.bin", "");
    const std::string warning = "0x7_03.txt: characters without a mapping in the font file replaced: 1 (U+00E9)\n";
    auto r = run({"--strict", "lib.dll", font_path});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with(warning + progress_upto(36).substr(progress(0).size()) +
                                "--strict: 1 warning; no chunk file was written or removed\n"))
        << r.err;
    EXPECT_EQ(chunk_files(), std::set<std::string>{"0x8_04.txt"});
    EXPECT_EQ(read_file("0x8_04.txt"), "old");
    r = run({"-q", "lib.dll", font_path});
    EXPECT_EQ(r.err, warning + "36 chunk files: 36 written, 0 unchanged, 0 removed; 1 with unmapped characters\n");
    EXPECT_EQ(r.status, 0);
    r = run({"--quiet", "lib.dll", "empty.bin"});
    EXPECT_TRUE(r.err.starts_with("empty.bin: the font file maps no character: every character from U+0100 on "
                                  "becomes the geta mark\n"))
        << r.err;
    EXPECT_EQ(r.status, 0);
}

TEST_F(Driver, RefusalsAndWarningsForOneString) {
    palm::sjis_table table;
    palm::make_u2e_table(table, font_path);
    std::u16string wide;  // mapped characters that hardly repeat: an incompressible text
    for (char16_t u = 0x4E00; wide.size() < 3999; ++u) {
        if (palm::u2e_entry(table, u) != 0) {
            wide += u;
        }
    }
    const struct {
        std::u16string text;
        std::string err;
        int status;
    } rows[] = {
        {std::u16string(3999, u'\x3042'), "0x7_00.txt (size = 7998)\n", 0},
        {std::u16string(4000, u'\x3042'), "0x7_00.txt (size = 8000)\n0x7_00.txt: the text is longer than 8000 bytes.\n", 1},
        {wide, "0x7_00.txt (size = 7998)\n0x7_00.txt: the compressed text is longer than 8000 bytes.\n", 1},
        {u"\x0100" u"a\xFFFF\x3042",
         "0x7_00.txt (size = 8)\n0x7_00.txt: characters without a mapping in the font file replaced: 2 (U+0100, "
         "U+FFFF)\n", 0},
    };
    for (const auto& r : rows) {
        fs::remove("0x7_00.txt");
        library lib;
        lib.strings[0] = {r.text};
        lib.strings[0].resize(16);
        pe::write_file("lib.dll", lib.build().bytes);
        const run_result res = run({"lib.dll", font_path});
        EXPECT_EQ(res.err.substr(0, res.err.find("0x8_")), r.err);
        EXPECT_EQ(res.status, r.status);
        EXPECT_EQ(fs::exists("0x7_00.txt"), r.status == 0);
    }
}

}  // namespace
