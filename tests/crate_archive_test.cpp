// The archive's layout, byte for byte (dates masked), and how file bytes are
// copied when files change between measuring and copying.
#include "crate_test_support.hpp"

#include <cstdio>
#include <ctime>
#include <utility>

namespace {

using namespace crate_test;

void put(bytes& out, std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// The archive that files with these contents and unique IDs must give,
// built field by field with the dates left zero.
bytes expected_archive(const std::vector<std::pair<std::string, std::uint32_t>>& files) {
    const std::string name = "Lanterns of Vesselmoor for Palm";
    bytes a(name.begin(), name.end());
    a.resize(60, 0);
    for (char c : std::string("DATAQOVR")) {
        a.push_back(static_cast<std::uint8_t>(c));
    }
    put(a, 0, 8);
    put(a, files.size() + 1, 2);
    std::uint64_t offset = 88 + 8 * files.size();
    put(a, offset, 4);
    put(a, 0, 4);
    offset += 2 * files.size();
    for (const auto& [content, id] : files) {
        put(a, offset, 4);
        put(a, id & 0xFFFFFF, 4);
        offset += content.size();
    }
    put(a, 0, 2);
    for (const auto& f : files) {
        put(a, f.first.size(), 2);
    }
    for (const auto& f : files) {
        a.insert(a.end(), f.first.begin(), f.first.end());
    }
    return a;
}

using ArchiveLayout = scratch;

// Files of 100 bytes, none (not found) and 50 bytes, checked against the
// offsets worked out by hand: 112, 118, 218, 218; 268 bytes in all.
TEST_F(ArchiveLayout, ThreeFilesOneMissing) {
    write_file("a", std::string(100, 'A'));
    write_file("c", std::string(50, 'C'));
    ASSERT_EQ(run({"out.pdb", "a", "missing", "c"}).status, 0);
    const bytes got = masked(read_file("out.pdb"));
    ASSERT_EQ(got.size(), 268u);
    const bytes list_and_sizes = {0, 0, 0, 0x70, 0, 0, 0, 0,  0, 0, 0, 0x76, 0, 0, 0, 0,
                                  0, 0, 0, 0xDA, 0, 0, 0, 1,  0, 0, 0, 0xDA, 0, 0, 0, 2,
                                  0, 0,  0, 0x64, 0, 0, 0, 0x32};
    EXPECT_EQ(bytes(got.begin() + 78, got.begin() + 118), list_and_sizes);
    EXPECT_EQ(got, expected_archive({{std::string(100, 'A'), 0}, {"", 1}, {std::string(50, 'C'), 2}}));
}

TEST_F(ArchiveLayout, EmptyListGives88BytesAndDatesFromTheClock) {
    write_file("list", "");
    const auto before = crate::unix_time_to_pilot_time(std::time(nullptr));
    ASSERT_EQ(run({"-f", "list", "out.pdb"}).status, 0);
    const auto after = crate::unix_time_to_pilot_time(std::time(nullptr));
    const bytes got = read_file("out.pdb");
    EXPECT_EQ(masked(got), expected_archive({}));
    ASSERT_EQ(got.size(), 88u);
    auto date = [&](std::size_t at) {
        return std::uint32_t{got[at]} << 24 | std::uint32_t{got[at + 1]} << 16 | std::uint32_t{got[at + 2]} << 8 | got[at + 3];
    };
    EXPECT_LE(before, date(36));
    EXPECT_LE(date(36), date(40));
    EXPECT_LE(date(40), after);
}

// Sizes of 65536 and more keep their low 16 bits in the size record but all
// their bytes; a record larger than the copy buffer is copied unchanged; an
// empty file gives no bytes; an ID of 2^24 or more keeps its low 24 bits.
TEST_F(ArchiveLayout, LargeAndEmptyFilesAndWideIds) {
    std::string big(2 * crate::copy_buffer_size + 123, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 251);
    }
    const std::vector<std::pair<std::string, std::string>> files = {
        {"ff", std::string(65535, 'f')}, {"CG016777217.bmp", ""}, {"big", big}, {"0x7_00.txt", "x"}};
    std::vector<std::string> args = {"out.pdb"};
    for (const auto& [name, content] : files) {
        write_file(name, content);
        args.push_back(name);
    }
    const auto r = run(args);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "ff: 65535\nCG016777217.bmp: 0\nbig: 524411\n0x7_00.txt: 1\n"
                     "CG016777217.bmp: 16777217\n0x7_00.txt: 2640(7:0)\nfile: ff\nfile: big\nfile: 0x7_00.txt\n");
    EXPECT_EQ(masked(read_file("out.pdb")),
              expected_archive({{files[0].second, 0}, {"", 16777217}, {big, 1}, {"x", 2640}}));
}

