// Feeds arbitrary bytes to the resource scan as a library file, then looks a
// few names up in whatever list it made. A format error is an ordinary
// result; a crash, a hang, a sanitizer report or any other exception is a
// finding.
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "resinfo.hpp"

#include <cstdint>
#include <cstdio>

namespace {

// The bytes as a read-only stream: in memory where the system offers it.
common::file_ptr open_bytes(const std::uint8_t* data, std::size_t size) {
#ifndef _WIN32
    if (size > 0) {
        return common::file_ptr(fmemopen(const_cast<std::uint8_t*>(data), size, "rb"));
    }
#endif
    common::file_ptr f(std::tmpfile());
    if (f && (std::fwrite(data, 1, size, f.get()) != size || std::fseek(f.get(), 0, SEEK_SET) != 0)) {
        f.reset();
    }
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto f = open_bytes(data, size);
    if (!f) {
        return 0;
    }
    auto list = create_rlist();
    try {
        scan_dll(f.get(), *list);
    } catch (const common::fatal_error&) {
        // Records appended before the failure stay in the list.
    }
    for (const char* key : {"0x7", "0x2a", "CG02444", "ABCDEFGHIJKLMNOP"}) {
        if (const RESINFO* r = search_rlist(*list, key)) {
            volatile std::int32_t offset = r->offset;
            (void)offset;
        }
    }
    free_rlist(list);
    return 0;
}
