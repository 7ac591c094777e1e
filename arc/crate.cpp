#include "crate.hpp"

#include "cli.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <initializer_list>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>

namespace crate {

std::int32_t uid = 0;

namespace {

// White space as the C locale sees it; the file list is plain bytes.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

// Reads a number the way strtol does (leading white space, a sign, in base
// 16 an optional "0x" or "0X", digits up to the first one that does not
// belong), clamped to the 32-bit range so that every system gives the same
// result. No digits give 0.
std::int32_t parse_number(std::string_view s, int base) {
    std::size_t i = 0;
    while (i < s.size() && is_space(s[i])) {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (base == 16 && i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
        digit_value(s[i + 2]) < 16) {
        i += 2;
    }
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < s.size() && digit_value(s[i]) < base; ++i) {
        value = std::min(value * base + digit_value(s[i]), limit);
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(std::min(value, limit - 1));
}

// The name without its folders: behind the last "/", and on Windows, where a
// backslash and a drive's colon separate folders too ("chunks\0x7_00.txt",
// "C:0x7_00.txt"), behind the last of any of them.
std::string base_name(std::string_view filename) {
#ifdef _WIN32
    const auto cut = filename.find_last_of("/\\:");
#else
    const auto cut = filename.rfind('/');
#endif
    return std::string(cut == std::string_view::npos ? filename : filename.substr(cut + 1));
}

// Hands one progress line to standard error in one call: the pieces, then a
// line feed. Two such lines go out per packed file, so they are put together
// here rather than through printf's formatting.
void print_line(std::initializer_list<std::string_view> pieces) {
    std::string line;
    line.reserve(320);
    for (const auto piece : pieces) {
        line += piece;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// A number as its decimal digits.
std::string_view decimal(std::int64_t value, std::array<char, 24>& digits) {
    const auto r = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    return {digits.data(), static_cast<std::size_t>(r.ptr - digits.data())};
}

[[noreturn]] void refuse(const std::string& message) {
    throw common::fatal_error(message);
}

// `where`: the file list that names too many files, empty for the command line.
[[noreturn]] void refuse_too_many_files(const std::string& where) {
    refuse((where.empty() ? "" : where + ": ") + "Too many files: an archive holds at most " +
           std::to_string(max_files) + ".");
}

// Room for `count` more bytes at the end of the block, writing it out when
// it is too full. Null once a write has failed: nothing more is kept.
std::uint8_t* room(archive_stream& fp, std::size_t count) {
    if (fp.block.size() - fp.used < count && !flush_archive(fp)) {
        return nullptr;
    }
    if (fp.failed) {
        return nullptr;
    }
    std::uint8_t* at = fp.block.data() + fp.used;
    fp.used += count;
    return at;
}

void put_bytes(archive_stream& fp, std::uint32_t val, int count) {
    std::uint8_t* at = room(fp, static_cast<std::size_t>(count));
    for (int i = 0; at != nullptr && i < count; ++i) {
        at[i] = static_cast<std::uint8_t>(val >> (8 * (count - 1 - i)));
    }
}

// A file the user owns stands at the archive's name (an argument slip such
// as "crate CGRUMO.bmp game.pdb"): it is replaced only when it reads as a
// Palm database. `path` is the file the name leads to.
void refuse_unless_palm_db(const std::string& archive, const std::string& path) {
    std::array<std::uint8_t, 78> start{};
    const auto f = common::open_read_regular(path);
    const auto size = f ? common::file_size(f.get()) : std::nullopt;
    const std::size_t n = size ? static_cast<std::size_t>(std::min<std::int64_t>(*size, start.size())) : 0;
    if (!size || !common::read_exact(f.get(), std::span(start).first(n)) ||
        judge_palm_db(std::span(start).first(n), *size) != palm_db_shape::palm_db) {
        refuse(common::shown(archive) +
               ": not a Palm database, so crate leaves it alone (the archive's name comes first: crate archive "
               "file...)");
    }
}

[[noreturn]] void refuse_changed(const fileinfo& f, const char* how) {
    refuse(f.name + ": changed after it was measured (" + std::string(how) + ")");
}

// Copies the `f.size` bytes of the file `f` into the archive, opening it
// once. It must still be the file that was measured, of the same length, and
// end there: the read that finds its end must find no further byte. A file
// that yields bytes although its metadata said 0 (as files of /proc do) is
// caught the same way. Returns false when a write to the archive failed.
bool copy_record(archive_stream& fp, const fileinfo& f) {
    common::input_file in;
    if (!in.open(f.name)) {
        refuse("Can't open " + f.name + ".");
    }
    const auto status = in.status();
    if (!status || status->kind != common::file_kind::regular || status->id != f.id) {
        refuse_changed(f, "replaced");
    }
    if (status->size != f.size) {
        refuse_changed(f, status->size > f.size ? "grown" : "shrunk");
    }
    const auto size = static_cast<std::size_t>(f.size);
    std::size_t copied = 0;
    if (size <= copy_buffer_size) {
        // A small file is read straight into the archive's block.
        if (fp.block.size() - fp.used < size && !flush_archive(fp)) {
            return false;
        }
        const auto into = std::span(fp.block).subspan(fp.used, size);
        while (copied < size) {
            const auto got = in.read(into.subspan(copied));
            if (!got) {
                refuse("Can't read " + f.name + ".");
            }
            if (*got == 0) {
                break;
            }
            copied += *got;
        }
        fp.used += copied;
    } else {
        // A large one goes from file to file, behind what the block holds.
        if (!flush_archive(fp)) {
            return false;
        }
        const auto r = in.copy_bytes(fp.fp, size, fp.block);
        if (r.write_failed) {
            fp.failed = true;
            return false;
        }
        if (r.read_failed) {
            refuse("Can't read " + f.name + ".");
        }
        copied = static_cast<std::size_t>(r.copied);
    }
    if (copied < size) {
        refuse_changed(f, "shrunk");
    }
    std::array<std::uint8_t, 1> past_end{};
    const auto extra = in.read(past_end);
    if (!extra) {
        refuse("Can't read " + f.name + ".");
    }
    if (*extra != 0) {
        refuse_changed(f, "grown");
    }
    // Rewritten in place at the same length while it was copied: the
    // record could hold old and new bytes at once.
    const auto after = in.status();
    if (!after || after->modified != f.modified || after->changed != f.changed) {
        refuse_changed(f, "changed");
    }
    return true;
}

std::uint32_t current_pilot_time() {
    return unix_time_to_pilot_time(static_cast<std::int64_t>(std::time(nullptr)));
}

}  // namespace

palm_db_shape judge_palm_db(std::span<const std::uint8_t> start, std::int64_t file_size) {
    constexpr std::size_t header = 78;
    if (file_size < static_cast<std::int64_t>(header) || start.size() < header) {
        return palm_db_shape::not_palm_db;
    }
    const bool named = std::find(start.begin(), start.begin() + 32, std::uint8_t{0}) != start.begin() + 32;
    const bool printable = std::all_of(start.begin() + 60, start.begin() + 68,
                                       [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
    if (!named || !printable) {
        return palm_db_shape::not_palm_db;
    }
    const std::int64_t records = start[76] << 8 | start[77];
    return static_cast<std::int64_t>(header) + 8 * records <= file_size ? palm_db_shape::palm_db : palm_db_shape::truncated;
}

// ---- command line, file list, file sizes --------------------------------

namespace {

// Length of the well-formed UTF-8 character at the start of `s`, 0 when the
// bytes there are none: no overlong forms, no surrogates, nothing past
// U+10FFFF.
std::size_t utf8_character(std::span<const std::uint8_t> s) {
    const std::uint8_t c = s[0];
    if (c < 0x80) {
        return 1;
    }
    std::size_t n = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (s.size() < n || s[1] < low || s[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < n; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF) {
            return 0;
        }
    }
    return n;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

[[noreturn]] void refuse_line(const std::string& list_name, std::size_t line, const char* encoding) {
    refuse(common::shown(list_name) + ": line " + std::to_string(line) + " is not " + encoding +
           " text; save the file list as UTF-8");
}

// UTF-16 text after its byte-order mark, as UTF-8.
std::string utf8_of_utf16(std::span<const std::uint8_t> units, bool big_endian, const std::string& list_name) {
    std::string out;
    out.reserve(units.size());
    std::size_t line = 1;
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(big_endian ? units[i] << 8 | units[i + 1] : units[i + 1] << 8 | units[i]);
    };
    for (std::size_t i = 0; i < units.size(); i += 2) {
        if (i + 1 >= units.size()) {
            refuse_line(list_name, line, "UTF-16");  // half a code unit at the end
        }
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const std::uint32_t low = i + 3 < units.size() ? unit(i + 2) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                refuse_line(list_name, line, "UTF-16");
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            refuse_line(list_name, line, "UTF-16");
        }
        line += cp == '\n' ? 1 : 0;
        append_utf8(out, cp);
    }
    return out;
}

}  // namespace

std::vector<std::string> parse_file_list(std::span<const std::uint8_t> list, const std::string& list_name) {
    std::string decoded;
    const char* encoding = "UTF-8";
    if (list.size() >= 2 && ((list[0] == 0xFF && list[1] == 0xFE) || (list[0] == 0xFE && list[1] == 0xFF))) {
        // Windows PowerShell writes its lists so.
        decoded = utf8_of_utf16(list.subspan(2), list[0] == 0xFE, list_name);
        list = std::span(reinterpret_cast<const std::uint8_t*>(decoded.data()), decoded.size());
        encoding = "UTF-16";
    } else if (list.size() >= 3 && list[0] == 0xEF && list[1] == 0xBB && list[2] == 0xBF) {
        list = list.subspan(3);  // a byte-order mark, as Notepad writes it
    }
    // One line, one entry, whatever its length: the name is its first word,
    // the rest of the line is skipped. A zero byte ends the line's text.
    std::vector<std::string> names;
    std::size_t line = 1;
    std::size_t at = 0;
    while (at < list.size()) {
        if (names.size() == max_files) {
            refuse_too_many_files(list_name);
        }
        const auto rest = list.subspan(at);
        const auto feed = std::find(rest.begin(), rest.end(), std::uint8_t{'\n'});
        const auto text = rest.first(static_cast<std::size_t>(feed - rest.begin()));
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t n = utf8_character(text.subspan(i));
            if (n == 0) {
                refuse_line(list_name, line, encoding);
            }
            i += n;
        }
        const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
        const auto first = std::find_if(text.begin(), end, [](std::uint8_t c) { return !is_space(static_cast<char>(c)); });
        const auto last = std::find_if(first, end, [](std::uint8_t c) { return is_space(static_cast<char>(c)); });
        names.emplace_back(first, last);
        at += text.size() + 1;
        ++line;
    }
    return names;
}

std::vector<std::string> make_filelist(const std::string& filename) {
    std::fprintf(stderr, "Reading file list[%s]\n", common::shown(filename).c_str());
    common::file_ptr opened;
    std::FILE* fp = stdin;
    if (filename == "-") {
        common::set_binary_mode(stdin);
    } else {
        opened = common::open_read(filename);
        fp = opened.get();
    }
    if (fp == nullptr) {
        refuse("Can't open outputfile " + common::shown(filename) + ".");
    }
    // Read once, whatever the list is: a pipe gives its bytes only once.
    std::vector<std::uint8_t> list;
    for (;;) {
        const std::size_t had = list.size();
        list.resize(had + list_block_size);
        errno = 0;
        const std::size_t got = std::fread(list.data() + had, 1, list_block_size, fp);
        list.resize(had + got);
        if (list.size() > max_list_size) {
            refuse(common::shown(filename) + ": the file list is longer than " +
                   std::to_string(max_list_size / (1024 * 1024)) + " MiB");
        }
        if (got < list_block_size) {
            if (std::ferror(fp) != 0) {
                refuse(std::string("fgets: ") + std::strerror(errno));
            }
            break;
        }
    }
    auto names = parse_file_list(list, filename);
    for (const auto& name : names) {
        std::fprintf(stderr, "%s\n", common::shown(name).c_str());
    }
    return names;
}

void check_file_names(std::span<const std::string> names) {
    if (names.size() > max_files) {
        refuse_too_many_files("");
    }
    for (const auto& name : names) {
        if (name.size() > max_name_length) {
            refuse(common::shown(name) + ": file name too long (at most " + std::to_string(max_name_length) +
                   " characters)");
        }
    }
}

std::vector<fileinfo> collect_file_info(std::span<const std::string> names) {
    std::vector<fileinfo> fi(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        // Judged by the metadata alone, links followed, without opening the
        // file: a folder, a FIFO or a device is no file to pack.
        const auto status = name.empty() ? std::nullopt : common::status_of(name);
        if (!status || status->kind != common::file_kind::regular) {
            std::fprintf(stderr, "not found %s\n", name.c_str());
            continue;
        }
        if (status->size > max_file_size) {
            refuse(name + ": file too large (2 GiB or more)");
        }
        fi[i].name = name;
        fi[i].size = static_cast<std::int32_t>(status->size);
        fi[i].id = status->id;
        fi[i].modified = status->modified;
        fi[i].changed = status->changed;
        std::array<char, 24> digits{};
        print_line({name, ": ", decimal(fi[i].size, digits)});
    }
    return fi;
}

std::int64_t archive_size(std::span<const fileinfo> fi) {
    std::int64_t total = 88 + 10 * static_cast<std::int64_t>(fi.size());
    for (const auto& f : fi) {
        total += f.size;
    }
    return total;
}

namespace {

constexpr std::string_view help_text =
    "crate: pack files into one Palm OS database (type DATA, creator QOVR)\n"
    "\n"
    "usage: crate [-f filelist] archive file_1 ... file_N\n"
    "\n"
    "  archive      the database to write; it takes its name only when it is complete\n"
    "  file_1 ...   the files to pack, in this order: chunk files (0x1d_03.txt),\n"
    "               pictures (CGRUMO.bmp, CG012.bmp) and any others\n"
    "  -f filelist  the files' names from filelist, the first word of each line;\n"
    "               names behind the archive are then ignored\n"
    "  -h, --help   this text\n"
    "  --version    the program's version\n"
    "\n"
    "Every record's unique ID comes from its file's name. Progress lines and\n"
    "errors go to standard error. Name a file that begins with '-' as ./-name.\n";

}  // namespace

int crate_main(int argc, char** argv) {
    uid = 0;
    try {
        if (argc >= 2) {
            const std::string_view first = argv[1];
            if (common::answer_help_or_version(first, "crate", help_text)) {
                return 0;
            }
            if (first.starts_with("-") && !first.starts_with("-f")) {
                refuse("Unknown option " + common::shown(first) + "; " + std::string(usage_text));
            }
        }
        if (argc < 3) {
            refuse(std::string(usage_text));
        }
        const bool list_form = std::string_view(argv[1]).starts_with("-f");
        if (list_form && argc < 4) {
            refuse(std::string(usage_text));
        }
        std::vector<std::string> names;
        std::string archive;
        if (list_form) {
            names = make_filelist(argv[2]);
            archive = argv[3];
        } else {
            archive = argv[1];
            names.assign(argv + 2, argv + argc);
        }
        check_file_names(names);
        if (!list_form) {
            // "crate game.pdb -f files.lst": an option behind the archive is
            // no file to pack. A file that really has such a name is.
            for (const auto& name : names) {
                if (name.starts_with("-") && !common::status_of_name(name)) {
                    refuse(common::shown(name) + ": no such file; options come before the archive");
                }
            }
        }

        // The name is followed as a shell redirection follows it. The
        // archive is written under a temporary name and takes its own name
        // only when it is complete: until then an older archive stays as it
        // was, and a run that stops leaves nothing behind.
        const common::output_target target = common::resolve_output(archive);
        if (target.kind == common::output_kind::refused) {
            refuse("Can't open outputfile " + common::shown(archive) + ".");
        }
        if (target.kind == common::output_kind::regular && target.status.size > 0) {
            refuse_unless_palm_db(archive, target.path);
        }
        common::atomic_file out;
        const bool opened =
            target.kind == common::output_kind::stream ? out.open_stream(target.path) : out.create(target.path);
        if (!opened) {
            refuse("Can't open outputfile " + common::shown(archive) + ".");
        }
        auto fp = open_archive_stream(out.get());
        const auto fi = collect_file_info(names);
        // An archive that is one of its own inputs, by whatever name or link,
        // would be packed into itself: the files are compared, not the names.
        for (const auto& f : fi) {
            if (target.kind == common::output_kind::regular && !f.name.empty() && f.id == target.status.id) {
                refuse(f.name + ": this input file is the archive itself");
            }
        }
        if (archive_size(fi) > max_archive_size) {
            refuse(common::shown(archive) + ": the archive would be 4 GiB or more");
        }
        const auto num = static_cast<std::int32_t>(fi.size());
        output_header(fp, database_name, creator_id, num + 1);
        output_record_entry_header(fp, fi);
        output_delimiter(fp);
        output_app_info();
        output_sort_info();
        output_first_record(fp, fi);
        if (!output_record(fp, fi) || !flush_archive(fp) || !out.commit()) {
            if (out.busy()) {
                refuse(common::shown(archive) + ": in use by another program; the old archive is kept");
            }
            refuse("Can't write outputfile " + common::shown(archive) + ".");
        }
        return 0;
    } catch (const std::bad_alloc&) {
        refuse(std::string("calloc: ") + std::strerror(ENOMEM));
    } catch (const std::length_error&) {
        refuse(std::string("calloc: ") + std::strerror(ENOMEM));
    }
}

// ---- archive writer ------------------------------------------------------

archive_stream open_archive_stream(std::FILE* fp) {
    std::setvbuf(fp, nullptr, _IONBF, 0);
    archive_stream stream;
    stream.fp = fp;
    stream.block.resize(archive_buffer_size);
    return stream;
}

bool flush_archive(archive_stream& fp) {
    if (!fp.failed && fp.used > 0 && !common::write_all(fp.fp, std::span(fp.block).first(fp.used))) {
        fp.failed = true;
    }
    fp.used = 0;
    return !fp.failed;
}

void put4b(std::int32_t val, archive_stream& fp) {
    put_bytes(fp, static_cast<std::uint32_t>(val), 4);
}

void put3b(std::int32_t val, archive_stream& fp) {
    put_bytes(fp, static_cast<std::uint32_t>(val), 3);
}

void put2b(std::int32_t val, archive_stream& fp) {
    put_bytes(fp, static_cast<std::uint32_t>(val), 2);
}

std::uint32_t unix_time_to_pilot_time(std::int64_t t) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(t) + 2082844800u);
}

void output_header(archive_stream& fp, std::string_view name, std::string_view id, std::int32_t num) {
    constexpr std::size_t name_field = 32;
    if (name.size() >= name_field) {
        refuse("the name length should be less than 32 chars.");
    }
    if (std::uint8_t* field = room(fp, name_field)) {
        std::fill_n(std::copy(name.begin(), name.end(), field), name_field - name.size(), std::uint8_t{0});
    }
    put2b(0, fp);  // attributes
    put2b(0, fp);  // version
    put4b(static_cast<std::int32_t>(current_pilot_time()), fp);  // creation date
    put4b(static_cast<std::int32_t>(current_pilot_time()), fp);  // modification date
    put4b(0, fp);  // last backup date
    put4b(0, fp);  // modification number
    put4b(0, fp);  // application info offset: none
    put4b(0, fp);  // sort info offset: none
    put4b(0x44415441, fp);  // type "DATA"
    for (std::size_t i = 0; i < 4; ++i) {
        put_bytes(fp, i < id.size() ? static_cast<unsigned char>(id[i]) : 0u, 1);
    }
    put4b(0, fp);  // unique ID seed
    put4b(0, fp);  // next record list ID
    put2b(num, fp);
}

void output_record_entry_header(archive_stream& fp, std::span<const fileinfo> fi) {
    // Offsets are 32-bit fields; the caller has refused archives of 4 GiB or
    // more, so unsigned arithmetic here never wraps for a written archive.
    const auto num = static_cast<std::uint32_t>(fi.size());
    std::uint32_t offset = 8 * (num + 1) + 80;  // header, record list, delimiter
    put4b(static_cast<std::int32_t>(offset), fp);
    put_bytes(fp, 0, 1);
    put3b(0, fp);
    offset += 2 * num;  // the size record
    for (const auto& f : fi) {
        put4b(static_cast<std::int32_t>(offset), fp);
        put_bytes(fp, 0, 1);  // attributes
        put3b(get_uid_from_filename(f.name), fp);
        offset += static_cast<std::uint32_t>(f.size);
    }
}

void output_delimiter(archive_stream& fp) {
    put2b(0, fp);
}

void output_app_info() {}

void output_sort_info() {}

void output_first_record(archive_stream& fp, std::span<const fileinfo> fi) {
    for (const auto& f : fi) {
        put2b(f.size, fp);
    }
}

bool output_record(archive_stream& fp, std::span<const fileinfo> fi) {
    for (const auto& f : fi) {
        if (f.name.empty()) {
            continue;  // not found: an empty record
        }
        if (f.size > 0) {
            print_line({"file: ", f.name});
        }
        if (static_cast<std::size_t>(f.size) > copy_buffer_size) {
            std::fflush(stderr);  // the lines so far show while a large file is copied
        }
        if (fp.failed || !copy_record(fp, f)) {
            return false;
        }
    }
    return !fp.failed;
}

// ---- unique IDs from names ----------------------------------------------

bool parse_text_filename(std::string_view name, std::int32_t& block, std::int32_t& chunk) {
    const auto underscore = name.find('_');
    if (underscore == std::string_view::npos) {
        return false;
    }
    const auto index_field = name.substr(underscore + 1);
    block = parse_number(name.substr(0, underscore), 16);
    chunk = parse_number(index_field.substr(0, index_field.find('.')), 10);
    return true;
}

bool parse_cg_filename(std::string_view name, std::int32_t& id) {
    for (const auto& picture : fixed_picture_names) {
        if (name.size() >= picture.compared &&
            name.substr(0, picture.compared) == picture.prefix.substr(0, picture.compared)) {
            id = picture.id;
            return true;
        }
    }
    const auto zero = name.find('0');
    if (zero == std::string_view::npos) {
        return false;
    }
    const auto number = name.substr(zero);
    id = parse_number(number.substr(0, number.find('.')), 10);
    return true;
}

std::int32_t get_uid_from_filename(std::string_view filename) {
    const std::string base = base_name(filename);
    const std::string_view b = base;
    if (b.starts_with("0x")) {
        std::int32_t block = 0;
        std::int32_t chunk = 0;
        if (parse_text_filename(b, block, chunk)) {
            const auto id = static_cast<std::int32_t>(2500 + 20 * std::int64_t{block} + chunk);
            std::fprintf(stderr, "%s: %d(%d:%d)\n", base.c_str(), static_cast<int>(id), static_cast<int>(block),
                         static_cast<int>(chunk));
            return id;
        }
    } else if (b.starts_with("CG") || b.starts_with("ZOPA")) {
        std::int32_t id = 0;
        if (parse_cg_filename(b, id)) {
            std::fprintf(stderr, "%s: %d\n", base.c_str(), static_cast<int>(id));
            return id;
        }
    }
    return uid++;
}

}  // namespace crate
