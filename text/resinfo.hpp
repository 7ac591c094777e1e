// The resource list of a Windows PE library, read as a plain file.
//
// `scan_dll` finds the library's resource section through the section table,
// walks the three-level resource directory (type, name, language) and appends
// one record per resource to a singly linked list: its type, its name as text,
// its language and the absolute file offset of its data. The caller then looks
// resources up by name with `search_rlist` and reads them at `offset`.
//
// The library is untrusted input: every byte is read through a bounded reader
// that knows the file size, so a truncated or hostile file ends the run with
// one line naming what is wrong and where (a `common::fatal_error`), never with
// a read past the end or a value that was not read.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

// One resource. The same record type serves as the list's head, of which only
// `next` is used.
struct RESINFO {
    std::int32_t type = 0;         // ID of the type entry, as read
    std::array<char, 16> name{};   // "0x%x" of an ID, or the low bytes of a UTF-16
                                   // name; NUL-padded when shorter than 16
                                   // characters, unterminated when 16
    std::int32_t lang = 0;         // ID of the language entry
    std::int32_t offset = 0;       // absolute file offset of the data ("CG02444": +128)
    std::uint32_t size = 0;        // length of the data, from its data entry
    bool in_section = false;       // the data lies wholly inside the resource
                                   // section's raw data in the file
    std::unique_ptr<RESINFO> next; // next record, null at the tail

    RESINFO() = default;
    RESINFO(const RESINFO&) = delete;
    RESINFO& operator=(const RESINFO&) = delete;
    // Releases the records after this one in a loop, so that a long list
    // does not recurse once per record.
    ~RESINFO();
};

// Upper bound on the directory entries one `scan_dll` reads, over all three
// levels. Directory offsets may point to the same subdirectory again and
// again, so without a bound a small hostile file would fan out to billions of
// records; a message library holds a few hundred resources.
inline constexpr std::uint32_t max_directory_entries = 65536;

// Returns an empty list: a head record whose `next` is null.
std::unique_ptr<RESINFO> create_rlist();

// Reads the PE library `fp` (opened for binary reading) and appends one record
// per resource to `res_list`, in this order: ID types in directory order;
// within a type its string-named names, then its ID-named names; within a name
// its ID languages. Types and languages named by a string give no records.
// Returns 0. Throws common::fatal_error with
//  - "This file is not PE format." when the file is no PE file at all: shorter
//    than the 64-byte header, no "MZ" at its start, a PE header offset
//    (e_lfanew) outside the file, or bytes at e_lfanew other than 'P','E',0;
//  - "No .rsrc section." when no section header is named ".rsrc",0;
//  - a line naming the structure and its file offset when something lies past
//    the end of the file, or when the walk reads more than
//    `max_directory_entries` entries; these are common::input_error, for the
//    caller to put the library's name in front.
// Records appended before a failure stay in the list. Leaves the file position
// anywhere: seek absolutely afterwards.
int scan_dll(std::FILE* fp, RESINFO& res_list);

// Returns the first record after the head whose name equals `key`, or null.
// A stored name of 16 characters is compared as exactly those characters.
// The record stays owned by the list.
const RESINFO* search_rlist(const RESINFO& rlist, std::string_view key);

// The same, among the records of resource type `type` only.
const RESINFO* search_rlist(const RESINFO& rlist, std::string_view key, std::int32_t type);

// Writes each record's name and a line feed on standard output, in list order.
void print_rlist(const RESINFO& rlist);

// Releases the head and every record; `rlist` becomes null.
void free_rlist(std::unique_ptr<RESINFO>& rlist);
