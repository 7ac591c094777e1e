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
// the same byte for byte from one run to the next.
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
#include <span>
#include <string>
#include <string_view>

namespace cutter {

// Room for one chunk's stream: every text of up to 7111 bytes fits.
inline constexpr std::size_t compressed_buffer_size = 8000;

inline constexpr std::string_view usage_text = "usage: cutter rumomsg.dll fontfile";

// The whole program. argv[1] is the message library, argv[2] the font file.
// A lone "-h" or "--help" prints the help, a lone "--version" the version, on
// standard output, and returns 0.
// Lists the library's resources, loads the font file's code table, then walks
// the 36 blocks of palm::text_name in order with `convert`, writing the chunk
// files into the current directory. Returns 0 when every block is done.
// Throws common::fatal_error with the usage text when there are not exactly
// two arguments or an option stands where a file belongs (nothing is
// opened), with "Can't open <path>." for a library or font file that cannot
// be opened or read or is no regular file, and with whatever the resource
// scan, the table loading or `convert` report. Chunk files already written
// stay.
int cutter_main(int argc, char** argv);

// Walks the block named `id` (one of palm::text_name) of `library`: finds it
// with palm::open_message, reads its 16 strings in sequence and makes one
// chunk file per non-empty string, announced on standard error as
// "<chunk> (size = <bytes>)". A chunk whose text had characters without a
// mapping in `table` is followed by one warning line with their count. For an
// empty string, a chunk file of its name left by an earlier run is removed,
// with the line "<chunk> removed (the string is empty)", so that the folder
// holds exactly the library's chunks. `state` is the run's encoder record.
// Returns 0. Throws common::fatal_error
//  - whatever palm::open_message, read_string_length and read_string_text
//    throw;
//  - a line naming the chunk when its text with its NUL exceeds
//    palm::text_buffer_size bytes or its stream `compressed_buffer_size` bytes
//    (no chunk file is written or changed);
//  - what put_compress_script throws, and "Can't remove <chunk>." when an
//    outdated chunk file cannot be removed.
int convert(const common::byte_source& library, const palm::resource_list& r, std::string_view id,
            palm::sjis_table& table, palm::lz77_state& state);

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
