#include "cutter.hpp"

#include "chunk_text.hpp"
#include "cli.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "message_blocks.hpp"

#include <array>
#include <memory>
#include <vector>

namespace cutter {

namespace {

// An empty string has no chunk file: one left by an earlier run would be
// packed as if the string still held its old text.
void remove_outdated_chunk(const std::string& fname) {
    switch (common::remove_file(fname)) {
    case common::remove_result::absent:
        return;
    case common::remove_result::failed:
        throw common::fatal_error("Can't remove " + fname + ".");
    case common::remove_result::removed:
        std::fprintf(stderr, "%s removed (the string is empty)\n", fname.c_str());
        return;
    }
}

}  // namespace

void put_compress_script(const std::string& filename, std::span<const std::uint8_t> text, palm::lz77_state& state) {
    std::array<std::uint8_t, compressed_buffer_size> lz77buf;
    const palm::lz77_result lz = palm::lz77_compress(state, text, lz77buf);
    if (lz.status != palm::lz77_status::ok) {
        throw common::fatal_error(filename + ": the compressed text is longer than " +
                                  std::to_string(compressed_buffer_size) + " bytes.");
    }
    const auto stream = std::span(lz77buf).first(lz.size);
    // A file that already holds the stream keeps its time stamp, so that a
    // rerun is cheap and a build tool sees only the chunks that changed.
    if (common::holds_exactly(filename, stream)) {
        return;
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
}

int convert(const common::byte_source& library, const palm::resource_list& r, std::string_view id,
            palm::sjis_table& table, palm::lz77_state& state) {
    palm::message_block mb = palm::open_message(library, r, id);
    const int number = palm::block_number(id);
    std::array<std::uint8_t, palm::text_buffer_size> txtbuf;
    std::vector<std::uint8_t> block;
    for (int i = 0; i < palm::strings_per_block; ++i) {
        const std::size_t size = palm::read_string_length(mb, i);
        const std::string fname = palm::chunk_name(id, i);
        if (size == 0) {
            remove_outdated_chunk(fname);
            continue;
        }
        std::fprintf(stderr, "%s (size = %d)\n", fname.c_str(), static_cast<int>(size));
        block.resize(size);  // every byte is read into it
        palm::read_string_text(mb, i, block);
        table.unmapped = 0;
        const std::size_t buflen = palm::make_chunk_text(table, block, number, i, txtbuf);
        if (buflen == 0) {
            throw common::fatal_error(fname + ": the text is longer than " + std::to_string(palm::text_buffer_size) +
                                      " bytes.");
        }
        if (table.unmapped != 0) {
            std::fprintf(stderr, "%s: characters without a mapping in the font file replaced: %llu\n",
                         fname.c_str(), static_cast<unsigned long long>(table.unmapped));
        }
        put_compress_script(fname, std::span(txtbuf).first(buflen), state);
    }
    return 0;
}

namespace {

constexpr std::string_view help_text =
    "cutter: turn a Windows title's message library into compressed chunk files\n"
    "\n"
    "usage: cutter rumomsg.dll fontfile\n"
    "\n"
    "  rumomsg.dll  the message library, a PE DLL read as a plain file\n"
    "  fontfile     the code table from Unicode to EUC-JP (big-endian pairs from U+0391)\n"
    "  -h, --help   this text\n"
    "  --version    the program's version\n"
    "\n"
    "Writes one chunk file per non-empty string of the message blocks 0x7 to 0x2a\n"
    "into the current folder, named <block>_<index>.txt (0x1d_03.txt), leaves\n"
    "files that already hold their stream untouched and removes those of strings\n"
    "that are empty now. Progress lines and errors go to standard error.\n";

}  // namespace

int cutter_main(int argc, char** argv) {
    if (argc == 2 && common::answer_help_or_version(argv[1], "cutter", help_text)) {
        return 0;
    }
    // An option where a file belongs ("cutter -x font.bin", "cutter --help
    // extra") is no file to open; "./-x" names a file that begins with "-".
    if (argc != 3 || std::string_view(argv[1]).starts_with("-") || std::string_view(argv[2]).starts_with("-")) {
        throw common::fatal_error(std::string(usage_text));
    }
    const std::string library = argv[1];
    // The strings are read one after another: in large pieces, not 4 KiB.
    // The buffer outlives the stream that uses it (declared first).
    std::vector<char> read_buffer(256 * 1024);
    common::file_ptr fp = common::open_read_regular(library);
    const auto source = fp ? common::byte_source::of_file(fp.get()) : std::nullopt;
    if (!source) {
        throw common::fatal_error("Can't open " + common::shown(library) + ".");
    }
    std::setvbuf(fp.get(), read_buffer.data(), _IOFBF, read_buffer.size());
    palm::resource_list rlist;
    common::name_input(library, [&] { palm::scan_dll(*source, rlist); });
    palm::sjis_table table;
    palm::make_u2e_table(table, argv[2]);
    // One encoder record for the whole run, value-initialised: the chunk
    // files then come out the same whatever ran before in the process.
    auto state = std::make_unique<palm::lz77_state>();
    for (const std::string_view id : palm::text_name) {
        common::name_input(library, [&] { return convert(*source, rlist, id, table, *state); });
    }
    return 0;
}

}  // namespace cutter
