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

#include "byte_source.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"
#include "palm_db.hpp"
#include "sjis.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace peek {

// A decoded chunk longer than this is refused as damaged; cutter's texts are
// below 8000 bytes.
inline constexpr std::size_t max_text_size = 65535;

inline constexpr std::string_view usage_text =
    "usage: peek [--json] archive | --check [--json] archive | --text archive fontfile | "
    "--extract dir archive | --verify [--json] library fontfile archive | --library [--json] library";

// ---- inputs -----------------------------------------------------------------

// An archive file opened for reading with its measured size.
struct open_archive {
    common::file_ptr file;
    std::optional<common::byte_source> source;  // always set by open_archive_file
};

// Opens the input `path` for binary reading when it is a regular file (or a
// link to one), without waiting for a FIFO's writer. Otherwise throws one
// line telling what stands there: "<name>: a folder, not <what>",
// "<name>: not a regular file" (a FIFO, a device, a socket), or
// "Can't open <name>." (nothing, or a file that may not be read).
common::file_ptr open_input(const std::string& path, std::string_view what);

// Opens `path` as open_input does ("a folder, not <what>") and measures it.
// Throws "Can't open <path>." when it cannot be measured.
open_archive open_archive_file(const std::string& path, std::string_view what = "an archive");

// Loads the font file's table into `table` (palm::make_u2e_table). A font
// file that cannot be opened or read is refused in one line, as open_input
// words it ("a folder, not a file").
void load_font_table(palm::sjis_table& table, const std::string& fontfile);

// ---- records -----------------------------------------------------------------

// A chunk record decoded with the safe decoder.
struct decoded_chunk {
    std::vector<std::uint8_t> text;  // the text as far as it decoded
    std::string fault;               // what is wrong, empty when the stream is sound
};

// Decodes the stream of record `k`, at most `max_text_size` bytes of text.
// Never throws for the archive's contents: offsets that make no sense, a
// stream too long for any text, a stream that ends inside a match, a text
// over the cap and a text without its closing zero byte are named in `fault`.
decoded_chunk decode_chunk(const common::byte_source& src, const palm::pdb_index& index, std::size_t k);

// ---- commands --------------------------------------------------------------

// The listing: header and one line per record (index, offset, length, unique
// ID, size entry marked with "*" where it disagrees with the real length,
// meaning); of a cut record list, the entries the file holds. `archive_name`
// is shown as given. With `json`, one JSON object. Returns true when
// check_archive finds no error. Throws for a file that is no Palm database.
bool print_listing(std::FILE* out, const std::string& archive_name, const common::byte_source& src, bool json);

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
std::vector<problem> check_archive(const common::byte_source& src);

// Prints every problem of check_archive on its own line ("error: ..." or
// "warning: ..."), then a closing line ("<archive>: sound (1 warning)" or
// "<archive>: 2 errors, 0 warnings"); with `json`, one JSON object. Returns
// true when no error was found.
bool print_check(std::FILE* out, const std::string& archive_name, const common::byte_source& src, bool json);

// --text: every chunk record (a unique ID of cutter's chunks) in ID order,
// each as a block headed by "== <chunk name> (record <k>, unique ID <id>)"
// and followed by an empty line. A stream that is damaged (ends inside a
// match, decodes to more than `max_text_size` bytes, lacks its closing zero)
// is shown as far as it decodes with a line saying what is wrong; after all
// chunks are printed this throws one line naming the damaged ones. The text is
// shown in UTF-8 through `reader`.
void print_text(std::FILE* out, const common::byte_source& src, const palm::sjis_reader& reader);

// --extract: writes every record into the folder `dir` (created when
// missing) under a name crate maps back to its unique ID
// (palm::file_name_of_id: chunk names, the fixed picture names, "CG0<id>",
// with ".bmp" when the bytes begin with "BM", else ".bin"); the size record
// is "size_record.bin", and a name already taken goes into a folder "r<k>/".
// Then writes "index.txt": a header line and one line per record with record,
// unique ID, length, file name and meaning, separated by tabs; and
// "files.lst", the files of records 1 on in record order, for crate -f.
// Throws when a record's offsets make no sense or a file cannot be written.
void extract_archive(const std::string& dir, const common::byte_source& src);

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
                    const std::string& archive_name, const common::byte_source& src, bool json);

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

}  // namespace peek
