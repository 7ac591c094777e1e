// llvm-readobj's listing of PE files (`--sections --coff-resources`), read
// back as the records that the resource scan makes of them, so that the scan
// can be compared with a reader that owes nothing to this project.
#pragma once

#include "pe_resources_test_support.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace readobj {

// One file of the listing.
struct library {
    std::string file;                // as its "File:" line names it
    bool has_rsrc = false;           // a section named ".rsrc" is listed
    std::uint32_t rsrc_address = 0;  // the first such section's VirtualAddress
    std::uint32_t rsrc_raw = 0;      // ... and PointerToRawData
    // Every resource under a type and a language given by an ID, in listing
    // order, in the scan's terms: the name "0x%x" of an ID, or the low bytes
    // of a string name's code units up to the first zero low byte, at most
    // 16; the offset DataRVA - VirtualAddress + PointerToRawData (modulo
    // 2^32), 128 bytes more for the name "CG02444".
    std::vector<pe_resources_test::rec> records;
    std::vector<bool> named_by_id;   // per record: its name is an ID
};

// Reads a listing from `in` up to its end.
std::vector<library> parse(std::FILE* in);

struct listing {
    int status;  // llvm-readobj's exit status
    std::vector<library> libraries;
};

// Runs llvm-readobj once on all of `files` and reads its listing. What it
// says on standard error (a file it cannot read) goes to the test's own.
listing run(const std::vector<std::string>& files);

}  // namespace readobj
