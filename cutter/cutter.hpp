// cutter: the message library's 36 blocks, one chunk file per non-empty
// string.
//
// Every non-empty string goes through the chunk pipeline, always in this
// order:
//   palm::make_chunk_text  UTF-16LE -> Shift_JIS with a closing NUL
//                          (get_script), line breaks and spaces reflowed in
//                          place (rearrange_script);
//   compress_script        the text and its NUL as one LZSS stream, kept;
//   write_chunk_file       the stream written as the chunk file
//                          "<block>_<index>.txt".
// The font file's table and the encoder's record live for the whole run and
// are passed along in block and string order, so that every chunk file is
// the same byte for byte from one run to the next. Every string of every
// block is made ready before any file is written or removed, so that a
// library cutter cannot read to its end leaves the folder as it was.
//
// Run-ending failures throw common::fatal_error with the one-line message;
// progress lines and warnings go to standard error.
#pragma once

#include "lzss.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace cutter {

// Room for one chunk's stream: every text of up to 7111 bytes fits.
inline constexpr std::size_t compressed_buffer_size = 8000;

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

// compress_script, then write_chunk_file, for one text (the text and its
// NUL): what the run does with each string, in one call. Throws what those
// two throw; a stream that does not fit leaves the file untouched.
void put_compress_script(const std::string& filename, std::span<const std::uint8_t> text, palm::lz77_state& state);

}  // namespace cutter
