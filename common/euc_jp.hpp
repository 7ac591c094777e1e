// The system's own conversion from Unicode to EUC-JP, which make-fontfile
// turns into a font file: glibc's iconv on Linux, code page 20932 through
// WideCharToMultiByte on Windows. Each system follows its own tables, so the
// two may give a few characters different codes, or a code on one system
// only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace common {

// A two-byte EUC-JP code, first byte first.
using euc_code = std::array<std::uint8_t, 2>;

class system_euc_jp {
public:
    // Opens the system's conversion. Throws fatal_error when the system has
    // none to EUC-JP.
    system_euc_jp();
    ~system_euc_jp();
    system_euc_jp(const system_euc_jp&) = delete;
    system_euc_jp& operator=(const system_euc_jp&) = delete;

    // The code of `u` when the system converts it to a JIS X 0208 character:
    // two bytes, the first 0xA1 to 0xF4 (rows 1 to 84), the second 0xA1 to
    // 0xFE. Nothing for a code point the system cannot convert, or converts
    // to anything else: a half-width katakana (0x8E ..), a JIS X 0212
    // character, a replacement character.
    std::optional<euc_code> jis0208_code(char32_t u);

    // Whose tables these are, for a message: "glibc iconv" or
    // "code page 20932".
    std::string_view tables() const;

private:
    // The bytes the system's conversion gives for `u` (a code point of the
    // Basic Multilingual Plane, no surrogate) in `out`, and their count; 0
    // when it has no code for it. One definition per system.
    std::size_t convert(char32_t u, std::span<std::uint8_t> out);

    struct state;  // what the system's conversion keeps between calls
    std::unique_ptr<state> state_;
};

}  // namespace common
