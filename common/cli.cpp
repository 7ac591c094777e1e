#include "cli.hpp"

#include "fatal_error.hpp"

#include <cstdio>
#include <string>

namespace common {

bool answer_help_or_version(std::string_view arg, std::string_view program, std::string_view help) {
    if (arg == "-h" || arg == "--help") {
        print_stdout(help);
        return true;
    }
    if (arg == "--version") {
        print_stdout(std::string(program) + " " + std::string(project_version) + "\n");
        return true;
    }
    return false;
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
