// Reads arbitrary bytes as crate's file list. A refusal (a line that is not
// UTF-8 or UTF-16 text, too many entries) is an ordinary result; otherwise
// every name must be one well-formed UTF-8 word, without white space, line
// end or zero byte, and there are never more names than an archive holds.
#include "crate.hpp"
#include "fatal_error.hpp"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace {

bool is_utf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                              : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (n == 0 || i + n > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> names;
    try {
        names = crate::parse_file_list(std::span(data, size), "list");
    } catch (const common::fatal_error&) {
        return 0;
    }
    if (names.size() > palm::max_files) {
        std::abort();
    }
    for (const auto& name : names) {
        if (name.find_first_of(std::string(" \t\n\v\f\r\0", 7)) != std::string::npos || !is_utf8(name)) {
            std::abort();
        }
    }
    return 0;
}
