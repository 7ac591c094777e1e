// The one bounded reader of untrusted bytes: a message library, a Palm
// database, any input whose structure points into itself. The bytes are an
// open file or a piece of memory of a known size, and every read is checked
// against that size first, so a truncated or hostile input gives a refused
// read, never a read past its end or a value that was not read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

namespace common {

class byte_source {
public:
    // Bytes in memory, which must outlive the source.
    explicit byte_source(std::span<const std::uint8_t> memory)
        : memory_(memory), size_(static_cast<std::int64_t>(memory.size())) {}

    // The bytes of the open file `f`, measured now; nothing when its size
    // cannot be found. The file must outlive the source; reads move its
    // position.
    static std::optional<byte_source> of_file(std::FILE* f);

    std::int64_t size() const { return size_; }

    // Reads the `dst.size()` bytes at `offset`. False, with `dst` not to be
    // used, when any of them lies outside the source or the read fails.
    bool read_at(std::int64_t offset, std::span<std::uint8_t> dst) const;

private:
    byte_source(std::FILE* f, std::int64_t size) : file_(f), size_(size) {}

    std::FILE* file_ = nullptr;
    std::span<const std::uint8_t> memory_;
    std::int64_t size_ = 0;
};

}  // namespace common
