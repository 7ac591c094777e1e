// The command line, the file list, every message in its order, the exit
// statuses, the refusals and a full device; the last test runs the program.
#include "cli.hpp"
#include "crate_test_support.hpp"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace crate_test;

const std::string usage = "usage: crate [-f filelist] archive file_1 ... file_N\n";
const std::string n255(255, 'n');

using CommandLine = scratch;

// Every message in its order, the exit status, and the archive's length (-1:
// no archive). Sparse files of 2 GiB and of 4 GiB together are measured but
// refused before any byte of the archive is written.
TEST_F(CommandLine, MessagesStatusesAndArchive) {
    write_file("a.bin", "hello");
    write_file("0x7_00.txt", "xy");
    write_file("CGRUMO.bmp", "");
    write_file("list", "a.bin\n");
    write_file("crlf", "  a.bin\r\n\r\nb.bin second\r\n0x7_00.txt");
    write_file("big", std::string(3 * crate::copy_buffer_size, 'b'));
    fs::create_directory("folder");
    for (const char* name : {"huge", "m1", "m2", "m3", "m4", "empty"}) {
        write_file(name, "");
        fs::resize_file(name, name[0] == 'h' ? 0x80000000 : name[1] == '4' ? 2147483531 : name[0] == 'e' ? 0 : 0x7FFFFFFF);
    }
#ifndef _WIN32
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string pipe_name = "/dev/fd/" + std::to_string(fds[0]);
#endif
    const struct {
        std::vector<std::string> args;
        std::string err;
        int status;
        std::intmax_t archive_size;
    } cases[] = {
        {{}, usage, 1, -1},
        {{"out.pdb"}, usage, 1, -1},
        {{"-f", "list"}, usage, 1, -1},  // the list is not read
        {{"-h", "notes.txt"}, "", 0, -1},  // help on standard output, no archive named -h
        {{"--version"}, "", 0, -1},
        {{"-x", "out.pdb", "a.bin"}, "Unknown option -x; " + usage, 1, -1},
        {{"-fx", "list", "out.pdb", "ignored"}, "Reading file list[list]\na.bin\na.bin: 5\nfile: a.bin\n", 0, 103},
        // CR LF, first word only, a word-less line (an empty name, packed as not found), no last line end
        {{"-f", "crlf", "out.pdb"},
         "Reading file list[crlf]\na.bin\n\nb.bin\n0x7_00.txt\na.bin: 5\nnot found \nnot found b.bin\n0x7_00.txt: 2\n"
         "0x7_00.txt: 2640(7:0)\nfile: a.bin\nfile: 0x7_00.txt\n", 0, 135},
        {{"-f", "nolist", "out.pdb"}, "Reading file list[nolist]\nCan't open outputfile nolist.\n", 1, -1},
        {{"out.pdb", "0x7_00.txt", "a.bin", "CGRUMO.bmp", "gone", "folder"},
         "0x7_00.txt: 2\na.bin: 5\nCGRUMO.bmp: 0\nnot found gone\nnot found folder\n0x7_00.txt: 2640(7:0)\n"
         "CGRUMO.bmp: 2499\nfile: 0x7_00.txt\nfile: a.bin\n", 0, 145},
        {{"out.pdb", "out.pdb"}, "not found out.pdb\n", 0, 98},  // written under another name until complete
        {{"no/dir/out.pdb", "a.bin"}, "Can't open outputfile no/dir/out.pdb.\n", 1, -1},
        {{"out.pdb", n255}, "not found " + n255 + "\n", 0, 98},
        {{"out.pdb", "a.bin", n255 + "x"}, n255 + "\u2026: file name too long (at most 255 characters)\n", 1, -1},
        {std::vector<std::string>(65536, "out.pdb"), "Too many files: an archive holds at most 65534.\n", 1, -1},
        {{"out.pdb", "a", "huge"}, "not found a\nhuge: file too large (2 GiB or more)\n", 1, -1},
        {{"out.pdb", "m1", "m2", "m3"},
         "m1: 2147483647\nm2: 2147483647\nm3: 2147483647\nout.pdb: the archive would be 4 GiB or more\n", 1, -1},
        // 88 + 30 + 2147483647 + 2147483531 bytes: exactly 4 GiB, so the last offset would wrap to 0
        {{"out.pdb", "m1", "m4", "empty"},
         "m1: 2147483647\nm4: 2147483531\nempty: 0\nout.pdb: the archive would be 4 GiB or more\n", 1, -1},
        {{".", "a.bin"}, "Can't open outputfile ..\n", 1, -1},  // a folder at the archive's name
#ifndef _WIN32
        {{"out.pdb", pipe_name}, "not found " + pipe_name + "\n", 0, 98},  // a pipe is no file to pack
        {{"-f", "folder", "out.pdb"}, "Reading file list[folder]\nfgets: Is a directory\n", 1, -1},
        {{"-f", "/dev/zero", "out.pdb"},  // a list that never ends
         "Reading file list[/dev/zero]\n/dev/zero: the file list is longer than 64 MiB\n", 1, -1},
        {{"/dev/full", "a.bin"}, "a.bin: 5\nfile: a.bin\nCan't write outputfile /dev/full.\n", 1, -1},  // at the end
        {{"/dev/full", "big"}, "big: 786432\nfile: big\nCan't write outputfile /dev/full.\n", 1, -1},  // while copying
#endif
    };
    for (const auto& c : cases) {
        fs::remove("out.pdb");
        const auto r = run(c.args);
        const auto what = "case " + std::to_string(&c - cases);
        EXPECT_EQ(progress_only(r.err), c.err) << what;
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(fs::exists("out.pdb") ? std::intmax_t(fs::file_size("out.pdb")) : -1, c.archive_size) << what;
    }
#ifndef _WIN32
    close(fds[0]);
    close(fds[1]);
#endif
    // A name near the longest a folder takes: the temporary name is cut to fit.
    const std::string long_name = std::string(250, 'L') + ".pdb";
    EXPECT_EQ(run({long_name, "a.bin"}).status, 0);
    EXPECT_EQ(fs::file_size(long_name), 88u + 10 + 5);
    for (const auto& e : fs::directory_iterator(".")) {
        EXPECT_FALSE(e.path().filename().string().starts_with(".")) << "a temporary file stayed";
    }
}

