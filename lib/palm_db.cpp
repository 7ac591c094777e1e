#include "palm_db.hpp"

#include "cli.hpp"
#include "fatal_error.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

namespace palm {

namespace {

std::uint32_t be(std::span<const std::uint8_t> b, std::size_t at, std::size_t n) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        v = (v << 8) | b[at + i];
    }
    return v;
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

}  // namespace

std::uint32_t unix_time_to_pilot_time(std::int64_t t) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(t) + pilot_epoch_offset);
}

std::string pilot_time_text(std::uint32_t t) {
    const std::int64_t unix_time = static_cast<std::int64_t>(t) - pilot_epoch_offset;
    const std::int64_t days = (unix_time >= 0 ? unix_time : unix_time - 86399) / 86400;
    const std::int64_t secs = unix_time - days * 86400;
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civil_from_days(days, y, m, d);
    return common::format("%04" PRId64 "-%02u-%02u %02d:%02d:%02d UTC", y, m, d, static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
}

palm_db_shape judge_palm_db(std::span<const std::uint8_t> start, std::int64_t file_size) {
    constexpr auto header = static_cast<std::size_t>(header_size);
    if (file_size < header_size || start.size() < header) {
        return palm_db_shape::not_palm_db;
    }
    const auto name_end = start.begin() + name_field_size;
    const bool named = std::find(start.begin(), name_end, std::uint8_t{0}) != name_end;
    const bool printable_codes =
        std::all_of(start.begin() + 60, start.begin() + 68, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
    if (!named || !printable_codes) {
        return palm_db_shape::not_palm_db;
    }
    const std::int64_t records = start[76] << 8 | start[77];
    return header_size + entry_size * records <= file_size ? palm_db_shape::palm_db : palm_db_shape::truncated;
}

std::string printable(std::string_view s) {
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += ch;
        } else {
            out += common::format("\\x%02X", c);
        }
    }
    return out;
}

std::string four_cc(std::uint32_t v) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        s += static_cast<char>((v >> shift) & 0xFF);
    }
    return printable(s);
}

pdb_index read_index(const common::byte_source& src, record_list list) {
    pdb_index index;
    index.file_size = src.size();
    std::array<std::uint8_t, header_size> h{};
    const auto start = std::span(h).first(static_cast<std::size_t>(std::clamp<std::int64_t>(src.size(), 0, header_size)));
    if (!src.read_at(0, start)) {
        throw common::input_error("header: its bytes cannot be read");
    }
    const auto shape = judge_palm_db(start, src.size());
    if (shape == palm_db_shape::not_palm_db) {
        throw common::input_error("not a Palm database (" + beginning_text(start, src.size()) + ")");
    }
    pdb_header& hd = index.header;
    hd.name = std::string(h.begin(), std::find(h.begin(), h.begin() + name_field_size, std::uint8_t{0}));
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
    if (shape == palm_db_shape::truncated) {
        if (list == record_list::whole) {
            throw common::input_error(common::format("record list: the archive is %" PRId64
                                             " bytes, too short for the list of %u records (%" PRId64 " bytes)",
                                             src.size(), static_cast<unsigned>(hd.num_records),
                                             header_size + entry_size * hd.num_records));
        }
        count = static_cast<std::size_t>((src.size() - header_size) / entry_size);
    }
    std::vector<std::uint8_t> bytes(count * static_cast<std::size_t>(entry_size));
    if (!src.read_at(header_size, bytes)) {
        throw common::input_error("record list: its bytes cannot be read");
    }
    index.entries.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t at = k * static_cast<std::size_t>(entry_size);
        index.entries[k] = {be(bytes, at, 4), bytes[at + 4], be(bytes, at + 5, 3)};
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

std::optional<std::uint16_t> size_entry(const common::byte_source& src, const pdb_index& index, std::size_t k) {
    if (k == 0 || k >= index.entries.size()) {
        return std::nullopt;
    }
    const auto size_record = record_length(index, 0);
    const std::int64_t at = 2 * static_cast<std::int64_t>(k - 1);
    if (!size_record || at + 2 > *size_record) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 2> b{};
    if (!src.read_at(index.entries[0].offset + at, b)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(be(b, 0, 2));
}

}  // namespace palm
