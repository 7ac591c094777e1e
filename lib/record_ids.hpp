// Record unique IDs from file names, and what an ID means. crate gives every
// packed file the ID its name calls for, so that the handheld finds a chunk
// by its message block and string index, or a picture by its number; peek
// tells what an ID stands for.
//
//   chunk file "0x<block hex>_<index dec>..."  2500 + 20 * block + index
//   "CGRUMO", "CGBLACK", "ZOPA01" to "ZOPA05"   2499, 2498, 2497 to 2493
//   other "CG..." or "ZOPA..." names            the number from the first "0"
//   anything else                               a counter: 0, 1, 2, ...
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace palm {

// The ID of string `index` of message block `block`.
constexpr std::int64_t chunk_id(std::int64_t block, std::int64_t index) {
    return 2500 + 20 * block + index;
}

// Picture names with a fixed ID: a base name that begins with `prefix`
// (case-sensitive) gets `id`. The entries are tried in this order and the
// first match wins.
struct picture_name {
    std::string_view prefix;
    std::int32_t id;
};
inline constexpr std::array<picture_name, 7> fixed_picture_names{{
    {"CGRUMO", 2499},
    {"CGBLACK", 2498},
    {"ZOPA01", 2497},
    {"ZOPA02", 2496},
    {"ZOPA03", 2495},
    {"ZOPA04", 2494},
    {"ZOPA05", 2493},
}};

// The counter that numbers the names of no recognised form, in call order.
// crate starts one at 0 for every archive.
struct uid_counter {
    std::int32_t uid = 0;  // the ID the next such name receives
};

// The unique ID of a packed file, from its base name (common::base_name). The
// lines go to `progress`, standard error unless the caller says otherwise
// (null: none):
//   "0x<block hex>_<index dec>..."  -> chunk_id(block, index), and prints
//                                      "<base>: <id>(<block>:<index>)";
//   "CG..." or "ZOPA..." with a fixed
//   prefix or a "0" digit           -> the picture ID, prints "<base>: <id>";
//   anything else                   -> `counter.uid`, which advances.
// A "0x" name without "_" and a picture name without "0" are counted too.
std::int32_t get_uid_from_filename(uid_counter& counter, std::string_view filename, std::FILE* progress = stderr);

// The form the rules want of a base name that they would recognise but for
// the case of its prefix ("cgrumo.bmp" -> "CGRUMO.bmp", "0X7_01.TXT" ->
// "0x7_01.TXT", "cg012.bmp" -> "CG012.bmp"); nothing for any other name.
// Windows opens such a file whatever its case, so nothing else shows that it
// gets a counted ID.
std::optional<std::string> name_in_wanted_case(std::string_view base);

// The records that share a unique ID: for each ID given more than once, the
// positions in `ids` that hold it, in order; the groups in the order of
// their first position. The handheld finds only one record of each group.
std::vector<std::vector<std::size_t>> shared_ids(std::span<const std::uint32_t> ids);

// Reads block and index from a base name that begins with "0x": the block is
// the text before the first "_", read as base 16 like strtol (the "0x" in
// front is accepted); the index is the text from behind that "_" up to the
// next "." (or the end of the name), read as base 10 like strtol. Numbers out
// of the 32-bit range are clamped to it. Returns false, leaving both
// unchanged, when the name holds no "_".
bool parse_text_filename(std::string_view name, std::int32_t& block, std::int32_t& chunk);

// The picture ID of a base name that begins with "CG" or "ZOPA": the ID of the
// first matching fixed picture name, or else the decimal number that starts
// at the first "0" of the name and ends before the next "." (or the end of
// the name), read like strtol in base 10. Returns false, leaving `id`
// unchanged, when no prefix matches and the name holds no "0".
bool parse_cg_filename(std::string_view name, std::int32_t& id);

// The chunk file name of `uid` as cutter writes it ("0x1d_03.txt" for 3083),
// when `uid` is the ID of one of cutter's chunks (blocks 0x7 to 0x2a, string
// indexes 0 to 15).
std::optional<std::string> chunk_name_of_id(std::uint32_t uid);

// A file name that crate turns back into exactly `uid`, whatever its counter
// stands at: the chunk file name for one of cutter's chunks, the fixed
// picture name for those IDs ("CGRUMO" for 2499), and "CG0<uid>" for any
// other (its number starts at its first zero); `extension` (".bmp") follows
// the latter two.
std::string file_name_of_id(std::uint32_t uid, std::string_view extension);

// What `uid` of record `k` means, for people: "size record" for record 0, a
// chunk file name, "fixed picture CGRUMO", a chunk ID outside cutter's
// blocks, or, below 2493, "picture number N or counted file N" (both kinds
// of name can give any such number).
std::string uid_meaning(std::size_t k, std::uint32_t uid);

}  // namespace palm
