// make-fontfile as a program, on Linux and under Wine: its command line, and
// the font file it writes against examples/font.bin, which the Linux program
// wrote.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace {

using namespace test_support;
using MakeFontfile = scratch;

const std::string program = "\"" MAKE_FONTFILE_PROGRAM "\"";
const std::string usage = "usage: make-fontfile output-file\n";

TEST_F(MakeFontfile, CommandLine) {
    const struct {
        std::string args;
        int status;
        std::string out_start;
        std::string err;
    } cases[] = {
        {"--help", 0, "make-fontfile: write a font file", ""},
        {"-h", 0, "make-fontfile: write a font file", ""},
        {"--version", 0, "make-fontfile " PALMPORT_VERSION "\n", ""},
        {"", 1, "", usage},
        {"-x", 1, "", usage},
        {"-", 1, "", usage},
        {"--help font.bin", 1, "", usage},
        {"a.bin b.bin", 1, "", usage},
        {"nofolder/font.bin", 1, "", "Can't open nofolder/font.bin.\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_shell(program + " " + c.args + " >stdout.txt 2>stderr.txt"), c.status) << c.args;
        EXPECT_TRUE(read_file("stdout.txt").starts_with(c.out_start)) << c.args << ": " << read_file("stdout.txt");
        EXPECT_EQ(read_file("stderr.txt"), c.err) << c.args;
    }
    // No option, and no failed run, left a file behind.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(".")) {
        ++files;
        EXPECT_TRUE(entry.path().filename() == "stdout.txt" || entry.path().filename() == "stderr.txt")
            << entry.path().filename().string();
    }
    EXPECT_EQ(files, 2u);
}

// The Linux program writes exactly the bundled font file; the Windows one
// follows Windows' tables, which may give a few characters otherwise.
TEST_F(MakeFontfile, WritesTheBundledFontFile) {
#ifdef _WIN32
    const std::string tables = "code page 20932";
    const std::size_t may_differ = 100;
#else
    const std::string tables = "glibc iconv";
    const std::size_t may_differ = 0;
#endif
    ASSERT_EQ(run_shell(program + " font.bin 2>stderr.txt"), 0) << read_file("stderr.txt");
    const std::string err = read_file("stderr.txt");
    EXPECT_TRUE(err.starts_with("font.bin: ") && err.ends_with(" of 64622 code points mapped (" + tables + ")\n"))
        << err;
    const bytes made = read_bytes("font.bin");
    const bytes bundled = read_bytes(source_dir / "examples/font.bin");
    ASSERT_EQ(made.size(), bundled.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i + 1 < made.size(); i += 2) {
        differ += made[i] != bundled[i] || made[i + 1] != bundled[i + 1] ? 1 : 0;
    }
    EXPECT_LE(differ, may_differ);
}

}  // namespace
