// Encoder throughput in MB/s of input, ours next to the plain reference
// encoder on the same inputs in the same run. Before timing, both must write
// identical streams for every input, called in the same order from a fresh
// start.
#include "compress.hpp"
#include "lz77_reference.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

void put2(bytes& v, int lead, int trail) {
    v.push_back(static_cast<std::uint8_t>(lead));
    v.push_back(static_cast<std::uint8_t>(trail));
}

// Dialogue-like Shift_JIS: words of hiragana, katakana and kanji drawn from a
// vocabulary with a Zipf-like skew, with commas, full stops, quotation
// brackets, full-width spaces, the odd ASCII name and line breaks.
bytes sjis_text(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    const auto below = [&gen](std::uint32_t k) { return gen() % k; };
    std::vector<bytes> words(2000);
    for (auto& w : words) {
        const std::uint32_t kind = below(10);
        const std::uint32_t chars = 1 + below(4);
        for (std::uint32_t c = 0; c < chars; ++c) {
            if (kind < 5) {
                put2(w, 0x82, 0x9F + static_cast<int>(below(0x53)));  // hiragana
            } else if (kind < 7) {
                put2(w, 0x83, 0x40 + static_cast<int>(below(0x3F)));  // katakana
            } else {
                const int trail = 0x40 + static_cast<int>(below(0xBC));
                put2(w, 0x88 + static_cast<int>(below(0x18)), trail == 0x7F ? 0x80 : trail);  // kanji
            }
        }
    }
    const char* names[] = {"Mika", "Toru", "Rena", "Kei"};
    bytes v;
    bool in_quote = false;
    while (v.size() < n) {
        // Zipf-like: small indexes far more often.
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(gen);
        const auto idx = static_cast<std::size_t>(static_cast<double>(words.size()) * u * u * u);
        v.insert(v.end(), words[idx].begin(), words[idx].end());
        switch (below(24)) {
        case 0: case 1: case 2: put2(v, 0x81, 0x41); break;  // comma
        case 3: case 4: put2(v, 0x81, 0x42); break;           // full stop
        case 5: put2(v, 0x81, in_quote ? 0x76 : 0x75); in_quote = !in_quote; break;
        case 6: v.push_back(0x0A); break;
        case 7: put2(v, 0x81, 0x40); break;
        case 8: {
            const std::string name = names[below(4)];
            v.insert(v.end(), name.begin(), name.end());
            break;
        }
        default: break;
        }
    }
    v.resize(n);
    return v;
}

bytes random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    bytes v(n);
    for (auto& b : v) {
        b = static_cast<std::uint8_t>(gen());
    }
    return v;
}

// One input of a benchmark: a list of chunks compressed one after another.
struct input_set {
    std::string name;
    std::vector<bytes> chunks;
    std::size_t total = 0;
};

std::vector<input_set> make_inputs() {
    std::vector<input_set> sets;
    input_set chunks{"sjis_chunks_1to8KB", {}, 0};
    std::mt19937 gen(42);
    for (std::uint32_t k = 0; k < 128; ++k) {
        chunks.chunks.push_back(sjis_text(1024 + gen() % (7 * 1024 + 1), k + 1));
    }
    sets.push_back(std::move(chunks));
    sets.push_back({"sjis_text_1MB", {sjis_text(1 << 20, 7)}, 0});
    sets.push_back({"one_byte_run_1MB", {bytes(1 << 20, 0x81)}, 0});
    sets.push_back({"random_1MB", {random_bytes(1 << 20, 9)}, 0});
    for (auto& s : sets) {
        for (const auto& c : s.chunks) {
            s.total += c.size();
        }
    }
    return sets;
}

// Both encoders from a fresh start over every input in turn: identical streams.
bool outputs_match(const std::vector<input_set>& sets) {
    auto st = std::make_unique<compress::lz77_state>();
    lz77_reference::reset();
    for (const auto& s : sets) {
        for (const auto& c : s.chunks) {
            bytes ours(compress::lz77_max_compressed_size(c.size()));
            bytes reference(ours.size());
            const auto res = compress::lz77_compress(*st, c, ours);
            const std::size_t n = lz77_reference::compress(c, reference);
            if (res.status != compress::lz77_status::ok || res.size != n ||
                !std::equal(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(n), reference.begin())) {
                std::fprintf(stderr, "streams differ on %s\n", s.name.c_str());
                return false;
            }
        }
    }
    return true;
}

void run_ours(benchmark::State& state, const input_set* set) {
    auto st = std::make_unique<compress::lz77_state>();
    bytes out(compress::lz77_max_compressed_size(1 << 20));
    std::size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& c : set->chunks) {
            packed += compress::lz77_compress(*st, c, out).size;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set->total));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(set->total);
}

void run_reference(benchmark::State& state, const input_set* set) {
    bytes out(compress::lz77_max_compressed_size(1 << 20));
    std::size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& c : set->chunks) {
            packed += lz77_reference::compress(c, out);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set->total));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(set->total);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<input_set> sets = make_inputs();
    if (!outputs_match(sets)) {
        return 1;
    }
    for (const auto& s : sets) {
        benchmark::RegisterBenchmark(("lz77_compress/" + s.name).c_str(), run_ours, &s)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("lz77_reference/" + s.name).c_str(), run_reference, &s)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
