// The whole cutter run next to the encoder alone on the same texts.
//
// A generated library holds all 36 blocks with 16 strings of 3999 code units
// each (dialogue-like Japanese with line breaks and full-width spaces, every
// character mapped by the sample font file). BM_cutter_program runs the built
// program on it in a scratch folder in memory (/dev/shm where there is one),
// emptied before each run; BM_cutter_rerun runs it again into the folder that
// already holds the same chunk files, which it leaves untouched;
// BM_encoder_alone compresses the 576 prepared texts (converted and reflowed
// beforehand) in the same order with one encoder record;
// BM_pipeline_in_memory converts, reflows and compresses the raw strings
// without touching files. The targets: the program within 1.15 times the
// encoder's time, a rerun within 1.1 times a run into an empty folder.
// `cutter_bench --paired=ROUNDS` prints both ratios per round of the three
// measured back to back (bench/run.sh uses it); without it, the Google
// Benchmark runs of the four.
#include "lzss.hpp"
#include "chunk_text.hpp"
#include "cutter.hpp"
#include "message_blocks.hpp"
#include "pe_writer.hpp"
#include "sjis.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The sample font file's table, loaded once by the fixture.
palm::sjis_table font_table;

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

const std::string font_path = PALMPORT_SOURCE_DIR "/examples/font.bin";
constexpr std::size_t units_per_string = 3999;

// Code units with a mapping in the loaded table, from `first` to `last`.
std::vector<char16_t> mapped(char16_t first, char16_t last) {
    std::vector<char16_t> out;
    for (char16_t u = first; u <= last; ++u) {
        if (palm::u2e_entry(font_table, u) != 0) {
            out.push_back(u);
        }
    }
    return out;
}

// One string: words of hiragana, katakana and kanji from a skewed vocabulary,
// punctuation, full-width spaces and line breaks.
std::u16string dialogue(std::mt19937& gen, const std::vector<std::u16string>& words) {
    std::u16string s;
    while (s.size() < units_per_string) {
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(gen);
        s += words[static_cast<std::size_t>(static_cast<double>(words.size()) * u * u * u)];
        switch (gen() % 20) {
        case 0: case 1: s += u'\x3001'; break;  // comma
        case 2: s += u'\x3002'; break;          // full stop
        case 3: s += u'\n'; break;
        case 4: s += u"\x3002\n\x3000"; break;  // end of paragraph, indent
        default: break;
        }
    }
    s.resize(units_per_string);
    return s;
}

struct fixture {
    fs::path dir;
    std::vector<bytes> strings;  // the 576 raw strings (UTF-16LE), in cutter's order
    std::vector<bytes> texts;    // the same converted and reflowed, with their NULs

    fixture() {
        palm::make_u2e_table(font_table, font_path);
        const auto hiragana = mapped(0x3041, 0x3093);
        const auto katakana = mapped(0x30A1, 0x30F3);
        const auto kanji = mapped(0x4E00, 0x7FFF);
        std::mt19937 gen(20261207);
        std::vector<std::u16string> words(2000);
        for (auto& w : words) {
            const auto& set = gen() % 10 < 5 ? hiragana : gen() % 2 ? katakana : kanji;
            for (std::uint32_t c = 1 + gen() % 4; c > 0; --c) {
                w += set[gen() % set.size()];
            }
        }
        pe::image_plan plan;
        pe::type_node type{pe::id(6), {}};
        for (std::size_t k = 0; k < palm::text_name.size(); ++k) {
            bytes data;
            for (int i = 0; i < palm::strings_per_block; ++i) {
                const std::u16string s = dialogue(gen, words);
                bytes raw;
                for (const char16_t u : s) {
                    pe::put16(raw, raw.size(), static_cast<std::uint16_t>(u));
                }
                pe::put16(data, data.size(), static_cast<std::uint16_t>(s.size()));
                data.insert(data.end(), raw.begin(), raw.end());
                bytes text(palm::text_buffer_size);
                text.resize(palm::get_script(font_table, raw, text));
                text.resize(palm::rearrange_script(text, static_cast<int>(7 + k), i));
                texts.push_back(std::move(text));
                strings.push_back(std::move(raw));
            }
            type.names.push_back({pe::id(static_cast<std::uint32_t>(7 + k)), {{pe::id(0x411), data}}});
        }
        plan.types = {type};
        std::error_code ec;
        const fs::path shm = "/dev/shm";
        dir = (fs::is_directory(shm, ec) ? shm : fs::temp_directory_path()) / "cutter_bench";
        fs::create_directories(dir);
        pe::write_file((dir / "lib.dll").string(), pe::build(plan).bytes);
    }
    ~fixture() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

fixture& data() {
    static fixture f;
    return f;
}

// Runs the built cutter once in the fixture's folder, its standard error
// thrown away, started directly rather than through a shell so that only
// cutter is timed. True when it ended with exit status 0.
bool run_cutter(const fixture& f) {
    const std::string folder = f.dir.string();
    std::string program = CUTTER_PROGRAM;
    std::string library = "lib.dll";
    std::string font = font_path;
    char* argv[] = {program.data(), library.data(), font.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs the program `state.iterations()` times in the fixture's folder; with
// `fresh`, the chunk files of the previous run are removed first.
void run_program(benchmark::State& state, bool fresh) {
    fixture& f = data();
    const auto clear = [&] {
        for (const auto& e : fs::directory_iterator(f.dir)) {
            if (e.path().extension() == ".txt") {
                fs::remove(e.path());
            }
        }
    };
    clear();
    if (!fresh && !run_cutter(f)) {
        state.SkipWithError("cutter failed");
        return;
    }
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            clear();
            state.ResumeTiming();
        }
        if (!run_cutter(f)) {
            state.SkipWithError("cutter failed");
            break;
        }
    }
    std::size_t in = 0;
    for (const auto& t : f.texts) {
        in += t.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in));
}

