#include "message_blocks.hpp"

#include "fatal_error.hpp"

#include <charconv>
#include <cstdio>

namespace palm {

int block_number(std::string_view id) {
    int value = 0;
    const std::string_view digits = id.size() > 2 ? id.substr(2) : std::string_view{};
    std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return value;
}

std::string chunk_name(std::string_view id, int index) {
    std::array<char, 32> fname{};
    std::snprintf(fname.data(), fname.size(), "%.*s_%02d.txt", static_cast<int>(id.size()), id.data(), index);
    return fname.data();
}

const RESINFO* find_message(const resource_list& rlist, std::string_view id) {
    const RESINFO* res = search_rlist(rlist, id, string_table_type);
    return res != nullptr ? res : search_rlist(rlist, id);
}

message_block open_message(const common::byte_source& library, const resource_list& rlist, std::string_view id) {
    const std::string name(id);
    const RESINFO* res = find_message(rlist, id);
    if (res == nullptr) {
        throw common::fatal_error("Can't find the message \"" + name + "\".");
    }
    if (!res->in_section) {
        throw common::input_error("The message \"" + name + "\" lies outside the library's resource section (offset " +
                                  std::to_string(res->offset) + ", " + std::to_string(res->size) + " bytes).");
    }
    if (res->offset < 0 || res->offset >= library.size()) {
        throw common::input_error("The message \"" + name + "\" lies outside the library (offset " +
                                  std::to_string(res->offset) + ").");
    }
    return {&library, name, res->offset, std::int64_t{res->offset} + res->size, res->size};
}

namespace {

// Reads the next `dst.size()` bytes of the block: the length or the text of
// string `index`, named by `what` in the message when they are not all there.
void read_block_bytes(message_block& block, int index, std::span<std::uint8_t> dst, const char* what) {
    const std::int64_t end = block.next + static_cast<std::int64_t>(dst.size());
    const std::int64_t library_size = block.library->size();
    if (end > block.data_end && block.data_end <= library_size) {
        throw common::input_error("The message \"" + block.name + "\" ends inside the " + what + " of string " +
                                  std::to_string(index) + ": its data holds " +
                                  std::to_string(block.data_size) + " bytes.");
    }
    if (end > library_size || !block.library->read_at(block.next, dst)) {
        throw common::input_error("The library ends inside the message \"" + block.name + "\", in the " + what +
                                  " of string " + std::to_string(index) + ".");
    }
    block.next = end;
}

}  // namespace

std::size_t read_string_length(message_block& block, int index) {
    std::array<std::uint8_t, 2> length{};
    read_block_bytes(block, index, length, "length");
    return 2 * (std::size_t{length[1]} * 256 + length[0]);
}

void read_string_text(message_block& block, int index, std::span<std::uint8_t> units) {
    read_block_bytes(block, index, units, "text");
}

}  // namespace palm
