#include "cutter.hpp"

#include "chunk_text.hpp"
#include "cli.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "message_blocks.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <memory>
#include <vector>

namespace cutter {

namespace {

// The characters a warning about unmapped ones names; "..." stands for more.
constexpr std::size_t shown_characters = 5;

// An empty string has no chunk file: one left by an earlier run would be
// packed as if the string still held its old text. True when one was removed.
bool remove_outdated_chunk(const std::string& fname) {
    switch (common::remove_file(fname)) {
    case common::remove_result::absent:
        return false;
    case common::remove_result::failed:
        throw common::fatal_error("Can't remove " + fname + ".");
    case common::remove_result::removed:
        break;
    }
    return true;
}

constexpr std::string_view usage_text = "usage: cutter rumomsg.dll fontfile";

// One string of a message block, made ready before any file is touched.
struct prepared_chunk {
    std::string name;                  // its chunk file's name
    std::size_t size = 0;              // the string's length in bytes; 0: an empty string
    std::vector<std::uint8_t> stream;  // the chunk file's bytes
    std::uint64_t unmapped = 0;        // code units without a mapping, replaced
    std::vector<std::uint32_t> unmapped_characters;  // the first few of them, as code points
};

// Compresses `text` (the text and its NUL) with `state` and returns the
// stream. Throws common::fatal_error "<filename>: the compressed text is
// longer than 8000 bytes." when it would not fit the compressed buffer.
std::vector<std::uint8_t> compress_script(const std::string& filename, std::span<const std::uint8_t> text,
                                          palm::lz77_state& state) {
    // The stream is made in a scratch buffer and kept at its own size: a run
    // holds all 576 streams at once, and full-size buffers would cost memory
    // that has to be zeroed and paged in.
    std::array<std::uint8_t, compressed_buffer_size> lz77buf;
    const palm::lz77_result lz = palm::lz77_compress(state, text, lz77buf);
    if (lz.status != palm::lz77_status::ok) {
        throw common::fatal_error(filename + ": the compressed text is longer than " +
                                  std::to_string(compressed_buffer_size) + " bytes.");
    }
    return {lz77buf.begin(), lz77buf.begin() + static_cast<std::ptrdiff_t>(lz.size)};
}

// Writes `stream` as the file `filename` in the current directory. Whatever
// stands at that name but a folder is replaced, never opened or followed; a
// file that already holds exactly the stream is left untouched, modification
// time included, and false is returned. The stream is written under a
// temporary name and renamed only when complete, so the file is never
// half-written. Throws common::fatal_error
//  - "Can't open <filename>." when the file cannot be created (a folder has
//    its name);
//  - "Can't write <filename>." when a write, the close or the rename fails,
//    or "<filename>: in use by another program; the old file is kept" when
//    another program holds it open (Windows); then an older file of that
//    name stays as it was.
bool write_chunk_file(const std::string& filename, std::span<const std::uint8_t> stream) {
    // A file that already holds the stream keeps its time stamp, so that a
    // rerun is cheap and a build tool sees only the chunks that changed.
    if (common::holds_exactly(filename, stream)) {
        return false;
    }
    common::atomic_file f;
    if (!f.create(filename)) {
        throw common::fatal_error("Can't open " + filename + ".");
    }
    if (!common::write_all(f.get(), stream) || !f.commit()) {
        if (f.busy()) {
            throw common::fatal_error(filename + ": in use by another program; the old file is kept");
        }
        throw common::fatal_error("Can't write " + filename + ".");
    }
    return true;
}

// Makes the 16 strings of block `id` (one of palm::text_name) of `library`
// ready: finds the block with palm::open_message, reads its strings in
// sequence, and appends one prepared_chunk per string to `chunks`, with the
// text converted through `table`, reflowed and compressed with `state`, the
// run's encoder record. Writes nothing and prints nothing. Returns 0. Throws
// common::fatal_error
//  - whatever palm::open_message, read_string_length and read_string_text
//    throw;
//  - a line naming the chunk when its text with its NUL exceeds
//    palm::text_buffer_size bytes or its stream `compressed_buffer_size`
//    bytes (that chunk has been appended with its name and size).
int convert(const common::byte_source& library, const palm::resource_list& r, std::string_view id,
            palm::sjis_table& table, palm::lz77_state& state, std::vector<prepared_chunk>& chunks) {
    palm::message_block mb = palm::open_message(library, r, id);
    const int number = palm::block_number(id);
    std::array<std::uint8_t, palm::text_buffer_size> txtbuf;
    std::vector<std::uint8_t> block;
    for (int i = 0; i < palm::strings_per_block; ++i) {
        const std::size_t size = palm::read_string_length(mb, i);
        prepared_chunk& chunk = chunks.emplace_back();
        chunk.name = palm::chunk_name(id, i);
        chunk.size = size;
        if (size == 0) {
            continue;
        }
        block.resize(size);  // every byte is read into it
        palm::read_string_text(mb, i, block);
        table.unmapped = 0;
        const std::size_t buflen = palm::make_chunk_text(table, block, number, i, txtbuf);
        if (buflen == 0) {
            throw common::fatal_error(chunk.name + ": the text is longer than " +
                                      std::to_string(palm::text_buffer_size) + " bytes.");
        }
        chunk.unmapped = table.unmapped;
        if (chunk.unmapped != 0) {
            chunk.unmapped_characters = palm::unmapped_characters(table, block, shown_characters + 1);
        }
        chunk.stream = compress_script(chunk.name, std::span(txtbuf).first(buflen), state);
    }
    return 0;
}

// Prints the lines of a prepared chunk of a non-empty string on `out`: the
// progress line "<chunk> (size = <bytes>)" unless `quiet`, and, when
// characters had no mapping, the warning "<chunk>: characters without a
// mapping in the font file replaced: <count> (U+00E9, U+4E02)", which names
// the first few.
void print_chunk_lines(std::FILE* out, const prepared_chunk& chunk, bool quiet) {
    if (!quiet) {
        std::fprintf(out, "%s (size = %d)\n", chunk.name.c_str(), static_cast<int>(chunk.size));
    }
    if (chunk.unmapped == 0) {
        return;
    }
    std::string units;
    for (std::size_t i = 0; i < chunk.unmapped_characters.size(); ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(chunk.unmapped_characters[i]));
        units += (i == 0 ? "" : ", ") + std::string(i < shown_characters ? text : "...");
    }
    std::fprintf(out, "%s: characters without a mapping in the font file replaced: %llu (%s)\n", chunk.name.c_str(),
                 static_cast<unsigned long long>(chunk.unmapped), units.c_str());
}

constexpr std::string_view help_text =
    "cutter: turn a Windows title's message library into compressed chunk files\n"
    "\n"
    "usage: cutter rumomsg.dll fontfile\n"
    "\n"
    "  rumomsg.dll  the message library, a PE DLL read as a plain file\n"
    "  fontfile     the code table from Unicode to EUC-JP (big-endian pairs from U+0391)\n"
    "  -q, --quiet  no progress lines: only warnings, errors and the closing line\n"
    "  --strict     every warning is fatal: exit status 1, no file written\n"
    "  -h, --help   this text\n"
    "  --version    the program's version\n"
    "Options come before the two files.\n"
    "\n"
    "Makes every string of the message blocks 0x7 to 0x2a ready, then writes one\n"
    "chunk file per non-empty string into the current folder, named\n"
    "<block>_<index>.txt (0x1d_03.txt), leaves files that already hold their\n"
    "stream untouched and removes those of strings that are empty now; a library\n"
    "it cannot read to its end leaves the folder as it was. Progress lines,\n"
    "warnings, errors and a closing count go to standard error.\n";

}  // namespace

