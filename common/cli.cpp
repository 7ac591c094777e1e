#include "cli.hpp"

#include "fatal_error.hpp"

#include <cstdio>

namespace common {

info_request info_request_of(std::string_view arg) {
    if (arg == "-h" || arg == "--help") {
        return info_request::help;
    }
    return arg == "--version" ? info_request::version : info_request::none;
}

void print_stdout(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        throw fatal_error("Can't write standard output.");
    }
}

std::string count_text(std::size_t n, std::string_view noun) {
    return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

}  // namespace common
