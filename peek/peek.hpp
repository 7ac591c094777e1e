// peek: lists, checks, reads, extracts and verifies a Palm OS database
// written by crate, so that an archive can be trusted without a handheld.
//
// Every archive and stream is untrusted. The archive is read through one
// bounded reader that knows its size: a read outside the file is refused, a
// size or an offset taken from the file is never trusted for an allocation,
// and a decoded chunk is capped at `max_text_size` bytes. A file that cannot
// be read as an archive ends the run with a common::fatal_error naming what
// is wrong and where.
//
// Results go to the stream `out` the caller passes (standard output in the
// program); nothing is printed on standard error by this library.
#pragma once

#include "fatal_error.hpp"
#include "file_io.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace peek {

inline constexpr std::int64_t header_size = 78;
inline constexpr std::int64_t entry_size = 8;
// A decoded chunk longer than this is refused as damaged; cutter's texts are
// below 8000 bytes.
inline constexpr std::size_t max_text_size = 65535;
// Seconds from 1904-01-01 (the handheld's epoch) to 1970-01-01.
inline constexpr std::int64_t pilot_epoch_offset = 2082844800;
// Unique IDs of cutter's chunks: blocks 0x7 to 0x2a, string indexes 0 to 15.
inline constexpr std::uint32_t first_block = 0x7;
inline constexpr std::uint32_t last_block = 0x2a;
inline constexpr std::uint32_t chunk_id_base = 2500;
inline constexpr std::uint32_t chunk_id_step = 20;

inline constexpr std::string_view usage_text =
    "usage: peek [--json] archive | --check [--json] archive | --text archive fontfile | "
    "--extract dir archive | --verify [--json] library fontfile archive | --library [--json] library";

// ---- bounded reader ------------------------------------------------------

// The bytes of an archive: an open file or a piece of memory, and its size.
// Exactly one of `file` and `memory` is used (`file` when it is not null).
struct archive_source {
    std::FILE* file = nullptr;
    std::span<const std::uint8_t> memory;
    std::int64_t size = 0;
};

// Reads `dst.size()` bytes at `offset`. False, with `dst` unusable, when any
// of them lies outside the source or the read fails.
bool read_at(const archive_source& src, std::int64_t offset, std::span<std::uint8_t> dst);

// An archive file opened for reading with its measured size.
struct open_archive {
    common::file_ptr file;
    archive_source source;
};

// Opens the input `path` for binary reading when it is a regular file (or a
// link to one), without waiting for a FIFO's writer. Otherwise throws one
// line telling what stands there: "<name>: a folder, not <what>",
// "<name>: not a regular file" (a FIFO, a device, a socket), or
// "Can't open <name>." (nothing, or a file that may not be read).
common::file_ptr open_input(const std::string& path, std::string_view what);

// Opens `path` as open_input does ("a folder, not an archive") and measures
// it. Throws "Can't open <path>." when it cannot be measured.
open_archive open_archive_file(const std::string& path);

// Loads the font file's table and its inverse (make_u2e_table, then
// make_inverse_table). A font file that cannot be opened or read is refused
// in one line, as open_input words it ("a folder, not a file").
void load_font_table(const std::string& fontfile);

// ---- the archive's structure ---------------------------------------------

