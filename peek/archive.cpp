// Reading an archive: the bounded reader, the header and record list, the
// meaning of unique IDs, the listing and the structural check.
#include "peek.hpp"

#include "cli.hpp"
#include "crate.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <map>

namespace peek {

namespace {

std::uint32_t be(std::span<const std::uint8_t> b, std::size_t at, std::size_t n) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        v = (v << 8) | b[at + i];
    }
    return v;
}

std::string format(const char* fmt, auto... args) {
    const int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(s.data(), s.size() + 1, fmt, args...);
    return s;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

// Printable form of bytes from the archive: bytes outside printable ASCII,
// the backslash and the quote (such text is shown in quotes) as \xNN.
std::string printable(std::string_view s) {
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += ch;
        } else {
            out += format("\\x%02X", c);
        }
    }
    return out;
}

// What a file that does not read as a Palm database begins with: up to its
// first 4 bytes, and a hint when they are those of a Windows library.
std::string beginning_text(std::span<const std::uint8_t> start, std::int64_t size) {
    if (size <= 0 || start.empty()) {
        return "it is empty";
    }
    const auto first = start.first(std::min<std::size_t>(start.size(), 4));
    std::string text = "it begins with \"" + printable(std::string(first.begin(), first.end())) + "\"";
    if (size < header_size) {
        return text + " and is only " + common::count_text(static_cast<std::size_t>(size), "byte") +
               ", shorter than the 78-byte header";
    }
    if (first[0] == 'M' && first[1] == 'Z') {
        text += ", a Windows library: try peek --library";
    }
    return text;
}

// Offset of the size record as crate places it: behind the record list and
// the two-byte delimiter.
std::int64_t expected_first_offset(std::size_t count) {
    return header_size + entry_size * static_cast<std::int64_t>(count) + 2;
}

}  // namespace

bool read_at(const archive_source& src, std::int64_t offset, std::span<std::uint8_t> dst) {
    const auto n = static_cast<std::int64_t>(dst.size());
    if (offset < 0 || offset > src.size || n > src.size - offset) {
        return false;
    }
    if (dst.empty()) {
        return true;
    }
    if (src.file == nullptr) {
        if (static_cast<std::uint64_t>(src.size) > src.memory.size()) {
            return false;
        }
        std::memcpy(dst.data(), src.memory.data() + offset, dst.size());
        return true;
    }
    return common::seek_to(src.file, offset) && common::read_exact(src.file, dst);
}

namespace {

// Why `path` did not open as a regular file, in one line.
std::string refusal(const std::string& path, std::string_view what) {
    const auto status = common::status_of(path);
    const std::string name = common::shown(path);
    if (status && status->kind == common::file_kind::folder) {
        return name + ": a folder, not " + std::string(what);
    }
    if (status && status->kind == common::file_kind::other) {
        return name + ": not a regular file";
    }
    return "Can't open " + name + ".";
}

}  // namespace

common::file_ptr open_input(const std::string& path, std::string_view what) {
    auto f = common::open_read_regular(path);
    if (!f) {
        throw common::fatal_error(refusal(path, what));
    }
    return f;
}

open_archive open_archive_file(const std::string& path) {
    open_archive a;
    a.file = open_input(path, "an archive");
    const auto size = common::file_size(a.file.get());
    if (!size) {
        throw common::fatal_error("Can't open " + common::shown(path) + ".");
    }
    a.source.file = a.file.get();
    a.source.size = *size;
    return a;
}

