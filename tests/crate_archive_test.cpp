// The archive's layout, byte for byte (dates masked), files that change
// between measuring and copying, and what is left of a run that fails.
#include "crate_test_support.hpp"

#include <chrono>
#include <cstdlib>
#include "fatal_error.hpp"
#include "platform.hpp"

#include <algorithm>
#include <ctime>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

using namespace crate_test;

// The 78-byte header of an archive of `records` records, dates zero.
std::string header(char records) {
    return std::string("Lanterns of Vesselmoor for Palm") + std::string(29, '\0') + "DATAQOVR" +
           std::string(9, '\0') + records;
}

using Archive = scratch;

// Files of 100 bytes, none (not found) and 50 bytes: the record list holds
// 112, 118, 218, 218 and the IDs 0, 0, 1, 2; 268 bytes in all.
TEST_F(Archive, ThreeFilesOneMissing) {
    write_file("a", std::string(100, 'A'));
    write_file("c", std::string(50, 'C'));
    ASSERT_EQ(run({"out.pdb", "a", "missing", "c"}).status, 0);
    const std::string list("\0\0\0\x70\0\0\0\0" "\0\0\0\x76\0\0\0\0" "\0\0\0\xDA\0\0\0\x01" "\0\0\0\xDA\0\0\0\x02"
                           "\0\0" "\0\x64\0\0\0\x32", 40);
    EXPECT_EQ(masked(read_file("out.pdb")), header(4) + list + std::string(100, 'A') + std::string(50, 'C'));
}

TEST_F(Archive, EmptyListGives88BytesDatedByTheClock) {
    write_file("list", "");
    const auto before = palm::unix_time_to_pilot_time(std::time(nullptr));
    ASSERT_EQ(run({"-f", "list", "out.pdb"}).status, 0);
    const auto after = palm::unix_time_to_pilot_time(std::time(nullptr));
    const std::string got = read_file("out.pdb");
    EXPECT_EQ(masked(got), header(1) + std::string("\0\0\0\x58\0\0\0\0\0\0", 10));
    auto date = [&](std::size_t at) { return read_be(got, at, 4); };
    EXPECT_LE(before, date(36));
    EXPECT_LE(date(36), date(40));
    EXPECT_LE(date(40), after);
    EXPECT_EQ(palm::unix_time_to_pilot_time(2212122496), 0u);  // wraps modulo 2^32
}

// SOURCE_DATE_EPOCH stands for the clock: the same inputs give the same
// bytes, later too; a value that is no number of seconds is refused before
// anything is written.
TEST_F(Archive, SourceDateEpochMakesArchivesReproducible) {
    const auto source_date = [](const char* value) {
#ifdef _WIN32
        _putenv_s("SOURCE_DATE_EPOCH", value != nullptr ? value : "");
#else
        value != nullptr ? setenv("SOURCE_DATE_EPOCH", value, 1) : unsetenv("SOURCE_DATE_EPOCH");
#endif
    };
    write_file("a.bin", "hello");
    source_date("1700000000");
    ASSERT_EQ(run({"one.pdb", "a.bin"}).status, 0);
    ASSERT_EQ(run({"two.pdb", "a.bin"}).status, 0);
    EXPECT_EQ(read_file("one.pdb"), read_file("two.pdb"));
    // Both dates are the given time, not the clock's.
    EXPECT_EQ(read_be(read_file("one.pdb"), 36, 4), palm::unix_time_to_pilot_time(1700000000));
    EXPECT_EQ(read_be(read_file("one.pdb"), 40, 4), palm::unix_time_to_pilot_time(1700000000));
    std::vector<const char*> bad_values = {"yesterday", "-5", "17e8", " 1"};
#ifndef _WIN32
    bad_values.push_back("");  // set but empty (on Windows an empty value unsets it)
#endif
    for (const char* bad : bad_values) {
        source_date(bad);
        const auto r = run({"three.pdb", "a.bin"});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_TRUE(r.err.starts_with("SOURCE_DATE_EPOCH: ")) << r.err;
    }
    EXPECT_FALSE(fs::exists("three.pdb"));
    source_date(nullptr);
}

// A size of 65536 keeps its low 16 bits in the size record but all its bytes;
// a file larger than the copy buffer is copied unchanged; an ID of 2^24 or
// more keeps its low 24 bits.
TEST_F(Archive, WideSizesAndIds) {
    std::string big(2 * crate::copy_buffer_size + 123, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 251);
    }
    write_file("big", big);
    write_file("e", std::string(65536, 'e'));
    write_file("CG016777217.bmp", "c");
    ASSERT_EQ(run({"out.pdb", "e", "big", "CG016777217.bmp"}).status, 0);
    const std::string got = read_file("out.pdb");
    const std::string list("\0\0\0\x70\0\0\0\0" "\0\0\0\x76\0\0\0\0" "\0\x01\0\x76\0\0\0\x01" "\0\x09\0\xF1\0\0\0\x01"
                           "\0\0" "\0\0\0\x7B\0\x01", 40);
    EXPECT_EQ(got.substr(78, 40), list);
    EXPECT_EQ(got.substr(118), std::string(65536, 'e') + big + "c");
}