void BM_cutter_program(benchmark::State& state) {
    run_program(state, true);
}

void BM_cutter_rerun(benchmark::State& state) {
    run_program(state, false);
}

void BM_encoder_alone(benchmark::State& state) {
    const fixture& f = data();
    bytes out(cutter::compressed_buffer_size);
    std::size_t in = 0;
    for (auto _ : state) {
        auto st = std::make_unique<palm::lz77_state>();
        in = 0;
        for (const auto& t : f.texts) {
            palm::lz77_compress(*st, t, out);
            benchmark::DoNotOptimize(out.data());
            in += t.size();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in));
}

// The chunk pipeline in memory: conversion, reflow and encoder, no files.
void BM_pipeline_in_memory(benchmark::State& state) {
    const fixture& f = data();
    bytes text(palm::text_buffer_size);
    bytes out(cutter::compressed_buffer_size);
    std::size_t in = 0;
    for (auto _ : state) {
        auto st = std::make_unique<palm::lz77_state>();
        in = 0;
        for (std::size_t k = 0; k < f.strings.size(); ++k) {
            const std::size_t n = palm::get_script(font_table, f.strings[k], text);
            const std::size_t m = palm::rearrange_script(std::span(text).first(n), static_cast<int>(7 + k / 16),
                                                           static_cast<int>(k % 16));
            palm::lz77_compress(*st, std::span(text).first(m), out);
            benchmark::DoNotOptimize(out.data());
            in += m;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in));
}

double seconds_of(auto&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --paired=ROUNDS: per round, the encoder alone over the 576 texts, a run of
// the program into an empty folder and a rerun into the folder it filled, in
// turn and back to back, so that a slower moment of the machine weighs on
// all three. Prints per round: program / encoder, rerun / fresh run.
int paired(int rounds) {
    fixture& f = data();
    bytes out(cutter::compressed_buffer_size);
    const auto encoder = [&] {
        auto st = std::make_unique<palm::lz77_state>();
        for (const auto& t : f.texts) {
            palm::lz77_compress(*st, t, out);
            benchmark::DoNotOptimize(out.data());
        }
    };
    const auto clear = [&] {
        for (const auto& e : fs::directory_iterator(f.dir)) {
            if (e.path().extension() == ".txt") {
                fs::remove(e.path());
            }
        }
    };
    bool ok = true;
    const auto program = [&] { ok = run_cutter(f) && ok; };
    encoder();  // once untimed, so that code and data are in memory
    program();
    for (int r = 0; r < rounds && ok; ++r) {
        double t_encoder = 0;
        double t_fresh = 0;
        double t_rerun = 0;
        clear();
        if (r % 2 == 0) {
            t_encoder = seconds_of(encoder);
            t_fresh = seconds_of(program);
            t_rerun = seconds_of(program);
        } else {
            t_fresh = seconds_of(program);
            t_rerun = seconds_of(program);
            t_encoder = seconds_of(encoder);
        }
        std::printf("%.4f\t%.4f\n", t_fresh / t_encoder, t_rerun / t_fresh);
    }
    return ok ? 0 : 1;
}

}  // namespace

BENCHMARK(BM_pipeline_in_memory)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_cutter_program)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_cutter_rerun)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_encoder_alone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode.starts_with("--paired")) {
        return paired(mode.starts_with("--paired=") ? std::max(1, std::stoi(std::string(mode.substr(9)))) : 11);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
