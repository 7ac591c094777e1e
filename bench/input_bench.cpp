// Speed of the input side: converting message text to Shift_JIS, and
// scanning a message library's resource directory.
#include "file_io.hpp"
#include "pe_resources.hpp"
#include "sjis.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

// A message string of kana, kanji, line breaks and ASCII, as UTF-16LE bytes.
std::vector<std::uint8_t> sample_text(std::size_t units) {
    const std::uint16_t pattern[] = {0x3042, 0x6F22, 0x000A, 0x0041, 0x3000, 0x30FC, 0x4E00, 0x3002};
    std::vector<std::uint8_t> text;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint16_t u = pattern[i % std::size(pattern)];
        text.push_back(static_cast<std::uint8_t>(u));
        text.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return text;
}

void BM_put_sjis(benchmark::State& state) {
    palm::sjis_table table;
    palm::make_u2e_table(table, PALMPORT_SOURCE_DIR "/examples/font.bin");
    const auto text = sample_text(3999);
    std::array<std::uint8_t, 8000> out{};
    for (auto _ : state) {
        std::size_t n = 0;
        for (std::size_t i = 0; i < text.size(); i += 2) {
            n += static_cast<std::size_t>(palm::put_sjis(table, text[i], text[i + 1], std::span(out).subspan(n)));
        }
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_put_sjis);

void BM_scan_dll(benchmark::State& state) {
    auto f = common::open_read(PALMPORT_SOURCE_DIR "/tests/data/messages_x64.dll");
    const auto library = common::byte_source::of_file(f.get());
    const auto size = library ? library->size() : 0;
    for (auto _ : state) {
        palm::resource_list list;
        palm::scan_dll(*library, list);
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_scan_dll);

}  // namespace

BENCHMARK_MAIN();
