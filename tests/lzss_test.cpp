#include "lzss.hpp"
#include "lz77_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using palm::lz77_decode_status;
using palm::lz77_status;

std::unique_ptr<palm::lz77_state> fresh_state() {
    return std::make_unique<palm::lz77_state>();
}

// Compresses with ample room and checks that the whole stream fit.
bytes encode(palm::lz77_state& st, const bytes& in) {
    bytes out(palm::lz77_max_compressed_size(in.size()) + 16);
    const auto res = palm::lz77_compress(st, in, out);
    EXPECT_EQ(res.status, lz77_status::ok);
    out.resize(res.size);
    return out;
}

bytes decode_ok(const bytes& stream, std::size_t max_size = 1 << 24) {
    auto dec = palm::lz77_decompress(stream, max_size);
    EXPECT_EQ(dec.status, lz77_decode_status::ok);
    return std::move(dec.bytes);
}

bytes repeat(std::size_t n, std::uint8_t b) { return bytes(n, b); }

bytes counting(std::uint8_t from, std::uint8_t to) {
    bytes v;
    for (int b = from; b <= to; ++b) {
        v.push_back(static_cast<std::uint8_t>(b));
    }
    return v;
}

bytes concat(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    bytes v(n);
    for (auto& b : v) {
        b = static_cast<std::uint8_t>(gen());
    }
    return v;
}

// Shift_JIS-like prose: words of two-byte kana and kanji from a small
// vocabulary with a skewed choice, ASCII punctuation and line breaks.
bytes text_like(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<bytes> words(300);
    for (auto& w : words) {
        const int chars = 1 + static_cast<int>(gen() % 5);
        for (int c = 0; c < chars; ++c) {
            const int lead = 0x82 + static_cast<int>(gen() % 8);
            w.push_back(static_cast<std::uint8_t>(lead));
            w.push_back(static_cast<std::uint8_t>(0x40 + gen() % 0xBC));
        }
    }
    std::geometric_distribution<std::size_t> pick(0.03);
    bytes v;
    while (v.size() < n) {
        const bytes& w = words[pick(gen) % words.size()];
        v.insert(v.end(), w.begin(), w.end());
        switch (gen() % 12) {
        case 0: v.push_back(0x0A); break;
        case 1: v.insert(v.end(), {0x81, 0x42}); break;
        case 2: v.push_back(0x20); break;
        default: break;
        }
    }
    v.resize(n);
    return v;
}

// Bytes 1 to 255 in which no three consecutive bytes occur twice, so no match
// of 3 or more is ever found, whatever the window holds.
bytes without_repeats(std::size_t n) {
    std::set<std::tuple<int, int, int>> seen;
    bytes v{1, 1};
    while (v.size() < n) {
        const int a = v[v.size() - 2];
        const int b = v[v.size() - 1];
        int c = 255;
        while (c > 0 && seen.contains({a, b, c})) {
            --c;
        }
        if (c == 0) {
            ADD_FAILURE() << "ran out of fresh triples";
            break;
        }
        seen.insert({a, b, c});
        v.push_back(static_cast<std::uint8_t>(c));
    }
    v.resize(n);
    return v;
}

// ---- Streams the handheld decodes: every byte fixed, from a fresh state ----

struct stream_case {
    const char* name;
    bytes input;
    bytes stream;
};

class FreshStream : public testing::TestWithParam<stream_case> {};

TEST_P(FreshStream, IsByteExact) {
    const auto& c = GetParam();
    auto st = fresh_state();
    EXPECT_EQ(encode(*st, c.input), c.stream);
    EXPECT_EQ(decode_ok(c.stream), c.input);
}

