#include "crate.hpp"

#include "cli.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "utf8.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
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

namespace {

// White space as the C locale sees it; the file list is plain bytes.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Hands one progress line to `progress` in one call: the pieces, then a line
// feed. Two such lines go out per packed file, so they are put together here
// rather than through printf's formatting. Null: no progress lines (--quiet).
void print_line(std::FILE* progress, std::initializer_list<std::string_view> pieces) {
    if (progress == nullptr) {
        return;
    }
    std::string line;
    line.reserve(320);
    for (const auto piece : pieces) {
        line += piece;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), progress);
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
           std::to_string(palm::max_files) + ".");
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
    std::array<std::uint8_t, palm::header_size> start{};
    const auto f = common::open_read_regular(path);
    const auto size = f ? common::file_size(f.get()) : std::nullopt;
    const std::size_t n = size ? static_cast<std::size_t>(std::min<std::int64_t>(*size, start.size())) : 0;
    if (!size || !common::read_exact(f.get(), std::span(start).first(n)) ||
        palm::judge_palm_db(std::span(start).first(n), *size) != palm::palm_db_shape::palm_db) {
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
    return palm::unix_time_to_pilot_time(static_cast<std::int64_t>(std::time(nullptr)));
}

}  // namespace


// ---- command line, file list, file sizes --------------------------------

namespace {

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
        common::append_utf8(out, cp);
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
        if (names.size() == palm::max_files) {
            refuse_too_many_files(list_name);
        }
        const auto rest = list.subspan(at);
        const auto feed = std::find(rest.begin(), rest.end(), std::uint8_t{'\n'});
        const auto text = rest.first(static_cast<std::size_t>(feed - rest.begin()));
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t n = common::utf8_character(text.subspan(i));
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

std::vector<std::string> make_filelist(const std::string& filename, std::FILE* progress) {
    print_line(progress, {"Reading file list[", common::shown(filename), "]"});
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
        print_line(progress, {common::shown(name)});
    }
    return names;
}

void check_file_names(std::span<const std::string> names) {
    if (names.size() > palm::max_files) {
        refuse_too_many_files("");
    }
    for (const auto& name : names) {
        if (name.size() > max_name_length) {
            refuse(common::shown(name) + ": file name too long (at most " + std::to_string(max_name_length) +
                   " characters)");
        }
    }
}

std::vector<fileinfo> collect_file_info(std::span<const std::string> names, std::FILE* progress) {
    std::vector<fileinfo> fi(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        // Judged by the metadata alone, links followed, without opening the
        // file: a folder, a FIFO or a device is no file to pack.
        const auto status = name.empty() ? std::nullopt : common::status_of(name);
        if (!status || status->kind != common::file_kind::regular) {
            print_line(progress, {"not found ", name});
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
        print_line(progress, {name, ": ", decimal(fi[i].size, digits)});
    }
    return fi;
}

std::int64_t archive_size(std::span<const fileinfo> fi) {
    std::int64_t total = palm::first_file_offset(fi.size());
    for (const auto& f : fi) {
        total += f.size;
    }
    return total;
}

namespace {

// SOURCE_DATE_EPOCH, the reproducible-builds convention: a number of seconds
// since 1970 that stands for the clock, so that the same inputs give the
// same archive. Nothing when it is not set.
std::optional<std::uint32_t> source_date() {
    const char* value = std::getenv("SOURCE_DATE_EPOCH");
    if (value == nullptr) {
        return std::nullopt;
    }
    const std::string_view text = value;
    std::int64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || seconds < 0 ||
        !std::isdigit(static_cast<unsigned char>(text.front()))) {
        refuse("SOURCE_DATE_EPOCH: \"" + common::shown(text) +
               "\" is no number of seconds since 1970-01-01 00:00 UTC");
    }
    return palm::unix_time_to_pilot_time(seconds);
}

// "a, b and c", at most ten names, then "and N more".
std::string listed(const std::vector<std::string>& names) {
    constexpr std::size_t most = 10;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < most; ++i) {
        const bool last = i + 1 == names.size();
        text += (i == 0 ? "" : last ? " and " : ", ") + common::shown(names[i]);
    }
    if (names.size() > most) {
        text += " and " + std::to_string(names.size() - most) + " more";
    }
    return text;
}

}  // namespace

