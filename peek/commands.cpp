// The commands that look inside records: --text, --extract, and the command
// line that chooses among all of them.
#include "peek.hpp"

#include "cli.hpp"
#include "lzss.hpp"
#include "record_ids.hpp"
#include "sjis.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <set>

namespace peek {

namespace {

// A stream longer than this cannot decode to `max_text_size` bytes or fewer:
// every item gives at least one byte for at most nine eighths of a byte.
constexpr std::size_t max_stream_size = palm::lz77_max_compressed_size(max_text_size) + 1;

}  // namespace

void load_font_table(palm::sjis_table& table, const std::string& fontfile) {
    try {
        palm::make_u2e_table(table, fontfile);
    } catch (const common::fatal_error&) {
        // Tell what stands at the name as for every other input; a file that
        // opens but fails while it is read keeps the table's own message.
        static_cast<void>(open_input(fontfile, "a file"));
        throw;
    }
}

decoded_chunk decode_chunk(const common::byte_source& src, const palm::pdb_index& index, std::size_t k) {
    decoded_chunk d;
    const auto length = palm::record_length(index, k);
    if (!length) {
        d.fault = "its offset lies outside the archive or behind the next record";
        return d;
    }
    if (static_cast<std::uint64_t>(*length) > max_stream_size) {
        d.fault = "its stream of " + std::to_string(*length) + " bytes would decode to more than " +
                  std::to_string(max_text_size) + " bytes";
        return d;
    }
    std::vector<std::uint8_t> stream(static_cast<std::size_t>(*length));
    if (!src.read_at(index.entries[k].offset, stream)) {
        d.fault = "its bytes cannot be read";
        return d;
    }
    auto decoded = palm::lz77_decompress(stream, max_text_size);
    d.text = std::move(decoded.bytes);
    switch (decoded.status) {
    case palm::lz77_decode_status::too_long:
        d.fault = "the stream decodes to more than " + std::to_string(max_text_size) + " bytes";
        break;
    case palm::lz77_decode_status::truncated_match:
        d.fault = "the stream ends inside a match after " + std::to_string(d.text.size()) + " bytes of text";
        break;
    case palm::lz77_decode_status::ok:
        if (d.text.empty() || d.text.back() != 0) {
            d.fault = "the text has no closing zero byte";
        }
        break;
    }
    return d;
}

namespace {

// Records holding one of cutter's chunks, in ID order (record order among
// equal IDs).
std::vector<std::size_t> chunk_records(const palm::pdb_index& index) {
    std::vector<std::size_t> ks;
    for (std::size_t k = 1; k < index.entries.size(); ++k) {
        if (palm::chunk_name_of_id(index.entries[k].uid)) {
            ks.push_back(k);
        }
    }
    std::stable_sort(ks.begin(), ks.end(),
                     [&](std::size_t a, std::size_t b) { return index.entries[a].uid < index.entries[b].uid; });
    return ks;
}

}  // namespace

void print_text(std::FILE* out, const common::byte_source& src, const palm::sjis_reader& reader) {
    const palm::pdb_index index = palm::read_index(src);
    std::vector<std::string> damaged;
    for (const std::size_t k : chunk_records(index)) {
        const std::uint32_t uid = index.entries[k].uid;
        const std::string name = *palm::chunk_name_of_id(uid);
        const decoded_chunk d = decode_chunk(src, index, k);
        std::fprintf(out, "== %s (record %zu, unique ID %" PRIu32 ")\n", name.c_str(), k, uid);
        const std::string text = reader.to_utf8(d.text);
        std::fwrite(text.data(), 1, text.size(), out);
        if (!d.fault.empty()) {
            std::fprintf(out, "%s!! damaged: %s\n", text.empty() || text.back() == '\n' ? "" : "\n", d.fault.c_str());
            damaged.push_back(name + " (record " + std::to_string(k) + ")");
        }
        std::fprintf(out, "\n\n");
    }
    if (!damaged.empty()) {
        // One line however many there are: the first ten named, the rest counted.
        constexpr std::size_t named = 10;
        std::string list;
        for (std::size_t i = 0; i < damaged.size() && i < named; ++i) {
            list += (i == 0 ? "" : ", ") + damaged[i];
        }
        if (damaged.size() > named) {
            list += " and " + std::to_string(damaged.size() - named) + " more";
        }
        throw common::input_error(common::count_text(damaged.size(), "damaged chunk") + ": " + list);
    }
}

void extract_archive(const std::string& dir, const common::byte_source& src) {
    const palm::pdb_index index = palm::read_index(src);
    if (!common::make_folders(dir)) {
        throw common::fatal_error("Can't create folder " + common::shown(dir) + ".");
    }
    // Each file is complete or absent: written under a temporary name and
    // renamed when done, replacing a link of its name rather than writing
    // through it.
    const auto write_file = [&](const std::string& name, auto&& fill) {
        const std::string path = dir + "/" + name;
        common::atomic_file f;
        if (!f.create(path)) {
            throw common::fatal_error("Can't open " + common::shown(path) + ".");
        }
        fill(f.get());
        if (!f.commit()) {
            throw common::fatal_error("Can't write " + common::shown(path) + ".");
        }
    };
    // Every record gets a name that crate gives back the same unique ID, and
    // files.lst lists them in record order, so that crate run in `dir` with
    // that list rebuilds the archive. A name already taken (an ID given
    // twice) goes into a folder of its record, keeping the name.
    std::set<std::string> taken{"index.txt", "files.lst", "size_record.bin"};
    std::string listing = "record\tunique ID\tlength\tfile\tmeaning\n";
    std::string files;
    std::vector<std::uint8_t> piece(64 * 1024);
    for (std::size_t k = 0; k < index.entries.size(); ++k) {
        const std::uint32_t uid = index.entries[k].uid;
        const auto length = palm::record_length(index, k);
        if (!length) {
            throw common::input_error("record " + std::to_string(k) + ": offset " +
                                      std::to_string(index.entries[k].offset) +
                                      " lies outside the archive or behind the next record");
        }
        std::array<std::uint8_t, 2> start{};
        const bool bitmap = *length >= 2 && src.read_at(index.entries[k].offset, start) && start[0] == 'B' &&
                            start[1] == 'M';
        std::string name = k == 0 ? "size_record.bin" : palm::file_name_of_id(uid, bitmap ? ".bmp" : ".bin");
        if (k != 0 && !taken.insert(name).second) {
            const std::string folder = "r" + std::to_string(k);
            if (!common::make_folders(dir + "/" + folder)) {
                throw common::fatal_error("Can't create folder " + common::shown(dir + "/" + folder) + ".");
            }
            name = folder + "/" + name;
        }
        write_file(name, [&](std::FILE* f) {
            std::int64_t done = 0;
            while (done < *length) {
                const auto n = static_cast<std::size_t>(std::min<std::int64_t>(*length - done, piece.size()));
                const std::span<std::uint8_t> part(piece.data(), n);
                if (!src.read_at(index.entries[k].offset + done, part)) {
                    throw common::input_error("record " + std::to_string(k) + ": cannot read its bytes");
                }
                common::write_all(f, part);
                done += static_cast<std::int64_t>(n);
            }
        });
        listing += std::to_string(k) + "\t" + std::to_string(uid) + "\t" + std::to_string(*length) + "\t" + name +
                   "\t" + palm::uid_meaning(k, uid) + "\n";
        if (k != 0) {
            files += name + "\n";
        }
    }
    write_file("files.lst", [&](std::FILE* f) {
        common::write_all(f, std::span(reinterpret_cast<const std::uint8_t*>(files.data()), files.size()));
    });
    write_file("index.txt", [&](std::FILE* f) {
        common::write_all(f, std::span(reinterpret_cast<const std::uint8_t*>(listing.data()), listing.size()));
    });
}

namespace {

constexpr std::string_view help_text =
    "peek: list, check, read, extract and verify a Palm OS database written by crate\n"
    "\n"
    "usage:\n"
    "  peek [--json] ARCHIVE                       header and record table\n"
    "  peek --check [--json] ARCHIVE               structural check; exit 0 only when sound\n"
    "  peek --text ARCHIVE FONTFILE                every chunk decoded to UTF-8, in ID order\n"
    "  peek --extract DIR ARCHIVE                  every record to a file in DIR, plus DIR/index.txt\n"
    "  peek --verify [--json] LIBRARY FONTFILE ARCHIVE\n"
    "                                              the archive holds exactly the library's text\n"
    "  peek --library [--json] LIBRARY             the 36 message blocks as cutter finds them,\n"
    "                                              and the library's other resources\n"
    "  peek -h | --help                            this text\n"
    "  peek --version                              the program's version\n"
    "\n"
    "In --text, the geta mark \xE3\x80\x93 (U+3013) stands where cutter replaced a character the\n"
    "font file has no code for; U+FFFD stands for bytes that are no character of the font table.\n"
    "Results go to standard output; errors go to standard error. Exit status: 0 sound or\n"
    "verified, 1 unsound or different, 2 could not do its work.\n"
    "A file whose name begins with '-' is named with a folder in front: ./-name.pdb.\n"
    "\n"
    "examples:\n"
    "  peek game.pdb\n"
    "  peek --check game.pdb\n"
    "  peek --text game.pdb font.bin | less\n"
    "  peek --extract records game.pdb\n"
    "  peek --verify rumomsg.dll font.bin game.pdb\n"
    "  peek --library rumomsg.dll\n";

// The results are the point of every command: output that did not reach its
// destination (a full disk, a closed pipe) is a failed run.
void flush_results() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        throw common::fatal_error("Can't write standard output.");
    }
}

