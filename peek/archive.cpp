// Reading an archive: opening peek's inputs, the listing and the structural
// check.
#include "peek.hpp"

#include "cli.hpp"
#include "json_output.hpp"
#include "record_ids.hpp"
#include "utf8.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <map>

namespace peek {

using common::format;

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

open_archive open_archive_file(const std::string& path, std::string_view what) {
    open_archive a;
    a.file = open_input(path, what);
    a.source = common::byte_source::of_file(a.file.get());
    if (!a.source) {
        throw common::fatal_error("Can't open " + common::shown(path) + ".");
    }
    return a;
}

namespace {

std::size_t error_count(const std::vector<problem>& problems) {
    return static_cast<std::size_t>(
        std::count_if(problems.begin(), problems.end(), [](const problem& p) { return !p.warning; }));
}

}  // namespace

bool print_listing(std::FILE* out, const std::string& archive_name, const common::byte_source& src, bool json) {
    // A cut record list still shows the header and the entries it holds.
    const palm::pdb_index index = palm::read_index(src, palm::record_list::what_it_has);
    const bool sound = error_count(check_archive(src)) == 0;
    const palm::pdb_header& h = index.header;
    const std::size_t n = index.entries.size();
    if (json) {
        json_value records = json_value::array();
        for (std::size_t k = 0; k < n; ++k) {
            const auto& e = index.entries[k];
            const auto len = palm::record_length(index, k);
            const auto entry = palm::size_entry(src, index, k);
            records.push_back({{"record", k},
                               {"offset", e.offset},
                               {"length", len ? json_value(*len) : json_value(nullptr)},
                               {"uid", e.uid},
                               {"meaning", palm::uid_meaning(k, e.uid)},
                               {"size_entry", entry ? json_value(*entry) : json_value(nullptr)},
                               {"size_disagrees", entry && len && *entry != *len}});
        }
        print_json(out, {{"archive", common::as_utf8(archive_name)},
                         {"size", index.file_size},
                         {"name", common::as_utf8(h.name)},
                         {"type", common::as_utf8(palm::four_cc(h.type))},
                         {"creator", common::as_utf8(palm::four_cc(h.creator))},
                         {"created", palm::pilot_time_text(h.created)},
                         {"modified", palm::pilot_time_text(h.modified)},
                         {"records", std::move(records)}});
        return sound;
    }
    std::fprintf(out, "archive:  %s (%" PRId64 " bytes)\n", common::shown(archive_name).c_str(), index.file_size);
    std::fprintf(out, "name:     %s\n", palm::printable(h.name).c_str());
    std::fprintf(out, "type:     %s\n", palm::four_cc(h.type).c_str());
    std::fprintf(out, "creator:  %s\n", palm::four_cc(h.creator).c_str());
    std::fprintf(out, "created:  %s\n", palm::pilot_time_text(h.created).c_str());
    std::fprintf(out, "modified: %s\n", palm::pilot_time_text(h.modified).c_str());
    const std::size_t total = h.num_records;
    std::fprintf(out, "records:  %zu (the size record and %s)\n\n", total,
                 common::count_text(total == 0 ? 0 : total - 1, "file").c_str());
    std::fprintf(out, "record      offset     length  unique ID  size entry  meaning\n");
    bool marked = false;
    for (std::size_t k = 0; k < n; ++k) {
        const auto& e = index.entries[k];
        const auto len = palm::record_length(index, k);
        const auto entry = palm::size_entry(src, index, k);
        const bool disagrees = entry && len && *entry != *len;
        marked = marked || disagrees;
        const std::string len_text = len ? std::to_string(*len) : "?";
        const std::string entry_text = k == 0 ? "-" : entry ? std::to_string(*entry) + (disagrees ? "*" : " ") : "?";
        std::fprintf(out, "%6zu  %10" PRIu32 " %10s  %9" PRIu32 "  %10s  %s\n", k, e.offset, len_text.c_str(),
                     e.uid, entry_text.c_str(), palm::uid_meaning(k, e.uid).c_str());
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

std::vector<problem> check_archive(const common::byte_source& src) {
    std::vector<problem> problems;
    const auto error = [&](std::string text) { problems.push_back({false, std::move(text)}); };
    const auto warning = [&](std::string text) { problems.push_back({true, std::move(text)}); };
    palm::pdb_index index;
    try {
        index = palm::read_index(src);
    } catch (const common::fatal_error& e) {
        error(e.what());
        return problems;
    }
    const palm::pdb_header& h = index.header;
    const std::int64_t size = index.file_size;
    if (h.name != palm::database_name) {
        warning("header: database name \"" + palm::printable(h.name) + "\", crate writes \"" +
                std::string(palm::database_name) + "\"");
    }
    if ((h.attributes & 0x0001) != 0) {
        error(format("header: attributes 0x%04X mark a resource database", static_cast<unsigned>(h.attributes)));
    }
    if (const std::string type = palm::four_cc(h.type); type != palm::type_data) {
        error("header: type \"" + type + "\", not \"" + std::string(palm::type_data) + "\"");
    }
    const std::string creator = palm::four_cc(h.creator);
    if (creator != palm::creator_id) {
        error("header: creator \"" + creator + "\", not \"" + std::string(palm::creator_id) + "\"");
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
    const std::int64_t size_record_at = palm::size_record_offset(n - 1);
    const std::int64_t delimiter_at = size_record_at - palm::delimiter_size;
    if (!src.read_at(delimiter_at, delimiter)) {
        error(format("delimiter: the archive is %" PRId64 " bytes and ends before the two bytes at %" PRId64, size,
                     delimiter_at));
        return problems;
    }
    if (delimiter[0] != 0 || delimiter[1] != 0) {
        error(format("delimiter: bytes %02X %02X at %" PRId64 ", not two zero bytes", static_cast<unsigned>(delimiter[0]),
                     static_cast<unsigned>(delimiter[1]), delimiter_at));
    }
    if (index.entries[0].offset != size_record_at) {
        error(format("record 0: the size record lies at %" PRIu32 ", not right behind the delimiter at %" PRId64,
                     index.entries[0].offset, size_record_at));
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
    const auto size_record = palm::record_length(index, 0);
    const std::int64_t want = 2 * static_cast<std::int64_t>(n - 1);
    if (*size_record != want) {
        error(format("record 0: the size record is %" PRId64 " bytes, not %" PRId64 " for %zu files", *size_record,
                     want, n - 1));
    }
    for (std::size_t k = 1; k < n; ++k) {
        const auto len = palm::record_length(index, k);
        const auto entry = palm::size_entry(src, index, k);
        if (!entry) {
            error(format("record %zu: no size entry in the size record", k));
            continue;
        }
        if (*entry == (*len & 0xFFFF)) {
            if (*len > palm::max_record_size) {
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
    // The same rule crate warns with; one line per record after the first of
    // its ID, in record order.
    std::vector<std::uint32_t> ids;
    for (std::size_t k = 1; k < n; ++k) {
        ids.push_back(index.entries[k].uid);
    }
    std::map<std::size_t, std::size_t> also;  // record -> the first record of its ID
    for (const auto& group : palm::shared_ids(ids)) {
        for (std::size_t i = 1; i < group.size(); ++i) {
            also[group[i] + 1] = group.front() + 1;
        }
    }
    for (const auto& [k, first] : also) {
        warning(format("record %zu: unique ID %" PRIu32 " is also record %zu's", k, index.entries[k].uid, first));
    }
    return problems;
}

bool print_check(std::FILE* out, const std::string& archive_name, const common::byte_source& src, bool json) {
    const auto problems = check_archive(src);
    const std::size_t errors = error_count(problems);
    const std::size_t warnings = problems.size() - errors;
    if (json) {
        json_value listed = json_value::array();
        for (const auto& p : problems) {
            listed.push_back({{"kind", p.warning ? "warning" : "error"}, {"text", common::as_utf8(p.text)}});
        }
        print_json(out, {{"archive", common::as_utf8(archive_name)},
                         {"sound", errors == 0},
                         {"errors", errors},
                         {"warnings", warnings},
                         {"problems", std::move(listed)}});
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
