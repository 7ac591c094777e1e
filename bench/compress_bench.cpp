// Encoder throughput in MB/s of input, ours next to the plain reference
// encoder on the same inputs in the same run. Before timing, both must write
// identical streams for every input, called in the same order from a fresh
// start.
//
// The inputs, one kind per benchmark: dialogue-like Shift_JIS text of 1 MiB;
// 1000 cutter-sized texts of 100 to 4000 bytes, each ending in its NUL,
// compressed one after another on one state; random bytes; one repeated
// byte; zero bytes (1 MiB each).
//
// Two more modes, used by bench/run.sh:
//   compress_bench --paired[=ROUNDS]  per kind, ROUNDS rounds (default 11) in
//       which both encoders compress the kind's inputs back to back, in
//       alternating order, timed in CPU time; prints one tab-separated line
//       per round: the kind, the reference's time divided by ours, our MB/s
//       and the reference's MB/s.
//   compress_bench --write_inputs=DIR  writes every kind's inputs as files,
//       DIR/<kind>/0000.bin and on, for the whole-process drivers.
#include "lzss.hpp"
#include "lz77_reference.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
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
class sjis_source {
public:
    explicit sjis_source(std::uint32_t seed) : gen_(seed), words_(2000) {
        for (auto& w : words_) {
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
    }

    std::uint32_t below(std::uint32_t k) { return gen_() % k; }

    bytes text(std::size_t n) {
        static constexpr std::string_view names[] = {"Mika", "Toru", "Rena", "Kei"};
        bytes v;
        while (v.size() < n) {
            // Zipf-like: small indexes far more often.
            const double u = std::uniform_real_distribution<double>(0.0, 1.0)(gen_);
            const auto idx = static_cast<std::size_t>(static_cast<double>(words_.size()) * u * u * u);
            v.insert(v.end(), words_[idx].begin(), words_[idx].end());
            switch (below(24)) {
            case 0: case 1: case 2: put2(v, 0x81, 0x41); break;  // comma
            case 3: case 4: put2(v, 0x81, 0x42); break;           // full stop
            case 5: put2(v, 0x81, in_quote_ ? 0x76 : 0x75); in_quote_ = !in_quote_; break;
            case 6: v.push_back(0x0A); break;
            case 7: put2(v, 0x81, 0x40); break;
            case 8: {
                const std::string_view name = names[below(4)];
                v.insert(v.end(), name.begin(), name.end());
                break;
            }
            default: break;
            }
        }
        v.resize(n);
        return v;
    }

private:
    std::mt19937 gen_;
    std::vector<bytes> words_;
    bool in_quote_ = false;
};

bytes random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    bytes v(n);
    for (auto& b : v) {
        b = static_cast<std::uint8_t>(gen());
    }
    return v;
}

// One kind of input: texts compressed one after another on one state.
struct input_set {
    std::string name;
    std::vector<bytes> texts;
    std::size_t total = 0;
};

std::vector<input_set> make_inputs() {
    constexpr std::size_t mib = 1 << 20;
    std::vector<input_set> sets;
    sets.push_back({"sjis_text_1MiB", {sjis_source(7).text(mib)}, 0});
    input_set cutter{"cutter_texts_1000", {}, 0};
    sjis_source source(11);
    for (int k = 0; k < 1000; ++k) {
        bytes t = source.text(100 + source.below(3901));
        t.back() = 0;
        cutter.texts.push_back(std::move(t));
    }
    sets.push_back(std::move(cutter));
    sets.push_back({"random_1MiB", {random_bytes(mib, 9)}, 0});
    sets.push_back({"one_byte_1MiB", {bytes(mib, 0x81)}, 0});
    sets.push_back({"zeros_1MiB", {bytes(mib, 0)}, 0});
    for (auto& s : sets) {
        for (const auto& t : s.texts) {
            s.total += t.size();
        }
    }
    return sets;
}

// Both encoders from a fresh start over every input in turn: identical streams.
bool outputs_match(const std::vector<input_set>& sets) {
    auto st = std::make_unique<palm::lz77_state>();
    lz77_reference::reset();
    for (const auto& s : sets) {
        for (const auto& t : s.texts) {
            bytes ours(palm::lz77_max_compressed_size(t.size()));
            bytes reference(ours.size());
            const auto res = palm::lz77_compress(*st, t, ours);
            const std::size_t n = lz77_reference::compress(t, reference);
            if (res.status != palm::lz77_status::ok || res.size != n ||
                !std::equal(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(n), reference.begin())) {
                std::fprintf(stderr, "streams differ on %s\n", s.name.c_str());
                return false;
            }
        }
    }
    return true;
}