struct pdb_header {
    std::string name;  // the 32-byte field up to its first zero byte
    std::uint16_t attributes = 0;
    std::uint16_t version = 0;
    std::uint32_t created = 0;   // seconds since 1904-01-01
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
// do not read as a Palm database (crate::judge_palm_db): too short for the
// header, no zero byte in the name field, a type or creator that is not
// printable ASCII. With `record_list::whole`, throws "record list: the
// archive is <n> bytes, too short for ..." when the file ends inside the
// list; with `what_it_has`, `entries` then holds fewer than
// header.num_records entries.
pdb_index read_index(const archive_source& src, record_list list = record_list::whole);

// The real length of record `k`: from its offset to the next record's offset
// (to the end of the file for the last record). Nothing when the offset lies
// past the end of the file or past the next record's offset, or when the
// next record's entry lies past the end of a cut record list.
std::optional<std::int64_t> record_length(const pdb_index& index, std::size_t k);

// The size record's 16-bit entry for record `k` (k >= 1), read from the
// archive; nothing when the entry lies outside the size record or the file.
std::optional<std::uint16_t> size_entry(const archive_source& src, const pdb_index& index, std::size_t k);

// A chunk record decoded with the safe decoder.
struct decoded_chunk {
    std::vector<std::uint8_t> text;  // the text as far as it decoded
    std::string fault;               // what is wrong, empty when the stream is sound
};

// Decodes the stream of record `k`, at most `max_text_size` bytes of text.
// Never throws for the archive's contents: offsets that make no sense, a
// stream too long for any text, a stream that ends inside a match, a text
// over the cap and a text without its closing zero byte are named in `fault`.
decoded_chunk decode_chunk(const archive_source& src, const pdb_index& index, std::size_t k);

// ---- what a unique ID means ----------------------------------------------

// The chunk file name of `uid` as cutter writes it ("0x1d_03.txt" for 3083),
// when `uid` is the ID of one of cutter's chunks (2640 to 3355, index 0 to 15).
std::optional<std::string> chunk_name(std::uint32_t uid);

// What `uid` of record `k` means under crate's rules, for people: "size
// record" for record 0, a chunk file name, "fixed picture CGRUMO", a chunk
// ID outside cutter's blocks, or, below 2493, "picture number N or counted
// file N" (both kinds can give any such number).
std::string uid_meaning(std::size_t k, std::uint32_t uid);

// "YYYY-MM-DD HH:MM:SS UTC" of a date in seconds since 1904-01-01.
std::string pilot_time_text(std::uint32_t t);

// Four type or creator characters, a byte that is not printable ASCII as \xNN.
std::string four_cc(std::uint32_t v);

// ---- commands --------------------------------------------------------------

// The listing: header and one line per record (index, offset, length, unique
// ID, size entry marked with "*" where it disagrees with the real length,
// meaning); of a cut record list, the entries the file holds. `archive_name`
// is shown as given. With `json`, one JSON object. Returns true when
// check_archive finds no error. Throws for a file that is no Palm database.
bool print_listing(std::FILE* out, const std::string& archive_name, const archive_source& src, bool json);

struct problem {
    bool warning = false;  // a warning alone leaves the archive sound
    std::string text;      // one line, without a line end
};

// The structural check: header fields, record count, the record list inside
// the file, offsets inside the file and in order, the delimiter, the size
// record's place and length, every size entry against the real length, the
// total length; duplicate unique IDs and lengths of 64 KiB or more are
// warnings. Never throws for the archive's contents: a file that is no Palm
// database (one error saying so) or too short for its record list is a
// problem too.
std::vector<problem> check_archive(const archive_source& src);

// Prints every problem of check_archive on its own line ("error: ..." or
// "warning: ..."), then a closing line ("<archive>: sound (1 warning)" or
// "<archive>: 2 errors, 0 warnings"); with `json`, one JSON object. Returns
// true when no error was found.
bool print_check(std::FILE* out, const std::string& archive_name, const archive_source& src, bool json);

// A Shift_JIS text decoded back to UTF-8 through the inverse of the loaded
// font table (make_u2e_table first). cutter's replacement for an unmapped
// character, 0x81 0xAC, becomes the geta mark U+3013; a byte that starts no
// character of the table, or a control byte other than line feed and tab,
// becomes U+FFFD. The text's closing zero byte is dropped; an inner zero
// byte becomes U+FFFD too.
std::string sjis_to_utf8(std::span<const std::uint8_t> sjis);

// Builds the inverse table used by sjis_to_utf8 from the loaded font table.
// Call after every make_u2e_table.
void make_inverse_table();

// --text: every chunk record (a unique ID of cutter's chunks) in ID order,
// each as a block headed by "== <chunk name> (record <k>, unique ID <id>)"
// and followed by an empty line. A stream that is damaged (ends inside a
// match, decodes to more than `max_text_size` bytes, lacks its closing zero)
// is shown as far as it decodes with a line saying what is wrong; after all
// chunks are printed this throws one line naming the damaged ones.
void print_text(std::FILE* out, const archive_source& src);

// --extract: writes every record into the folder `dir` (created when
// missing): chunks as their chunk file name, the size record as
// "size_record.bin", other records as "uid_<id>.bin"; a name already taken
// gets "r<k>_" in front. Then writes "index.txt": a header line and one line
// per record with record, unique ID, length, file name and meaning, separated
// by tabs. Throws when a record's offsets make no sense or a file cannot be
// written.
void extract_archive(const std::string& dir, const archive_source& src);

// --verify: reads the library's 36 message blocks, makes each non-empty
// string's text as cutter does (Shift_JIS, reflow, closing zero) and compares
// it with the decoded stream of the record holding its unique ID. Prints one
// line per error the structural check (check_archive) finds, one line per
// missing, extra (a chunk ID the library does not give) or different chunk,
// and a closing summary; with `json`, one JSON object. Returns true when
// every chunk matches, none is extra and the check finds no error (warnings
// do not count). Throws for a library, font
// file or archive (`archive_name`) that cannot be read, the message starting
// with the file's name.
bool verify_archive(std::FILE* out, const std::string& library, const std::string& fontfile,
                    const std::string& archive_name, const archive_source& src, bool json);

// --library: the 36 message blocks as cutter finds them in `library` (found
// or missing, the resource type that served, language, file offset, data
// size, non-empty strings, longest string in UTF-16 code units, and what is
// wrong with a block cutter cannot read), then the library's other resources
// by type; with `json`, one JSON object. Returns true when cutter would find
// and read all 36 blocks. Throws for a library that cannot be opened or whose
// resource directory is broken.
bool print_library(std::FILE* out, const std::string& library, bool json);

// The whole program: reads the command line, runs one command and returns its
// exit status (0 or 1). Throws common::fatal_error for the usage text, for
// any input that cannot be read, and "Can't write standard output." when a
// result could not be written or flushed to standard output.
int peek_main(int argc, char** argv);

// JSON string literal of `s` with its quotes. Only well-formed UTF-8 (no
// overlong form, no encoded surrogate, nothing above U+10FFFF) is copied;
// every other byte of 0x80 and above is written as \u00NN, so the literal is
// always valid UTF-8.
std::string json_string(std::string_view s);

}  // namespace peek
