// What each program does with what already stands at the name of a file it
// writes. cutter's chunk files and peek --extract's files are names the
// programs make: whatever stands there but a folder is replaced by a new file,
// never opened or followed. crate's archive is the user's name, followed as a
// shell redirection follows it.
#include "crate.hpp"
#include "cutter.hpp"
#include "peek.hpp"
#include "platform.hpp"
#include "test_support.hpp"

#include <functional>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace test_support;

const fs::path sample_dir = source_dir / "tests/golden/sample";

struct tool {
    const char* name;
    std::string output;  // the name the run writes
    std::function<run_result()> run;
};

struct at_name {
    const char* what;
    std::function<void(const std::string& output)> make;  // what stands at the output's name
    int status_made;      // cutter and peek
    int status_archive;   // crate
    std::string archive_error;  // crate's last line when it refuses
};

using OutputNames = scratch;

TEST_F(OutputNames, EveryProgramAtEveryKindOfName) {
    const std::string chunk = read_file(sample_dir / "chunks/0x7_00.txt");
    write_file("in.bin", "hello");
    const fs::path home = dir_;
    const tool tools[] = {
        {"cutter", "0x7_00.txt",
         [&] {
             return run_main(cutter::cutter_main, {"cutter", (source_dir / "examples/rumomsg.dll").string(),
                                                   (source_dir / "examples/font.bin").string()});
         }},
        {"peek", "x/0x7_00.txt",
         [&] { return run_main(peek::peek_main, {"peek", "--extract", "x", (sample_dir / "sample_library.pdb").string()}); }},
        {"crate", "out.pdb", [&] { return run_main(crate::crate_main, {"crate", "out.pdb", (home / "in.bin").string()}); }},
    };
#ifndef _WIN32
    int reader = -1;  // the read end of the FIFO that a link leads to
#endif
    const std::string refused = "Can't open outputfile out.pdb.";
    const at_name cases[] = {
        {"a folder", [](const std::string& out) { fs::create_directories(out); }, 1, 1, refused},
#ifndef _WIN32
        {"a link to an empty file",
         [](const std::string& out) {
             write_file("target", "");
             fs::create_symlink(fs::absolute("target"), out);
         },
         0, 0, ""},
        {"a dangling link", [](const std::string& out) { fs::create_symlink("nowhere", out); }, 0, 1, refused},
        {"a link to a FIFO with a reader",
         [&](const std::string& out) {
             ASSERT_EQ(mkfifo("pipe", 0600), 0);
             reader = open("pipe", O_RDONLY | O_NONBLOCK);
             fs::create_symlink(fs::absolute("pipe"), out);
         },
         0, 0, ""},
        {"a FIFO nobody reads", [](const std::string& out) { ASSERT_EQ(mkfifo(out.c_str(), 0600), 0); }, 0, 1, refused},
        {"a link to a character device", [](const std::string& out) { fs::create_symlink("/dev/null", out); }, 0, 0,
         ""},
#endif
    };
    for (const auto& c : cases) {
        for (const auto& t : tools) {
            const std::string what = std::string(t.name) + " at " + c.what;
            const scratch_folder here(home / (std::string(t.name) + "_" + std::to_string(&c - cases)));
            fs::create_directory("x");
            c.make(t.output);
            const bool made = std::string_view(t.name) != "crate";
            const auto r = t.run();
            EXPECT_EQ(r.status, made ? c.status_made : c.status_archive) << what << ": " << r.err;
            if (r.status != 0) {
                const std::string last = made ? "Can't open " + t.output + "." : c.archive_error;
                EXPECT_TRUE(r.err.ends_with(last + "\n")) << what << ": " << r.err;
            } else if (made) {
                EXPECT_EQ(fs::symlink_status(t.output).type(), fs::file_type::regular) << what;
                EXPECT_EQ(read_file(t.output), chunk) << what;
            } else if (fs::exists("target")) {
                EXPECT_TRUE(fs::is_symlink(t.output)) << what;
                EXPECT_EQ(fs::file_size("target"), 88u + 10 + 5) << what;
            }
#ifndef _WIN32
            if (reader >= 0) {
                // The archive went into the pipe; a chunk file never does.
                char got[256];
                const auto n = read(reader, got, sizeof got);
                EXPECT_EQ(n, made ? 0 : 88 + 10 + 5) << what;
                close(reader);
                reader = -1;
            }
            if (fs::exists("target")) {
                EXPECT_EQ(fs::file_size("target"), made ? 0u : 103u) << what;
            }
#endif
        }
    }
}

}  // namespace
