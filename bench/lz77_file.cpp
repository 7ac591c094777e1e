// One whole process of compressing files, for the whole-process comparison in
// bench/run.sh:
//   lz77_file OUT IN...
// compresses every IN in turn on one encoder state, as cutter does its chunks,
// and writes the streams one after another to OUT. Built twice from this
// source: lz77_file with the encoder, lz77_file_reference with the plain
// reference encoder (LZ77_FILE_REFERENCE defined).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#ifdef LZ77_FILE_REFERENCE
#include "lz77_reference.hpp"
#else
#include "lzss.hpp"
#endif

namespace {

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file = std::unique_ptr<std::FILE, file_closer>;

bool read_all(const char* path, std::vector<std::uint8_t>& out) {
    const file f(std::fopen(path, "rb"));
    if (!f) {
        return false;
    }
    out.clear();
    std::uint8_t buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;) {
        out.insert(out.end(), buf, buf + n);
    }
    return std::ferror(f.get()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT IN...\n", argv[0]);
        return 1;
    }
    const file out(std::fopen(argv[1], "wb"));
    if (!out) {
        std::fprintf(stderr, "Can't open %s.\n", argv[1]);
        return 1;
    }
#ifndef LZ77_FILE_REFERENCE
    const auto state = std::make_unique<palm::lz77_state>();
#endif
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> stream;
    for (int k = 2; k < argc; ++k) {
        if (!read_all(argv[k], in)) {
            std::fprintf(stderr, "Can't read %s.\n", argv[k]);
            return 1;
        }
        stream.resize(in.size() + in.size() / 8 + 1);
#ifdef LZ77_FILE_REFERENCE
        const std::size_t n = lz77_reference::compress(in, stream);
#else
        const std::size_t n = palm::lz77_compress(*state, in, stream).size;
#endif
        if (std::fwrite(stream.data(), 1, n, out.get()) != n) {
            std::fprintf(stderr, "Can't write %s.\n", argv[1]);
            return 1;
        }
    }
    return 0;
}
