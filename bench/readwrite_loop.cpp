// The yardstick for crate's cost per file: the plainest program that packs
// files one after another into one output. Per file it opens the file, reads
// it, writes what it read, and closes it: no measuring, no checks, no
// progress lines, no header.
//
//   readwrite_loop OUTPUT FILE...
//
// Reads go straight into one buffer and every write is one system call, as
// in a hand-written loop over open, read, write and close.
#include "file_io.hpp"

#include <cstdio>
#include <span>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: readwrite_loop OUTPUT FILE...\n");
        return 1;
    }
    auto out = common::open_write(argv[1]);
    if (!out) {
        std::fprintf(stderr, "Can't open %s.\n", argv[1]);
        return 1;
    }
    std::setvbuf(out.get(), nullptr, _IONBF, 0);
    std::vector<std::uint8_t> buffer(256 * 1024);
    for (int i = 2; i < argc; ++i) {
        common::input_file in;
        if (!in.open(argv[i])) {
            std::fprintf(stderr, "Can't open %s.\n", argv[i]);
            return 1;
        }
        for (;;) {
            const auto got = in.read(buffer);
            if (!got || *got == 0) {
                break;
            }
            if (!common::write_all(out.get(), std::span(buffer).first(*got))) {
                std::fprintf(stderr, "Can't write %s.\n", argv[1]);
                return 1;
            }
        }
    }
    if (!common::close_file(out)) {
        std::fprintf(stderr, "Can't write %s.\n", argv[1]);
        return 1;
    }
    return 0;
}
