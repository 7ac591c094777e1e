// peek on archives made by crate: the listing, the check of sound archives
// and of archives damaged at every structure, the text of the bundled
// sample with a damaged chunk, the extraction byte for byte, the
// verification with a missing and a damaged chunk, and the program's exits.
#include "crate_test_support.hpp"
#include "platform.hpp"

#include "lzss.hpp"
#include "pe_writer.hpp"
#include "peek.hpp"
#include "sjis.hpp"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <sstream>

namespace {

using namespace crate_test;

struct capture {
    std::string out;
    std::string error;  // the fatal error's line, empty when none
};

capture run_peek(const std::function<void()>& command) {
    capture c;
    testing::internal::CaptureStdout();
    try {
        command();
    } catch (const common::fatal_error& e) {
        c.error = e.what();
    }
    c.out = testing::internal::GetCapturedStdout();
    return c;
}

common::byte_source memory_source(const std::string& bytes) {
    return common::byte_source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// Compresses every expected text of the sample library into its chunk file
// in the current folder, as cutter writes them, and returns their names.
std::vector<std::string> write_sample_chunks() {
    auto state = std::make_unique<palm::lz77_state>();
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(sample_expected_dir)) {
        const std::string name = e.path().filename().string();
        if (!name.starts_with("0x")) {
            continue;
        }
        const std::string text = read_file(e.path());
        std::vector<std::uint8_t> stream(palm::lz77_max_compressed_size(text.size()));
        const auto r = palm::lz77_compress(
            *state, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), stream);
        write_file(name, std::string(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(r.size)));
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string pack(std::vector<std::string> files) {
    files.insert(files.begin(), "out.pdb");
    const auto r = run(files);
    EXPECT_EQ(r.status, 0) << r.err;
    return read_file("out.pdb");
}

using Peek = scratch;

// A sound archive of every kind of name: the listing names each ID's meaning
// and marks the size entry of a file of 64 KiB or more; the check passes with
// warnings for that file and for a unique ID given twice.
TEST_F(Peek, ListingAndCheckOfSoundArchive) {
    write_file("0x1d_03.txt", "chunk");
    write_file("CGRUMO.bmp", "title");
    write_file("CG012.bmp", "twelve");
    write_file("notes.txt", "counted");
    write_file("CG000.bmp", "zero");
    write_file("big.bin", std::string(65536 + 5, 'b'));
    write_file("empty.bin", "");
    const std::string archive =
        pack({"0x1d_03.txt", "CGRUMO.bmp", "CG012.bmp", "notes.txt", "CG000.bmp", "big.bin", "empty.bin"});
    const auto src = memory_source(archive);

    const auto listing = run_peek([&] { peek::print_listing(stdout, "out.pdb", src, false); });
    EXPECT_EQ(listing.error, "");
    for (const char* line : {
             "name:     Lanterns of Vesselmoor for Palm\n", "type:     DATA\n", "creator:  QOVR\n",
             "records:  8 (the size record and 7 files)\n",
             "     0         144         14          0           -  size record\n",
             "     1         158          5       3083          5   0x1d_03.txt\n",
             "     2         163          5       2499          5   fixed picture CGRUMO\n",
             "     3         168          6         12          6   picture number 12 or counted file 12\n",
             "     6         185      65541          1          5*  picture number 1 or counted file 1\n",
             "     7       65726          0          2          0   picture number 2 or counted file 2\n",
             "* the size entry differs"}) {
        EXPECT_NE(listing.out.find(line), std::string::npos) << line << "\nin\n" << listing.out;
    }
    const auto json = run_peek([&] { peek::print_listing(stdout, "out.pdb", src, true); });
    EXPECT_NE(json.out.find("{\"record\":6,\"offset\":185,\"length\":65541,\"uid\":1,\"meaning\":\"picture number 1 "
                            "or counted file 1\",\"size_entry\":5,\"size_disagrees\":true}"),
              std::string::npos)
        << json.out;

    std::vector<std::string> lines;
    for (const auto& p : peek::check_archive(src)) {
        EXPECT_TRUE(p.warning) << p.text;
        lines.push_back(p.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "record 6: 65541 bytes, the size record keeps only the low 16 bits (5)",
                         "record 5: unique ID 0 is also record 4's",
                     }));
    EXPECT_TRUE(run_peek([&] { peek::print_check(stdout, "out.pdb", src, false); }).out.ends_with(
        "out.pdb: sound (2 warnings)\n"));
    // No files at all is sound too.
    write_file("empty.lst", "");
    ASSERT_EQ(run({"-f", "empty.lst", "none.pdb"}).status, 0);
    EXPECT_TRUE(peek::check_archive(memory_source(read_file("none.pdb"))).empty());
    // An empty record before another shares its offset, and is sound.
    EXPECT_TRUE(peek::check_archive(memory_source(pack({"notes.txt", "missing", "CG012.bmp"}))).empty());
}

// Each structure damaged in turn: the check names it in an error line, and
// the listing either shows the archive or refuses it in one line.
TEST_F(Peek, CheckFindsDamageAtEveryStructure) {
    write_file("a.bin", "aaaa");
    write_file("CG001.bmp", "bbbbbb");
    write_file("0x7_00.txt", "cc");
    const std::string sound = pack({"a.bin", "CG001.bmp", "0x7_00.txt"});
    ASSERT_EQ(sound.size(), 88u + 30u + 12u);
    const struct {
        const char* damage;
        std::function<void(std::string&)> change;
        const char* error;
    } cases[] = {
        {"cut inside the header", [](std::string& a) { a.resize(50); },
         "not a Palm database (it begins with \"Lant\" and is only 50 bytes, shorter than the 78-byte header)"},
        {"cut inside the record list", [](std::string& a) { a.resize(100); },
         "record list: the archive is 100 bytes, too short for the list of 4 records (110 bytes)"},
        {"name without zero byte", [](std::string& a) { a.replace(0, 32, 32, 'N'); },
         "not a Palm database (it begins with \"NNNN\")"},
        {"resource database", [](std::string& a) { put_be(a, 32, 1, 2); }, "header: attributes 0x0001 mark a resource"},
        {"type", [](std::string& a) { a.replace(60, 4, "appl"); }, "header: type \"appl\", not \"DATA\""},
        {"creator", [](std::string& a) { a.replace(64, 4, "QOV\x01"); }, "not a Palm database (it begins with \"Lant\")"},
        {"printable creator", [](std::string& a) { a.replace(64, 4, "QOV\\"); }, "header: creator \"QOV\\x5C\", not \"QOVR\""},
        {"sort info", [](std::string& a) { put_be(a, 56, 0x70, 4); }, "sort info offset 112, the archive has neither"},
        {"next record list", [](std::string& a) { put_be(a, 72, 9, 4); }, "header: next record list 9"},
        {"no size record", [](std::string& a) { put_be(a, 76, 0, 2); }, "record count: 0, the size record is missing"},
        {"count too high", [](std::string& a) { put_be(a, 76, 9, 2); }, "record list: the archive is 130 bytes"},
        {"count too low", [](std::string& a) { put_be(a, 76, 3, 2); }, "record 0: the size record lies at 112, not right behind the delimiter at 104"},
        {"delimiter", [](std::string& a) { a[111] = 1; }, "delimiter: bytes 00 01 at 110, not two zero bytes"},
        {"size record moved", [](std::string& a) { put_be(a, 78, 114, 4); }, "record 0: the size record lies at 114"},
        {"size record ID", [](std::string& a) { put_be(a, 83, 7, 3); }, "record 0: the size record has unique ID 7"},
        {"offset past end", [](std::string& a) { put_be(a, 86, 5000, 4); },
         "record 1: offset 5000 lies past the end of the 130-byte archive"},
        {"offsets out of order", [](std::string& a) { put_be(a, 94, 110, 4); },
         "record 2: offset 110 lies before record 1's offset 118"},
        {"record attributes", [](std::string& a) { a[90] = static_cast<char>(0x80); }, "record 1: attributes 0x80"},
        {"size record length", [](std::string& a) { put_be(a, 86, 120, 4); },
         "record 0: the size record is 8 bytes, not 6 for 3 files"},
        {"size entry", [](std::string& a) { put_be(a, 114, 7, 2); }, "record 2: 6 bytes, its size entry says 7"},
        {"trailing bytes", [](std::string& a) { a += "zz"; },
         "total length: the archive is 132 bytes, its last record should end at 130"},
        {"cut last record", [](std::string& a) { a.pop_back(); },
         "total length: the archive is 129 bytes, its last record should end at 130"},
    };
    for (const auto& c : cases) {
        std::string damaged = sound;
        c.change(damaged);
        const auto src = memory_source(damaged);
        const auto problems = peek::check_archive(src);
        const bool found = std::any_of(problems.begin(), problems.end(), [&](const peek::problem& p) {
            return !p.warning && p.text.find(c.error) != std::string::npos;
        });
        std::string all;
        for (const auto& p : problems) {
            all += p.text + "\n";
        }
        EXPECT_TRUE(found) << c.damage << ": wanted " << c.error << "\ngot\n" << all;
        const auto listing = run_peek([&] { peek::print_listing(stdout, "x", src, false); });
        EXPECT_EQ(listing.error.find('\n'), std::string::npos) << c.damage;
    }
    EXPECT_TRUE(peek::check_archive(memory_source(sound)).empty());
}

// Every record comes back byte for byte under its ID's name, and the index
// lists them; a record with unknowable bounds is refused in one line.
TEST_F(Peek, ExtractRoundTripsEveryRecord) {
    const std::map<std::string, std::string> files = {
        {"0x2a_15.txt", "last chunk"}, {"ZOPA01.bmp", "overlay"}, {"CG002.bmp", std::string(70000, '\x02')},
        {"a.bin", std::string("\0\r\n\x1a", 4)}, {"b.bin", ""}, {"c.bin", "c"}};
    std::vector<std::string> names;
    for (const auto& [name, content] : files) {
        write_file(name, content);
        names.push_back(name);
    }
    const std::string archive = pack(names);
    const auto src = memory_source(archive);
#ifndef _WIN32
    // A link standing at an output name is replaced, its target left alone.
    write_file("outside.txt", "outside");
    fs::create_directory("records");
    fs::create_symlink("../outside.txt", "records/0x2a_15.txt");
#endif
    EXPECT_EQ(run_peek([&] { peek::extract_archive("records", src); }).error, "");
    EXPECT_FALSE(fs::is_symlink("records/0x2a_15.txt"));
    EXPECT_TRUE(!fs::exists("outside.txt") || read_file("outside.txt") == "outside");
    // Every record under a name that gives it back its unique ID, whatever the
    // counter does; a picture's extension from its bytes; an ID given twice
    // in a folder of its record.
    const std::map<std::string, std::string> written = {
        {"0x2a_15.txt", "0x2a_15.txt"}, {"ZOPA01.bmp", "ZOPA01.bin"}, {"CG002.bmp", "CG02.bin"},
        {"a.bin", "CG00.bin"}, {"b.bin", "CG01.bin"}, {"c.bin", "r6/CG02.bin"}};
    for (const auto& [name, out] : written) {
        EXPECT_EQ(read_file(fs::path("records") / out), files.at(name)) << name;
    }
    EXPECT_EQ(read_file("records/size_record.bin").size(), 12u);
    EXPECT_EQ(read_file("records/index.txt"),
              "record\tunique ID\tlength\tfile\tmeaning\n"
              "0\t0\t12\tsize_record.bin\tsize record\n"
              "1\t3355\t10\t0x2a_15.txt\t0x2a_15.txt\n"
              "2\t2\t70000\tCG02.bin\tpicture number 2 or counted file 2\n"
              "3\t2497\t7\tZOPA01.bin\tfixed picture ZOPA01\n"
              "4\t0\t4\tCG00.bin\tpicture number 0 or counted file 0\n"
              "5\t1\t0\tCG01.bin\tpicture number 1 or counted file 1\n"
              "6\t2\t1\tr6/CG02.bin\tpicture number 2 or counted file 2\n");
    // crate in that folder with its file list packs the same records again.
    const fs::path home = fs::current_path();
    fs::current_path("records");
    const auto repacked = run({"-f", "files.lst", "../again.pdb"});
    fs::current_path(home);
    EXPECT_EQ(repacked.status, 0) << repacked.err;
    EXPECT_EQ(masked(read_file("again.pdb")), masked(archive));
    // The sample archive too, pictures with their extension.
    ASSERT_EQ(run_peek([&] { peek::extract_archive("sample", memory_source(read_file(source_dir / "tests/golden/sample/sample_library.pdb"))); }).error, "");
    EXPECT_EQ(read_file("sample/CGRUMO.bmp"), read_file(source_dir / "examples/CGRUMO.bmp"));
    fs::current_path("sample");
    EXPECT_EQ(run({"-f", "files.lst", "../sample.pdb"}).status, 0);
    fs::current_path(home);
    EXPECT_EQ(masked(read_file("sample.pdb")), read_file(source_dir / "tests/golden/sample/sample_library.pdb"));
    std::string damaged = archive;
    put_be(damaged, 86 + 8, 1, 4);
    EXPECT_EQ(run_peek([&] { peek::extract_archive("bad", memory_source(damaged)); }).error,
              "record 1: offset 148 lies outside the archive or behind the next record");
}

// The bundled sample's chunks read back as the expected texts, in ID order,
// replaced characters as the geta mark; a damaged stream is shown as far as
// it decodes and named in the closing error.
TEST_F(Peek, TextOfBundledSample) {
    palm::sjis_table table;
    palm::make_u2e_table(table, (source_dir / "examples/font.bin").string());
    const palm::sjis_reader reader(table);
    EXPECT_EQ(reader.to_utf8(bytes{'a', '\t', 'b', 0}), "a\tb");
    auto names = write_sample_chunks();
    write_file(names[1], std::string("\xFE" "abcdefg\x00", 9));  // a literal text without its zero, then a cut match
    write_file("CG001.bmp", "not a chunk");
    names.push_back("CG001.bmp");
    const std::string archive = pack(names);
    const auto text = run_peek([&] { peek::print_text(stdout, memory_source(archive), reader); });
    EXPECT_EQ(text.error, "1 damaged chunk: " + names[1] + " (record 2)");
    // Blocks in ID order; the names sort by text, so "0x10_..." before "0x7_...".
    struct chunk {
        std::uint32_t uid;
        std::size_t record;
        std::string name;
    };
    std::vector<chunk> chunks;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        const auto block = static_cast<std::uint32_t>(std::stoul(names[i].substr(2), nullptr, 16));
        const auto index = static_cast<std::uint32_t>(std::stoul(names[i].substr(names[i].find('_') + 1)));
        chunks.push_back({2500 + 20 * block + index, i + 1, names[i]});
    }
    std::sort(chunks.begin(), chunks.end(), [](const chunk& a, const chunk& b) { return a.uid < b.uid; });
    std::string want;
    for (const auto& c : chunks) {
        want += "== " + c.name + " (record " + std::to_string(c.record) + ", unique ID " + std::to_string(c.uid) + ")\n";
        if (c.record == 2) {
            want += "abcdefg\n!! damaged: the stream ends inside a match after 7 bytes of text\n";
        } else {
            const std::string t = read_file(sample_expected_dir / c.name);
            want += reader.to_utf8(std::span(reinterpret_cast<const std::uint8_t*>(t.data()), t.size()));
        }
        want += "\n\n";
    }
    EXPECT_EQ(text.out, want);
    EXPECT_NE(text.out.find("\xE3\x80\x93"), std::string::npos) << "no geta mark";
    // U+00E9 has no Shift_JIS code: cutter writes the geta mark for it.
    EXPECT_NE(text.out.find("caf\xE3\x80\x93"), std::string::npos);
    // The eight characters of U+0080 to U+00FF that Shift_JIS has read back.
    const std::uint8_t signs[] = {0x81, 0x7E, 0x81, 0x8B, 0x81, 0x7D, 0xE9, 0x00};
    EXPECT_EQ(reader.to_utf8(signs), "\xC3\x97\xC2\xB0\xC2\xB1\xEF\xBF\xBD");
}

