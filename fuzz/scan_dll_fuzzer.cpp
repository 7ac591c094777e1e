// Feeds arbitrary bytes to the resource scan as a library file, then looks a
// few names up in whatever list it made. A format error is an ordinary
// result; a crash, a hang, a sanitizer report or any other exception is a
// finding.
#include "byte_source.hpp"
#include "fatal_error.hpp"
#include "pe_resources.hpp"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    palm::resource_list list;
    try {
        palm::scan_dll(common::byte_source(std::span(data, size)), list);
    } catch (const common::fatal_error&) {
        // Records appended before the failure stay in the list.
    }
    for (const char* key : {"0x7", "0x2a", "CG02444", "ABCDEFGHIJKLMNOP"}) {
        if (const palm::RESINFO* r = palm::search_rlist(list, key)) {
            volatile std::int32_t offset = r->offset;
            (void)offset;
        }
    }
    return 0;
}