// A name that leads to no regular file is not found, judged by its metadata
// on every file system, links followed: nothing is opened, so a FIFO without
// a writer does not hold the run up. A file whose metadata says 0 bytes
// but that yields bytes (a /proc file) is not packed as empty.
TEST_F(CommandLine, InputsThatAreNoRegularFiles) {
    fs::create_directory("folder");
    write_file("a.bin", "hello");
    const std::vector<std::string> no_regular_files = {
        "folder", "folder/", "./folder",
#ifndef _WIN32
        "fifo", "/dev/null", "/dev/zero", "to_folder", "broken",
#endif
    };
#ifndef _WIN32
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    fs::create_directory_symlink("folder", "to_folder");
    fs::create_symlink("nothing", "broken");
#endif
    for (const auto& name : no_regular_files) {
        const auto r = run({"out.pdb", name, "a.bin"});
        EXPECT_EQ(progress_only(r.err), "not found " + name + "\na.bin: 5\nfile: a.bin\n");
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(fs::file_size("out.pdb"), 88u + 20 + 5) << name;
    }
#ifndef _WIN32
    const auto r = run({"out.pdb", "/proc/self/status"});
    EXPECT_EQ(r.err,
              "/proc/self/status: 0\n/proc/self/status: changed after it was measured (grown)\n");
    EXPECT_EQ(r.status, 1);
#endif
}

