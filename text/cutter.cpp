#include "cutter.hpp"

#include "cli.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "unicode.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <vector>

namespace cutter {

namespace {

constexpr std::uint8_t line_break = 0x0A;
constexpr std::uint8_t space = 0x20;
constexpr std::uint8_t full_width_space[2] = {0x81, 0x40};

bool is_full_width_space(std::uint8_t first, std::uint8_t second) {
    return first == full_width_space[0] && second == full_width_space[1];
}

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

std::string chunk_name(std::string_view id, int index) {
    std::array<char, 32> fname{};
    std::snprintf(fname.data(), fname.size(), "%.*s_%02d.txt", static_cast<int>(id.size()), id.data(), index);
    return fname.data();
}

int block_number(std::string_view id) {
    int value = 0;
    const std::string_view digits = id.size() > 2 ? id.substr(2) : std::string_view{};
    std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return value;
}

std::size_t get_script(std::span<const std::uint8_t> buf, std::span<std::uint8_t> dest) {
    // Keep one byte for the NUL behind the last character.
    if (dest.empty()) {
        return 0;
    }
    const std::optional<std::size_t> out = put_sjis_units(buf, dest.first(dest.size() - 1));
    if (!out) {
        return 0;
    }
    dest[*out] = 0;
    return *out + 1;
}

bool strip_mode(int id, int block) {
    return (id == 0x1D && block == 0) || (id == 0x1C && block > 5);
}

std::size_t rearrange_script(std::span<std::uint8_t> buf, int id, int block) {
    const std::size_t size = buf.size();
    if (size < reflow_min_size) {
        return size;
    }
    const bool strip = strip_mode(id, block);
    std::size_t i = 0;
    std::size_t j = 0;
    // The last character read: its byte, -1 for a two-byte character, 0
    // before the first. `after_full_width_space` tells, when prev is -1,
    // whether that character was the full-width space.
    int prev = 0;
    bool after_full_width_space = false;
    bool flip = false;  // strip mode: the last line break read was kept
    std::uint8_t* const text = buf.data();
    while (i < size) {
        // Most characters are kept unchanged and matter to no rule: every
        // two-byte character (but the full-width space in strip mode) and
        // every one-byte character but the line break (and the space in strip
        // mode). Such a run is found first and moved in one piece.
        const std::size_t run = i;
        std::size_t last = i;
        while (i < size) {
            const std::uint8_t c = text[i];
            if (c >= 0x80) {
                if (i + 1 >= size || (strip && is_full_width_space(c, text[i + 1]))) {
                    break;
                }
                last = i;
                i += 2;
            } else if (c == line_break || (strip && c == space)) {
                break;
            } else {
                last = i;
                ++i;
            }
        }
        if (i != run) {
            // Read the run's last character before the move may overwrite it.
            if (text[last] >= 0x80) {
                prev = -1;
                after_full_width_space = is_full_width_space(text[last], text[last + 1]);
            } else {
                prev = text[last];
            }
            if (j != run) {
                std::memmove(text + j, text + run, i - run);
            }
            j += i - run;
            continue;
        }
        const std::uint8_t c = buf[i];
        if (c >= 0x80 && i + 1 < size) {
            const std::uint8_t second = buf[i + 1];
            const bool is_space = is_full_width_space(c, second);
            if (!(strip && is_space)) {
                buf[j] = c;
                buf[j + 1] = second;
                j += 2;
            }
            prev = -1;
            after_full_width_space = is_space;
            i += 2;
            continue;
        }
        if (strip && c == space) {
            prev = space;
            ++i;
            continue;
        }
        if (c == line_break) {
            bool keep = true;
            if (strip) {
                keep = !(prev == line_break && flip);
                flip = keep;
            } else if (prev == -1 && !after_full_width_space) {
                // The text ends in its NUL, so a byte follows every line break
                // but a malformed last one; the second byte is read only
                // after a first byte of 0x81, which is never the NUL.
                const std::uint8_t next = i + 1 < size ? buf[i + 1] : 0;
                const std::uint8_t after = i + 2 < size ? buf[i + 2] : 0;
                keep = is_full_width_space(next, after) || next == 'r' || next == 'w';
            }
            if (keep) {
                buf[j++] = c;
            }
            prev = line_break;
            ++i;
            continue;
        }
        buf[j++] = c;
        prev = c;
        ++i;
    }
    return j;
}

void put_compress_script(const std::string& filename, std::span<const std::uint8_t> text,
                         compress::lz77_state& state) {
    std::array<std::uint8_t, compressed_buffer_size> lz77buf;
    const compress::lz77_result lz = compress::lz77_compress(state, text, lz77buf);
    if (lz.status != compress::lz77_status::ok) {
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

const RESINFO* find_message(const RESINFO& rlist, std::string_view id) {
    const RESINFO* res = search_rlist(rlist, id, string_table_type);
    return res != nullptr ? res : search_rlist(rlist, id);
}

message_block open_message(std::FILE* fp, const RESINFO& rlist, std::string_view id) {
    const std::string name(id);
    const RESINFO* res = find_message(rlist, id);
    if (res == nullptr) {
        throw common::fatal_error("Can't find the message \"" + name + "\".");
    }
    if (!res->in_section) {
        throw common::input_error("The message \"" + name + "\" lies outside the library's resource section (offset " +
                                  std::to_string(res->offset) + ", " + std::to_string(res->size) + " bytes).");
    }
    const std::optional<std::int64_t> library_size = common::file_size(fp);
    if (!library_size) {
        throw common::input_error("Read error: the size of the library could not be found.");
    }
    if (res->offset < 0 || res->offset >= *library_size || !common::seek_to(fp, res->offset)) {
        throw common::input_error("The message \"" + name + "\" lies outside the library (offset " +
                                  std::to_string(res->offset) + ").");
    }
    return {fp, name, res->offset, std::int64_t{res->offset} + res->size, res->size, *library_size};
}

namespace {

// Reads the next `dst.size()` bytes of the block: the length or the text of
// string `index`, named by `what` in the message when they are not all there.
void read_block_bytes(message_block& block, int index, std::span<std::uint8_t> dst, const char* what) {
    const std::int64_t end = block.next + static_cast<std::int64_t>(dst.size());
    if (end > block.data_end && block.data_end <= block.file_size) {
        throw common::input_error("The message \"" + block.name + "\" ends inside the " + what + " of string " +
                                  std::to_string(index) + ": its data holds " +
                                  std::to_string(block.data_size) + " bytes.");
    }
    if (end > block.file_size || !common::read_exact(block.fp, dst)) {
        throw common::input_error("The library ends inside the message \"" + block.name + "\", in the " + what +
                                  " of string " + std::to_string(index) + ".");
    }
    block.next = end;
}

}  // namespace

std::size_t read_string_length(message_block& block, int index) {
    std::array<std::uint8_t, 2> length{};
    read_block_bytes(block, index, length, "length");
    return 2 * (std::size_t{length[1]} * 256 + length[0]);
}

void read_string_text(message_block& block, int index, std::span<std::uint8_t> units) {
    read_block_bytes(block, index, units, "text");
}

int convert(std::FILE* fp, const RESINFO& r, std::string_view id, compress::lz77_state& state) {
    message_block mb = open_message(fp, r, id);
    const int number = block_number(id);
    std::array<std::uint8_t, text_buffer_size> txtbuf;
    std::vector<std::uint8_t> block;
    for (int i = 0; i < strings_per_block; ++i) {
        const std::size_t size = read_string_length(mb, i);
        const std::string fname = chunk_name(id, i);
        if (size == 0) {
            remove_outdated_chunk(fname);
            continue;
        }
        std::fprintf(stderr, "%s (size = %d)\n", fname.c_str(), static_cast<int>(size));
        block.resize(size);  // every byte is read into it
        read_string_text(mb, i, block);
        reset_unmapped_count();
        std::size_t buflen = get_script(block, txtbuf);
        if (buflen == 0) {
            throw common::fatal_error(fname + ": the text is longer than " + std::to_string(text_buffer_size) +
                                      " bytes.");
        }
        if (const std::uint64_t unmapped = unmapped_count(); unmapped != 0) {
            std::fprintf(stderr, "%s: characters without a mapping in the font file replaced: %llu\n",
                         fname.c_str(), static_cast<unsigned long long>(unmapped));
        }
        buflen = rearrange_script(std::span(txtbuf).first(buflen), number, i);
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
    auto rlist = create_rlist();
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
    if (!fp) {
        throw common::fatal_error("Can't open " + common::shown(library) + ".");
    }
    std::setvbuf(fp.get(), read_buffer.data(), _IOFBF, read_buffer.size());
    common::name_input(library, [&] { return scan_dll(fp.get(), *rlist); });
    make_u2e_table(argv[2]);
    // One encoder record for the whole run, value-initialised: the chunk
    // files then come out the same whatever ran before in the process.
    auto state = std::make_unique<compress::lz77_state>();
    for (const std::string_view id : text_name) {
        common::name_input(library, [&] { return convert(fp.get(), *rlist, id, *state); });
    }
    return 0;
}

}  // namespace cutter
