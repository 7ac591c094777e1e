// 64-bit off_t for fseeko/ftello on 32-bit Linux too (no effect elsewhere).
#define _FILE_OFFSET_BITS 64

#include "file_io.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace common {

void file_closer::operator()(std::FILE* f) const noexcept {
    if (f != nullptr) {
        std::fclose(f);
    }
}

file_ptr open_read(const std::string& path) {
    return file_ptr(std::fopen(path.c_str(), "rb"));
}

file_ptr open_write(const std::string& path) {
    return file_ptr(std::fopen(path.c_str(), "wb"));
}

bool set_binary_mode(std::FILE* f) {
#ifdef _WIN32
    return _setmode(_fileno(f), _O_BINARY) != -1;
#else
    return f != nullptr;
#endif
}

bool close_file(file_ptr& f) {
    if (!f) {
        return false;
    }
    const bool flushed = std::fflush(f.get()) == 0 && std::ferror(f.get()) == 0;
    const bool closed = std::fclose(f.release()) == 0;
    return flushed && closed;
}

bool seek_to(std::FILE* f, std::int64_t offset) {
    if (offset < 0) {
        return false;
    }
#ifdef _WIN32
    return _fseeki64(f, offset, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::optional<std::int64_t> tell(std::FILE* f) {
#ifdef _WIN32
    const std::int64_t pos = _ftelli64(f);
#else
    const std::int64_t pos = ftello(f);
#endif
    if (pos < 0) {
        return std::nullopt;
    }
    return pos;
}

std::optional<std::int64_t> file_size(std::FILE* f) {
#ifdef _WIN32
    const bool at_end = _fseeki64(f, 0, SEEK_END) == 0;
#else
    const bool at_end = fseeko(f, 0, SEEK_END) == 0;
#endif
    if (!at_end) {
        return std::nullopt;
    }
    const auto size = tell(f);
    if (!seek_to(f, 0)) {
        return std::nullopt;
    }
    return size;
}

bool read_exact(std::FILE* f, std::span<std::uint8_t> dst) {
    // An empty span may carry a null pointer, which fread must not be given.
    if (dst.empty()) {
        return true;
    }
    return std::fread(dst.data(), 1, dst.size(), f) == dst.size();
}

bool write_all(std::FILE* f, std::span<const std::uint8_t> src) {
    if (src.empty()) {
        return std::ferror(f) == 0;
    }
    return std::fwrite(src.data(), 1, src.size(), f) == src.size();
}

}  // namespace common
