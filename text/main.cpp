// cutter: the message library's strings -> compressed chunk files. The work
// is done by the cutter library; this only turns a run-ending failure into
// its line on standard error and exit status 1.
#include "cutter.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"

#include <cstdio>
#include <exception>
#include <new>

int main(int argc, char** argv) {
    // Every line ends in the one byte 0x0A, on Windows too.
    common::set_binary_mode(stderr);
    try {
        return cutter::cutter_main(argc, argv);
    } catch (const common::fatal_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "cutter: out of memory.\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cutter: %s\n", e.what());
    }
    return 1;
}
