// The archive's layout, defined once: a Palm OS database (PDB) of type DATA
// that crate writes and peek reads. All numbers are unsigned and big-endian.
//
//   offset 0       header, 78 bytes: name (32), attributes, version, creation
//                  and modification dates, ..., type, creator, ..., number of
//                  records N + 1
//   78             record list: N + 1 entries of 8 bytes (offset 4, attributes
//                  1, unique ID 3); entry 0 is the size record's
//   86 + 8N        two zero bytes
//   88 + 8N        the size record: each file's size, low 16 bits
//   88 + 10N       every file's bytes, unchanged, in order
#pragma once

#include "byte_source.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace palm {

inline constexpr std::int64_t header_size = 78;
inline constexpr std::int64_t entry_size = 8;
inline constexpr std::int64_t delimiter_size = 2;
inline constexpr std::size_t name_field_size = 32;

inline constexpr std::string_view database_name = "Lanterns of Vesselmoor for Palm";
inline constexpr std::string_view type_data = "DATA";
inline constexpr std::string_view creator_id = "QOVR";

// Seconds from 1904-01-01 (the handheld's epoch) to 1970-01-01.
inline constexpr std::uint32_t pilot_epoch_offset = 2082844800;

// Limits that follow from the field widths: the record count is 16 bits and
// counts the size record, record offsets are 32 bits.
inline constexpr std::size_t max_files = 65534;
// The size record keeps 16 bits of a size; a longer record is also more
// than a record of the handheld holds.
inline constexpr std::int64_t max_record_size = 0xFFFF;
inline constexpr std::int64_t max_archive_size = 0xFFFFFFFF;

// Offset of the size record of an archive of `files` files: behind the
// header, the record list and the delimiter (88 + 8N).
constexpr std::int64_t size_record_offset(std::size_t files) {
    return header_size + entry_size * static_cast<std::int64_t>(files + 1) + delimiter_size;
}

// Offset of the first file's bytes, behind the size record (88 + 10N).
constexpr std::int64_t first_file_offset(std::size_t files) {
    return size_record_offset(files) + 2 * static_cast<std::int64_t>(files);
}

// Seconds since 1970 to seconds since 1904, modulo 2^32.
std::uint32_t unix_time_to_pilot_time(std::int64_t t);

// "YYYY-MM-DD HH:MM:SS UTC" of a date in seconds since 1904-01-01.
std::string pilot_time_text(std::uint32_t t);

// What the first bytes of a file say about it.
enum class palm_db_shape {
    palm_db,      // the header is there, its name field holds a zero byte,
                  // type and creator are four printable ASCII characters
                  // each (0x20 to 0x7E), and the record list fits in the file
    truncated,    // all of that, but the file ends inside its record list
    not_palm_db,  // anything else, an empty file included
};

// Judges a file of `file_size` bytes from `start`, its first
// min(78, file_size) bytes.
palm_db_shape judge_palm_db(std::span<const std::uint8_t> start, std::int64_t file_size);

// Bytes taken from an archive, for a message: printable ASCII as it is, the
// backslash, the quote and every other byte as \xNN.
std::string printable(std::string_view s);

// Four type or creator characters, as printable() shows them.
std::string four_cc(std::uint32_t v);

// ---- reading an archive -------------------------------------------------------

struct pdb_header {
    std::string name;  // the 32-byte field up to its first zero byte
    std::uint16_t attributes = 0;
    std::uint16_t version = 0;
    std::uint32_t created = 0;  // seconds since 1904-01-01
    std::uint32_t modified = 0;
    std::uint32_t backed_up = 0;
    std::uint32_t modification_number = 0;
    std::uint32_t app_info = 0;
    std::uint32_t sort_info = 0;
    std::uint32_t type = 0;
    std::uint32_t creator = 0;
    std::uint32_t uid_seed = 0;
    std::uint32_t next_record_list = 0;
    std::uint16_t num_records = 0;
};

struct record_entry {
    std::uint32_t offset = 0;
    std::uint8_t attributes = 0;
    std::uint32_t uid = 0;  // 24 bits
};

// The header and the record list, as read; nothing in them is judged yet.
struct pdb_index {
    std::int64_t file_size = 0;
    pdb_header header;
    std::vector<record_entry> entries;
};

// How much of the record list read_index must find in the file.
enum class record_list {
    whole,        // all of it, or the file is refused
    what_it_has,  // the entries that lie whole in the file
};

// Reads the header and the record list. Throws common::input_error
// "not a Palm database (it begins with \"MZx\x00\", ...)" when the first bytes
// do not read as a Palm database (judge_palm_db). With `record_list::whole`,
// throws "record list: the archive is <n> bytes, too short for ..." when the
// file ends inside the list; with `what_it_has`, `entries` then holds fewer
// than header.num_records entries.
pdb_index read_index(const common::byte_source& src, record_list list = record_list::whole);

// The real length of record `k`: from its offset to the next record's offset
// (to the end of the file for the last record). Nothing when the offset lies
// past the end of the file or past the next record's offset, or when the
// next record's entry lies past the end of a cut record list.
std::optional<std::int64_t> record_length(const pdb_index& index, std::size_t k);

// The size record's 16-bit entry for record `k` (k >= 1), read from the
// archive; nothing when the entry lies outside the size record or the file.
std::optional<std::uint16_t> size_entry(const common::byte_source& src, const pdb_index& index, std::size_t k);

}  // namespace palm