// Runs the command that the command line names; its results go to stdout.
int run_command(int argc, char** argv) {
    std::vector<std::string> args;
    std::string mode;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (common::answer_help_or_version(a, "peek", help_text)) {
            return 0;
        }
        if (a == "--json") {
            json = true;
        } else if (a == "--check" || a == "--text" || a == "--extract" || a == "--verify" || a == "--library") {
            if (!mode.empty()) {
                throw common::fatal_error(std::string(usage_text));
            }
            mode = a;
        } else if (a.starts_with("-")) {
            // An unknown option is never taken for a file name.
            throw common::fatal_error(std::string(usage_text));
        } else {
            args.push_back(a);
        }
    }
    const auto need = [&](std::size_t n, bool json_allowed) {
        if (args.size() != n || (json && !json_allowed)) {
            throw common::fatal_error(std::string(usage_text));
        }
    };
    if (mode.empty() || mode == "--check") {
        need(1, true);
        auto a = open_archive_file(args[0]);
        if (mode.empty()) {
            const std::string name = common::shown(args[0]);
            if (!common::name_finding(name, [&] { return print_listing(stdout, args[0], *a.source, json); })) {
                // The listing shows what it can; what is wrong is --check's to tell.
                flush_results();
                throw common::finding(name + ": damaged archive: peek --check " + name + " tells what is wrong");
            }
            return 0;
        }
        return print_check(stdout, args[0], *a.source, json) ? 0 : 1;
    }
    if (mode == "--text") {
        need(2, false);
        auto a = open_archive_file(args[0]);
        palm::sjis_table table;
        load_font_table(table, args[1]);
        const palm::sjis_reader reader(table);
        common::name_finding(common::shown(args[0]), [&] { print_text(stdout, *a.source, reader); });
        return 0;
    }
    if (mode == "--extract") {
        need(2, false);
        auto a = open_archive_file(args[1]);
        common::name_finding(common::shown(args[1]), [&] { extract_archive(args[0], *a.source); });
        return 0;
    }
    if (mode == "--library") {
        need(1, true);
        return print_library(stdout, args[0], json) ? 0 : 1;
    }
    need(3, true);
    auto a = open_archive_file(args[2]);
    return verify_archive(stdout, args[0], args[1], args[2], *a.source, json) ? 0 : 1;
}

}  // namespace

int peek_main(int argc, char** argv) {
    const int status = run_command(argc, argv);
    flush_results();
    return status;
}

}  // namespace peek
