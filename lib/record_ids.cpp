#include "record_ids.hpp"

#include "cli.hpp"
#include "file_io.hpp"
#include "message_blocks.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <cstdio>
#include <limits>

namespace palm {

namespace {

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

// Reads a number the way strtol does (leading white space of the C locale, a
// sign, in base 16 an optional "0x" or "0X", digits up to the first one that
// does not belong), clamped to the 32-bit range so that every system gives
// the same result. No digits give 0.
std::int32_t parse_number(std::string_view s, int base) {
    std::size_t i = s.find_first_not_of(" \t\n\v\f\r");
    i = i == std::string_view::npos ? s.size() : i;
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

}  // namespace

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
        if (name.starts_with(picture.prefix)) {
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

std::int32_t get_uid_from_filename(uid_counter& counter, std::string_view filename, std::FILE* progress) {
    const std::string base(common::base_name(filename));
    const std::string_view b = base;
    if (b.starts_with("0x")) {
        std::int32_t block = 0;
        std::int32_t chunk = 0;
        if (parse_text_filename(b, block, chunk)) {
            const auto id = static_cast<std::int32_t>(chunk_id(block, chunk));
            if (progress != nullptr) {
                std::fprintf(progress, "%s: %d(%d:%d)\n", base.c_str(), static_cast<int>(id), static_cast<int>(block),
                             static_cast<int>(chunk));
            }
            return id;
        }
    } else if (b.starts_with("CG") || b.starts_with("ZOPA")) {
        std::int32_t id = 0;
        if (parse_cg_filename(b, id)) {
            if (progress != nullptr) {
                std::fprintf(progress, "%s: %d\n", base.c_str(), static_cast<int>(id));
            }
            return id;
        }
    }
    return counter.uid++;
}

namespace {

bool same_letters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<std::string> name_in_wanted_case(std::string_view base) {
    if (base.starts_with("0x") || base.starts_with("CG") || base.starts_with("ZOPA")) {
        return std::nullopt;  // the rule's own case: recognised or not, case is not why
    }
    std::int32_t block = 0;
    std::int32_t chunk = 0;
    std::int32_t id = 0;
    const auto mended = [&](std::string_view prefix) { return std::string(prefix) + std::string(base.substr(prefix.size())); };
    if (base.size() >= 2 && same_letters(base.substr(0, 2), "0x") && parse_text_filename(mended("0x"), block, chunk)) {
        return mended("0x");
    }
    for (const auto& p : fixed_picture_names) {
        if (base.size() >= p.prefix.size() && same_letters(base.substr(0, p.prefix.size()), p.prefix)) {
            return mended(p.prefix);
        }
    }
    for (const std::string_view prefix : {"CG", "ZOPA"}) {
        if (base.size() >= prefix.size() && same_letters(base.substr(0, prefix.size()), prefix) &&
            parse_cg_filename(mended(prefix), id)) {
            return mended(prefix);
        }
    }
    return std::nullopt;
}

std::vector<std::vector<std::size_t>> shared_ids(std::span<const std::uint32_t> ids) {
    std::map<std::uint32_t, std::vector<std::size_t>> holders;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        holders[ids[i]].push_back(i);
    }
    std::vector<std::vector<std::size_t>> groups;
    for (auto& [id, positions] : holders) {
        if (positions.size() > 1) {
            groups.push_back(std::move(positions));
        }
    }
    std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return a.front() < b.front(); });
    return groups;
}

namespace {

// The block and index a chunk ID stands for; `uid` is chunk_id(0, 0) or more.
struct block_and_index {
    std::int64_t block;
    std::int64_t index;
};
block_and_index split_chunk_id(std::uint32_t uid) {
    const std::int64_t step = chunk_id(1, 0) - chunk_id(0, 0);
    return {(uid - chunk_id(0, 0)) / step, (uid - chunk_id(0, 0)) % step};
}

// The name prefix of the fixed picture with ID `uid`, if one has it.
std::optional<std::string_view> fixed_picture_of_id(std::uint32_t uid) {
    for (const auto& p : fixed_picture_names) {
        if (static_cast<std::uint32_t>(p.id) == uid) {
            return p.prefix;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> chunk_name_of_id(std::uint32_t uid) {
    if (uid < chunk_id(first_block, 0)) {
        return std::nullopt;
    }
    const auto [block, index] = split_chunk_id(uid);
    if (block > last_block || index >= strings_per_block) {
        return std::nullopt;
    }
    return chunk_name(text_name[static_cast<std::size_t>(block - first_block)], static_cast<int>(index));
}

std::string file_name_of_id(std::uint32_t uid, std::string_view extension) {
    if (auto name = chunk_name_of_id(uid)) {
        return *name;
    }
    if (auto prefix = fixed_picture_of_id(uid)) {
        return std::string(*prefix) + std::string(extension);
    }
    return "CG0" + std::to_string(uid) + std::string(extension);
}

std::string uid_meaning(std::size_t k, std::uint32_t uid) {
    if (k == 0) {
        return "size record";
    }
    if (auto name = chunk_name_of_id(uid)) {
        return *name;
    }
    if (auto prefix = fixed_picture_of_id(uid)) {
        return "fixed picture " + std::string(*prefix);
    }
    if (uid >= chunk_id(0, 0)) {
        const auto [block, index] = split_chunk_id(uid);
        return common::format("chunk ID of block 0x%x index %u, outside cutter's chunks", static_cast<unsigned>(block),
                              static_cast<unsigned>(index));
    }
    return common::format("picture number %u or counted file %u", static_cast<unsigned>(uid),
                          static_cast<unsigned>(uid));
}

}  // namespace palm
