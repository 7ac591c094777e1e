// peek's --json output, written with nlohmann/json. Only peek_lib's own
// sources include this header.
#pragma once

#include "utf8.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace peek {

// An object keeps its fields in the order they are set, which is the order
// the manual lists them in.
using json_value = nlohmann::ordered_json;

// Writes `value` on one line. Every string in it went through
// common::as_utf8, so it is well-formed UTF-8 and the strict handler never
// refuses it.
inline void print_json(std::FILE* out, const json_value& value) {
    const std::string text = value.dump(-1, ' ', false, json_value::error_handler_t::strict);
    std::fprintf(out, "%s\n", text.c_str());
}

}  // namespace peek
