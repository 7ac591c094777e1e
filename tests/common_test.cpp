#include "file_io.hpp"
#include "platform.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

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

}  // namespace
