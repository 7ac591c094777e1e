#include "euc_jp.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

// Every byte value, and the two that text mode would change on some systems
// (0x0A and 0x1A), must come back exactly as written.
TEST(FileIo, BinaryRoundTripKeepsEveryByte) {
    std::array<std::uint8_t, 256> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    const std::string path = "common_test_roundtrip.bin";
    {
        auto out = common::open_write(path);
        ASSERT_TRUE(out);
        ASSERT_TRUE(common::write_all(out.get(), bytes));
        ASSERT_TRUE(common::close_file(out));
    }
    auto in = common::open_read(path);
    ASSERT_TRUE(in);
    EXPECT_EQ(common::file_size(in.get()), 256);
    std::array<std::uint8_t, 256> back{};
    ASSERT_TRUE(common::read_exact(in.get(), back));
    EXPECT_EQ(back, bytes);
    std::array<std::uint8_t, 1> more{};
    EXPECT_FALSE(common::read_exact(in.get(), more));
    in.reset();
    std::remove(path.c_str());
}

TEST(FileIo, MissingFileDoesNotOpen) {
    EXPECT_FALSE(common::open_read("common_test_no_such_file.bin"));
}

TEST(FileIo, FullDeviceIsReportedAtClose) {
    PALM_SKIP_ON_WINDOWS("no full device; WriteErrorIsReportedAtClose covers a failed write");
    auto out = common::open_write("/dev/full");
    if (!out) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
    common::write_all(out.get(), bytes);
    EXPECT_FALSE(common::close_file(out));
}

// A write that the stream refuses (here: a stream opened for reading) must
// still be reported when the file is closed, on every system.
TEST(FileIo, WriteErrorIsReportedAtClose) {
    const std::string path = "common_test_read_only.bin";
    {
        auto out = common::open_write(path);
        ASSERT_TRUE(out);
        ASSERT_TRUE(common::close_file(out));
    }
    auto in = common::open_read(path);
    ASSERT_TRUE(in);
    const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
    EXPECT_FALSE(common::write_all(in.get(), bytes));
    EXPECT_FALSE(common::close_file(in));
    std::remove(path.c_str());
}

// A stream switched to binary mode writes "\n" as the one byte 0x0A, also on
// Windows, where the stream below starts in text mode.
TEST(FileIo, BinaryModeStreamWritesBareLineFeeds) {
    const std::string path = "common_test_binary_mode.txt";
    {
        common::file_ptr out(std::fopen(path.c_str(), "w"));
        ASSERT_TRUE(out);
        ASSERT_TRUE(common::set_binary_mode(out.get()));
        ASSERT_GE(std::fputs("a\nb\n", out.get()), 0);
        ASSERT_TRUE(common::close_file(out));
    }
    auto in = common::open_read(path);
    ASSERT_TRUE(in);
    EXPECT_EQ(common::file_size(in.get()), 4);
    in.reset();
    std::remove(path.c_str());
}

// A name given as UTF-8 bytes names the same file in the folder on every
// system; on Windows this holds only with the UTF-8 code page of the program.
TEST(FileIo, Utf8FileNameKeepsItsCharacters) {
    const std::string name = "common_test_\xc3\xa9t\xc3\xa9_\xe6\x96\x87.bin";
    {
        auto out = common::open_write(name);
        ASSERT_TRUE(out);
        ASSERT_TRUE(common::close_file(out));
    }
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        const auto u8 = entry.path().filename().u8string();
        if (std::string(u8.begin(), u8.end()) == name) {
            found = true;
        }
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(common::open_read(name));
    std::remove(name.c_str());
}

// ---- atomic output ----------------------------------------------------------

using test_support::bytes;
using test_support::read_file;
using test_support::write_file;
namespace fs = std::filesystem;