// An archive that is also one of the inputs, by whatever name, hard link or
// link, is refused before anything is written; the files are compared, not
// the names. A link at the archive's name is replaced, so the file it leads
// to is an input like any other.
TEST_F(CommandLine, ArchiveAmongItsInputs) {
    write_file("list", "x\na.pdb\n");
    write_file("x", "xyz");
    write_file("none", "");
    ASSERT_EQ(run({"-f", "none", "proto.pdb"}).status, 0);
    const std::string the_archive = read_file("proto.pdb");  // an archive of no files
    write_file("a.pdb", "");
    fs::create_hard_link("a.pdb", "hard.pdb");
    const struct {
        std::vector<std::string> args;
        std::string refused;  // the input named in the refusal; empty: packed
    } cases[] = {
        {{"a.pdb", "a.pdb"}, "a.pdb"},
        {{"a.pdb", "x", "./a.pdb"}, "./a.pdb"},
        {{"a.pdb", "hard.pdb"}, "hard.pdb"},
        {{"-f", "list", "a.pdb"}, "a.pdb"},
        {{"b.pdb", "a.pdb"}, ""},
#ifndef _WIN32
        {{"a.pdb", "link_in.pdb"}, "link_in.pdb"},
        {{"link_out.pdb", "a.pdb"}, "a.pdb"},  // the name leads to a.pdb
#endif
    };
    for (const auto& c : cases) {
        write_file("a.pdb", the_archive);  // also hard.pdb
#ifndef _WIN32
        fs::remove("link_in.pdb");
        fs::remove("link_out.pdb");
        fs::create_symlink("a.pdb", "link_in.pdb");
        fs::create_symlink("a.pdb", "link_out.pdb");
#endif
        const auto r = run(c.args);
        const std::string archive = c.args[c.args[0] == "-f" ? 2 : 0];
        if (c.refused.empty()) {
            EXPECT_EQ(r.status, 0) << archive;
            EXPECT_EQ(fs::file_size(archive), 88u + 10 + 88) << archive;
        } else {
            EXPECT_TRUE(r.err.ends_with("\n" + c.refused + ": this input file is the archive itself\n")) << r.err;
            EXPECT_EQ(r.status, 1) << c.refused;
        }
        EXPECT_EQ(read_file("a.pdb"), the_archive) << archive;
    }
}

