// The resource list of a Windows PE library, read as a plain file.
//
// `scan_dll` finds the library's resource section through the section table,
// walks the three-level resource directory (type, name, language) and appends
// one record per resource to a list: its type, its name as text, its
// language and the absolute file offset of its data. The caller then looks
// resources up by name with `search_rlist` and reads them at `offset`.
//
// The library is untrusted input: every byte is read through the bounded
// reader common::byte_source, so a truncated or hostile file ends the run
// with one line naming what is wrong and where (a `common::fatal_error`),
// never with a read past the end or a value that was not read.
#pragma once

#include "byte_source.hpp"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace palm {

// One resource.
struct RESINFO {
    std::int32_t type = 0;        // ID of the type entry, as read
    std::array<char, 16> name{};  // "0x%x" of an ID, or the low bytes of a UTF-16
                                  // name; NUL-padded when shorter than 16
                                  // characters, unterminated when 16
    std::int32_t lang = 0;        // ID of the language entry
    std::int32_t offset = 0;      // absolute file offset of the data ("CG02444": +128)
    std::uint32_t size = 0;       // length of the data, from its data entry
    bool in_section = false;      // the data lies wholly inside the resource
                                  // section's raw data in the file
};

// The resources of one library, in the order the walk finds them.
using resource_list = std::vector<RESINFO>;

// Upper bound on the directory entries one `scan_dll` reads, over all three
// levels. Directory offsets may point to the same subdirectory again and
// again, so without a bound a small hostile file would fan out to billions of
// records; a message library holds a few hundred resources.
inline constexpr std::uint32_t max_directory_entries = 65536;

// Reads the PE library `library` and appends one record per resource to
// `res_list`, in this order: ID types in directory order; within a type its
// string-named names, then its ID-named names; within a name its ID
// languages. Types and languages named by a string give no records. Throws
// common::fatal_error with
//  - "This file is not PE format." when the file is no PE file at all: shorter
//    than the 64-byte header, no "MZ" at its start, a PE header offset
//    (e_lfanew) outside the file, or bytes at e_lfanew other than 'P','E',0;
//  - "No .rsrc section." when no section header is named ".rsrc",0;
//  - a line naming the structure and its file offset when something lies past
//    the end of the file, or when the walk reads more than
//    `max_directory_entries` entries; these are common::input_error, for the
//    caller to put the library's name in front.
// Records appended before a failure stay in the list.
void scan_dll(const common::byte_source& library, resource_list& res_list);

// Returns the first record whose name equals `key`, or null. A stored name of
// 16 characters is compared as exactly those characters.
const RESINFO* search_rlist(const resource_list& rlist, std::string_view key);

// The same, among the records of resource type `type` only.
const RESINFO* search_rlist(const resource_list& rlist, std::string_view key, std::int32_t type);

// Writes each record's name and a line feed on standard output, in list order.
void print_rlist(const resource_list& rlist);

// The record's name as text: up to the first NUL, at most 16 characters.
std::string_view rlist_name(const RESINFO& record);

}  // namespace palm
