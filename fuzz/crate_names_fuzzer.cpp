// Reads arbitrary bytes as a packed file's base name with crate's two name
// parsers, and checks every number they read against the C library's strtol
// wherever strtol's result fits 32 bits (crate clamps larger ones so that
// every system gives the same IDs). Any mismatch aborts.
#include "record_ids.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(std::int32_t got, const std::string& field, int base) {
    errno = 0;
    const long v = std::strtol(field.c_str(), nullptr, base);
    if (errno == 0 && v >= INT32_MIN && v <= INT32_MAX && v != got) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    std::int32_t block = 0;
    std::int32_t chunk = 0;
    if (palm::parse_text_filename(name, block, chunk)) {
        const auto underscore = name.find('_');
        const std::string index = name.substr(underscore + 1);
        check(block, name.substr(0, underscore), 16);
        check(chunk, index.substr(0, index.find('.')), 10);
    }
    std::int32_t id = 0;
    const auto zero = name.find('0');
    const bool fixed = std::any_of(palm::fixed_picture_names.begin(), palm::fixed_picture_names.end(),
                                   [&](const auto& p) { return name.starts_with(p.prefix); });
    if (palm::parse_cg_filename(name, id) && !fixed && zero != std::string::npos) {
        const std::string number = name.substr(zero);
        check(id, number.substr(0, number.find('.')), 10);
    }
    return 0;
}