// The two encoders behind one call: every text of a set in turn.
struct encoders {
    std::unique_ptr<palm::lz77_state> state = std::make_unique<palm::lz77_state>();
    bytes out = bytes(palm::lz77_max_compressed_size(1 << 20));

    std::size_t ours(const input_set& set) {
        std::size_t packed = 0;
        for (const auto& t : set.texts) {
            packed += palm::lz77_compress(*state, t, out).size;
        }
        return packed;
    }
    std::size_t reference(const input_set& set) {
        std::size_t packed = 0;
        for (const auto& t : set.texts) {
            packed += lz77_reference::compress(t, out);
        }
        return packed;
    }
};

void run_ours(benchmark::State& state, const input_set* set) {
    encoders e;
    std::size_t packed = 0;
    for (auto _ : state) {
        packed = e.ours(*set);
        benchmark::DoNotOptimize(e.out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set->total));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(set->total);
}

void run_reference(benchmark::State& state, const input_set* set) {
    encoders e;
    std::size_t packed = 0;
    for (auto _ : state) {
        packed = e.reference(*set);
        benchmark::DoNotOptimize(e.out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set->total));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(set->total);
}

// CPU seconds that `passes` passes of `f` over the set take.
template <typename F>
double cpu_seconds(int passes, F&& f) {
    const std::clock_t start = std::clock();
    for (int k = 0; k < passes; ++k) {
        benchmark::DoNotOptimize(f());
    }
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

void paired(const std::vector<input_set>& sets, int rounds) {
    encoders e;
    for (const auto& s : sets) {
        const auto ours = [&] { return e.ours(s); };
        const auto reference = [&] { return e.reference(s); };
        // Enough passes for each timing to last about 50 ms.
        const double once = cpu_seconds(1, ours);
        const int passes = std::max(1, static_cast<int>(std::ceil(0.05 / std::max(once, 1e-6))));
        const double mb = static_cast<double>(s.total) * passes / 1e6;
        for (int r = 0; r < rounds; ++r) {
            double t_ours = 0;
            double t_reference = 0;
            if (r % 2 == 0) {
                t_ours = cpu_seconds(passes, ours);
                t_reference = cpu_seconds(passes, reference);
            } else {
                t_reference = cpu_seconds(passes, reference);
                t_ours = cpu_seconds(passes, ours);
            }
            std::printf("%s\t%.4f\t%.1f\t%.1f\n", s.name.c_str(), t_reference / t_ours, mb / t_ours,
                        mb / t_reference);
        }
    }
}

bool write_inputs(const std::vector<input_set>& sets, const std::filesystem::path& dir) {
    for (const auto& s : sets) {
        std::filesystem::create_directories(dir / s.name);
        for (std::size_t k = 0; k < s.texts.size(); ++k) {
            std::string name = std::to_string(k);
            name.insert(0, 4 - std::min<std::size_t>(4, name.size()), '0');
            name += ".bin";
            std::ofstream f(dir / s.name / name, std::ios::binary);
            f.write(reinterpret_cast<const char*>(s.texts[k].data()), static_cast<std::streamsize>(s.texts[k].size()));
            if (!f.flush()) {
                std::fprintf(stderr, "cannot write %s\n", (dir / s.name / name).string().c_str());
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<input_set> sets = make_inputs();
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode.starts_with("--write_inputs=")) {
        return write_inputs(sets, mode.substr(15)) ? 0 : 1;
    }
    if (!outputs_match(sets)) {
        return 1;
    }
    if (mode.starts_with("--paired")) {
        const int rounds = mode.starts_with("--paired=") ? std::stoi(std::string(mode.substr(9))) : 11;
        paired(sets, std::max(rounds, 1));
        return 0;
    }
    for (const auto& s : sets) {
        benchmark::RegisterBenchmark(("lz77_compress/" + s.name).c_str(), run_ours, &s)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("lz77_reference/" + s.name).c_str(), run_reference, &s)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