INSTANTIATE_TEST_SUITE_P(
    Lz77, FreshStream,
    testing::Values(
        stream_case{"empty", {}, {}},
        stream_case{"one_zero", {0x00}, {0x80, 0x00}},
        stream_case{"three_A_stay_literals", repeat(3, 0x41), {0xE0, 0x41, 0x41, 0x41}},
        stream_case{"three_zeros_match_zero_ring", repeat(3, 0), {0x00, 0xC0, 0xFD}},
        stream_case{"zeros_18", repeat(18, 0), {0x00, 0xCF, 0xFD}},
        stream_case{"zeros_19", repeat(19, 0), {0x40, 0xCF, 0xFD, 0x00}},
        stream_case{"zeros_20", repeat(20, 0), {0x60, 0xCF, 0xFD, 0x00, 0x00}},
        stream_case{"overlapping_match",
                    {0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x00},
                    {0xD0, 0x41, 0x42, 0xE3, 0xFE, 0x00}},
        stream_case{"one_full_group", counting(1, 8), concat({0xFF}, counting(1, 8))},
        stream_case{"second_group_of_one", counting(1, 9), concat(concat({0xFF}, counting(1, 8)), {0x80, 0x09})},
        stream_case{"three_groups", counting(1, 20),
                    concat(concat(concat({0xFF}, counting(1, 8)), concat({0xFF}, counting(9, 16))),
                           concat({0xF0}, counting(17, 20)))},
        stream_case{"hundred_A",
                    repeat(100, 0x41),
                    {0x80, 0x41, 0xEF, 0xFE, 0x0F, 0x00, 0x2F, 0x01, 0x4F, 0x02, 0x6F, 0x03, 0x06, 0x04}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Round trips ----

struct input_case {
    const char* name;
    bytes input;
};

class RoundTrip : public testing::TestWithParam<input_case> {};

TEST_P(RoundTrip, DecodesToInputWithinBound) {
    const bytes& in = GetParam().input;
    auto st = fresh_state();
    const bytes stream = encode(*st, in);
    EXPECT_LE(stream.size(), palm::lz77_max_compressed_size(in.size()));
    EXPECT_EQ(decode_ok(stream), in);
}

// The same inputs one after another on one state, as a run of chunks is
// coded: whatever an earlier call left behind, each stream decodes alone.
TEST(Lz77RoundTrip, ConsecutiveCallsOnOneState) {
    auto st = fresh_state();
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const std::size_t n = 1 + (seed * 977) % 9000;
        const bytes in = seed % 3 == 0 ? random_bytes(n, seed) : text_like(n, seed);
        EXPECT_EQ(decode_ok(encode(*st, in)), in) << "call " << seed;
        const bytes tail = repeat(seed % 20, static_cast<std::uint8_t>(seed % 2));
        EXPECT_EQ(decode_ok(encode(*st, tail)), tail) << "short call " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lz77, RoundTrip,
    testing::Values(input_case{"random_short", random_bytes(37, 1)},
                    input_case{"random_long", random_bytes(20000, 2)},
                    input_case{"text_chunk", text_like(3000, 3)},
                    input_case{"text_long", text_like(60000, 4)},
                    input_case{"zeros_long", repeat(10000, 0)},
                    input_case{"one_byte_run", repeat(9000, 0x81)},
                    input_case{"short_period", [] {
                                   bytes v;
                                   for (int i = 0; i < 12000; ++i) {
                                       v.push_back(static_cast<std::uint8_t>("\x82\xA0\x82\xA2\n"[i % 5]));
                                   }
                                   return v;
                               }()},
                    // Repeats farther apart than the window reaches.
                    input_case{"period_beyond_window", [] {
                                   const bytes block = random_bytes(4100, 5);
                                   return concat(concat(block, block), block);
                               }()},
                    input_case{"period_at_window_edge", [] {
                                   const bytes block = random_bytes(4077, 6);
                                   return concat(concat(block, block), block);
                               }()}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Output room ----

// Input with no match of 3 bytes reaches n + ceil(n/8); 7111 bytes are the
// most an 8000-byte buffer always holds.
TEST(Lz77Bound, IncompressibleInputReachesBound) {
    for (const std::size_t n : {1u, 7u, 8u, 9u, 4096u, 7111u, 7112u, 9000u}) {
        const bytes in = without_repeats(n);
        auto st = fresh_state();
        const bytes stream = encode(*st, in);
        EXPECT_EQ(stream.size(), palm::lz77_max_compressed_size(n)) << n;
        EXPECT_EQ(decode_ok(stream), in) << n;
    }
    EXPECT_EQ(palm::lz77_max_compressed_size(7111), 8000u);
    EXPECT_EQ(palm::lz77_max_compressed_size(7112), 8001u);
}

// A stream that does not fit is reported, its first bytes are written and
// nothing beyond the room; the state moves on exactly as with enough room.
TEST(Lz77Bound, OverflowIsReportedAndStateStaysInStep) {
    const bytes in = concat(without_repeats(7112), text_like(30, 9));
    auto roomy = fresh_state();
    const bytes full = encode(*roomy, in);
    for (const std::size_t room : {std::size_t{0}, std::size_t{1}, std::size_t{8000}, full.size() - 1}) {
        auto tight = fresh_state();
        bytes dst(room + 4, 0xEE);
        const auto res = palm::lz77_compress(*tight, in, std::span(dst).first(room));
        EXPECT_EQ(res.status, lz77_status::overflow) << room;
        EXPECT_EQ(res.size, full.size()) << room;
        EXPECT_TRUE(std::equal(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(room), dst.begin()));
        EXPECT_EQ(bytes(dst.end() - 4, dst.end()), repeat(4, 0xEE)) << "wrote past the room " << room;
        EXPECT_EQ(tight->text, roomy->text) << room;
    }
    auto exact = fresh_state();
    bytes dst(full.size());
    const auto res = palm::lz77_compress(*exact, in, dst);
    EXPECT_EQ(res.status, lz77_status::ok);
    EXPECT_EQ(dst, full);
}

// ---- Bytes carried from one call to the next ----

// Ring positions 4078 to 4112 keep what the previous call stored. A short
// input compares beyond its look-ahead and may then name another, equally long
// match: same length, same decoded text, other position bytes.
TEST(Lz77CarriedState, LeftoverBytesMoveFinalMatchOnly) {
    auto st = fresh_state();
    const bytes zeros = repeat(3, 0);
    const bytes first = encode(*st, zeros);
    EXPECT_EQ(first, (bytes{0x00, 0xC0, 0xFD}));
    encode(*st, text_like(5000, 11));
    const bytes again = encode(*st, zeros);
    EXPECT_EQ(again, (bytes{0x00, 0xD0, 0xFE}));
    EXPECT_EQ(decode_ok(again), zeros);

    // Longer inputs: only position bytes may differ, never flags or lengths.
    const bytes tail = concat(text_like(200, 12), repeat(10, 0));
    auto fresh = fresh_state();
    const bytes clean = encode(*fresh, tail);
    const bytes carried = encode(*st, tail);
    EXPECT_EQ(clean.size(), carried.size());
    EXPECT_EQ(decode_ok(carried), tail);
}

// The plain reference encoder and ours, both from a fresh start, are given the
// same inputs in the same order and must write the same streams: short inputs
// that read what earlier calls left in the ring, text, random bytes, runs that
// end in other bytes, short periods, and inputs of several hundred KB.
TEST(Lz77Reference, SameStreamsAcrossASequence) {
    std::vector<bytes> inputs;
    for (std::uint32_t seed = 1; seed <= 72; ++seed) {
        const auto b = static_cast<std::uint8_t>(seed % 3 == 0 ? 0 : 0x81);
        switch (seed % 6) {
        case 0: inputs.push_back(random_bytes(seed * 37 % 5000, seed)); break;
        case 1: inputs.push_back(repeat(seed % 25, static_cast<std::uint8_t>(seed % 3))); break;
        case 2: inputs.push_back(concat(text_like(seed * 13, seed), repeat(seed % 7, 0))); break;
        case 3: inputs.push_back(text_like(1000 + seed * 151 % 7000, seed)); break;
        case 4:
            inputs.push_back(concat(concat(repeat(seed * 97 % 5000, b), text_like(40, seed)), repeat(seed * 31 % 90, b)));
            break;
        default: {
            const bytes unit = text_like(1 + seed % 40, seed);
            bytes v;
            while (v.size() < 9000) {
                v.insert(v.end(), unit.begin(), unit.end());
            }
            inputs.push_back(v);
            break;
        }
        }
    }
    // Inputs of 19 to 35 bytes reach ring position 0 only after they have run
    // out, when the copies of positions 0 to 16 still hold the previous call's
    // bytes.
    for (std::uint32_t n = 19; n <= 35; ++n) {
        bytes bits = random_bytes(5000, n);
        for (auto& b : bits) {
            b &= 1;
        }
        inputs.push_back(bits);
        bytes nearly_zero(n, 0);
        nearly_zero[n % 8] = 1;
        inputs.push_back(nearly_zero);
    }
    inputs.push_back(text_like(300000, 7));
    inputs.push_back(random_bytes(200000, 8));
    inputs.push_back(repeat(100000, 0));
    inputs.push_back(repeat(70000, 0x81));
    inputs.push_back(repeat(5, 0));

    lz77_reference::reset();
    auto st = fresh_state();
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const bytes& in = inputs[k];
        bytes reference(palm::lz77_max_compressed_size(in.size()));
        reference.resize(lz77_reference::compress(in, reference));
        ASSERT_EQ(encode(*st, in), reference) << "call " << k << ", " << in.size() << " bytes";
    }
}

// ---- Decoder on damaged or hostile streams ----

struct damaged_case {
    const char* name;
    bytes stream;
    std::size_t max_size;
    lz77_decode_status status;
    bytes text;
};

class Decode : public testing::TestWithParam<damaged_case> {};

TEST_P(Decode, StopsWithStatus) {
    const auto& c = GetParam();
    const auto dec = palm::lz77_decompress(c.stream, c.max_size);
    EXPECT_EQ(dec.status, c.status);
    EXPECT_EQ(dec.bytes, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Lz77, Decode,
    testing::Values(
        damaged_case{"flag_byte_only", {0x80}, 100, lz77_decode_status::ok, {}},
        damaged_case{"fewer_items_than_flags", {0xFF, 0x41, 0x42}, 100, lz77_decode_status::ok, {0x41, 0x42}},
        damaged_case{"match_cut_after_first_byte", {0x80, 0x41, 0xC0}, 100, lz77_decode_status::truncated_match,
                     {0x41}},
        damaged_case{"exactly_at_limit", {0x00, 0xCF, 0xFD}, 18, lz77_decode_status::ok, repeat(18, 0)},
        damaged_case{"match_beyond_limit", {0x00, 0xCF, 0xFD}, 17, lz77_decode_status::too_long, repeat(17, 0)},
        damaged_case{"literal_beyond_limit", {0xC0, 0x41, 0x42}, 1, lz77_decode_status::too_long, {0x41}},
        damaged_case{"zero_limit", {0x80, 0x41}, 0, lz77_decode_status::too_long, {}},
        // Ring positions not yet written read as zero; position 4095 wraps to 0.
        damaged_case{"match_on_unwritten_ring", {0x00, 0xF0, 0xFF}, 100, lz77_decode_status::ok, repeat(3, 0)},
        // 18 literals fill positions 4078 to 4095; a match at 4095 then reads
        // on from position 0, which it has just written.
        damaged_case{"match_wraps_ring_end",
                     concat(concat(concat({0xFF}, counting(1, 8)), concat({0xFF}, counting(9, 16))),
                            {0xC0, 17, 18, 0xF0, 0xFF}),
                     100, lz77_decode_status::ok, concat(counting(1, 18), {18, 18, 18})}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
