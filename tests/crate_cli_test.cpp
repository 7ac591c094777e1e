// The command line, the file list, every message in its order, the exit
// statuses, the refusals, and a full device; the last tests run the program.
#include "crate_test_support.hpp"

#include <cstdlib>

#ifdef __linux__
#include <unistd.h>
#endif

namespace {

using namespace crate_test;

const std::string usage = "usage: crate [-f filelist] archive file_1 ... file_N\n";

struct cli_case {
    std::vector<std::string> args;
    std::string err;
    int status;
    bool archive_made;  // whether out.pdb exists afterwards
};

using CommandLine = scratch;

TEST_F(CommandLine, MessagesStatusesAndArchive) {
    write_file("a.bin", "hello");
    write_file("0x7_00.txt", "xy");
    write_file("CGRUMO.bmp", "");
    write_file("list", "a.bin\n");
    write_file("crlf", "  a.bin\r\nb.bin second\r\n0x7_00.txt");
    const std::string n255(255, 'n');
    const cli_case cases[] = {
        {{}, usage, 1, false},
        {{"out.pdb"}, usage, 1, false},
        {{"-f", "list"}, usage, 1, false},  // the list is not read
        {{"-fx", "list", "out.pdb", "ignored.bin"}, "Reading file list[list]\na.bin\na.bin: 5\nfile: a.bin\n", 0, true},
        {{"-f", "crlf", "out.pdb"},
         "Reading file list[crlf]\na.bin\nb.bin\n0x7_00.txt\na.bin: 5\nnot found b.bin\n0x7_00.txt: 2\n"
         "0x7_00.txt: 2640(7:0)\nfile: a.bin\nfile: 0x7_00.txt\n", 0, true},
        {{"-f", "nolist", "out.pdb"}, "Reading file list[nolist]\nCan't open outputfile nolist.\n", 1, false},
        {{"out.pdb", "0x7_00.txt", "a.bin", "CGRUMO.bmp", "gone"},
         "0x7_00.txt: 2\na.bin: 5\nCGRUMO.bmp: 0\nnot found gone\n0x7_00.txt: 2640(7:0)\nCGRUMO.bmp: 2499\n"
         "file: 0x7_00.txt\nfile: a.bin\n", 0, true},
        {{"out.pdb", "out.pdb"}, "out.pdb: 0\n", 0, true},  // created before it is measured
        {{"no/dir/out.pdb", "a.bin"}, "Can't open outputfile no/dir/out.pdb.\n", 1, false},
        {{"out.pdb", n255}, "not found " + n255 + "\n", 0, true},
        {{"out.pdb", "a.bin", n255 + "x"},
         "File name too long (at most 255 characters): " + n255 + "x\n", 1, false},
    };
    for (const auto& c : cases) {
        fs::remove("out.pdb");
        const auto r = run(c.args);
        const std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(r.err, c.err) << what;
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(fs::exists("out.pdb"), c.archive_made) << what;
    }
}

TEST_F(CommandLine, FileListPieces) {
    const std::string l254(254, 'L');
    const std::string l255(255, 'M');
    const std::string l300(300, 'N');
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {"a\nb", {"a", "b"}},                          // last line without a line end
        {"a\r\nb\r\n", {"a", "b"}},                    // CR LF
        {" \t a  b\n", {"a"}},                         // first word only
        {"\n \r\n", {"", ""}},                         // word-less pieces stay entries
        {l254 + "\nz\n", {l254, "z"}},                 // 255 bytes with the line end: one piece
        {l255 + "\nz\n", {l255, "", "z"}},             // one byte more: the line end is a piece
        {l300 + "\n", {l300.substr(0, 255), std::string(45, 'N')}},  // cut into 255 + the rest
        {std::string("a\0b c\nd\n", 8), {"a", "d"}},   // a zero byte ends the piece's text
    };
    for (const auto& [content, names] : cases) {
        write_file("list", content);
        testing::internal::CaptureStderr();
        EXPECT_EQ(crate::make_filelist("list"), names) << content;
        std::string err = "Reading file list[list]\n";
        for (const auto& n : names) {
            err += n + "\n";
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), err) << content;
    }
}

