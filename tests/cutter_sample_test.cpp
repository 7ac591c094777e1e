// The built cutter on the sample library: every chunk file decodes to the
// reflowed text computed independently in tests/data/sample_expected/, the
// progress lines and warnings match its index, and crate gives every chunk its
// unique ID. The chunk files' exact bytes are pinned by golden_sample_test.
#include "lzss.hpp"
#include "platform.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// One line of index.txt: "<chunk> (size = <n>) uid <id>[ unmapped <count>]".
struct chunk {
    std::string name;
    std::string progress;  // "<chunk> (size = <n>)"
    std::uint32_t uid = 0;
    std::string unmapped;
};

std::vector<chunk> read_index() {
    std::vector<chunk> out;
    std::istringstream in(read_file(sample_expected_dir / "index.txt"));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        chunk c;
        const auto uid_at = line.find(" uid ");
        c.progress = line.substr(0, uid_at);
        c.name = line.substr(0, line.find(' '));
        std::istringstream rest(line.substr(uid_at + 5));
        std::string word;
        rest >> c.uid >> word >> c.unmapped;
        out.push_back(c);
    }
    return out;
}

TEST(SampleLibrary, ChunksProgressLinesUniqueIdsAndStreams) {
    PALM_SKIP_ON_WINDOWS("runs the programs through a POSIX shell; the in-process driver tests cover the walk");
    const std::vector<chunk> index = read_index();
    ASSERT_FALSE(index.empty());
    const scratch_folder here(fs::current_path() / "cutter_sample");

    ASSERT_EQ(run_shell("\"" CUTTER_PROGRAM "\" \"" + (source_dir / "examples/rumomsg.dll").string() + "\" \"" +
                    (source_dir / "examples/font.bin").string() + "\" >stdout.txt 2>stderr.txt"),
              0);
    EXPECT_EQ(read_file("stdout.txt"), "");
    std::string err;
    std::set<std::string> want_files;
    for (const chunk& c : index) {
        err += c.progress + "\n";
        if (!c.unmapped.empty()) {
            err += c.name + ": characters without a mapping in the font file replaced: " + c.unmapped + "\n";
        }
        want_files.insert(c.name);
        const auto decoded = palm::lz77_decompress(read_bytes(c.name), 8000);
        EXPECT_EQ(decoded.status, palm::lz77_decode_status::ok) << c.name;
        EXPECT_EQ(decoded.bytes, read_bytes(sample_expected_dir / c.name)) << c.name;
    }
    // The warnings name the replaced characters too: "...: 1 (U+00E9)".
    std::string got = read_file("stderr.txt");
    for (std::size_t at; (at = got.find(" (U+")) != std::string::npos;) {
        got.erase(at, got.find('\n', at) - at);
    }
    std::size_t with_unmapped = 0;
    for (const chunk& c : index) {
        with_unmapped += c.unmapped.empty() ? 0 : 1;
    }
    err += std::to_string(index.size()) + " chunk files: " + std::to_string(index.size()) + " written, 0 unchanged, 0 " +
           "removed; " + std::to_string(with_unmapped) + " with unmapped characters\n";
    EXPECT_EQ(got, err);
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(".")) {
        if (e.path().extension() == ".txt" && e.path().filename().string().rfind("0x", 0) == 0) {
            files.insert(e.path().filename().string());
        }
    }
    EXPECT_EQ(files, want_files);

    // crate gives each chunk file its unique ID, in the order listed.
    std::string list;
    for (const chunk& c : index) {
        list += c.name + "\n";
    }
    write_file("chunks.list", list);
    ASSERT_EQ(run_shell("\"" CRATE_PROGRAM "\" -f chunks.list sample.pdb >/dev/null 2>&1"), 0);
    const bytes pdb = read_bytes("sample.pdb");
    ASSERT_EQ(read_be(pdb, 76, 2), index.size() + 1);
    for (std::size_t k = 0; k < index.size(); ++k) {
        EXPECT_EQ(read_be(pdb, 78 + 8 * (k + 1) + 5, 3), index[k].uid) << index[k].name;
    }
}

}  // namespace
