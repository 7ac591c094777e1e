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
    // Every line ends in the one byte 0x0A, on Windows too. The progress
    // lines go out in large pieces; the stream is flushed at exit, after the
    // message that ends a failed run, so the lines keep their order.
    common::prepare_process();
    static char progress_buffer[64 * 1024];
    std::setvbuf(stderr, progress_buffer, _IOFBF, sizeof progress_buffer);
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
