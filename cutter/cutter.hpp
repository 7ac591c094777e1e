// cutter: the message library's 36 blocks, one chunk file per non-empty
// string.
//
// Every non-empty string goes through the chunk pipeline, always in this
// order:
//   get_script           UTF-16LE -> Shift_JIS with a closing NUL;
//   rearrange_script     line breaks and spaces reflowed in place;
//   put_compress_script  the text and its NUL as one LZSS stream, written as
//                        the chunk file "<block>_<index>.txt".
// The font file's table and the encoder's record live for the whole run and
// are passed along in block and string order, so that every chunk file is
// the same byte for byte from one run to the next. Every string of every
// block is made ready before any file is written or removed, so that a
// library cutter cannot read to its end leaves the folder as it was.
//
// Run-ending failures throw common::fatal_error with the one-line message;
// progress lines and warnings go straight to standard error as they happen.
#pragma once

#include "byte_source.hpp"
#include "lzss.hpp"
#include "pe_resources.hpp"
#include "sjis.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cutter {

// Room for one chunk's stream: every text of up to 7111 bytes fits.
inline constexpr std::size_t compressed_buffer_size = 8000;

inline constexpr std::string_view usage_text = "usage: cutter rumomsg.dll fontfile";

// The whole program: `cutter [-q|--quiet] [--strict] rumomsg.dll fontfile`.
// A lone "-h" or "--help" prints the help, a lone "--version" the version, on
// standard output, and returns 0.
// Lists the library's resources and loads the font file's code table (a
// table that maps no character gives a warning line), makes every string of
// the 36 blocks of palm::text_name ready with `convert`, then writes the
// chunk files into the current directory and removes those of strings that
// are empty now, each chunk's lines on standard error as it is written
// (print_chunk_lines), and ends with one closing line: "330 chunk files: 3
// written, 326 unchanged, 1 removed; 2 with unmapped characters". --quiet
// leaves out the progress lines; --strict makes every warning fatal: after
// the warning lines, the run ends with status 1 and the folder untouched.
// Returns 0 when every block is done. Throws common::fatal_error with the
// usage text when there are not exactly two arguments behind the options or
// an option stands where a file belongs (nothing is opened), with
// "Can't open <path>." for a library or font file that cannot be opened or
// read or is no regular file, and with whatever the resource scan, the table
// loading, `convert` or the writing report. When the library stops the run,
// no chunk file has been written or removed; when writing stops it, the
// chunk files written before stay.
int cutter_main(int argc, char** argv);

// One string of a message block, made ready before any file is touched.
struct prepared_chunk {
    std::string name;                  // its chunk file's name
    std::size_t size = 0;              // the string's length in bytes; 0: an empty string
    std::vector<std::uint8_t> stream;  // the chunk file's bytes
    std::uint64_t unmapped = 0;        // code units without a mapping, replaced
    std::vector<std::uint32_t> unmapped_characters;  // the first few of them, as code points
};

// Makes the 16 strings of block `id` (one of palm::text_name) of `library`
// ready: finds the block with palm::open_message, reads its strings in
// sequence, and appends one prepared_chunk per string to `chunks`, with the
// text converted through `table`, reflowed and compressed with `state`, the
// run's encoder record. Writes nothing and prints nothing. Returns 0. Throws
// common::fatal_error
//  - whatever palm::open_message, read_string_length and read_string_text
//    throw;
//  - a line naming the chunk when its text with its NUL exceeds
//    palm::text_buffer_size bytes or its stream `compressed_buffer_size`
//    bytes (that chunk has been appended with its name and size).
int convert(const common::byte_source& library, const palm::resource_list& r, std::string_view id,
            palm::sjis_table& table, palm::lz77_state& state, std::vector<prepared_chunk>& chunks);

// Prints the lines of a prepared chunk of a non-empty string on `out`: the
// progress line "<chunk> (size = <bytes>)" unless `quiet`, and, when
// characters had no mapping, the warning "<chunk>: characters without a
// mapping in the font file replaced: <count> (U+00E9, U+4E02)", which names
// the first few.
void print_chunk_lines(std::FILE* out, const prepared_chunk& chunk, bool quiet);

// Compresses `text` (the text and its NUL) with `state` and returns the
// stream. Throws common::fatal_error "<filename>: the compressed text is
// longer than 8000 bytes." when it would not fit the compressed buffer.
std::vector<std::uint8_t> compress_script(const std::string& filename, std::span<const std::uint8_t> text,
                                          palm::lz77_state& state);

// Writes `stream` as the file `filename` in the current directory, as
// put_compress_script does. Returns false, touching nothing, when the file
// already holds exactly the stream.
bool write_chunk_file(const std::string& filename, std::span<const std::uint8_t> stream);

// Compresses `text` (the text and its NUL) with `state` and writes the stream
// as the file `filename` in the current directory. Whatever stands at that
// name but a folder is replaced, never opened or followed; a file that
// already holds exactly the stream is left untouched, modification time
// included. The stream is written under a temporary name and renamed only
// when complete, so the file is never half-written. Throws
// common::fatal_error
//  - "<filename>: the compressed text is longer than 8000 bytes." when the
//    stream would not fit the compressed buffer; the file is not touched;
//  - "Can't open <filename>." when the file cannot be created (a folder has
//    its name);
//  - "Can't write <filename>." when a write, the close or the rename fails,
//    or "<filename>: in use by another program; the old file is kept" when
//    another program holds it open (Windows); then an older file of that
//    name stays as it was.
void put_compress_script(const std::string& filename, std::span<const std::uint8_t> text, palm::lz77_state& state);

}  // namespace cutter