class AtomicFile : public test_support::scratch {
protected:
    // Names in the folder other than the given ones: a left-over temporary file.
    static std::vector<std::string> others(std::initializer_list<std::string> known) {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(".")) {
            const std::string name = e.path().filename().string();
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                found.push_back(name);
            }
        }
        return found;
    }
    static bool put(common::atomic_file& f, std::string_view text) {
        return common::write_all(f.get(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
};

// The final name holds either the old bytes or all the new ones, and no
// temporary file stays behind, whether the file is committed or not.
TEST_F(AtomicFile, FinalNameChangesOnlyOnCommit) {
    struct step {
        const char* name;
        bool commit;
        const char* expected;
    };
    for (const step s : {step{"kept", false, "old"}, step{"replaced", true, "new bytes"}}) {
        write_file("out.bin", "old");
        {
            common::atomic_file f;
            ASSERT_TRUE(f.create("out.bin")) << s.name;
            ASSERT_TRUE(put(f, "new bytes"));
            EXPECT_EQ(read_file("out.bin"), "old") << s.name << ": changed before commit";
            if (s.commit) {
                ASSERT_TRUE(f.commit()) << s.name;
            }
        }
        EXPECT_EQ(read_file("out.bin"), s.expected) << s.name;
        EXPECT_EQ(others({"out.bin"}), std::vector<std::string>{}) << s.name;
    }
}

// A folder at the final name is no file to replace: nothing is made. A
// rename that cannot take place is a failed commit: the temporary file goes.
TEST_F(AtomicFile, FailedCommitLeavesNothing) {
    fs::create_directory("taken");
    common::atomic_file f;
    EXPECT_FALSE(f.create("taken"));
    EXPECT_FALSE(f.create("no_such_folder/out.bin"));
    fs::create_directory("gone");
    ASSERT_TRUE(f.create("gone/out.bin"));
    ASSERT_TRUE(put(f, "x"));
    fs::create_directory("gone/out.bin");  // takes the name before the commit
    EXPECT_FALSE(f.commit());
    EXPECT_TRUE(fs::is_directory("gone/out.bin"));
    EXPECT_EQ(others({"taken", "gone"}), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty("gone/out.bin"));
}

// What a name the user gave leads to decides how it is written: a device or
// a FIFO is written directly and stays what it is (a full device fails the
// commit); a regular file is replaced where it stands, a link on the way
// staying a link; what no file can replace is refused.
TEST_F(AtomicFile, UserNamedOutputsAreFollowed) {
    PALM_SKIP_ON_WINDOWS("no /dev, FIFOs or symbolic links for everyone there");
#ifndef _WIN32
    using enum common::output_kind;
    for (const auto& [device, ok] : {std::pair{"/dev/null", true}, std::pair{"/dev/full", false}}) {
        const auto t = common::resolve_output(device);
        ASSERT_EQ(t.kind, stream) << device;
        common::atomic_file f;
        ASSERT_TRUE(f.open_stream(t.path)) << device;
        put(f, "x");
        EXPECT_EQ(f.commit(), ok) << device;
        EXPECT_TRUE(fs::is_character_file(device)) << device;
    }
    fs::create_directory("dir");
    write_file("dir/target.bin", "old");
    fs::create_symlink("dir/target.bin", "link.bin");
    fs::create_symlink("nowhere", "dangling");
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    const struct {
        const char* name;
        common::output_kind kind;
    } cases[] = {{"new.bin", absent}, {"link.bin", regular}, {"dangling", refused}, {"dir", refused},
                 {"fifo", stream}};
    for (const auto& c : cases) {
        EXPECT_EQ(common::resolve_output(c.name).kind, c.kind) << c.name;
    }
    common::atomic_file fifo;
    EXPECT_FALSE(fifo.open_stream("fifo")) << "nobody reads it: refused at once";
    const auto t = common::resolve_output("link.bin");
    EXPECT_EQ(t.path, fs::canonical("dir/target.bin").string());
    common::atomic_file f;
    ASSERT_TRUE(f.create(t.path));
    ASSERT_TRUE(put(f, "new"));
    ASSERT_TRUE(f.commit());
    EXPECT_TRUE(fs::is_symlink("link.bin"));
    EXPECT_EQ(read_file("dir/target.bin"), "new");
#endif
}

// A link at the final name is replaced by the file; its target keeps its bytes.
TEST_F(AtomicFile, LinkAtFinalNameIsReplacedNotFollowed) {
    PALM_SKIP_ON_WINDOWS("making a symbolic link needs a privilege there");
    write_file("target.bin", "outside");
    fs::create_symlink("target.bin", "out.bin");
    EXPECT_FALSE(common::holds_exactly("out.bin", bytes{'o', 'u', 't', 's', 'i', 'd', 'e'}));
    common::atomic_file f;
    ASSERT_TRUE(f.create("out.bin"));
    ASSERT_TRUE(put(f, "inside"));
    ASSERT_TRUE(f.commit());
    EXPECT_FALSE(fs::is_symlink("out.bin"));
    EXPECT_EQ(read_file("out.bin"), "inside");
    EXPECT_EQ(read_file("target.bin"), "outside");
}

// A replaced file passes its permissions on (on Windows: the read-only
// attribute, which the rename must first get past).
TEST_F(AtomicFile, ReplacementKeepsPermissions) {
    for (const auto perms : {fs::perms::owner_read, fs::perms::owner_read | fs::perms::owner_write}) {
        write_file("out.bin", "old");
        fs::permissions("out.bin", perms);
        const auto before = fs::status("out.bin").permissions();
        common::atomic_file f;
        ASSERT_TRUE(f.create("out.bin"));
        ASSERT_TRUE(put(f, "new"));
        ASSERT_TRUE(f.commit());
        EXPECT_EQ(read_file("out.bin"), "new");
        EXPECT_EQ(fs::status("out.bin").permissions(), before);
        fs::permissions("out.bin", fs::perms::owner_all);
        EXPECT_EQ(common::remove_file("out.bin"), common::remove_result::removed);
    }
}

// Another program that holds the final name open (a viewer, a virus
// scanner) makes the commit fail as busy, after a second of retries; the old
// file stays. A read-only file the program owns is removed all the same.
TEST_F(AtomicFile, BusyAndReadOnlyFilesOnWindows) {
    PALM_SKIP_ON_LINUX("a file held open or read-only is no obstacle to a rename there");
#ifdef _WIN32
    write_file("out.bin", "old");
    const HANDLE held = CreateFileW(L"out.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    common::atomic_file f;
    ASSERT_TRUE(f.create("out.bin"));
    ASSERT_TRUE(put(f, "new"));
    EXPECT_FALSE(f.commit());
    EXPECT_TRUE(f.busy());
    CloseHandle(held);
    EXPECT_EQ(read_file("out.bin"), "old");
    EXPECT_EQ(others({"out.bin"}), std::vector<std::string>{});
    fs::permissions("out.bin", fs::perms::owner_read);
    EXPECT_EQ(common::remove_file("out.bin"), common::remove_result::removed);
#endif
}

TEST_F(AtomicFile, HoldsExactlyComparesEveryByte) {
    write_file("a.bin", "abc");
    EXPECT_TRUE(common::holds_exactly("a.bin", bytes{'a', 'b', 'c'}));
    EXPECT_FALSE(common::holds_exactly("a.bin", bytes{'a', 'b', 'd'}));
    EXPECT_FALSE(common::holds_exactly("a.bin", bytes{'a', 'b'}));
    EXPECT_FALSE(common::holds_exactly("a.bin", bytes{'a', 'b', 'c', 'd'}));
    EXPECT_FALSE(common::holds_exactly("missing.bin", bytes{}));
    fs::create_directory("folder");
    EXPECT_FALSE(common::holds_exactly("folder", bytes{}));
    EXPECT_FALSE(common::open_read_regular("folder"));
    EXPECT_TRUE(common::open_read_regular("a.bin"));
}

// ---- what a name leads to, and reading without a stream buffer -------------

using FileStatus = test_support::scratch;

// The kind, the length and which file a name leads to, links followed or
// not; every name of one file gives its id, the open file too. Nothing is
// opened, so a FIFO without a writer does not hold the query up.
TEST_F(FileStatus, KindLengthAndWhichFile) {
    using enum common::file_kind;
    write_file("a.bin", "abc");
    write_file("b.bin", "abc");
    fs::create_directory("folder");
    fs::create_hard_link("a.bin", "hard.bin");
#ifndef _WIN32
    fs::create_symlink("a.bin", "link.bin");
    fs::create_symlink("gone.bin", "broken.bin");
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
#endif
    const auto a = common::status_of("a.bin");
    ASSERT_TRUE(a);
    const struct {
        const char* name;
        bool name_only;  // status_of_name rather than status_of
        std::optional<common::file_kind> kind;
        std::int64_t size;  // -1: not compared
        bool same_as_a;
    } cases[] = {
        {"a.bin", false, regular, 3, true},
        {"a.bin", true, regular, 3, true},
        {"hard.bin", false, regular, 3, true},
        {"b.bin", false, regular, 3, false},
        {"folder", false, folder, -1, false},
        {"missing", false, std::nullopt, -1, false},
#ifndef _WIN32
        {"link.bin", false, regular, 3, true},
        {"link.bin", true, link, -1, false},
        {"broken.bin", false, std::nullopt, -1, false},
        {"broken.bin", true, link, -1, false},
        {"fifo", false, other, -1, false},
        {"/dev/null", false, other, -1, false},
#endif
    };
    for (const auto& c : cases) {
        const auto s = c.name_only ? common::status_of_name(c.name) : common::status_of(c.name);
        ASSERT_EQ(s.has_value(), c.kind.has_value()) << c.name;
        if (s) {
            EXPECT_EQ(s->kind, *c.kind) << c.name;
            EXPECT_TRUE(c.size < 0 || s->size == c.size) << c.name;
            EXPECT_EQ(s->id == a->id, c.same_as_a) << c.name;
        }
    }
    common::input_file in;
    ASSERT_TRUE(in.open("hard.bin"));
    EXPECT_EQ(in.status()->id, a->id);
    EXPECT_FALSE(in.open("missing"));
    EXPECT_FALSE(in.status());
#ifndef _WIN32
    ASSERT_TRUE(in.open("fifo"));  // without waiting for a writer
    EXPECT_EQ(in.status()->kind, other);
#endif
}

// copy_bytes puts the bytes behind what the stream holds so far, stops where
// the input ends, leaves the input just behind what it copied, and tells a
// failed write from a failed read.
TEST_F(FileStatus, CopyBytesKeepsTheStreamsOrder) {
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 13 + i / 256);
    }
    write_file("in.bin", content);
    const struct {
        std::uint64_t count;
        std::uint64_t copied;
    } cases[] = {{0, 0}, {10, 10}, {100000, 100000}, {100001, 100000}, {1000000, 100000}};
    std::array<std::uint8_t, 7> buffer{};  // small, so that reading and writing take many rounds where they are used
    for (const auto& c : cases) {
        common::input_file in;
        ASSERT_TRUE(in.open("in.bin"));
        auto out = common::open_write("out.bin");
        ASSERT_TRUE(out);
        std::fputs("head", out.get());
        const auto r = in.copy_bytes(out.get(), c.count, buffer);
        std::fputs("tail", out.get());
        ASSERT_TRUE(common::close_file(out));
        EXPECT_EQ(r.copied, c.copied) << c.count;
        EXPECT_FALSE(r.read_failed || r.write_failed) << c.count;
        EXPECT_EQ(read_file("out.bin"), "head" + content.substr(0, c.copied) + "tail") << c.count;
        std::array<std::uint8_t, 1> next{};
        EXPECT_EQ(in.read(next), c.copied < content.size() ? 1u : 0u) << c.count;
    }
    common::input_file in;
    ASSERT_TRUE(in.open("in.bin"));
    auto read_only = common::open_read("out.bin");
    EXPECT_TRUE(in.copy_bytes(read_only.get(), 5, buffer).write_failed);
#ifndef _WIN32
    fs::create_directory("folder");  // opens for reading here, but cannot be read
    ASSERT_TRUE(in.open("folder"));
    auto out = common::open_write("out.bin");
    EXPECT_TRUE(in.copy_bytes(out.get(), 5, buffer).read_failed);
#endif
}

// The system's EUC-JP tables, as make-fontfile uses them: JIS X 0208 codes
// only, the same on Linux and under Wine for these.
TEST(SystemEucJp, GivesJis0208CodesOnly) {
    using code = std::optional<common::euc_code>;
    const struct {
        char32_t u;
        code expected;
    } cases[] = {
        {U'\u0391', common::euc_code{0xA6, 0xA1}},  // Greek capital alpha, the font file's first
        {U'\u3042', common::euc_code{0xA4, 0xA2}},  // hiragana a
        {U'\u301C', common::euc_code{0xA1, 0xC1}},  // wave dash, which Shift_JIS tables give to U+FF5E
        {U'\u4E9C', common::euc_code{0xB0, 0xA1}},  // the first kanji, row 16
        {U'\u7199', common::euc_code{0xF4, 0xA6}},  // the last, row 84
        {U'\uFF71', std::nullopt},                  // half-width katakana: 0x8E ..
        {U'\u4E02', std::nullopt},                  // JIS X 0212 only
        {U'\u00E9', std::nullopt},                  // JIS X 0212 only
        {U'\u2460', std::nullopt},                  // circled digit one: no code
        {0xD800, std::nullopt},                     // a surrogate
        {0x20B9F, std::nullopt},                    // beyond the Basic Multilingual Plane
    };
    common::system_euc_jp tables;
    for (const auto& c : cases) {
        EXPECT_EQ(tables.jis0208_code(c.u), c.expected) << std::hex << static_cast<std::uint32_t>(c.u);
    }
}

}  // namespace
