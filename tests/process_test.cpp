// The built programs as processes: started without a standard descriptor,
// and ended by a signal in the middle of their work.
#include "platform.hpp"
#include "test_support.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

using namespace test_support;

const fs::path sample_dir = source_dir / "tests/golden/sample";

// The names in the current folder.
std::vector<std::string> names_here() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(".")) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

using Process = scratch;

// A program started with standard input, output or error closed writes its
// files exactly as with all three open: no file it opens takes the missing
// descriptor's number and receives the lines meant for it.
TEST_F(Process, MissingStandardDescriptorsLeakIntoNoFile) {
    PALM_SKIP_ON_WINDOWS("starting a program without a descriptor is a Unix matter");
    write_file("in.bin", std::string(300000, 'i'));  // copied file to file, after its progress line
    const std::string chunk = read_file(sample_dir / "chunks/0x7_00.txt");
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* file;  // a file the run writes
    } programs[] = {
        {"cutter",
         {CUTTER_PROGRAM, (source_dir / "examples/rumomsg.dll").string(), (source_dir / "examples/font.bin").string()},
         "0x7_00.txt"},
        {"crate", {CRATE_PROGRAM, "out.pdb", "in.bin", "0x7_00.txt"}, "out.pdb"},
        {"peek", {PEEK_PROGRAM, "--extract", "x", (sample_dir / "sample_library.pdb").string()}, "x/0x7_00.txt"},
    };
    std::string archive;
    for (const int closed : {-1, 0, 1, 2}) {
        for (const auto& p : programs) {
            redirection io{"", "out.txt", "err.txt"};
            if (closed >= 0) {
                (closed == 0 ? io.in : closed == 1 ? io.out : io.err) = "-";
            }
            const std::string what = std::string(p.name) + " without descriptor " + std::to_string(closed);
            EXPECT_EQ(run_program(p.args, io), 0) << what << ": " << read_file("err.txt");
            std::string written = read_file(p.file);
            if (std::string_view(p.name) == "crate") {
                written.replace(36, 8, 8, '\0');  // the dates
                if (closed < 0) {
                    archive = written;
                }
                EXPECT_EQ(written, archive) << what;
            } else {
                EXPECT_EQ(written, chunk) << what;
            }
        }
    }
}

// Folders and files named in Japanese, on both systems: the names reach the
// system as the same characters whatever the C runtime's locale.
TEST_F(Process, JapaneseNamesRoundTrip) {
    const auto utf8 = [](const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); };
    const std::string folder = "\xE6\x8A\xBD\xE5\x87\xBA";            // 抽出
    const std::string archive = "\xE4\xBD\x9C\xE5\x93\x81.pdb";      // 作品.pdb
    const std::string picture = "\xE7\xB5\xB5.bmp";                    // 絵.bmp
    const scratch_folder here(dir_ / utf8(folder));
    ASSERT_EQ(run_program({CUTTER_PROGRAM, (source_dir / "examples/rumomsg.dll").string(),
                           (source_dir / "examples/font.bin").string()},
                          {"", "", "err.txt"}),
              0);
    write_file(utf8(picture), "BM");
    ASSERT_EQ(run_program({CRATE_PROGRAM, archive, "0x7_00.txt", picture}, {"", "", "err.txt"}), 0)
        << read_file("err.txt");
    ASSERT_EQ(run_program({PEEK_PROGRAM, "--extract", folder, archive}, {"", "", "err.txt"}), 0)
        << read_file("err.txt");
    EXPECT_EQ(read_file(utf8(folder) / "0x7_00.txt"), read_file(sample_dir / "chunks/0x7_00.txt"));
    EXPECT_EQ(read_file(utf8(folder) / "CG00.bmp"), "BM");
}

// An interrupt, a hang-up or a termination while crate copies a large input
// removes the archive's temporary file and ends crate as the signal does;
// the old archive stays as it was. Under Wine the interrupt reaches the
// program as Ctrl-C does on Windows: Wine turns a Unix SIGINT into it.
TEST_F(Process, SignalsLeaveNoTemporaryFile) {
#ifdef _WIN32
    if (!under_wine()) {
        GTEST_SKIP() << "the interrupt is sent from Wine's Unix side";
    }
    const std::vector<int> signals{SIGINT};
#else
    const std::vector<int> signals{SIGINT, SIGTERM, SIGHUP};
#endif
    write_file("small", "s");
    // Sparse: takes seconds to copy, nothing to store. Its name tells this
    // run's crate from any other.
    const std::string big = "big_" + dir_.filename().string() + "_" + std::to_string(std::rand());
    write_file(big, "");
    fs::resize_file(big, 0x7FFFFFFF);
    ASSERT_EQ(run_program({CRATE_PROGRAM, "out.pdb", "small"}, {"", "", "err.txt"}), 0);
    const std::string old = read_file("out.pdb");
    const auto before = names_here();
    for (const int sig : signals) {
        process crate({CRATE_PROGRAM, "out.pdb", "small", big}, {"", "", "err.txt"});
        // Signalled once the archive's temporary file holds bytes: the copy has begun.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool copying = false;
        while (!copying && std::chrono::steady_clock::now() < deadline) {
            for (const auto& e : fs::directory_iterator(".")) {
                std::error_code ec;
                copying = copying || (e.path().filename().string().starts_with(".out.pdb.") && e.file_size(ec) > 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(copying) << sig;
#ifdef _WIN32
        run_program({"/usr/bin/pkill", "-INT", "-f", big});
        EXPECT_EQ(static_cast<unsigned>(crate.wait()), 0xC000013Au);  // as Ctrl-C ends a console program
#else
        crate.signal(sig);
        EXPECT_EQ(crate.wait(), -sig);
#endif
        EXPECT_EQ(names_here(), before) << sig;
        EXPECT_EQ(read_file("out.pdb"), old) << sig;
    }
}

}  // namespace
