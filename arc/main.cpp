// crate: packs files into one Palm OS database. The work is done by the
// crate library; this only turns a run-ending failure into its line on
// standard error and exit status 1.
#include "crate.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    // Every line ends in the one byte 0x0A, on Windows too.
    common::set_binary_mode(stderr);
    try {
        return crate::crate_main(argc, argv);
    } catch (const common::fatal_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crate: %s\n", e.what());
        return 1;
    }
}
