// Builds small PE libraries in memory for the resource scan's tests: chosen
// sections, a resource tree of types, names and languages (each given by an ID
// or a string) with payloads, and the positions of the structures so that a
// test can break them on purpose.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

// A directory entry's key: an ID, or a UTF-16 string name.
struct key {
    bool named = false;
    std::uint32_t id = 0;
    std::u16string name;
};
key id(std::uint32_t value);
key named(std::u16string value);

struct language {
    key k;
    std::vector<std::uint8_t> data;
};
struct name_node {
    key k;
    std::vector<language> languages;
};
struct type_node {
    key k;
    std::vector<name_node> names;
};

struct section_plan {
    std::array<char, 8> name{};   // raw 8 bytes, NUL-padded
    std::uint32_t virtual_address = 0;
    bool holds_resources = false; // the resource tree is written into this one
};
std::array<char, 8> section_name(const std::string& text);

struct image_plan {
    std::uint32_t e_lfanew = 0x80;
    std::array<std::uint8_t, 4> signature = {'P', 'E', 0, 0};
    std::uint16_t optional_header_size = 0xE0;
    std::vector<section_plan> sections = {{section_name(".text"), 0x1000, false},
                                          {section_name(".rsrc"), 0x2000, true}};
    std::vector<type_node> types;
};

struct image {
    std::vector<std::uint8_t> bytes;
    std::uint32_t section_table = 0;  // file offset of the first section header
    std::uint32_t rsrc_raw = 0;       // PointerToRawData of the resource section
    std::uint32_t rsrc_rva = 0;       // its VirtualAddress
    // File offsets of the directories in the order written: the root, each
    // type's name directory, then each name's language directory.
    std::vector<std::uint32_t> directories;
    // File offsets of the data entries and of the payloads, one per language
    // in the order the tree lists them.
    std::vector<std::uint32_t> data_entries;
    std::vector<std::uint32_t> payloads;
    std::uint32_t structures_end = 0; // everything the scan reads lies before this
};

image build(const image_plan& plan);

void put16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

// Writes `bytes` to `path` (binary) and returns the path.
std::string write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace pe
