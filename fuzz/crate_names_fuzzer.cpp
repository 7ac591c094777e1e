// Reads arbitrary bytes as a packed file's base name with both name parsers
// of crate, and checks every number they read against the C library's
// strtol wherever strtol's result fits 32 bits. Any mismatch aborts.
#include "crate.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// strtol's reading of `field` in `base`, or `fallback` when it does not fit
// 32 bits (crate clamps such numbers instead).
std::int64_t reference(const std::string& field, int base, std::int64_t fallback) {
    errno = 0;
    const long v = std::strtol(field.c_str(), nullptr, base);
    if (errno != 0 || v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
        return fallback;
    }
    return v;
}

std::string up_to(const std::string& s, char c) { return s.substr(0, s.find(c)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    std::int32_t block = 0;
    std::int32_t chunk = 0;
    const auto underscore = name.find('_');
    if (crate::parse_text_filename(name, block, chunk) != (underscore != std::string::npos)) {
        std::abort();
    }
    if (underscore != std::string::npos &&
        (block != reference(name.substr(0, underscore), 16, block) ||
         chunk != reference(up_to(name.substr(underscore + 1), '.'), 10, chunk))) {
        std::abort();
    }

    std::int32_t id = -1;
    const bool numbered = crate::parse_cg_filename(name, id);
    bool fixed = false;
    for (const auto& p : crate::fixed_picture_names) {
        if (name.compare(0, p.compared, p.prefix) == 0) {
            if (id != p.id) {
                std::abort();
            }
            fixed = true;
            break;
        }
    }
    const auto zero = name.find('0');
    if (numbered != (fixed || zero != std::string::npos)) {
        std::abort();
    }
    if (!fixed && zero != std::string::npos && id != reference(up_to(name.substr(zero), '.'), 10, id)) {
        std::abort();
    }
    return 0;
}
