#include "euc_jp.hpp"

#include "fatal_error.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace common {

#ifdef _WIN32

namespace {

// EUC-JP as Windows knows it. It writes a JIS X 0212 character as two bytes,
// the second below 0xA1, where EUC-JP proper puts three behind 0x8F;
// jis0208_code leaves those out by their second byte all the same.
constexpr UINT euc_jp_code_page = 20932;

}  // namespace

struct system_euc_jp::state {};

system_euc_jp::system_euc_jp() : state_(std::make_unique<state>()) {
    if (IsValidCodePage(euc_jp_code_page) == 0) {
        throw fatal_error("This system has no EUC-JP conversion (code page 20932).");
    }
}

std::string_view system_euc_jp::tables() const {
    return "code page 20932";
}

std::size_t system_euc_jp::convert(char32_t u, std::span<std::uint8_t> out) {
    const wchar_t unit = static_cast<wchar_t>(u);
    // No look-alike in place of a character the code page lacks, and a code
    // that is only the default character counts as none.
    BOOL used_default = FALSE;
    const int n = WideCharToMultiByte(euc_jp_code_page, WC_NO_BEST_FIT_CHARS, &unit, 1,
                                      reinterpret_cast<char*>(out.data()), static_cast<int>(out.size()), nullptr,
                                      &used_default);
    return n > 0 && used_default == FALSE ? static_cast<std::size_t>(n) : 0;
}

#else

struct system_euc_jp::state {
    explicit state(iconv_t open) : cd(open) {}
    ~state() { iconv_close(cd); }
    state(const state&) = delete;
    state& operator=(const state&) = delete;

    iconv_t cd;
};

system_euc_jp::system_euc_jp() {
    const iconv_t cd = iconv_open("EUC-JP", "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw fatal_error("This system's iconv cannot convert to EUC-JP.");
    }
    state_ = std::make_unique<state>(cd);
}

std::string_view system_euc_jp::tables() const {
    return "glibc iconv";
}

std::size_t system_euc_jp::convert(char32_t u, std::span<std::uint8_t> out) {
    std::array<char, 4> in{};
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
    }
    char* in_p = in.data();
    char* out_p = reinterpret_cast<char*>(out.data());
    std::size_t in_left = in.size();
    std::size_t out_left = out.size();
    iconv(state_->cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    if (iconv(state_->cd, &in_p, &in_left, &out_p, &out_left) == static_cast<std::size_t>(-1)) {
        return 0;
    }
    return out.size() - out_left;
}

#endif

system_euc_jp::~system_euc_jp() = default;

std::optional<euc_code> system_euc_jp::jis0208_code(char32_t u) {
    // JIS X 0208 lies in the Basic Multilingual Plane; a surrogate is no
    // character.
    if (u > 0xFFFF || (u >= 0xD800 && u <= 0xDFFF)) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 8> raw{};
    if (convert(u, raw) != 2) {
        return std::nullopt;
    }
    const bool row = raw[0] >= 0xA1 && raw[0] <= 0xF4;
    const bool cell = raw[1] >= 0xA1 && raw[1] <= 0xFE;
    if (!row || !cell) {
        return std::nullopt;
    }
    return euc_code{raw[0], raw[1]};
}

}  // namespace common
