// --library: what a message library holds, as cutter sees it. When cutter
// stops with "Can't find the message", this shows which blocks are there,
// under which resource type, and what else the library carries.
#include "peek.hpp"

#include "cli.hpp"
#include "json_output.hpp"
#include "message_blocks.hpp"
#include "pe_resources.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <map>
#include <set>

namespace peek {

namespace {

// Names of the standard resource types that libraries carry.
std::string type_name(std::int32_t type) {
    static const std::map<std::int32_t, std::string_view> names = {
        {1, "cursor"},         {2, "bitmap"},        {3, "icon"},           {4, "menu"},
        {5, "dialog"},         {6, "string table"},  {7, "font directory"}, {8, "font"},
        {9, "accelerators"},   {10, "raw data"},     {11, "message table"}, {12, "cursor group"},
        {14, "icon group"},    {16, "version"},      {17, "dialog include"}, {19, "plug and play"},
        {20, "VxD"},           {21, "animated cursor"}, {22, "animated icon"}, {23, "HTML"},
        {24, "manifest"},
    };
    const auto it = names.find(type);
    return it != names.end() ? std::string(it->second) : "type " + std::to_string(type);
}

// One of the 36 blocks as cutter would read it.
struct block_view {
    std::string_view id;
    const palm::RESINFO* res = nullptr;  // the resource that serves, null when missing
    std::size_t strings = 0;       // non-empty strings
    std::size_t longest = 0;       // in UTF-16 code units
    std::string problem;           // why cutter would stop here, empty when it would not
};

block_view read_block(const common::byte_source& library, const palm::resource_list& rlist, std::string_view id) {
    block_view b{id, palm::find_message(rlist, id), 0, 0, {}};
    try {
        palm::message_block mb = palm::open_message(library, rlist, id);
        std::vector<std::uint8_t> units;
        for (int index = 0; index < palm::strings_per_block; ++index) {
            units.resize(palm::read_string_length(mb, index));
            palm::read_string_text(mb, index, units);
            if (!units.empty()) {
                ++b.strings;
                b.longest = std::max(b.longest, units.size() / 2);
            }
        }
    } catch (const common::fatal_error& e) {
        b.problem = e.what();
    }
    return b;
}

std::string hex(std::int32_t v) {
    return common::format("0x%" PRIx32, static_cast<std::uint32_t>(v));
}

}  // namespace

bool print_library(std::FILE* out, const std::string& library, bool json) {
    const auto opened = open_archive_file(library, "a file");
    const auto& source = opened.source;
    const std::int64_t size = source->size();
    palm::resource_list rlist;
    // What the scan finds wrong is what --library is asked to tell.
    try {
        palm::scan_dll(*source, rlist);
    } catch (const common::fatal_error& e) {
        throw common::finding(common::shown(library) + ": " + e.what());
    }

    std::vector<block_view> blocks;
    std::set<const palm::RESINFO*> serving;
    for (const std::string_view id : palm::text_name) {
        blocks.push_back(read_block(*source, rlist, id));
        serving.insert(blocks.back().res);
    }
    std::vector<const palm::RESINFO*> others;
    for (const palm::RESINFO& r : rlist) {
        if (serving.count(&r) == 0) {
            others.push_back(&r);
        }
    }
    const auto first_bad = std::find_if(blocks.begin(), blocks.end(), [](const block_view& b) { return !b.problem.empty(); });
    const std::size_t resources = others.size() + serving.size() - serving.count(nullptr);

    if (json) {
        json_value listed = json_value::array();
        for (const block_view& b : blocks) {
            json_value block = {{"block", std::string(b.id)}, {"found", b.res != nullptr}};
            if (b.res != nullptr) {
                block["type"] = b.res->type;
                block["type_name"] = type_name(b.res->type);
                block["language"] = b.res->lang;
                block["offset"] = b.res->offset;
                block["size"] = b.res->size;
                block["strings"] = b.strings;
                block["longest"] = b.longest;
            }
            block["problem"] = b.problem.empty() ? json_value(nullptr) : json_value(common::as_utf8(b.problem));
            listed.push_back(std::move(block));
        }
        json_value other = json_value::array();
        for (const palm::RESINFO* r : others) {
            other.push_back({{"type", r->type},
                             {"type_name", type_name(r->type)},
                             {"name", common::as_utf8(palm::rlist_name(*r))},
                             {"language", r->lang},
                             {"offset", r->offset},
                             {"size", r->size}});
        }
        print_json(out, {{"library", common::as_utf8(library)},
                         {"size", size},
                         {"resources", resources},
                         {"ok", first_bad == blocks.end()},
                         {"blocks", std::move(listed)},
                         {"others", std::move(other)}});
        return first_bad == blocks.end();
    }

    std::fprintf(out, "library:  %s (%" PRId64 " bytes, %s)\n\n", common::shown(library).c_str(), size,
                 common::count_text(resources, "resource").c_str());
    std::fprintf(out, "block  found  type              language      offset      size  strings  longest\n");
    for (const block_view& b : blocks) {
        const std::string id(b.id);
        if (b.res == nullptr) {
            std::fprintf(out, "%-5s  no\n", id.c_str());
            continue;
        }
        std::fprintf(out, "%-5s  yes    %-16s  %8s  %10" PRId32 "  %8" PRIu32 "  %7zu  %7zu\n", id.c_str(),
                     type_name(b.res->type).c_str(), hex(b.res->lang).c_str(), b.res->offset, b.res->size, b.strings,
                     b.longest);
        if (!b.problem.empty()) {
            std::fprintf(out, "       ! %s\n", b.problem.c_str());
        }
    }
    const auto found = static_cast<std::size_t>(
        std::count_if(blocks.begin(), blocks.end(), [](const block_view& b) { return b.res != nullptr; }));
    if (first_bad == blocks.end()) {
        std::fprintf(out, "\nall %zu blocks found and readable\n", blocks.size());
    } else {
        std::fprintf(out, "\n%zu of %zu blocks found; cutter stops at block %.*s: %s\n", found, blocks.size(),
                     static_cast<int>(first_bad->id.size()), first_bad->id.data(), first_bad->problem.c_str());
    }

    // The other resources, briefly: per type, how many and their names (a
    // name in several languages is one resource per language).
    std::map<std::int32_t, std::pair<std::size_t, std::vector<std::string>>> by_type;
    for (const palm::RESINFO* r : others) {
        auto& [count, names] = by_type[r->type];
        ++count;
        const std::string name(palm::rlist_name(*r));
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    std::fprintf(out, "\nother resources: %s\n", others.empty() ? "none" : std::to_string(others.size()).c_str());
    constexpr std::size_t names_shown = 8;
    for (const auto& [type, seen] : by_type) {
        const auto& [count, names] = seen;
        std::string shown;
        for (std::size_t i = 0; i < names.size() && i < names_shown; ++i) {
            shown += " " + names[i];
        }
        if (names.size() > names_shown) {
            shown += " ...";
        }
        std::fprintf(out, "  %s (%" PRId32 "): %zu, named%s\n", type_name(type).c_str(), type, count, shown.c_str());
    }
    return first_bad == blocks.end();
}

}  // namespace peek