void put_compress_script(const std::string& filename, std::span<const std::uint8_t> text, palm::lz77_state& state) {
    write_chunk_file(filename, compress_script(filename, text, state));
}

int cutter_main(int argc, char** argv) {
    if (argc == 2 && common::answer_help_or_version(argv[1], "cutter", help_text)) {
        return 0;
    }
    common::run_options options;
    const int first = common::read_run_options(argc, argv, options);
    const bool quiet = options.quiet;
    const bool strict = options.strict;
    // An option where a file belongs ("cutter -x font.bin", "cutter --help
    // extra") is no file to open; "./-x" names a file that begins with "-".
    if (argc - first != 2 || std::string_view(argv[first]).starts_with("-") ||
        std::string_view(argv[first + 1]).starts_with("-")) {
        throw common::fatal_error(std::string(usage_text));
    }
    const std::string library = argv[first];
    const std::string fontfile = argv[first + 1];
    // The strings are read one after another: in large pieces, not 4 KiB.
    // The buffer outlives the stream that uses it (declared first).
    std::vector<char> read_buffer(256 * 1024);
    common::file_ptr fp = common::open_read_regular(library);
    const auto source = common::byte_source::of_file(fp.get());
    if (!source) {
        throw common::fatal_error("Can't open " + common::shown(library) + ".");
    }
    std::setvbuf(fp.get(), read_buffer.data(), _IOFBF, read_buffer.size());
    palm::resource_list rlist;
    common::name_input(library, [&] { palm::scan_dll(*source, rlist); });
    palm::sjis_table table;
    palm::make_u2e_table(table, fontfile);
    std::size_t warnings = 0;
    if (!palm::maps_any(table)) {
        std::fprintf(stderr, "%s: the font file maps no character: every character from U+0100 on becomes the geta "
                             "mark\n", common::shown(fontfile).c_str());
        ++warnings;
    }

    // Every string made ready first: a library that stops the run leaves the
    // folder as it was. The lines of the strings made ready come out all the
    // same, in their order, ahead of the line that ends the run.
    // One encoder record for the whole run, value-initialised: the chunk
    // files then come out the same whatever ran before in the process.
    auto state = std::make_unique<palm::lz77_state>();
    std::vector<prepared_chunk> chunks;
    chunks.reserve(palm::text_name.size() * palm::strings_per_block);
    const auto print_all_lines = [&] {
        for (const prepared_chunk& c : chunks) {
            if (c.size != 0) {
                print_chunk_lines(stderr, c, quiet);
            }
        }
    };
    try {
        for (const std::string_view id : palm::text_name) {
            common::name_input(library, [&] { return convert(*source, rlist, id, table, *state, chunks); });
        }
    } catch (const common::fatal_error&) {
        print_all_lines();
        throw;
    }
    const auto with_unmapped = static_cast<std::size_t>(
        std::count_if(chunks.begin(), chunks.end(), [](const prepared_chunk& c) { return c.unmapped != 0; }));
    warnings += with_unmapped;
    if (strict && warnings != 0) {
        print_all_lines();
        throw common::fatal_error("--strict: " + common::count_text(warnings, "warning") +
                                  "; no chunk file was written or removed");
    }

    std::size_t files = 0;
    std::size_t written = 0;
    std::size_t removed = 0;
    for (const prepared_chunk& c : chunks) {
        if (c.size == 0) {
            if (remove_outdated_chunk(c.name)) {
                ++removed;
                if (!quiet) {
                    std::fprintf(stderr, "%s removed (the string is empty)\n", c.name.c_str());
                }
            }
            continue;
        }
        print_chunk_lines(stderr, c, quiet);
        ++files;
        written += write_chunk_file(c.name, c.stream) ? 1 : 0;
    }
    std::fprintf(stderr, "%s: %zu written, %zu unchanged, %zu removed; %zu with unmapped characters\n",
                 common::count_text(files, "chunk file").c_str(), written, files - written, removed, with_unmapped);
    return 0;
}

}  // namespace cutter
