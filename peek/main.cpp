// peek: lists, checks, reads, extracts and verifies a packed database. The
// work is done by the peek library; this only turns a run-ending failure into
// its line on standard error and exit status 1.
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "peek.hpp"

#include <cstdio>
#include <exception>
#include <new>

int main(int argc, char** argv) {
    // Results and errors: the same bytes on every system, every line ending
    // in the one byte 0x0A.
    common::prepare_process();
    try {
        return peek::peek_main(argc, argv);
    } catch (const common::fatal_error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "peek: out of memory.\n");
        return 1;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "peek: %s\n", e.what());
        return 1;
    }
}
