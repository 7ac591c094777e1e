// crate: packs files into one Palm OS database (PDB) of type "DATA".
//
// The archive is written in one forward pass: a 78-byte header, a record
// list of N + 1 entries, two zero bytes, a size record (one 16-bit length per
// file) and then every file's bytes unchanged. Each file's record carries a
// unique ID derived from its name, so that the handheld finds a chunk by its
// message block and string index, or a picture by its number.
//
// Run-ending failures throw common::fatal_error with the one-line message;
// progress lines go to standard error, which the program buffers (flushing
// it before a file that takes long to copy, and at the end of every run).
#pragma once

#include "file_io.hpp"
#include "palm_db.hpp"
#include "record_ids.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace crate {

// One input file. `name` is the name as given (at most 255 characters), or
// empty for a file that was not found; `size` is its length in bytes, 0 for a
// file that was not found; `id` tells which file was measured, so that the
// copy can make sure it reads the same one.
struct fileinfo {
    std::string name;
    std::int32_t size = 0;
    common::file_id id;
    common::file_time modified = 0;  // as measured, to tell a file rewritten in place
    common::file_time changed = 0;
};

// Limits that follow from the archive's field widths (palm::max_files,
// palm::max_archive_size and these), checked before the first byte of the
// archive is written.
inline constexpr std::size_t max_name_length = 255;    // a name must fit 256 characters with its closing zero
inline constexpr std::int64_t max_file_size = 0x7FFFFFFF;  // a size is a signed 32-bit number
inline constexpr std::size_t list_block_size = 64 * 1024;  // the file list is read in blocks of this size
inline constexpr std::size_t max_list_size = 64 * 1024 * 1024;  // a file list longer than this is refused
inline constexpr std::size_t copy_buffer_size = 256 * 1024;  // files up to this size are read whole, larger ones copied file to file
inline constexpr std::size_t archive_buffer_size = 256 * 1024;  // the archive is written in blocks of this size (at least copy_buffer_size)
static_assert(archive_buffer_size >= copy_buffer_size, "a small file must fit an empty block");

inline constexpr std::string_view usage_text = "usage: crate [-f filelist] archive file_1 ... file_N";

// ---- command line, file list, file sizes --------------------------------

// The whole program: reads the command line (`[-q|--quiet] [--strict]`, then
// `archive file_1 ... file_N` or `-f filelist archive`), gathers and measures
// the input files, prints archive_warnings (with --strict, any of them ends
// the run before the archive is written), writes the archive and ends with
// one closing line: records, bytes, files not found, shared unique IDs. The archive's name is followed as a shell redirection follows it
// (common::resolve_output): a new file, or the regular file the name leads to,
// is written under a temporary name that takes the final name (a link on the
// way stays a link) only when the archive is complete, and only when that file
// is empty or reads as a Palm database (palm::judge_palm_db): any other file is the
// user's own and is refused. A FIFO or a character device is written directly.
// Returns 0 after a complete archive. Throws common::fatal_error for the
// usage text; an unknown option; in the plain form an input name that begins
// with "-" and names nothing ("<name>: no such file; options come before the
// archive"); a file list or archive that cannot be opened or written ("Can't
// open outputfile <name>." also for a dangling link, a folder, a block device
// or a socket at the archive's name); a file there that is no Palm database
// ("<name>: not a Palm database, so crate leaves it alone (...)"); a refused
// input (too many files, a name or a file too long, the archive itself); an
// input file that changed or cannot be read when it is copied; a failed
// allocation ("calloc: ..."); and "<archive>: in use by another program; the
// old archive is kept" when another program holds it open (Windows).
// Whenever it throws, an older archive of that name is left as it was and the
// temporary file is gone. A first argument "-h" or "--help" prints the help,
// "--version" the version, on standard output, and returns 0; any other first
// argument that begins with "-" but not "-f" is refused as an unknown option.
// Names quoted in messages are cut to common::shown_name_bytes.
int crate_main(int argc, char** argv);

// Reads the file list `filename` ("-": standard input) whole, once, whatever
// it is (a file, a pipe), prints "Reading file list[<name>]", parses it with
// parse_file_list, prints every name on its own line and returns the names.
// Throws "Can't open outputfile <name>." when the list cannot be opened,
// "fgets: <system text>" on a read error, "<name>: the file list is longer
// than 64 MiB" past `max_list_size` bytes, and what parse_file_list throws.
std::vector<std::string> make_filelist(const std::string& filename, std::FILE* progress = stderr);

// The names of a file list's bytes, in list order. The list is UTF-8 text (a
// byte-order mark EF BB BF in front is skipped) or UTF-16 text that begins
// with its byte-order mark (FF FE little-endian, FE FF big-endian), which is
// turned into UTF-8. Every line is one entry, whatever its length, named by
// its first white-space-delimited word (an empty name for a line without a
// word; a zero byte ends a line's text); a line ends in a line feed, so a
// CR LF ends it too, and the last line needs none. A name too long for the
// archive is refused later, by check_file_names, as on the command line.
// Throws common::fatal_error "<list>: line <n> is not UTF-8 text; save the
// file list as UTF-8" (or "... not UTF-16 text ...") for a line that is not
// well-formed, and the too-many-files refusal past palm::max_files entries.
std::vector<std::string> parse_file_list(std::span<const std::uint8_t> list, const std::string& list_name);

