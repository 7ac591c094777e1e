// peek: lists, checks, reads, extracts and verifies a packed database. The
// work is done by the peek library; this only turns a run-ending failure into
// its line on standard error and exit status 1.
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "peek.hpp"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    // Results go to standard output: the same bytes on every system.
    common::set_binary_mode(stdout);
    try {
        return peek::peek_main(argc, argv);
    } catch (const common::fatal_error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "peek: %s\n", e.what());
        return 1;
    }
}