// The sample library against an archive of the expected texts, compressed
// independently of cutter: all match. Then one chunk with a changed
// character, one whose stream is cut, one left out and one the library does
// not have: each is one line, in both forms of output.
TEST_F(Peek, VerifyBundledSample) {
    const std::string library = (source_dir / "examples/rumomsg.dll").string();
    const std::string font = (source_dir / "examples/font.bin").string();
    auto names = write_sample_chunks();
    write_file("CGRUMO.bmp", "title");
    names.push_back("CGRUMO.bmp");
    bool ok = false;
    const auto good = pack(names);
    auto r = run_peek([&] { ok = peek::verify_archive(stdout, library, font, "out.pdb", memory_source(good), false); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.out, "verified: all 330 chunks of " + library + " match\n");

    std::string text = read_file(sample_expected_dir / "0x7_02.txt");
    text.replace(6, 2, "\x92\xAC");  // the island becomes a town
    auto state = std::make_unique<palm::lz77_state>();
    std::vector<std::uint8_t> stream(palm::lz77_max_compressed_size(text.size()));
    const auto size =
        palm::lz77_compress(*state, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), stream)
            .size;
    write_file("0x7_02.txt", std::string(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size)));
    write_file("0x7_05.txt", std::string("\xFE" "abcdefg\x00", 9));
    write_file("0x7_03.txt", std::string("\x80\x00", 2));
    names.erase(std::find(names.begin(), names.end(), "0x7_04.txt"));
    names.push_back("0x7_03.txt");
    const auto bad = pack(names);
    r = run_peek([&] { ok = peek::verify_archive(stdout, library, font, "out.pdb", memory_source(bad), false); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(r.error, "");
    const std::string lines[] = {
        "different 0x7_02.txt (unique ID 2642, record 241): first difference at byte 6 (character 4): archive "
        "\"町には、雨の日にだけ灯る\", library \"島には、雨の日にだけ灯る\"\n",
        "extra 0x7_03.txt (unique ID 2643, record 331): the library has no such string\n",
        "missing 0x7_04.txt (unique ID 2644): no record has its unique ID\n",
        "different 0x7_05.txt (unique ID 2645, record 242): the stream ends inside a match after 7 bytes of text; "
        "first difference at byte 0 (character 1): archive \"abcdefg<end>\", library \"連絡船が桟橋に着いたのは\"\n",
        "not verified: 327 of 330 chunks match; 1 missing, 1 extra, 2 different\n"};
    std::string want;
    for (const auto& line : lines) {
        want += line;
    }
    EXPECT_EQ(r.out, want);
    r = run_peek([&] { ok = peek::verify_archive(stdout, library, font, "out.pdb", memory_source(bad), true); });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(r.out.starts_with("{\"library\":" + nlohmann::json(library).dump() +
                                  ",\"chunks\":330,\"matching\":327,\"missing\":1,\"extra\":1,\"different\":2,"
                                  "\"ok\":false,\"findings\":[{\"kind\":\"different\",\"chunk\":\"0x7_02.txt\""))
        << r.out;
    EXPECT_NE(r.out.find("{\"kind\":\"missing\",\"chunk\":\"0x7_04.txt\",\"uid\":2644,\"record\":null,"), std::string::npos);
}

// The blocks as cutter finds them: string tables before an icon of the same
// name, a missing block named where cutter would stop, the icon among the
// other resources.
TEST_F(Peek, LibraryListsTheBlocksAsCutterFindsThem) {
    pe::image_plan plan;
    plan.types = {{pe::id(3), {{pe::id(7), {{pe::id(0x409), std::vector<std::uint8_t>(40, 0xFF)}}}}}, {pe::id(6), {}}};
    for (std::uint32_t block = 7; block <= 42; ++block) {
        std::vector<std::uint8_t> data(32, 0);
        data[2] = 2;  // string 1: "ab"
        data.insert(data.begin() + 4, {'a', 0, 'b', 0});
        if (block != 0x10) {
            plan.types[1].names.push_back({pe::id(block), {{pe::id(0x411), data}}});
        }
    }
    pe::write_file("lib.dll", pe::build(plan).bytes);
    bool ok = true;
    auto r = run_peek([&] { ok = peek::print_library(stdout, "lib.dll", false); });
    EXPECT_FALSE(ok);
    for (const char* line : {"0x7    yes    string table         0x411", "0x10   no\n",
                             "35 of 36 blocks found; cutter stops at block 0x10: Can't find the message \"0x10\".\n",
                             "other resources: 1\n  icon (3): 1, named 0x7\n"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin\n" << r.out;
    }
    EXPECT_NE(r.out.find("  36        1        2\n"), std::string::npos) << r.out;  // size, strings, longest
    r = run_peek([&] { ok = peek::print_library(stdout, (source_dir / "examples/rumomsg.dll").string(), true); });
    EXPECT_TRUE(ok);
    EXPECT_NE(r.out.find(",\"ok\":true,\"blocks\":[{\"block\":\"0x7\",\"found\":true,\"type\":6,"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"size\":23040,\"resources\":36,"), std::string::npos) << r.out;
}

// The program itself: results on standard output, one line on standard error;
// exit status 0 for a sound archive, 1 for a bad one, 2 when peek could not do
// its work (the command line, a file it cannot open, a write that fails).
// Runs the built peek directly, without a shell between, with the
// space-separated `args`; standard output goes to `out`, standard error to
// stderr.txt.
int run_peek(const std::string& args, const std::string& out = "stdout.txt") {
    std::vector<std::string> argv{PEEK_PROGRAM};
    std::istringstream words(args);
    for (std::string w; words >> w;) {
        argv.push_back(w);
    }
    return run_program(argv, {"", out, "stderr.txt"});
}

TEST_F(Peek, ProgramExits) {
    write_file("short.pdb", "PDB");
    write_file("a.bin", "a");
    pack({"a.bin"});
    const struct {
        std::string args;
        int status;
        std::string out_start;
        std::string err;
        std::string out = "stdout.txt";
    } cases[] = {
        {"", 2, "", std::string(peek::usage_text) + "\n"},
        {"--check", 2, "", std::string(peek::usage_text) + "\n"},
        {"--json --text out.pdb font.bin", 2, "", std::string(peek::usage_text) + "\n"},
        {"--bogus out.pdb", 2, "", std::string(peek::usage_text) + "\n"},
        {"-x out.pdb", 2, "", std::string(peek::usage_text) + "\n"},
        {"--help", 0, "peek: list, check", ""},
        {"--version", 0, "peek " PALMPORT_VERSION "\n", ""},
        {"missing.pdb", 2, "", "Can't open missing.pdb.\n"},
        {"short.pdb", 1, "",
         "short.pdb: not a Palm database (it begins with \"PDB\" and is only 3 bytes, shorter than the 78-byte header)\n"},
        {"--check short.pdb", 1, "error: not a Palm database (it begins with \"PDB\" and is only 3 bytes", ""},
        {"--check out.pdb", 0, "out.pdb: sound (0 warnings)\n", ""},
        {"--json --check short.pdb", 1, "{\"archive\":\"short.pdb\",\"sound\":false,\"errors\":1,\"warnings\":0,", ""},
        {"--text out.pdb nofont.bin", 2, "", "Can't open nofont.bin.\n"},
        {"out.pdb", 0, "archive:  out.pdb (99 bytes)\n", ""},
#ifndef _WIN32
        {"out.pdb", 2, "", "Can't write standard output.\n", "/dev/full"},
        {"--check out.pdb", 2, "", "Can't write standard output.\n", "/dev/full"},
        {"--help", 2, "", "Can't write standard output.\n", "/dev/full"},
#endif
    };
    for (const auto& c : cases) {
        write_file("stdout.txt", "");
        EXPECT_EQ(run_peek(c.args, c.out), c.status) << c.args;
        EXPECT_TRUE(read_file("stdout.txt").starts_with(c.out_start)) << c.args << ": " << read_file("stdout.txt");
        EXPECT_EQ(read_file("stderr.txt"), c.err) << c.args;
    }
}

// What peek was given, in one line on standard error and exit status 1: a
// folder, a FIFO, a file that is no Palm database, a cut archive (listed as
// far as it goes), a long name; --verify fails on the check's errors too.
TEST_F(Peek, TellsWhatItWasGiven) {
    fs::create_directory("folder");
    fs::copy_file(source_dir / "examples/font.bin", "font.bin");
    std::vector<std::string> chunks;
    std::string named;
    for (int i = 0; i < 12; ++i) {
        chunks.push_back((i < 10 ? "0x7_0" : "0x7_") + std::to_string(i) + ".txt");
        write_file(chunks.back(), "");  // no text, not even its closing zero
        named += i >= 10 ? "" : (i == 0 ? "" : ", ") + chunks.back() + " (record " + std::to_string(i + 1) + ")";
    }
    const std::string many = pack(chunks);
    write_file("many.pdb", many);
    write_file("cut.pdb", many.substr(0, 100));
    write_file("cutdata.pdb", many.substr(0, many.size() - 1));
    fs::copy_file(source_dir / "examples/rumomsg.dll", "rumomsg.dll");
    write_file("notes.txt", "Notes on the title screen: " + std::string(80, '.'));
    write_file("empty.bin", "");
    write_file("creator.pdb", pack(write_sample_chunks()).replace(64, 4, "QOVX"));
    const std::string dll = "not a Palm database (it begins with \"MZx\\x00\", a Windows library: try peek --library)";
#ifndef _WIN32
    ASSERT_EQ(run_shell("mkfifo fifo"), 0);
#endif
    const struct {
        std::string args;
        int status;
        std::string out;  // a piece of standard output
        std::string err;  // all of standard error
    } cases[] = {
        {"folder", 2, "", "folder: a folder, not an archive\n"},
        {"--text out.pdb folder", 2, "", "folder: a folder, not a file\n"},
        {"--library folder", 2, "", "folder: a folder, not a file\n"},
        {std::string(300, 'n'), 2, "", "Can't open " + std::string(255, 'n') + "\xE2\x80\xA6.\n"},
        {"rumomsg.dll", 1, "", "rumomsg.dll: " + dll + "\n"},
        {"--check rumomsg.dll", 1, "error: " + dll + "\nrumomsg.dll: 1 error, 0 warnings\n", ""},
        {"--extract records notes.txt", 1, "", "notes.txt: not a Palm database (it begins with \"Note\")\n"},
        {"--text empty.bin font.bin", 1, "", "empty.bin: not a Palm database (it is empty)\n"},
        {"cut.pdb", 1,
         "     1         208          ?       2640           ?  0x7_00.txt\n"
         "the file ends inside the record list: it holds 2 of the 13 entries\n",
         "cut.pdb: damaged archive: peek --check cut.pdb tells what is wrong\n"},
        {"--json cutdata.pdb", 1, "", "cutdata.pdb: damaged archive: peek --check cutdata.pdb tells what is wrong\n"},
        {"--text many.pdb font.bin", 1, "== 0x7_11.txt", "many.pdb: 12 damaged chunks: " + named + " and 2 more\n"},
        {"--verify rumomsg.dll font.bin creator.pdb", 1,
         "archive error: header: creator \"QOVX\", not \"QOVR\"\n"
         "not verified: 330 of 330 chunks match; 0 missing, 0 extra, 0 different; 1 archive error\n", ""},
        {"--verify --json rumomsg.dll font.bin creator.pdb", 1,
         "\"ok\":false,\"findings\":[],\"archive_errors\":[\"header: creator \\\"QOVX\\\", not \\\"QOVR\\\"\"]}\n", ""},
#ifndef _WIN32
        {"fifo", 2, "", "fifo: not a regular file\n"},
        {"--verify fifo font.bin out.pdb", 2, "", "fifo: not a regular file\n"},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_peek(c.args), c.status) << c.args;
        EXPECT_NE(read_file("stdout.txt").find(c.out), std::string::npos) << c.args << ": " << read_file("stdout.txt");
        EXPECT_EQ(read_file("stderr.txt"), c.err) << c.args;
    }
}

// JSON output is valid UTF-8 whatever bytes a name holds: well-formed
// sequences are copied, every other byte NN stands as U+00NN. The second
// column is the JSON an earlier peek wrote for each name; the archive's name
// and the database name in its header read back as that value.
TEST_F(Peek, JsonStringIsValidUtf8) {
    const struct {
        std::string in;
        std::string json;
    } cases[] = {
        {"\xC3\xA9\xE3\x80\x93\xF0\x9F\x8C\x8A\xED\x9F\xBF\xF4\x8F\xBF\xBF",  // well-formed, edges included
         "\"\xC3\xA9\xE3\x80\x93\xF0\x9F\x8C\x8A\xED\x9F\xBF\xF4\x8F\xBF\xBF\""},
        {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},                          // a surrogate
        {"\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},               // above U+10FFFF
        {"\xE0\x80\xAF\xC0\xAF", "\"\\u00e0\\u0080\\u00af\\u00c0\\u00af\""},    // overlong
        {"\xF0\x80\x80\x80\xF5\xFF", "\"\\u00f0\\u0080\\u0080\\u0080\\u00f5\\u00ff\""},  // overlong, F5-FF
        {"\xC3" "A\xE3\x80", "\"\\u00c3A\\u00e3\\u0080\""},                     // cut short
        {"\x80\xE3\x80\x93", "\"\\u0080\xE3\x80\x93\""},                        // in step again
        {"\"\\\x01\x7F", "\"\\\"\\\\\\u0001\\u007f\""},
    };
    write_file("a.bin", "a");
    const std::string archive = pack({"a.bin"});
    for (const auto& c : cases) {
        const std::string named = std::string(archive).replace(0, 32, c.in + std::string(32 - c.in.size(), '\0'));
        const auto r = run_peek([&] { peek::print_listing(stdout, c.in, memory_source(named), true); });
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        const auto printed = nlohmann::json::parse(r.out);  // refuses ill-formed UTF-8
        EXPECT_EQ(printed.at("archive"), nlohmann::json::parse(c.json)) << testing::PrintToString(c.in);
        EXPECT_EQ(printed.at("name"), nlohmann::json::parse(c.json)) << testing::PrintToString(c.in);
    }
    // A strict reader takes a whole listing whose database name holds such bytes.
    if (missing_tool("python3 -c pass", "python3", "python3").empty()) {
        write_file("odd.pdb", pack({"a.bin"}).replace(0, 12, "\xED\xA0\x80\xF4\x90\x80\x80\xE0\x80\xAF\xC0\xAF"));
        EXPECT_EQ(run_shell("\"" PEEK_PROGRAM "\" --json odd.pdb | python3 -c \"import json,sys; "
                            "json.loads(sys.stdin.buffer.read().decode())\""), 0);
    }
}

}  // namespace
