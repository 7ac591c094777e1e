#include "byte_source.hpp"

#include "file_io.hpp"

#include <cstring>

namespace common {

std::optional<byte_source> byte_source::of_file(std::FILE* f) {
    const auto size = f != nullptr ? file_size(f) : std::nullopt;
    if (!size) {
        return std::nullopt;
    }
    return byte_source(f, *size);
}

bool byte_source::read_at(std::int64_t offset, std::span<std::uint8_t> dst) const {
    const auto n = static_cast<std::int64_t>(dst.size());
    if (offset < 0 || offset > size_ || n > size_ - offset) {
        return false;
    }
    if (dst.empty()) {
        return true;  // an empty span may carry a null pointer, which no copy is given
    }
    if (file_ == nullptr) {
        std::memcpy(dst.data(), memory_.data() + offset, dst.size());
        return true;
    }
    return seek_to(file_, offset) && read_exact(file_, dst);
}

}  // namespace common