std::vector<std::string> archive_warnings(std::span<const std::string> names, std::span<const fileinfo> fi,
                                          std::span<const std::uint32_t> ids,
                                          std::span<const std::vector<std::size_t>> shared) {
    std::vector<std::string> warnings;
    for (std::size_t i = 0; i < fi.size(); ++i) {
        if (fi[i].name.empty()) {
            continue;
        }
        const std::string base(common::base_name(fi[i].name));
        if (const auto wanted = palm::name_in_wanted_case(base)) {
            palm::uid_counter none;
            warnings.push_back(common::shown(names[i]) + " gets the counted unique ID " + std::to_string(ids[i]) +
                               ": the rule is case-sensitive and wants " + *wanted + " (unique ID " +
                               std::to_string(palm::get_uid_from_filename(none, *wanted, nullptr)) + ")");
        }
        if (fi[i].size > palm::max_record_size) {
            warnings.push_back(common::shown(names[i]) + " is " + std::to_string(fi[i].size) +
                               " bytes: the size record keeps only its low 16 bits, and a record of the handheld "
                               "holds at most " + std::to_string(palm::max_record_size));
        }
    }
    for (const auto& group : shared) {
        std::vector<std::string> sharing;
        for (const std::size_t i : group) {
            sharing.push_back(names[i].empty() ? "(an empty name)" : names[i]);
        }
        warnings.push_back("unique ID " + std::to_string(ids[group.front()]) + " is shared by " + listed(sharing) +
                           "; the handheld finds only the first");
    }
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < fi.size(); ++i) {
        if (fi[i].name.empty()) {
            missing.push_back(names[i].empty() ? "(an empty name)" : names[i]);
        }
    }
    if (!missing.empty()) {
        warnings.push_back(common::count_text(missing.size(), "file") + " not found, packed as empty records: " +
                           listed(missing));
    }
    return warnings;
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
    "  -f filelist  the files' names from filelist, the first word of each line\n"
    "               ('-': standard input); names behind the archive are then ignored\n"
    "  -q, --quiet  no progress lines: only warnings, errors and the closing line\n"
    "  --strict     every warning is fatal: exit status 1, the old archive kept\n"
    "  -h, --help   this text\n"
    "  --version    the program's version\n"
    "Options come first, before -f and the archive.\n"
    "\n"
    "Every record's unique ID comes from its file's name. Progress lines,\n"
    "warnings, errors and a closing line go to standard error. Name a file that\n"
    "begins with '-' as ./-name. With SOURCE_DATE_EPOCH set (seconds since\n"
    "1970), both dates of the archive are that time, not the clock's.\n";

}  // namespace

