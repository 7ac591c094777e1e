// Reads arbitrary bytes as a message library the way cutter and peek
// --library do: the resource scan, then the 16 strings of each of the 36
// message blocks, each made into its chunk text. A refusal of the library or
// of a block is an ordinary result; a crash, a hang, a sanitizer report or
// any other exception is a finding.
#include "byte_source.hpp"
#include "chunk_text.hpp"
#include "fatal_error.hpp"
#include "message_blocks.hpp"
#include "pe_resources.hpp"
#include "sjis.hpp"

#include <array>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const common::byte_source library(std::span(data, size));
    palm::resource_list list;
    try {
        palm::scan_dll(library, list);
    } catch (const common::fatal_error&) {
        return 0;
    }
    static palm::sjis_table table;
    std::vector<std::uint8_t> units;
    std::array<std::uint8_t, palm::text_buffer_size> text{};
    for (const auto id : palm::text_name) {
        try {
            palm::message_block block = palm::open_message(library, list, id);
            for (int index = 0; index < palm::strings_per_block; ++index) {
                units.resize(palm::read_string_length(block, index));
                palm::read_string_text(block, index, units);
                palm::make_chunk_text(table, units, palm::block_number(id), index, text);
            }
        } catch (const common::fatal_error&) {
            // cutter stops here; peek --library goes on with the next block.
        }
    }
    return 0;
}