TEST(ArchiveFields, HeaderNameCreatorAndNumbers) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    crate::output_header(f, std::string(31, 'n'), "QO", 0x12345);
    EXPECT_THROW(crate::output_header(f, std::string(32, 'n'), "QOVR", 1), common::fatal_error);
    bytes got(100);
    std::rewind(f);
    got.resize(std::fread(got.data(), 1, got.size(), f));
    std::fclose(f);
    ASSERT_EQ(got.size(), 78u);  // the refused name wrote nothing
    EXPECT_EQ(got[30], 'n');
    EXPECT_EQ(got[31], 0);
    EXPECT_EQ(bytes(got.begin() + 60, got.end()),
              (bytes{'D', 'A', 'T', 'A', 'Q', 'O', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x23, 0x45}));

    std::FILE* g = std::tmpfile();
    ASSERT_NE(g, nullptr);
    for (std::int32_t v : {0x12345678, -1, 0x1000001}) {
        crate::put4b(v, g);
        crate::put3b(v, g);
        crate::put2b(v, g);
    }
    bytes puts(27);
    std::rewind(g);
    ASSERT_EQ(std::fread(puts.data(), 1, puts.size(), g), puts.size());
    std::fclose(g);
    EXPECT_EQ(puts, (bytes{0x12, 0x34, 0x56, 0x78, 0x34, 0x56, 0x78, 0x56, 0x78,
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                           0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01}));
    EXPECT_EQ(crate::unix_time_to_pilot_time(0), 2082844800u);
    EXPECT_EQ(crate::unix_time_to_pilot_time(2212122496), 0u);  // wraps modulo 2^32
}

// A file that shrinks, vanishes or grows between measuring and copying: every
// record keeps its announced length; the first two are padded with zero
// bytes, named on standard error, and make the copy report failure.
TEST_F(ArchiveLayout, FilesThatChangeAfterMeasuring) {
    write_file("s", std::string(100, 'S'));
    write_file("v", std::string(10, 'V'));
    write_file("g", "GGGGG");
    const std::vector<std::string> names = {"s", "v", "g"};
    testing::internal::CaptureStderr();
    const auto fi = crate::collect_file_info(names);
    fs::resize_file("s", 40);
    fs::remove("v");
    write_file("g", "GGGGGgrown");
    auto out = common::open_write("out.bin");
    ASSERT_TRUE(out);
    EXPECT_FALSE(crate::output_record(out.get(), fi));
    ASSERT_TRUE(common::close_file(out));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "s: 100\nv: 10\ng: 5\nfile: s\nCan't read s fully; its record is padded with zero bytes.\n"
              "file: v\nCan't open v; its record is filled with zero bytes.\nfile: g\n");
    EXPECT_EQ(read_file("out.bin"), to_bytes(std::string(40, 'S') + std::string(70, '\0') + "GGGGG"));
}

}  // namespace

namespace {

// The bundled sample inputs, packed through their file list, give exactly
// the archive kept in tests/golden (dates zeroed).
TEST(ArchiveGolden, SampleInputs) {
    const auto examples = crate_test::fs::path(PALMPORT_SOURCE_DIR) / "examples";
    const auto home = crate_test::fs::current_path();
    const auto out = home / "crate_golden_sample.pdb";
    crate_test::fs::current_path(examples);
    const auto r = crate_test::run({"-f", "sample.list", out.string()});
    crate_test::fs::current_path(home);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(crate_test::masked(crate_test::read_file(out)),
              crate_test::read_file(crate_test::fs::path(PALMPORT_SOURCE_DIR) / "tests/golden/sample.pdb"));
    crate_test::fs::remove(out);
}

}  // namespace