// A file that changed between measuring and copying ends the run with one
// line naming it (the archive is then not replaced); its record is never
// padded, cut or mixed. A file opened after it turned into a FIFO does not
// wait for a writer; a /proc file, measured as empty, yields bytes.
TEST_F(Archive, FilesThatChangeAfterMeasuring) {
    const struct {
        const char* name;
        const char* content;  // written before measuring; null: none
        void (*change)();
        std::string err;  // the run's last line; empty: copied unchanged
    } cases[] = {
        {"f", "unchanged", [] {}, ""},
        {"f", "SSSSSS", [] { fs::resize_file("f", 4); }, "f: changed after it was measured (shrunk)"},
        {"f", "GG", [] { write_file("f", "GGgrown"); }, "f: changed after it was measured (grown)"},
        {"f", "", [] { write_file("f", "x"); }, "f: changed after it was measured (grown)"},
        {"f", "RRR", [] { write_file("g", "rrr"); fs::rename("g", "f"); },
         "f: changed after it was measured (replaced)"},
        {"f", "VVV", [] { fs::remove("f"); }, "Can't open f."},
        {"f", "SAME", [] {  // rewritten in place, same length: a record could mix old and new bytes
             write_file("f", "EMAS");
             fs::last_write_time("f", fs::last_write_time("f") - std::chrono::hours(1));
         }, "f: changed after it was measured (changed)"},
#ifndef _WIN32
        {"f", "PPP", [] { fs::remove("f"); mkfifo("f", 0600); }, "f: changed after it was measured (replaced)"},
        {"/proc/self/status", nullptr, [] {}, "/proc/self/status: changed after it was measured (grown)"},
#endif
    };
    for (const auto& c : cases) {
        fs::remove("f");
        if (c.content != nullptr) {
            write_file("f", c.content);
        }
        testing::internal::CaptureStderr();
        const auto fi = crate::collect_file_info(std::vector<std::string>{c.name});
        c.change();
        auto out = common::open_write("out.bin");
        auto stream = crate::open_archive_stream(out.get());
        std::string err;
        try {
            EXPECT_TRUE(crate::output_record(stream, fi) && crate::flush_archive(stream));
        } catch (const common::fatal_error& e) {
            err = e.what();
        }
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(common::close_file(out));
        EXPECT_EQ(err, c.err) << c.content;
        if (c.err.empty()) {
            EXPECT_EQ(read_file("out.bin"), c.content);
        }
    }
}

#ifndef _WIN32
// While it lives, every file this process writes stops at `bytes`, as on a
// full disk: the write fails (the signal that would end the process is
// ignored).
class file_size_limit {
public:
    explicit file_size_limit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit cut = old_;
        cut.rlim_cur = bytes;
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &cut);
    }
    ~file_size_limit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }
    file_size_limit(const file_size_limit&) = delete;
    file_size_limit& operator=(const file_size_limit&) = delete;

private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
};
#endif

// The names in the current folder, sorted.
std::vector<std::string> folder_names() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(".")) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A run that ends with status 1 (a refused input, a full disk, an input that
// changed) leaves the archive that stood at its name byte for byte as it was,
// and no other file behind; only a complete run replaces it.
TEST_F(Archive, OldArchiveStaysUnlessTheRunCompletes) {
    write_file("a.bin", "hello");
    write_file("half", std::string(100000, 'h'));  // read into the archive's block: fails when that is written
    write_file("more", std::string(3 * crate::copy_buffer_size, 'm'));  // fails while copied file to file
    write_file("huge", "");
    fs::resize_file("huge", 0x80000000);
    const struct {
        std::vector<std::string> args;
        std::uint64_t limit;  // bytes a written file may reach; 0: no limit
        int status;
        std::string last_line;
    } cases[] = {
        {{"out.pdb", "a.bin", "huge"}, 0, 1, "huge: file too large (2 GiB or more)"},
#ifndef _WIN32
        {{"out.pdb", "a.bin", "half"}, 65536, 1, "Can't write outputfile out.pdb."},
        {{"out.pdb", "a.bin", "more"}, 65536, 1, "Can't write outputfile out.pdb."},
#endif
        {{"out.pdb", "a.bin"}, 0, 0, "file: a.bin"},
    };
    write_file("none", "");
    ASSERT_EQ(run({"-f", "none", "out.pdb"}).status, 0);
    const std::string old = read_file("out.pdb");  // an archive of no files
    const auto before = folder_names();
    for (const auto& c : cases) {
        write_file("out.pdb", old);
        run_result r{};
        if (c.limit == 0) {
            r = run(c.args);
        } else {
#ifndef _WIN32
            const file_size_limit full_disk(c.limit);
            r = run(c.args);
#endif
        }
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_TRUE(progress_only(r.err).ends_with(c.last_line + "\n")) << r.err;
        EXPECT_EQ(read_file("out.pdb").size(), c.status == 0 ? 88u + 10 + 5 : 88u) << c.args.back();
        EXPECT_EQ(folder_names(), before) << c.args.back();
    }
}

// The bundled sample inputs, packed through their file list, give exactly
// the archive kept in tests/golden (dates zeroed).
TEST_F(Archive, SampleInputsMatchTheGoldenArchive) {
    fs::current_path(source_dir / "examples");
    const auto r = run({"-f", "sample.list", (dir_ / "out.pdb").string()});
    fs::current_path(dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(masked(read_file("out.pdb")), read_file(source_dir / "tests/golden/sample_list.pdb"));
}

}  // namespace