// Refuses (throws) a list of more than palm::max_files names or one holding a
// name longer than `max_name_length` characters. Prints nothing otherwise.
void check_file_names(std::span<const std::string> names);

// Measures every named file in order, from the file system's metadata alone
// (links followed; no file is opened). A name that leads to no regular file
// (none at all, a folder, a FIFO, a device, a socket, an empty name) prints
// "not found <name>" and gives {"", 0}; a regular file prints
// "<name>: <size>" and gives its name, size, id and times. Throws
// "<name>: file too large (2 GiB or more)" for such a file.
std::vector<fileinfo> collect_file_info(std::span<const std::string> names, std::FILE* progress = stderr);

// Length in bytes of the archive that the files make: palm::first_file_offset
// of their count, and all their sizes.
std::int64_t archive_size(std::span<const fileinfo> fi);

// ---- archive writer ------------------------------------------------------

// The archive on its way to its file: bytes gather in `block` and leave in
// whole blocks, one write each; a small file's bytes are read straight into
// the block, and a large file goes from file to file behind what the block
// held. Once a write has failed, nothing more is written and `failed` stays
// set.
struct archive_stream {
    std::FILE* fp = nullptr;  // the archive's file, unbuffered
    std::vector<std::uint8_t> block;
    std::size_t used = 0;  // bytes at the start of `block` not yet written
    bool failed = false;
};

// A stream over `fp` with a block of `archive_buffer_size` bytes. `fp`
// becomes unbuffered: call this before anything is written to it.
archive_stream open_archive_stream(std::FILE* fp);

// Writes what the block holds. False when this or an earlier write failed.
bool flush_archive(archive_stream& fp);

// The writers below leave write errors to the stream's `failed` flag, which
// the caller checks when it flushes the stream at the end.

// Writes the 78-byte header: `name` zero-padded to 32 bytes, both dates
// `date` (when none is given, the system clock, read once), type "DATA", the first four characters of `id` (zero
// bytes stand in for missing ones) and `num` records (low 16 bits). Throws
// "the name length should be less than 32 chars." before writing anything
// when `name` has 32 characters or more.
void output_header(archive_stream& fp, std::string_view name, std::string_view id, std::int32_t num,
                   std::optional<std::uint32_t> date = std::nullopt);

// Writes the N + 1 record-list entries: the size record's entry, then one per
// file with its offset and the low 24 bits of
// palm::get_uid_from_filename(uid, name), called exactly once per file in
// order, so that `uid` numbers the names of no recognised form. Returns those
// IDs, in order.
std::vector<std::uint32_t> output_record_entry_header(archive_stream& fp, std::span<const fileinfo> fi,
                                                     palm::uid_counter& uid, std::FILE* progress = stderr);

// Writes the two zero bytes behind the record list.
void output_delimiter(archive_stream& fp);

// The archive has no application info block and no sort info block; these
// write nothing and stand where those blocks would be.
void output_app_info();
void output_sort_info();

// Writes the size record: the low 16 bits of every file's size, in order.
void output_first_record(archive_stream& fp, std::span<const fileinfo> fi);

// Copies the bytes of every file that was found, in order, each of non-zero
// size preceded by the line "file: <name>" on standard error. Each file is
// opened once, and must still be the file that was measured, with the same
// length, no byte past it and not modified while it was copied; otherwise
// the run ends (throws) with "Can't open <name>.", "Can't read <name>." or
// "<name>: changed after it was measured (<replaced|grown|shrunk|changed>)".
// A file measured as empty is checked too, silently: a file whose metadata
// says 0 bytes but that yields bytes when read (as /proc files do) ends the
// run as grown. Files of up to `copy_buffer_size` bytes are read straight
// into the stream's block, larger ones copied from file to file, so memory
// use stays bounded whatever the sizes; before such a larger file, standard
// error is flushed, so that the progress lines show while it is copied.
// Returns false, stopping early, once a write to the archive fails.
bool output_record(archive_stream& fp, std::span<const fileinfo> fi, std::FILE* progress = stderr);

// The warnings about what the handheld will get wrong in an archive of the
// files `fi` (measured from `names`, in order) with the unique IDs `ids`, one
// line each, without "warning: ": a name the rules would recognise but for
// its case (palm::name_in_wanted_case), a file of more than
// palm::max_record_size bytes, each unique ID shared by several files (the
// groups `shared`, from palm::shared_ids(ids)), and, in one line, the files
// that were not found.
std::vector<std::string> archive_warnings(std::span<const std::string> names, std::span<const fileinfo> fi,
                                          std::span<const std::uint32_t> ids,
                                          std::span<const std::vector<std::size_t>> shared);

// Write the low 4, 3 or 2 bytes of `val`, most significant first.
void put4b(std::int32_t val, archive_stream& fp);
void put3b(std::int32_t val, archive_stream& fp);
void put2b(std::int32_t val, archive_stream& fp);

}  // namespace crate