// One line, one entry, whatever the line's length: its first word names it.
TEST_F(CommandLine, FileListLines) {
    const std::string l300(300, 'N');
    const std::string l70000(70000, 'L');  // longer than a block of the list
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {" \t a  b\n\n \r\nc", {"a", "", "", "c"}},
        {n255 + "\nz\n", {n255, "z"}},
        {l300 + "\n" + l300, {l300, l300}},  // kept whole, to be refused as too long
        {"a " + l70000 + "\n\t" + l70000 + " b\r\nc", {"a", l70000, "c"}},  // the rest of a line is ignored
        {std::string("a\0b c\nd\n\0e\n", 11), {"a", "d", ""}},  // a zero byte ends the line's text
        // The encodings editors write: UTF-8 with its byte-order mark, UTF-16 either way round.
        {"\xEF\xBB\xBF" "CG001.bmp\r\n\xE7\xB5\xB5.bmp", {"CG001.bmp", "\xE7\xB5\xB5.bmp"}},
        {std::string("\xFF\xFE" "a\0\r\0\n\0" "\x75\x7D" "=\xD8\x00\xDE", 14), {"a", "\xE7\xB5\xB5\xF0\x9F\x98\x80"}},
        {std::string("\xFE\xFF\0a\0\n\0b", 8), {"a", "b"}},
    };
    for (const auto& [content, names] : cases) {
        write_file("list", content);
        testing::internal::CaptureStderr();
        EXPECT_EQ(crate::make_filelist("list"), names);
        std::string err = "Reading file list[list]\n";
        for (const auto& n : names) {
            err += common::shown(n) + "\n";
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), err);
    }
    // Anything else that is not well-formed, such as a list saved in a
    // Japanese code page, stops the run before the archive is written.
    for (const auto& [content, line] : std::vector<std::pair<std::string, std::string>>{
             {"a\nb\n\x8A\x47.bmp\n", "line 3 is not UTF-8"},
             {"a \xC0\xAF\n", "line 1 is not UTF-8"},         // an overlong form
             {"\xED\xA0\x80\n", "line 1 is not UTF-8"},         // a surrogate
             {std::string("\xFF\xFE" "a\0\n\0\x00\xD8", 8), "line 2 is not UTF-16"},  // half a pair
         }) {
        write_file("list", content);
        EXPECT_EQ(run({"-f", "list", "out.pdb"}).err,
                  "Reading file list[list]\nlist: " + line + " text; save the file list as UTF-8\n");
        EXPECT_FALSE(fs::exists("out.pdb"));
    }
    write_file("list", "a.bin\n" + n255 + "x trailing words\n");  // refused as on the command line
    EXPECT_EQ(run({"-f", "list", "out.pdb"}).err, "Reading file list[list]\na.bin\n" + n255 + "\u2026\n" + n255 +
                                                      "\u2026: file name too long (at most 255 characters)\n");
    EXPECT_FALSE(fs::exists("out.pdb"));
    write_file("list", std::string(65535, '\n'));  // one entry too many: refused before any name is shown
    EXPECT_EQ(run({"-f", "list", "out.pdb"}).err,
              "Reading file list[list]\nlist: Too many files: an archive holds at most 65534.\n");
    EXPECT_FALSE(fs::exists("out.pdb"));
}

