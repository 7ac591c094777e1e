// crate: packs files into one Palm OS database. The work is done by the
// crate library; this only sets up standard error and turns a run-ending
// failure into its line there and exit status 1.
#include "crate.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"

#include <array>
#include <cstdio>
#include <exception>

namespace {

// Progress lines gather here and reach standard error in large pieces rather
// than one system call per line. The buffer lives as long as the process, so
// that the flush at exit still finds it.
std::array<char, crate::progress_buffer_size> progress_buffer;

int run(int argc, char** argv) {
    try {
        return crate::crate_main(argc, argv);
    } catch (const common::fatal_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crate: %s\n", e.what());
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Every line ends in the one byte 0x0A, on Windows too.
    common::prepare_process();
    std::setvbuf(stderr, progress_buffer.data(), _IOFBF, progress_buffer.size());
    const int status = run(argc, argv);
    // The message that ends a run went into the same buffer, behind every
    // progress line before it; all of them leave now, in order.
    std::fflush(stderr);
    return status;
}
