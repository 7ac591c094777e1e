// Reads arbitrary bytes as an archive with peek's reader: the listing (plain
// and JSON), the structural check and the chunk text. Each either succeeds or
// ends in one common::fatal_error line; a read outside the bytes, a crash, a
// hang or an allocation beyond the caps is a finding. A sound verdict must
// also mean that every record's bounds are known.
#include "peek.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef _WIN32
    static std::FILE* sink = std::fopen("NUL", "wb");  // the corpus replay runs on Windows too
#else
    static std::FILE* sink = std::fopen("/dev/null", "wb");
#endif
    const common::byte_source src(std::span(data, size));
    for (const bool json : {false, true}) {
        try {
            peek::print_listing(sink, "fuzz.pdb", src, json);
        } catch (const common::fatal_error&) {
        }
    }
    const auto problems = peek::check_archive(src);
    const bool sound = std::none_of(problems.begin(), problems.end(), [](const peek::problem& p) { return !p.warning; });
    if (sound) {
        const auto index = palm::read_index(src);
        for (std::size_t k = 0; k < index.entries.size(); ++k) {
            if (!palm::record_length(index, k)) {
                std::abort();
            }
        }
    }
    static const palm::sjis_table table;
    static const palm::sjis_reader reader(table);
    try {
        peek::print_text(sink, src, reader);
    } catch (const common::fatal_error&) {
    }
    return 0;
}