// The forms a name takes on each system. On Windows a backslash and a
// drive's colon separate folders too, and the program expands wildcards that
// cmd leaves to it (a pattern that matches nothing stays a name); on Linux a
// backslash is part of a name and the shell expands wildcards.
TEST_F(CommandLine, FolderSeparatorsAndWildcardsOfEachSystem) {
    fs::create_directory("chunks");
    write_file("chunks/0x7_00.txt", "a");
    write_file("chunks/0x7_01.txt", "b");
    write_file("0x7_02.txt", "c");
    write_file("CGRUMO.bmp", "d");
    const std::string drive = fs::current_path().root_name().string();  // "Z:" on Windows, "" on Linux
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    const struct {
        std::vector<std::string> names;
        std::vector<std::uint32_t> windows_ids;  // the records' unique IDs
        std::vector<std::uint32_t> linux_ids;
    } cases[] = {
        {{"chunks\\0x7_00.txt"}, {2640}, {0}},  // on Linux no such file: counted
        {{"chunks/0x7_01.txt", fs::absolute("CGRUMO.bmp").string()}, {2641, 2499}, {2641, 2499}},
        {{drive + "0x7_02.txt"}, {2642}, {2642}},
        {{"chunks\\0x7_0*.txt"}, {2640, 2641}, {0}},
        {{"chunks/nothing*.txt"}, {0}, {0}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{CRATE_PROGRAM, "x.pdb"};
        argv.insert(argv.end(), c.names.begin(), c.names.end());
        EXPECT_EQ(run_program(argv, {"", "", "err.txt"}), 0) << c.names[0];
        const std::string archive = read_file("x.pdb");
        std::vector<std::uint32_t> ids;
        for (std::size_t k = 1; archive.size() >= 78 && k < read_be(archive, 76, 2); ++k) {
            ids.push_back(read_be(archive, 78 + 8 * k + 5, 3));
        }
        EXPECT_EQ(ids, windows ? c.windows_ids : c.linux_ids) << c.names[0];
    }
}

// What the handheld will get wrong gives one warning line per case, naming
// the files; the closing line counts the records, the files not found and
// the shared IDs. --quiet leaves only those lines; --strict makes a warning
// fatal and keeps the old archive.
TEST_F(CommandLine, WarningsClosingLineQuietAndStrict) {
    for (const char* name : {"notes.txt", "other.txt", "CG001.bmp", "CG100.bmp", "0X7_01.TXT", "cgrumo.bmp"}) {
        write_file(name, "x");
    }
    write_file("big.bmp", std::string(76854, 'B'));
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> warnings;
        std::string closing;
    } rows[] = {
        {{"d.pdb", "notes.txt", "other.txt", "CG001.bmp"},
         {"unique ID 1 is shared by other.txt and CG001.bmp; the handheld finds only the first"},
         "d.pdb: 4 records (the size record and 3 files), 121 bytes; 0 files not found, 1 shared unique ID"},
        {{"d.pdb", "CG100.bmp", "notes.txt"},  // the number starts at the first zero
         {"unique ID 0 is shared by CG100.bmp and notes.txt; the handheld finds only the first"},
         "d.pdb: 3 records (the size record and 2 files), 110 bytes; 0 files not found, 1 shared unique ID"},
        {{"d.pdb", "big.bmp"},
         {"big.bmp is 76854 bytes: the size record keeps only its low 16 bits, and a record of the handheld "
          "holds at most 65535"},
         "d.pdb: 2 records (the size record and 1 file), 76952 bytes; 0 files not found, 0 shared unique IDs"},
        {{"d.pdb", "0X7_01.TXT", "cgrumo.bmp"},
         {"0X7_01.TXT gets the counted unique ID 0: the rule is case-sensitive and wants 0x7_01.TXT (unique ID 2641)",
          "cgrumo.bmp gets the counted unique ID 1: the rule is case-sensitive and wants CGRUMO.bmp (unique ID 2499)"},
         "d.pdb: 3 records (the size record and 2 files), 110 bytes; 0 files not found, 0 shared unique IDs"},
        {{"d.pdb", "gone.bin", "lost.bin", "CG001.bmp"},
         {"unique ID 1 is shared by lost.bin and CG001.bmp; the handheld finds only the first",
          "2 files not found, packed as empty records: gone.bin and lost.bin"},
         "d.pdb: 4 records (the size record and 3 files), 119 bytes; 2 files not found, 1 shared unique ID"},
    };
    for (const auto& r : rows) {
        std::vector<std::string> quiet{"--quiet"};
        quiet.insert(quiet.end(), r.args.begin(), r.args.end());
        std::string want;
        for (const auto& w : r.warnings) {
            want += "warning: " + w + "\n";
        }
        const auto loud = run(r.args);
        EXPECT_EQ(loud.status, 0) << r.args[1];
        EXPECT_TRUE(loud.err.ends_with("\n" + r.closing + "\n")) << loud.err;
        EXPECT_NE(loud.err.find(want), std::string::npos) << loud.err;
        EXPECT_EQ(run(quiet).err, want + r.closing + "\n");
        const std::string archive = read_file("d.pdb");
        quiet[0] = "--strict";
        const auto strict = run(quiet);
        EXPECT_EQ(strict.status, 1);
        EXPECT_TRUE(strict.err.ends_with(want + "--strict: " + common::count_text(r.warnings.size(), "warning") +
                                         "; d.pdb is not written\n"))
            << strict.err;
        EXPECT_EQ(read_file("d.pdb"), archive);
    }
    EXPECT_EQ(run({"-q", "--strict", "d.pdb", "notes.txt"}).status, 0);
}