pdb_index read_index(const archive_source& src, record_list list) {
    pdb_index index;
    index.file_size = src.size;
    std::array<std::uint8_t, header_size> h{};
    const auto start = std::span(h).first(static_cast<std::size_t>(std::clamp<std::int64_t>(src.size, 0, header_size)));
    if (!read_at(src, 0, start)) {
        throw common::input_error("header: its bytes cannot be read");
    }
    const auto shape = crate::judge_palm_db(start, src.size);
    if (shape == crate::palm_db_shape::not_palm_db) {
        throw common::input_error("not a Palm database (" + beginning_text(start, src.size) + ")");
    }
    pdb_header& hd = index.header;
    hd.name = std::string(h.begin(), std::find(h.begin(), h.begin() + 32, std::uint8_t{0}));
    hd.attributes = static_cast<std::uint16_t>(be(h, 32, 2));
    hd.version = static_cast<std::uint16_t>(be(h, 34, 2));
    hd.created = be(h, 36, 4);
    hd.modified = be(h, 40, 4);
    hd.backed_up = be(h, 44, 4);
    hd.modification_number = be(h, 48, 4);
    hd.app_info = be(h, 52, 4);
    hd.sort_info = be(h, 56, 4);
    hd.type = be(h, 60, 4);
    hd.creator = be(h, 64, 4);
    hd.uid_seed = be(h, 68, 4);
    hd.next_record_list = be(h, 72, 4);
    hd.num_records = static_cast<std::uint16_t>(be(h, 76, 2));

    // At most 65535 entries of 8 bytes, and only as many as the file holds.
    std::size_t count = hd.num_records;
    if (shape == crate::palm_db_shape::truncated) {
        if (list == record_list::whole) {
            throw common::input_error(format("record list: the archive is %" PRId64
                                             " bytes, too short for the list of %u records (%" PRId64 " bytes)",
                                             src.size, static_cast<unsigned>(hd.num_records),
                                             header_size + entry_size * hd.num_records));
        }
        count = static_cast<std::size_t>((src.size - header_size) / entry_size);
    }
    std::vector<std::uint8_t> bytes(count * entry_size);
    if (!read_at(src, header_size, bytes)) {
        throw common::input_error("record list: its bytes cannot be read");
    }
    index.entries.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        index.entries[k].offset = be(bytes, k * entry_size, 4);
        index.entries[k].attributes = bytes[k * entry_size + 4];
        index.entries[k].uid = be(bytes, k * entry_size + 5, 3);
    }
    return index;
}

std::optional<std::int64_t> record_length(const pdb_index& index, std::size_t k) {
    if (k >= index.entries.size()) {
        return std::nullopt;
    }
    const bool last = k + 1 == index.entries.size();
    if (last && index.entries.size() < index.header.num_records) {
        return std::nullopt;  // the next record's offset lies past the end of a cut record list
    }
    const std::int64_t start = index.entries[k].offset;
    const std::int64_t end = last ? index.file_size : index.entries[k + 1].offset;
    if (start > index.file_size || end > index.file_size || end < start) {
        return std::nullopt;
    }
    return end - start;
}

std::optional<std::uint16_t> size_entry(const archive_source& src, const pdb_index& index, std::size_t k) {
    if (k == 0 || k >= index.entries.size()) {
        return std::nullopt;
    }
    const auto size_record = record_length(index, 0);
    const std::int64_t at = 2 * static_cast<std::int64_t>(k - 1);
    if (!size_record || at + 2 > *size_record) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 2> b{};
    if (!read_at(src, index.entries[0].offset + at, b)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(be(b, 0, 2));
}

std::optional<std::string> chunk_name(std::uint32_t uid) {
    if (uid < chunk_id_base + chunk_id_step * first_block) {
        return std::nullopt;
    }
    const std::uint32_t block = (uid - chunk_id_base) / chunk_id_step;
    const std::uint32_t index = (uid - chunk_id_base) % chunk_id_step;
    if (block > last_block || index > 15) {
        return std::nullopt;
    }
    return format("0x%x_%02u.txt", static_cast<unsigned>(block), static_cast<unsigned>(index));
}

std::string uid_meaning(std::size_t k, std::uint32_t uid) {
    if (k == 0) {
        return "size record";
    }
    if (auto name = chunk_name(uid)) {
        return *name;
    }
    for (const auto& p : crate::fixed_picture_names) {
        if (static_cast<std::uint32_t>(p.id) == uid) {
            return "fixed picture " + std::string(p.prefix.substr(0, p.compared));
        }
    }
    if (uid >= chunk_id_base) {
        const std::uint32_t block = (uid - chunk_id_base) / chunk_id_step;
        const std::uint32_t index = (uid - chunk_id_base) % chunk_id_step;
        return format("chunk ID of block 0x%x index %u, outside cutter's chunks", static_cast<unsigned>(block),
                      static_cast<unsigned>(index));
    }
    return format("picture number %u or counted file %u", static_cast<unsigned>(uid), static_cast<unsigned>(uid));
}

std::string pilot_time_text(std::uint32_t t) {
    const std::int64_t unix_time = static_cast<std::int64_t>(t) - pilot_epoch_offset;
    const std::int64_t days = (unix_time >= 0 ? unix_time : unix_time - 86399) / 86400;
    const std::int64_t secs = unix_time - days * 86400;
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civil_from_days(days, y, m, d);
    return format("%04" PRId64 "-%02u-%02u %02d:%02d:%02d UTC", y, m, d, static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
}

std::string four_cc(std::uint32_t v) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        s += static_cast<char>((v >> shift) & 0xFF);
    }
    return printable(s);
}

