// Reads arbitrary bytes as a message library the way cutter and peek
// --library do: the resource scan, then the 16 strings of each of the 36
// message blocks, each made into its chunk text. A refusal of the library or
// of a block is an ordinary result; a crash, a hang, a sanitizer report or
// any other exception is a finding.
#include "cutter.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "resinfo.hpp"
#include "unicode.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

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
        return 0;
    }
    std::vector<std::uint8_t> units;
    std::array<std::uint8_t, cutter::text_buffer_size> text{};
    for (const auto id : cutter::text_name) {
        try {
            cutter::message_block block = cutter::open_message(f.get(), *list, id);
            for (int index = 0; index < cutter::strings_per_block; ++index) {
                units.resize(cutter::read_string_length(block, index));
                cutter::read_string_text(block, index, units);
                const std::size_t n = cutter::get_script(units, text);
                if (n != 0) {
                    cutter::rearrange_script(std::span(text).first(n), cutter::block_number(id), index);
                }
            }
        } catch (const common::fatal_error&) {
            // cutter stops here; peek --library goes on with the next block.
        }
    }
    return 0;
}