// Word-less pieces are packed like files that were not found: an empty
// record numbered by the counter.
TEST_F(CommandLine, WordlessPieceIsAnEmptyRecord) {
    write_file("list", "a.bin\n\nb.bin\n");
    write_file("a.bin", "A");
    write_file("b.bin", "B");
    const auto r = run({"-f", "list", "out.pdb"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Reading file list[list]\na.bin\n\nb.bin\na.bin: 1\nnot found \nb.bin: 1\nfile: a.bin\nfile: b.bin\n");
    const bytes got = read_file("out.pdb");
    ASSERT_EQ(got.size(), 88u + 30 + 2);
    EXPECT_EQ(bytes(got.begin() + 86, got.begin() + 110),
              (bytes{0, 0, 0, 0x76, 0, 0, 0, 0, 0, 0, 0, 0x77, 0, 0, 0, 1, 0, 0, 0, 0x77, 0, 0, 0, 2}));
}

// Inputs that the archive's fields cannot hold are refused before any byte
// of the archive is written.
TEST_F(CommandLine, RefusesWhatTheFieldsCannotHold) {
    const std::string too_many = "Too many files: an archive holds at most 65534.\n";
    EXPECT_EQ(run(std::vector<std::string>(65536, "x")).err, too_many);
    EXPECT_FALSE(fs::exists("x"));
    write_file("list", std::string(65535 * 2, '\n'));
    EXPECT_EQ(run({"-f", "list", "out.pdb"}).err, "Reading file list[list]\n" + too_many);
    EXPECT_FALSE(fs::exists("out.pdb"));
    EXPECT_NO_THROW(crate::check_file_names(std::vector<std::string>(65534, "x")));

    // Sparse files: measured, never read.
    for (const char* name : {"huge", "m1", "m2", "m3"}) {
        write_file(name, "");
        fs::resize_file(name, name[0] == 'h' ? 0x80000000 : 0x7FFFFFFF);
    }
    auto r = run({"out.pdb", "a", "huge"});
    EXPECT_EQ(r.err, "not found a\nFile too large (2 GiB or more): huge\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(fs::file_size("out.pdb"), 0u);
    r = run({"out.pdb", "m1", "m2", "m3"});
    EXPECT_EQ(r.err, "m1: 2147483647\nm2: 2147483647\nm3: 2147483647\nArchive too large (4 GiB or more): out.pdb\n");
    EXPECT_EQ(fs::file_size("out.pdb"), 0u);

#ifdef __linux__
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);  // a pipe opens but has no length
    const std::string pipe_name = "/dev/fd/" + std::to_string(fds[0]);
    r = run({"out.pdb", pipe_name});
    EXPECT_EQ(r.err, "Can't measure " + pipe_name + ".\n");
    EXPECT_EQ(r.status, 1);
    close(fds[0]);
    close(fds[1]);
#endif
}

#ifndef _WIN32
// A full device: the failed write is named, whether it shows at the close or
// while a large file is copied.
TEST_F(CommandLine, FullDeviceIsAFailure) {
    write_file("a.bin", "hello");
    write_file("big", std::string(3 * crate::copy_buffer_size, 'b'));
    for (const char* input : {"a.bin", "big"}) {
        const auto r = run({"/dev/full", input});
        EXPECT_EQ(r.status, 1);
        const std::string name(input);
        EXPECT_EQ(r.err, name + ": " + std::to_string(fs::file_size(name)) + "\nfile: " + name +
                             "\nCan't write outputfile /dev/full.\n");
    }
}

// The program itself: nothing on standard output, messages on standard
// error, the exit status.
TEST_F(CommandLine, ProgramKeepsStandardOutputEmpty) {
    write_file("a.bin", "hello");
    const std::string crate = CRATE_PROGRAM;
    struct {
        std::string args;
        int status;
        std::string err;
    } const cases[] = {
        {"", 1, usage},
        {"out.pdb a.bin", 0, "a.bin: 5\nfile: a.bin\n"},
        {"-f none out.pdb", 1, "Reading file list[none]\nCan't open outputfile none.\n"},
    };
    for (const auto& c : cases) {
        const int rc = std::system(("\"" + crate + "\" " + c.args + " >stdout.txt 2>stderr.txt").c_str());
        EXPECT_TRUE(WIFEXITED(rc)) << c.args;
        EXPECT_EQ(WEXITSTATUS(rc), c.status) << c.args;
        EXPECT_EQ(fs::file_size("stdout.txt"), 0u) << c.args;
        EXPECT_EQ(read_file("stderr.txt"), to_bytes(c.err)) << c.args;
    }
}
#endif

}  // namespace
