// Archives written by crate, read back by a PDB reader that owes nothing to
// this project: Perl's Palm::PDB (Debian package libpalm-perl), through
// tests/data/pdb_records.pl. It must find the database name, type and
// creator, one record more than files were given, the size record, and per
// file its unique ID, no attributes and exactly the file's bytes.
#include "crate_test_support.hpp"

#include <optional>
#include <sstream>

namespace {

using namespace crate_test;

struct packed_file {
    std::string name;                    // as crate is given it
    std::optional<std::string> content;  // none: the file does not exist
    std::uint32_t uid;
};

struct archive_case {
    std::string title;
    std::vector<packed_file> files;
};

void PrintTo(const archive_case& c, std::ostream* os) {
    *os << c.title;
}

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(i * 31 + i / 256);
    }
    return s;
}

// The sample as examples/run-sample.sh packs it: the chunk files of the
// bundled library with the unique IDs listed beside their expected texts,
// then three pictures.
std::vector<packed_file> sample_files() {
    std::vector<packed_file> files;
    std::istringstream index(read_file(sample_expected_dir / "index.txt"));
    for (std::string line; std::getline(index, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string chunk = line.substr(0, line.find(' '));
        const auto path = source_dir / "tests/golden/sample/chunks" / chunk;
        const auto uid = static_cast<std::uint32_t>(std::stoul(line.substr(line.find(" uid ") + 5)));
        files.push_back({path.string(), read_file(path), uid});
    }
    for (const auto& [picture, uid] : {std::pair{"CGRUMO.bmp", 2499u}, {"CG001.bmp", 1u}, {"CG002.bmp", 2u}}) {
        const auto path = source_dir / "examples" / picture;
        files.push_back({path.string(), read_file(path), uid});
    }
    return files;
}

std::vector<archive_case> cases() {
    return {
        {"Sample", sample_files()},
        {"NoFiles", {}},
        // A missing file is packed under an empty name: the counter numbers
        // it, whatever its name would have given.
        {"EmptyAndMissingFiles",
         {{"empty.txt", "", 0}, {"missing.bin", std::nullopt, 1}, {"0x7_05.txt", std::nullopt, 2},
          {"one.bin", "1", 3}, {"0x7_06.txt", "", 2646}}},
        {"FixedPictureNames",
         {{"CGRUMO.bmp", "r", 2499}, {"CGBLACK.bmp", "bl", 2498}, {"ZOPA01.bmp", "z1", 2497},
          {"ZOPA02.bmp", "z2", 2496}, {"ZOPA03.bmp", "z3", 2495}, {"ZOPA04.bmp", "z4", 2494},
          {"ZOPA05.bmp", "z5", 2493}, {"CGBLACK2.bmp", "b2", 2498}}},
        {"CounterIds",
         {{"a.bin", "a", 0}, {"0x7_00.txt", "t", 2640}, {"b.bin", "b", 1}, {"CG003.bmp", "p", 3}, {"c.bin", "c", 2},
          {"ZOPA10.bmp", "z", 0}, {"CGX.bmp", "x", 3}}},
        // 65536 bytes and more: the size record keeps the low 16 bits.
        {"RecordsOf64KiBAndMore",
         {{"big.bin", pattern(65536), 0}, {"0x2a_15.txt", pattern(70000), 3355}, {"small.bin", "s", 1}}},
    };
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += digits[(static_cast<unsigned char>(c) >> 4) & 0xF];
        out += digits[static_cast<unsigned char>(c) & 0xF];
    }
    return out;
}

class PalmPdbReads : public scratch, public testing::WithParamInterface<archive_case> {};

TEST_P(PalmPdbReads, WhatCrateWasGiven) {
    if (const auto why = missing_tool("perl -e 1", "perl", "perl"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    if (const auto why = missing_tool("perl -MPalm::PDB -MPalm::Raw -e 1", "the Perl module Palm::PDB", "libpalm-perl");
        !why.empty()) {
        GTEST_SKIP() << why;
    }
    const archive_case& c = GetParam();
    std::string list;  // crate's file list: no files at all is a command line too
    std::string size_record;
    std::string records;
    for (const auto& f : c.files) {
        if (f.content && fs::path(f.name).is_relative()) {  // the sample's files are read where they are
            write_file(f.name, *f.content);
        }
        list += f.name + "\n";
        const std::size_t size = f.content ? f.content->size() : 0;
        size_record += {static_cast<char>((size >> 8) & 0xFF), static_cast<char>(size & 0xFF)};
        records += "record " + std::to_string(f.uid) + " none 0 " + hex(f.content.value_or("")) + "\n";
    }
    write_file("files.lst", list);
    ASSERT_EQ(run({"-f", "files.lst", "out.pdb"}).status, 0);

    const auto read = run_capture("perl \"" + (source_dir / "tests/data/pdb_records.pl").string() +
                                  "\" out.pdb 2>perl.txt");
    ASSERT_EQ(read.status, 0) << read_file("perl.txt");
    const std::string expected = "name Lanterns of Vesselmoor for Palm\ntype DATA\ncreator QOVR\nrecords " +
                                 std::to_string(c.files.size() + 1) + "\nrecord 0 none 0 " + hex(size_record) +
                                 "\n" + records;
    // Line by line, so that a difference names its record without
    // printing every record's bytes.
    std::istringstream got_lines(read.out);
    std::istringstream want_lines(expected);
    std::string got;
    std::string want;
    for (int line = 1; std::getline(want_lines, want); ++line) {
        ASSERT_TRUE(std::getline(got_lines, got)) << "Palm::PDB ends before line " << line;
        ASSERT_EQ(got.substr(0, 200), want.substr(0, 200)) << "line " << line;
        ASSERT_EQ(got, want) << "line " << line << " differs after its first 200 characters";
    }
    EXPECT_FALSE(std::getline(got_lines, got)) << "Palm::PDB reads more: " << got.substr(0, 80);
}

INSTANTIATE_TEST_SUITE_P(Archives, PalmPdbReads, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<archive_case>& info) { return info.param.title; });

}  // namespace