namespace {

// Length of the well-formed UTF-8 sequence (RFC 3629) that starts at s[i];
// 0 when none does: a stray continuation byte, an overlong form, an encoded
// surrogate, a code point above U+10FFFF, a sequence cut short, or one of
// the bytes C0, C1 and F5 to FF.
std::size_t utf8_length(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t j) { return static_cast<unsigned char>(s[j]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        low = c == 0xE0 ? 0xA0 : low;    // shorter forms of U+0000 to U+07FF
        high = c == 0xED ? 0x9F : high;  // the surrogates U+D800 to U+DFFF
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        low = c == 0xF0 ? 0x90 : low;    // shorter forms of U+0000 to U+FFFF
        high = c == 0xF4 ? 0x8F : high;  // above U+10FFFF
    } else {
        return 0;
    }
    if (n > s.size() - i || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t j = 2; j < n; ++j) {
        if ((byte(i + j) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return n;
}

}  // namespace

std::string json_string(std::string_view s) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += format("\\u%04x", static_cast<unsigned>(c));
        } else if (c >= 0x80) {
            // A well-formed sequence is copied, any other byte escaped on its
            // own, so that the output is always valid UTF-8.
            if (const std::size_t n = utf8_length(s, i); n != 0) {
                out.append(s.substr(i, n));
                i += n;
                continue;
            }
            out += format("\\u%04x", static_cast<unsigned>(c));
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

namespace {

std::size_t error_count(const std::vector<problem>& problems) {
    return static_cast<std::size_t>(
        std::count_if(problems.begin(), problems.end(), [](const problem& p) { return !p.warning; }));
}

}  // namespace

bool print_listing(std::FILE* out, const std::string& archive_name, const archive_source& src, bool json) {
    // A cut record list still shows the header and the entries it holds.
    const pdb_index index = read_index(src, record_list::what_it_has);
    const bool sound = error_count(check_archive(src)) == 0;
    const pdb_header& h = index.header;
    const std::size_t n = index.entries.size();
    if (json) {
        std::fprintf(out,
                     "{\"archive\":%s,\"size\":%" PRId64 ",\"name\":%s,\"type\":%s,\"creator\":%s,"
                     "\"created\":%s,\"modified\":%s,\"records\":[",
                     json_string(archive_name).c_str(), index.file_size, json_string(h.name).c_str(),
                     json_string(four_cc(h.type)).c_str(), json_string(four_cc(h.creator)).c_str(),
                     json_string(pilot_time_text(h.created)).c_str(), json_string(pilot_time_text(h.modified)).c_str());
        for (std::size_t k = 0; k < n; ++k) {
            const auto& e = index.entries[k];
            const auto len = record_length(index, k);
            const auto entry = size_entry(src, index, k);
            std::fprintf(out, "%s{\"record\":%zu,\"offset\":%" PRIu32 ",\"length\":%s,\"uid\":%" PRIu32
                              ",\"meaning\":%s,\"size_entry\":%s,\"size_disagrees\":%s}",
                         k == 0 ? "" : ",", k, e.offset, len ? std::to_string(*len).c_str() : "null", e.uid,
                         json_string(uid_meaning(k, e.uid)).c_str(),
                         entry ? std::to_string(*entry).c_str() : "null",
                         entry && len && *entry != *len ? "true" : "false");
        }
        std::fprintf(out, "]}\n");
        return sound;
    }
    std::fprintf(out, "archive:  %s (%" PRId64 " bytes)\n", common::shown(archive_name).c_str(), index.file_size);
    std::fprintf(out, "name:     %s\n", printable(h.name).c_str());
    std::fprintf(out, "type:     %s\n", four_cc(h.type).c_str());
    std::fprintf(out, "creator:  %s\n", four_cc(h.creator).c_str());
    std::fprintf(out, "created:  %s\n", pilot_time_text(h.created).c_str());
    std::fprintf(out, "modified: %s\n", pilot_time_text(h.modified).c_str());
    const std::size_t total = h.num_records;
    std::fprintf(out, "records:  %zu (the size record and %s)\n\n", total,
                 common::count_text(total == 0 ? 0 : total - 1, "file").c_str());
    std::fprintf(out, "record      offset     length  unique ID  size entry  meaning\n");
    bool marked = false;
    for (std::size_t k = 0; k < n; ++k) {
        const auto& e = index.entries[k];
        const auto len = record_length(index, k);
        const auto entry = size_entry(src, index, k);
        const bool disagrees = entry && len && *entry != *len;
        marked = marked || disagrees;
        const std::string len_text = len ? std::to_string(*len) : "?";
        const std::string entry_text = k == 0 ? "-" : entry ? std::to_string(*entry) + (disagrees ? "*" : " ") : "?";
        std::fprintf(out, "%6zu  %10" PRIu32 " %10s  %9" PRIu32 "  %10s  %s\n", k, e.offset, len_text.c_str(),
                     e.uid, entry_text.c_str(), uid_meaning(k, e.uid).c_str());
    }
    if (marked) {
        std::fprintf(out, "* the size entry differs from the record's length (a file of 64 KiB or more keeps "
                          "only the low 16 bits of its size)\n");
    }
    if (n < total) {
        std::fprintf(out, "the file ends inside the record list: it holds %zu of the %zu entries\n", n, total);
    }
    return sound;
}

std::vector<problem> check_archive(const archive_source& src) {
    std::vector<problem> problems;
    const auto error = [&](std::string text) { problems.push_back({false, std::move(text)}); };
    const auto warning = [&](std::string text) { problems.push_back({true, std::move(text)}); };
    pdb_index index;
    try {
        index = read_index(src);
    } catch (const common::fatal_error& e) {
        error(e.what());
        return problems;
    }
    const pdb_header& h = index.header;
    const std::int64_t size = index.file_size;
    if (h.name != crate::database_name) {
        warning("header: database name \"" + printable(h.name) + "\", crate writes \"" +
                std::string(crate::database_name) + "\"");
    }
    if ((h.attributes & 0x0001) != 0) {
        error(format("header: attributes 0x%04X mark a resource database", static_cast<unsigned>(h.attributes)));
    }
    if (h.type != 0x44415441) {
        error("header: type \"" + four_cc(h.type) + "\", not \"DATA\"");
    }
    const std::string creator = four_cc(h.creator);
    if (creator != crate::creator_id) {
        error("header: creator \"" + creator + "\", not \"" + std::string(crate::creator_id) + "\"");
    }
    if (h.app_info != 0 || h.sort_info != 0) {
        error(format("header: application info offset %" PRIu32 " and sort info offset %" PRIu32
                     ", the archive has neither block",
                     h.app_info, h.sort_info));
    }
    if (h.next_record_list != 0) {
        error(format("header: next record list %" PRIu32 ", the record list must be in the header", h.next_record_list));
    }
    const std::size_t n = index.entries.size();
    if (n == 0) {
        error("record count: 0, the size record is missing");
        return problems;
    }
    std::array<std::uint8_t, 2> delimiter{};
    const std::int64_t delimiter_at = expected_first_offset(n) - 2;
    if (!read_at(src, delimiter_at, delimiter)) {
        error(format("delimiter: the archive is %" PRId64 " bytes and ends before the two bytes at %" PRId64, size,
                     delimiter_at));
        return problems;
    }
    if (delimiter[0] != 0 || delimiter[1] != 0) {
        error(format("delimiter: bytes %02X %02X at %" PRId64 ", not two zero bytes", static_cast<unsigned>(delimiter[0]),
                     static_cast<unsigned>(delimiter[1]), delimiter_at));
    }
    if (index.entries[0].offset != expected_first_offset(n)) {
        error(format("record 0: the size record lies at %" PRIu32 ", not right behind the delimiter at %" PRId64,
                     index.entries[0].offset, expected_first_offset(n)));
    }
    if (index.entries[0].uid != 0) {
        error(format("record 0: the size record has unique ID %" PRIu32 ", not 0", index.entries[0].uid));
    }
    bool offsets_sound = true;
    for (std::size_t k = 0; k < n; ++k) {
        const auto& e = index.entries[k];
        if (e.offset > size) {
            error(format("record %zu: offset %" PRIu32 " lies past the end of the %" PRId64 "-byte archive", k, e.offset,
                         size));
            offsets_sound = false;
        } else if (k > 0 && e.offset < index.entries[k - 1].offset) {
            error(format("record %zu: offset %" PRIu32 " lies before record %zu's offset %" PRIu32, k, e.offset, k - 1,
                         index.entries[k - 1].offset));
            offsets_sound = false;
        }
        if (e.attributes != 0) {
            error(format("record %zu: attributes 0x%02X, crate writes 0", k, static_cast<unsigned>(e.attributes)));
        }
    }
    if (!offsets_sound) {
        return problems;
    }
    const auto size_record = record_length(index, 0);
    const std::int64_t want = 2 * static_cast<std::int64_t>(n - 1);
    if (*size_record != want) {
        error(format("record 0: the size record is %" PRId64 " bytes, not %" PRId64 " for %zu files", *size_record,
                     want, n - 1));
    }
    for (std::size_t k = 1; k < n; ++k) {
        const auto len = record_length(index, k);
        const auto entry = size_entry(src, index, k);
        if (!entry) {
            error(format("record %zu: no size entry in the size record", k));
            continue;
        }
        if (*entry == (*len & 0xFFFF)) {
            if (*len > 0xFFFF) {
                warning(format("record %zu: %" PRId64 " bytes, the size record keeps only the low 16 bits (%u)", k,
                               *len, static_cast<unsigned>(*entry)));
            }
            continue;
        }
        if (k + 1 == n) {
            error(format("total length: the archive is %" PRId64 " bytes, its last record should end at %" PRId64, size,
                         index.entries[k].offset + static_cast<std::int64_t>(*entry)));
        } else {
            error(format("record %zu: %" PRId64 " bytes, its size entry says %u", k, *len,
                         static_cast<unsigned>(*entry)));
        }
    }
    std::map<std::uint32_t, std::size_t> first_with;
    for (std::size_t k = 1; k < n; ++k) {
        const auto [it, fresh] = first_with.emplace(index.entries[k].uid, k);
        if (!fresh) {
            warning(format("record %zu: unique ID %" PRIu32 " is also record %zu's", k, index.entries[k].uid,
                           it->second));
        }
    }
    return problems;
}

bool print_check(std::FILE* out, const std::string& archive_name, const archive_source& src, bool json) {
    const auto problems = check_archive(src);
    const std::size_t errors = error_count(problems);
    const std::size_t warnings = problems.size() - errors;
    if (json) {
        std::fprintf(out, "{\"archive\":%s,\"sound\":%s,\"errors\":%zu,\"warnings\":%zu,\"problems\":[",
                     json_string(archive_name).c_str(), errors == 0 ? "true" : "false", errors, warnings);
        for (std::size_t i = 0; i < problems.size(); ++i) {
            std::fprintf(out, "%s{\"kind\":\"%s\",\"text\":%s}", i == 0 ? "" : ",",
                         problems[i].warning ? "warning" : "error", json_string(problems[i].text).c_str());
        }
        std::fprintf(out, "]}\n");
        return errors == 0;
    }
    for (const auto& p : problems) {
        std::fprintf(out, "%s: %s\n", p.warning ? "warning" : "error", p.text.c_str());
    }
    const std::string counted = common::count_text(warnings, "warning");
    const std::string name = common::shown(archive_name);
    if (errors == 0) {
        std::fprintf(out, "%s: sound (%s)\n", name.c_str(), counted.c_str());
    } else {
        std::fprintf(out, "%s: %s, %s\n", name.c_str(), common::count_text(errors, "error").c_str(),
                     counted.c_str());
    }
    return errors == 0;
}

}  // namespace peek
