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

std::string base_name(std::string_view filename) {
    const auto slash = filename.rfind('/');
    return std::string(slash == std::string_view::npos ? filename : filename.substr(slash + 1));
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

std::vector<std::string> make_filelist(const std::string& filename) {
    std::fprintf(stderr, "Reading file list[%s]\n", filename.c_str());
    auto fp = common::open_read(filename);
    if (!fp) {
        refuse("Can't open outputfile " + filename + ".");
    }
    // One line, one entry, whatever its length: the name is its first word,
    // the rest of the line is skipped. A zero byte ends the line's text.
    enum class at { before_word, in_word, past_word };
    std::vector<std::string> names;
    std::string word;
    at where = at::before_word;
    bool line_begun = false;
    auto end_line = [&] {
        if (names.size() == max_files) {
            refuse_too_many_files(filename);
        }
        names.push_back(std::move(word));
        word.clear();
        where = at::before_word;
        line_begun = false;
    };
    std::vector<char> block(list_block_size);
    for (;;) {
        errno = 0;
        const std::size_t got = std::fread(block.data(), 1, block.size(), fp.get());
        for (const char c : std::span(block.data(), got)) {
            if (c == '\n') {
                end_line();
                continue;
            }
            line_begun = true;
            const bool ends_word = c == '\0' || is_space(c);
            if (where == at::before_word && c == '\0') {
                where = at::past_word;
            } else if (where == at::before_word && !ends_word) {
                word.push_back(c);
                where = at::in_word;
            } else if (where == at::in_word) {
                if (ends_word) {
                    where = at::past_word;
                } else {
                    word.push_back(c);
                }
            }
        }
        if (got < block.size()) {
            if (std::ferror(fp.get()) != 0) {
                refuse(std::string("fgets: ") + std::strerror(errno));
            }
            break;
        }
    }
    if (line_begun) {
        end_line();  // the last line needs no line end
    }
    for (const auto& name : names) {
        std::fprintf(stderr, "%s\n", name.c_str());
    }
    return names;
}

void check_file_names(std::span<const std::string> names) {
    if (names.size() > max_files) {
        refuse_too_many_files("");
    }
    for (const auto& name : names) {
        if (name.size() > max_name_length) {
            refuse(name + ": file name too long (at most " + std::to_string(max_name_length) + " characters)");
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
                refuse("Unknown option " + std::string(first) + "; " + std::string(usage_text));
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

        // The archive is written under a temporary name and takes its own
        // name only when it is complete: until then an older archive stays
        // as it was, and a run that stops leaves nothing behind. A link at the
        // name is replaced, a device or a FIFO is written directly, and a
        // folder cannot become an archive.
        const auto old_archive = common::status_of_name(archive);
        if (old_archive && old_archive->kind == common::file_kind::folder) {
            refuse("Can't open outputfile " + archive + ".");
        }
        common::atomic_file out;
        if (!out.create(archive)) {
            refuse("Can't open outputfile " + archive + ".");
        }
        auto fp = open_archive_stream(out.get());
        const auto fi = collect_file_info(names);
        // An archive that is one of its own inputs, by whatever name or link,
        // would be packed into itself: the files are compared, not the names.
        for (const auto& f : fi) {
            if (old_archive && old_archive->kind == common::file_kind::regular && !f.name.empty() &&
                f.id == old_archive->id) {
                refuse(f.name + ": this input file is the archive itself");
            }
        }
        if (archive_size(fi) > max_archive_size) {
            refuse(archive + ": the archive would be 4 GiB or more");
        }
        const auto num = static_cast<std::int32_t>(fi.size());
        output_header(fp, database_name, creator_id, num + 1);
        output_record_entry_header(fp, fi);
        output_delimiter(fp);
        output_app_info();
        output_sort_info();
        output_first_record(fp, fi);
        if (!output_record(fp, fi) || !flush_archive(fp) || !out.commit()) {
            refuse("Can't write outputfile " + archive + ".");
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