// Slips of the hand never cost the user a file: an argument order that
// names a file of theirs as the archive leaves it alone, an option behind the
// archive is refused, and a file that really begins with "-" is packed.
TEST_F(CommandLine, SlipsOfTheHand) {
    write_file("CGRUMO.bmp", "BM the title picture");
    write_file("keep.bmp", "BM a picture to keep");
    write_file("files.lst", "CGRUMO.bmp\n");
    write_file("-x", "a file named -x");
    write_file("none", "");
    ASSERT_EQ(run({"-f", "none", "game.pdb"}).status, 0);
    write_file("game.pdb", masked(read_file("game.pdb")));  // an old archive, its bytes all below 0x80
    const auto leaves_alone = [](const std::string& name) {
        return name + ": not a Palm database, so crate leaves it alone (the archive's name comes first: crate "
                      "archive file...)";
    };
    const struct {
        std::vector<std::string> args;
        int status;
        std::string last_line;
    } cases[] = {
        {{"CGRUMO.bmp", "game.pdb", "0x7_00.txt"}, 1, leaves_alone("CGRUMO.bmp")},
        {{"-f", "game.pdb", "files.lst"}, 1, leaves_alone("files.lst")},      // swapped
        {{"-ffiles.lst", "game.pdb", "keep.bmp"}, 1, leaves_alone("keep.bmp")},  // a list form by mistake
        {{"game.pdb", "-f", "files.lst"}, 1, "-f: no such file; options come before the archive"},
        {{"game.pdb", "CGRUMO.bmp", "-v"}, 1, "-v: no such file; options come before the archive"},
        {{"new.pdb", "-x"}, 0, "file: -x"},
    };
    const auto user_files = [] { return read_file("CGRUMO.bmp") + read_file("keep.bmp") + read_file("files.lst"); };
    const std::string before = user_files();
    for (const auto& c : cases) {
        const auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1];
        EXPECT_TRUE(progress_only(r.err).ends_with(c.last_line + "\n")) << r.err;
        EXPECT_EQ(user_files(), before) << c.args[0] << " " << c.args[1];
    }
}

// The program itself, on every system: nothing on standard output; on
// standard error every line ends in the one byte 0x0A, none is lost, and a
// message that ends the run comes after the progress lines before it; the
// exit status.
TEST_F(CommandLine, ProgramKeepsStandardOutputEmpty) {
    write_file("a.bin", "hello");
    // Progress lines far beyond the program's buffer for them, then a refusal.
    std::string many_list;
    std::string many_names;
    std::string many_missing;
    for (int i = 0; i < 4000; ++i) {
        const std::string name = "missing_" + std::to_string(i);
        many_list += name + "\r\n";
        many_names += name + "\n";
        many_missing += "not found " + name + "\n";
    }
    write_file("many", many_list + "out.pdb");
    write_file("names", "a.bin\n");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
        std::string in = "";  // standard input from this file
    } cases[] = {
        {{}, 1, usage},
        {{"out.pdb", "a.bin"}, 0, "a.bin: 5\nfile: a.bin\n"},
        {{"out.pdb", "a.bin", "out.pdb"}, 1, "a.bin: 5\nout.pdb: 103\nout.pdb: this input file is the archive itself\n"},
        {{"-f", "many", "out.pdb"}, 1,
         "Reading file list[many]\n" + many_names + "out.pdb\n" + many_missing +
             "out.pdb: 103\nout.pdb: this input file is the archive itself\n"},
        {{"-f", "-", "out.pdb"}, 0, "Reading file list[-]\na.bin\na.bin: 5\nfile: a.bin\n", "names"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{CRATE_PROGRAM};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run_program(argv, {c.in, "stdout.txt", "stderr.txt"}), c.status) << argv.size();
        EXPECT_EQ(read_file("stdout.txt"), "");
        EXPECT_EQ(progress_only(read_file("stderr.txt")), c.err);
    }
    EXPECT_EQ(fs::file_size("out.pdb"), 88u + 10 + 5);
    EXPECT_EQ(run_program({CRATE_PROGRAM, "--version"}, {"", "stdout.txt", ""}), 0);
    EXPECT_EQ(read_file("stdout.txt"), "crate " PALMPORT_VERSION "\n");
}

}  // namespace
