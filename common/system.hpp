// The few services of the operating system that file_io builds on, one
// definition per system: system_posix.cpp (Linux and other Unix systems) and
// system_windows.cpp. Nothing outside common/ includes this header.
//
// Every name is UTF-8; the Windows side turns it into the system's wide form
// explicitly.
#pragma once

#include "file_io.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace common::sys {

// fopen with a UTF-8 name, binary mode in `mode`.
std::FILE* open_stream(const std::string& path, const char* mode);

// The descriptor of an open stream.
int descriptor(std::FILE* f);

// Opens `path` for reading, never waiting (a FIFO without a writer opens at
// once) and never becoming the process's terminal. -1 on failure.
int open_read_descriptor(const std::string& path);

// Opens `path` for reading without following a symbolic link at the name and
// without waiting. -1 on failure, and when the name is a link.
int open_no_follow(const std::string& path);

// Clears the "do not wait" flag of `fd`, so that reads and writes wait as usual.
bool clear_nonblocking(int fd);

// Turns a descriptor into a stream, closing it when that fails.
std::FILE* stream_of(int fd, const char* mode);

// Reads up to `dst.size()` bytes: the count, 0 at the end, nothing on error.
std::optional<std::size_t> read_some(int fd, std::span<std::uint8_t> dst);
bool write_whole(int fd, std::span<const std::uint8_t> src);
void close_descriptor(int fd);

// Copies up to `count` bytes from `in` to `out` inside the system, where it
// can: the number copied (0 where it cannot, or at the end of the input).
std::uint64_t copy_inside(int in, int out, std::uint64_t count);

// 64-bit seek and tell on a stream.
bool seek(std::FILE* f, std::int64_t offset, int whence);
std::int64_t position(std::FILE* f);
bool binary_mode(std::FILE* f);

// Metadata of a name (`follow`: symbolic links followed) or of an open file.
std::optional<file_status> status_of_path(const std::string& path, bool follow);
std::optional<file_status> status_of_descriptor(int fd);

// The name of the file a symbolic link at `path` finally leads to; nothing
// when it leads nowhere.
std::optional<std::string> final_name(const std::string& path);

// Creates `path` as a new, hidden file for binary writing; fails with errno
// EEXIST when any file, folder or link has that name.
std::FILE* create_new(const std::string& path);

// What stands at `path` (links not followed) when it is a regular file, for
// its replacement.
std::optional<kept_status> status_to_keep(const std::string& path);

// Gives the open temporary file the kept permissions and owner (Unix; a
// refused owner change is ignored). Call before it is closed.
void keep_on_open_file(std::FILE* f, const kept_status& kept);

// Renames `from` over `to`, replacing a file, link, FIFO, device or socket
// there. `kept`: what stood at `to`, whose read-only attribute is cleared for
// the rename and set on the new file (Windows). `busy` tells, after a failure,
// that another program holds `to` open.
bool rename_over(const std::string& from, const std::string& to, const std::optional<kept_status>& kept,
                 bool& busy);

// Removes the entry at `path` (never a folder; a link itself).
remove_result remove_entry(const std::string& path);

bool make_folders(const std::string& path);

// Opens `path` (a FIFO or a character device) for writing without waiting for
// a reader: a FIFO nobody reads is refused. Null on failure, and when the
// name leads to a regular file, a folder or anything else.
std::FILE* open_stream_for_writing(const std::string& path);

int process_id();

// Signals: the temporary names that a signal removes. A slot holds one name;
// claim_slot copies it in and returns the slot (-1 when all are taken or the
// name is too long), release_slot frees it. Both are cheap and safe to call
// while a signal may arrive.
int claim_slot(const std::string& path);
void release_slot(int slot);

// What prepare_process does on this system.
void prepare();

}  // namespace common::sys