int crate_main(int argc, char** argv) {
    try {
        if (argc >= 2 && common::answer_help_or_version(argv[1], "crate", help_text)) {
            return 0;
        }
        // The options, then the forms of the command line as they always were.
        common::run_options options;
        const int at = common::read_run_options(argc, argv, options) - 1;  // argv[at + 1] begins the form
        const bool quiet = options.quiet;
        const bool strict = options.strict;
        argc -= at;
        argv += at;
        if (argc >= 2) {
            const std::string_view first = argv[1];
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
        std::FILE* const progress = quiet ? nullptr : stderr;
        const std::optional<std::uint32_t> date = source_date();
        std::vector<std::string> names;
        std::string archive;
        if (list_form) {
            names = make_filelist(argv[2], progress);
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
        const auto fi = collect_file_info(names, progress);
        // An archive that is one of its own inputs, by whatever name or link,
        // would be packed into itself: the files are compared, not the names.
        for (const auto& f : fi) {
            if (target.kind == common::output_kind::regular && !f.name.empty() && f.id == target.status.id) {
                refuse(f.name + ": this input file is the archive itself");
            }
        }
        const std::int64_t total = archive_size(fi);
        if (total > palm::max_archive_size) {
            refuse(common::shown(archive) + ": the archive would be 4 GiB or more");
        }
        const auto num = static_cast<std::int32_t>(fi.size());
        output_header(fp, palm::database_name, palm::creator_id, num + 1, date);
        palm::uid_counter uid;
        const auto ids = output_record_entry_header(fp, fi, uid, progress);
        // What the handheld will get wrong, once all IDs are known and before
        // a byte is copied; --strict stops here, the old archive kept.
        const auto shared = palm::shared_ids(ids);
        const auto warnings = archive_warnings(names, fi, ids, shared);
        for (const auto& w : warnings) {
            std::fprintf(stderr, "warning: %s\n", w.c_str());
        }
        if (strict && !warnings.empty()) {
            refuse("--strict: " + common::count_text(warnings.size(), "warning") + "; " + common::shown(archive) +
                   " is not written");
        }
        output_delimiter(fp);
        output_app_info();
        output_sort_info();
        output_first_record(fp, fi);
        if (!output_record(fp, fi, progress) || !flush_archive(fp) || !out.commit()) {
            if (out.busy()) {
                refuse(common::shown(archive) + ": in use by another program; the old archive is kept");
            }
            refuse("Can't write outputfile " + common::shown(archive) + ".");
        }
        const auto missing = static_cast<std::size_t>(
            std::count_if(fi.begin(), fi.end(), [](const fileinfo& f) { return f.name.empty(); }));
        std::fprintf(stderr, "%s: %s (the size record and %s), %lld bytes; %s not found, %s\n",
                     common::shown(archive).c_str(), common::count_text(fi.size() + 1, "record").c_str(),
                     common::count_text(fi.size(), "file").c_str(), static_cast<long long>(total),
                     common::count_text(missing, "file").c_str(),
                     common::count_text(shared.size(), "shared unique ID").c_str());
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


void output_header(archive_stream& fp, std::string_view name, std::string_view id, std::int32_t num,
                   std::optional<std::uint32_t> date) {
    constexpr std::size_t name_field = palm::name_field_size;
    if (name.size() >= name_field) {
        refuse("the name length should be less than 32 chars.");
    }
    if (std::uint8_t* field = room(fp, name_field)) {
        std::fill_n(std::copy(name.begin(), name.end(), field), name_field - name.size(), std::uint8_t{0});
    }
    put2b(0, fp);  // attributes
    put2b(0, fp);  // version
    const auto when = static_cast<std::int32_t>(date.value_or(current_pilot_time()));
    put4b(when, fp);  // creation date
    put4b(when, fp);  // modification date
    put4b(0, fp);  // last backup date
    put4b(0, fp);  // modification number
    put4b(0, fp);  // application info offset: none
    put4b(0, fp);  // sort info offset: none
    for (const char c : palm::type_data) {
        put_bytes(fp, static_cast<unsigned char>(c), 1);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        put_bytes(fp, i < id.size() ? static_cast<unsigned char>(id[i]) : 0u, 1);
    }
    put4b(0, fp);  // unique ID seed
    put4b(0, fp);  // next record list ID
    put2b(num, fp);
}

std::vector<std::uint32_t> output_record_entry_header(archive_stream& fp, std::span<const fileinfo> fi,
                                                     palm::uid_counter& uid, std::FILE* progress) {
    // Offsets are 32-bit fields; the caller has refused archives of 4 GiB or
    // more, so unsigned arithmetic here never wraps for a written archive.
    auto offset = static_cast<std::uint32_t>(palm::size_record_offset(fi.size()));
    put4b(static_cast<std::int32_t>(offset), fp);
    put_bytes(fp, 0, 1);
    put3b(0, fp);
    offset = static_cast<std::uint32_t>(palm::first_file_offset(fi.size()));
    std::vector<std::uint32_t> ids;
    ids.reserve(fi.size());
    for (const auto& f : fi) {
        put4b(static_cast<std::int32_t>(offset), fp);
        put_bytes(fp, 0, 1);  // attributes
        const std::int32_t id = palm::get_uid_from_filename(uid, f.name, progress);
        put3b(id, fp);
        ids.push_back(static_cast<std::uint32_t>(id) & 0xFFFFFF);
        offset += static_cast<std::uint32_t>(f.size);
    }
    return ids;
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

bool output_record(archive_stream& fp, std::span<const fileinfo> fi, std::FILE* progress) {
    for (const auto& f : fi) {
        if (f.name.empty()) {
            continue;  // not found: an empty record
        }
        if (f.size > 0) {
            print_line(progress, {"file: ", f.name});
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

}  // namespace crate
