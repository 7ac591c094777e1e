// --verify: the archive holds exactly the text of the message library, as
// cutter makes it, under the unique IDs that crate gives its chunk files.
#include "peek.hpp"

#include "chunk_text.hpp"
#include "cli.hpp"
#include "json_output.hpp"
#include "message_blocks.hpp"
#include "pe_resources.hpp"
#include "record_ids.hpp"
#include "sjis.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <map>

namespace peek {

namespace {

struct library_chunk {
    std::string name;
    std::vector<std::uint8_t> text;
};

// Reads the 16 strings of each of the 36 message blocks of `library`, found
// and bounded as cutter finds and bounds them, and makes the text of every
// non-empty one.
std::map<std::uint32_t, library_chunk> library_chunks(const std::string& library, palm::sjis_table& table) {
    const auto opened = open_archive_file(library, "a file");
    const auto& source = opened.source;
    palm::resource_list rlist;
    palm::scan_dll(*source, rlist);
    std::map<std::uint32_t, library_chunk> chunks;
    std::vector<std::uint8_t> units;
    std::vector<std::uint8_t> text(palm::text_buffer_size);
    for (const std::string_view id : palm::text_name) {
        const int block = palm::block_number(id);
        palm::message_block mb = palm::open_message(*source, rlist, id);
        for (int index = 0; index < palm::strings_per_block; ++index) {
            units.resize(palm::read_string_length(mb, index));
            palm::read_string_text(mb, index, units);
            if (units.empty()) {
                continue;
            }
            const std::string chunk = palm::chunk_name(id, index);
            // cutter refuses a text that does not fit its buffer, so no
            // archive it made can hold one; such a string ends the verification.
            const std::size_t n = palm::make_chunk_text(table, units, block, index, text);
            if (n == 0) {
                throw common::input_error(chunk + ": the text is longer than " +
                                          std::to_string(palm::text_buffer_size) + " bytes; cutter refuses it.");
            }
            chunks[static_cast<std::uint32_t>(palm::chunk_id(block, index))] = {
                chunk, std::vector<std::uint8_t>(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n))};
        }
    }
    return chunks;
}

// Up to `chars` characters of `text` from byte `from`, as UTF-8 with line
// feeds shown as \n, for a one-line report.
std::string excerpt(const palm::sjis_reader& reader, std::span<const std::uint8_t> text, std::size_t from,
                    std::size_t chars) {
    from = std::min(from, text.size());
    std::size_t end = from;
    for (std::size_t n = 0; n < chars && end < text.size(); ++n) {
        end += palm::starts_two_byte_character(text[end]) ? 2 : 1;
    }
    end = std::min(end, text.size());
    std::string shown;
    for (const char c : reader.to_utf8(text.subspan(from, end - from))) {
        shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    // The closing zero byte, or the place where a text without one stops.
    if (end == text.size()) {
        shown += "<end>";
    }
    return "\"" + shown + "\"";
}

struct finding {
    std::string kind;  // "missing", "extra" or "different"
    std::string chunk;
    std::uint32_t uid = 0;
    std::optional<std::size_t> record;
    std::string detail;
};

// Where `got` first differs from `want`, told as character position and text.
std::string difference(const palm::sjis_reader& reader, std::span<const std::uint8_t> want,
                       std::span<const std::uint8_t> got) {
    // Walk by characters of the expected text, so the excerpt starts on one.
    std::size_t at = 0;
    std::size_t chars = 0;
    while (at < want.size() && at < got.size()) {
        const std::size_t w = palm::starts_two_byte_character(want[at]) ? 2 : 1;
        if (at + w > want.size() || at + w > got.size() ||
            !std::equal(want.begin() + static_cast<std::ptrdiff_t>(at), want.begin() + static_cast<std::ptrdiff_t>(at + w),
                        got.begin() + static_cast<std::ptrdiff_t>(at))) {
            break;
        }
        at += w;
        ++chars;
    }
    return "first difference at byte " + std::to_string(at) + " (character " + std::to_string(chars + 1) +
           "): archive " + excerpt(reader, got, at, 12) + ", library " + excerpt(reader, want, at, 12);
}

}  // namespace

bool verify_archive(std::FILE* out, const std::string& library, const std::string& fontfile,
                    const std::string& archive_name, const common::byte_source& src, bool json) {
    const palm::pdb_index index =
        common::name_finding(common::shown(archive_name), [&] { return palm::read_index(src); });
    palm::sjis_table table;
    load_font_table(table, fontfile);
    const palm::sjis_reader reader(table);
    const auto chunks = common::name_input(common::shown(library), [&] { return library_chunks(library, table); });

    // The record the handheld finds for an ID is the first that carries it.
    std::map<std::uint32_t, std::size_t> first_record;
    std::vector<finding> findings;
    for (std::size_t k = 1; k < index.entries.size(); ++k) {
        const std::uint32_t uid = index.entries[k].uid;
        const auto name = palm::chunk_name_of_id(uid);
        if (!name) {
            continue;
        }
        if (!first_record.emplace(uid, k).second) {
            findings.push_back({"extra", *name, uid, k, "a second record with this unique ID"});
        } else if (!chunks.contains(uid)) {
            findings.push_back({"extra", *name, uid, k, "the library has no such string"});
        }
    }
    std::size_t matching = 0;
    for (const auto& [uid, chunk] : chunks) {
        const auto it = first_record.find(uid);
        if (it == first_record.end()) {
            findings.push_back({"missing", chunk.name, uid, std::nullopt, "no record has its unique ID"});
            continue;
        }
        const decoded_chunk d = decode_chunk(src, index, it->second);
        if (d.fault.empty() && d.text == chunk.text) {
            ++matching;
            continue;
        }
        // A text that decoded at least in part shows where it departs.
        std::string fault = d.fault;
        if (fault.empty() || !d.text.empty()) {
            fault += (fault.empty() ? "" : "; ") + difference(reader, chunk.text, d.text);
        }
        findings.push_back({"different", chunk.name, uid, it->second, fault});
    }
    std::stable_sort(findings.begin(), findings.end(),
                     [](const finding& a, const finding& b) { return a.uid < b.uid; });
    // Matching texts in an archive the handheld may misread prove nothing:
    // every error of the structural check fails the verification too.
    std::vector<std::string> archive_errors;
    for (const auto& p : check_archive(src)) {
        if (!p.warning) {
            archive_errors.push_back(p.text);
        }
    }
    const bool ok = findings.empty() && archive_errors.empty();

    const auto count = [&](std::string_view kind) {
        return std::count_if(findings.begin(), findings.end(), [&](const finding& f) { return f.kind == kind; });
    };
    if (json) {
        json_value listed = json_value::array();
        for (const auto& f : findings) {
            listed.push_back({{"kind", f.kind},
                              {"chunk", f.chunk},
                              {"uid", f.uid},
                              {"record", f.record ? json_value(*f.record) : json_value(nullptr)},
                              {"detail", common::as_utf8(f.detail)}});
        }
        json_value errors = json_value::array();
        for (const auto& e : archive_errors) {
            errors.push_back(common::as_utf8(e));
        }
        print_json(out, {{"library", common::as_utf8(library)},
                         {"chunks", chunks.size()},
                         {"matching", matching},
                         {"missing", count("missing")},
                         {"extra", count("extra")},
                         {"different", count("different")},
                         {"ok", ok},
                         {"findings", std::move(listed)},
                         {"archive_errors", std::move(errors)}});
        return ok;
    }
    for (const auto& e : archive_errors) {
        std::fprintf(out, "archive error: %s\n", e.c_str());
    }
    for (const auto& f : findings) {
        std::fprintf(out, "%s %s (unique ID %" PRIu32 "%s): %s\n", f.kind.c_str(), f.chunk.c_str(), f.uid,
                     f.record ? (", record " + std::to_string(*f.record)).c_str() : "", f.detail.c_str());
    }
    if (ok) {
        std::fprintf(out, "verified: all %zu chunks of %s match\n", chunks.size(), common::shown(library).c_str());
    } else {
        const std::string errors =
            archive_errors.empty() ? "" : "; " + common::count_text(archive_errors.size(), "archive error");
        std::fprintf(out, "not verified: %zu of %zu chunks match; %td missing, %td extra, %td different%s\n", matching,
                     chunks.size(), count("missing"), count("extra"), count("different"), errors.c_str());
    }
    return ok;
}

}  // namespace peek
