// Compress-then-decompress on one encoder state over several calls, as a run
// of chunks is coded: every stream must equal the plain reference encoder's
// for the same calls, decode alone to its input, stay within the size bound,
// and a call with too little room must report it, write only the room, and
// leave the state as a call with enough room does.
#include "lzss.hpp"
#include "lz77_reference.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool same_state(const palm::lz77_state& a, const palm::lz77_state& b) {
    return a.text == b.text && a.lson == b.lson && a.rson == b.rson && a.dad == b.dad;
}

void round_trip(palm::lz77_state& st, std::span<const std::uint8_t> in) {
    // A copy of the state for the call with too little room.
    auto tight_state = std::make_unique<palm::lz77_state>(st);

    std::vector<std::uint8_t> out(palm::lz77_max_compressed_size(in.size()));
    const auto res = palm::lz77_compress(st, in, out);
    check(res.status == palm::lz77_status::ok);
    check(res.size <= out.size());
    out.resize(res.size);
    check(in.empty() == out.empty());

    std::vector<std::uint8_t> reference(palm::lz77_max_compressed_size(in.size()));
    reference.resize(lz77_reference::compress(in, reference));
    check(out == reference);

    const auto dec = palm::lz77_decompress(out, in.size());
    check(dec.status == palm::lz77_decode_status::ok);
    check(std::equal(dec.bytes.begin(), dec.bytes.end(), in.begin(), in.end()));

    if (!out.empty()) {
        const std::size_t room = out.size() / 2;
        std::vector<std::uint8_t> tight(room + 1, 0xA5);
        const auto cut = palm::lz77_compress(*tight_state, in, std::span(tight).first(room));
        check(cut.status == palm::lz77_status::overflow && cut.size == out.size());
        check(std::equal(tight.begin(), tight.begin() + static_cast<std::ptrdiff_t>(room), out.begin()));
        check(tight[room] == 0xA5);
        check(same_state(*tight_state, st));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte chooses how many calls share the state; the rest is cut
    // into that many pieces, and the first piece is coded once more at the
    // end, after the others have left their bytes behind.
    if (size < 1) {
        return 0;
    }
    const std::size_t calls = 1 + data[0] % 4;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    auto st = std::make_unique<palm::lz77_state>();
    lz77_reference::reset();
    const std::size_t piece = rest.size() / calls;
    for (std::size_t k = 0; k < calls; ++k) {
        const std::size_t len = k + 1 == calls ? rest.size() - k * piece : piece;
        round_trip(*st, rest.subspan(k * piece, len));
    }
    round_trip(*st, rest.first(piece));
    return 0;
}
