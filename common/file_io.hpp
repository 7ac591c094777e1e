// Files as the programs use them: always binary mode, so that a 0x0A or a
// 0x1A byte is read and written unchanged on every system, and 64-bit
// positions, so that a large file is measured correctly. Everything that
// differs between systems stays behind common/system.hpp, one source per
// system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace common {

struct file_closer {
    void operator()(std::FILE* f) const noexcept;
};

// An open stream that is closed when it goes out of scope.
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// File names are UTF-8 byte strings everywhere. On Linux they are passed on
// unchanged; on Windows every name is turned from UTF-8 into the system's wide
// form explicitly before it reaches the system, whatever the C runtime's
// locale, and the programs run with UTF-8 as their code page (see
// cmake/utf8.manifest), so that their arguments arrive as UTF-8 too.

// The name in `path` without its folders: the text after the last "/", and
// on Windows, where a backslash and a drive's colon separate folders too
// ("chunks\\0x7_00.txt", "C:0x7_00.txt"), after the last of any of them.
std::string_view base_name(std::string_view path);

// Opens `path` for binary reading. Null when it cannot be opened.
file_ptr open_read(const std::string& path);

// Creates `path` for binary writing, or cuts an existing file to length 0.
// Null when it cannot be created.
file_ptr open_write(const std::string& path);

// Switches an already open stream (standard output or standard error) to
// binary mode, so that a "\n" written to it is the one byte 0x0A on every
// system instead of 0x0D 0x0A on Windows. Call it before the first byte is
// written. False when the system refuses; always true off Windows.
bool set_binary_mode(std::FILE* f);

// Flushes and closes `f`. False when a buffered byte could not be written or
// the close failed (a full disk shows up here at the latest).
bool close_file(file_ptr& f);

// Absolute seek to `offset` from the start. False on failure.
bool seek_to(std::FILE* f, std::int64_t offset);

// Current position, or nothing when the system cannot tell it.
std::optional<std::int64_t> tell(std::FILE* f);

// Length of the open file in bytes. A regular file is measured from its
// metadata and its position stays where it was; anything else is measured by
// seeking to its end and left at its start. Seek absolutely before reading.
// Nothing when the length cannot be found.
std::optional<std::int64_t> file_size(std::FILE* f);

// Reads exactly `dst.size()` bytes. False on a short read; then `dst` holds
// whatever was read before the end and must not be used.
bool read_exact(std::FILE* f, std::span<std::uint8_t> dst);

// Writes all of `src`. False when the stream reports an error.
bool write_all(std::FILE* f, std::span<const std::uint8_t> src);

// Opens `path` for binary reading only when it is a regular file (or a link
// to one): a folder, a FIFO, a device or a socket gives null at once, as a
// missing file does; the open never waits for a FIFO's writer.
file_ptr open_read_regular(const std::string& path);

// ---- what the file system says about a file ------------------------------

// Which file a name leads to: its device and its number there (on Windows the
// volume serial number and the file index). Two names lead to the same file,
// through a hard link or a symbolic link, exactly when their ids are equal.
struct file_id {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    friend bool operator==(const file_id&, const file_id&) = default;
};

enum class file_kind {
    regular,  // a file of bytes
    folder,
    link,     // a symbolic link (only status_of_name reports one)
    other,    // a FIFO, a device, a socket
};

// A moment in the file's metadata, in the system's own units (nanoseconds
// since 1970 on Unix, 100-nanosecond ticks since 1601 on Windows): compared,
// never shown.
using file_time = std::int64_t;

struct file_status {
    file_kind kind = file_kind::other;
    std::int64_t size = 0;  // the length in bytes the metadata gives
    file_id id;
    file_time modified = 0;  // when its bytes last changed
    file_time changed = 0;   // when its bytes or its metadata last changed
};

// One query of the file system's metadata about `path`, symbolic links
// followed. The file is not opened, so a FIFO or a device never blocks.
// Nothing when no file can be reached under that name.
std::optional<file_status> status_of(const std::string& path);

// The same about the name itself: a symbolic link at `path` is reported as a
// link, not as the file it leads to.
std::optional<file_status> status_of_name(const std::string& path);

// ---- reading without a stream buffer -------------------------------------

// A file open for binary reading at the system level: every read is one
// system call straight into the caller's memory, with no stream buffer in
// between. Closed when it goes out of scope.
class input_file {
public:
    input_file() = default;
    input_file(input_file&& other) noexcept;
    input_file& operator=(input_file&& other) noexcept;
    input_file(const input_file&) = delete;
    input_file& operator=(const input_file&) = delete;
    ~input_file();

    // Opens `path`. False when it cannot be opened. Never waits, even when a
    // FIFO has taken the name: a reader of a FIFO opens without a writer.
    bool open(const std::string& path);

    // The open file's metadata; nothing when the system cannot tell.
    std::optional<file_status> status() const;

    // Reads up to `dst.size()` bytes from the current position: the number
    // read, 0 at the end of the file, nothing on a read error.
    std::optional<std::size_t> read(std::span<std::uint8_t> dst);

    // What copy_bytes did: `copied` bytes reached the output; fewer than asked
    // for with neither flag set means the input ended first.
    struct copy_result {
        std::uint64_t copied = 0;
        bool read_failed = false;
        bool write_failed = false;
    };

    // Copies up to `count` bytes from the current position to `out`, behind
    // what was written to it so far: the stream's buffer is flushed first,
    // then the bytes go to its file directly, from file to file inside the
    // system where it can do that (they never pass through the program), or
    // else read into `buffer` and written from there.
    copy_result copy_bytes(std::FILE* out, std::uint64_t count, std::span<std::uint8_t> buffer);

private:
    int fd_ = -1;
};

// ---- output that is complete or absent -----------------------------------
//
// A file is written under a new temporary name in the folder of its final
// name and takes the final name only when everything was written, flushed and
// closed without error. Until then an older file of the final name stays
// exactly as it was, and a failed run leaves no half-written file behind: the
// temporary file is removed, also when a signal (an interrupt, a hang-up, a
// termination; Ctrl-C, Ctrl-Break or a closed console on Windows) ends the run
// (see prepare_process). The temporary file is hidden: its name begins with a
// dot, and on Windows it has the hidden attribute until it takes its name.
//
// Two kinds of final name:
//  - names a program makes itself (cutter's chunk files, peek's extracted
//    files): whatever stands at the name but a folder (a file, a symbolic
//    link, a FIFO, a device, a socket) is replaced by the new file; nothing
//    there is ever opened or followed (atomic_file::create);
//  - a name the user gave (crate's archive): followed as a shell redirection
//    follows it (resolve_output), so that a link on the way stays a link and
//    the file it leads to is replaced, and a FIFO or a terminal is written
//    directly (atomic_file::open_stream).
// A regular file that is replaced passes its permission bits to the new one,
// and its owner and group where the process may set them (on Windows: its
// read-only attribute, which is cleared for the replacement and set again).

// What a name the user gave for an output leads to, symbolic links followed.
enum class output_kind {
    absent,   // nothing stands at the name: a new file is made there
    regular,  // a regular file, to be replaced; `path` is that file's own name
    stream,   // a FIFO or a character device (a pipe, a terminal, /dev/null);
              // a block device or a socket lands here too, and open_stream refuses it
    refused,  // a dangling link, a folder
};

struct output_target {
    output_kind kind = output_kind::refused;
    std::string path;    // where to write: the name, or the file a link leads to
    file_status status;  // of the regular file
};

output_target resolve_output(const std::string& name);

// What a replaced file passes on to its replacement.
struct kept_status {
    unsigned mode = 0;   // permission bits (Unix) or attributes (Windows)
    unsigned owner = 0;
    unsigned group = 0;
};

class atomic_file {
public:
    atomic_file() = default;
    atomic_file(atomic_file&& other) noexcept;
    atomic_file& operator=(atomic_file&& other) noexcept;
    atomic_file(const atomic_file&) = delete;
    atomic_file& operator=(const atomic_file&) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~atomic_file();

    // Creates a new, empty temporary file next to `path` (a name no file has,
    // so nothing existing is opened or followed), to take the name `path` on
    // commit. False when it cannot be created, or when a folder stands at
    // `path`; then nothing was made.
    bool create(const std::string& path);

    // Opens the stream `path` (a FIFO or a character device, from
    // resolve_output) for writing directly, without waiting: a FIFO that
    // nobody reads is refused at once. False when it cannot be opened.
    bool open_stream(const std::string& path);

    // The stream to write, open in binary mode; null before create() or open_stream().
    std::FILE* get() const { return file_.get(); }
    const std::string& path() const { return path_; }

    // Flushes and closes the temporary file and renames it over the final
    // name, replacing what stood there. False when a write, the flush, the
    // close or the rename failed; then the temporary file is gone and the
    // final name is untouched. A stream is flushed and closed.
    bool commit();

    // After a failed commit: true when the rename failed because another
    // program holds the final name open (Windows; the rename is tried again
    // for about a second first).
    bool busy() const { return busy_; }

    // Closes and removes the temporary file; the final name is untouched.
    void discard() noexcept;

private:
    std::string path_;
    std::string temp_;
    file_ptr file_;
    int slot_ = -1;           // where the temporary name waits for a signal
    bool busy_ = false;
    std::optional<kept_status> kept_;  // of the regular file that stood at the name
};

// Removes the entry at `path` (a symbolic link itself, never what it leads
// to); on Windows a read-only file is made writable first.
enum class remove_result { removed, absent, failed };
remove_result remove_file(const std::string& path);

// Creates the folder `path` and the folders above it that are missing. True
// when `path` then is a folder.
bool make_folders(const std::string& path);

// ---- the process -----------------------------------------------------------

// What each program does first: a standard descriptor (input, output or
// error) that the process was started without is opened on the null device,
// so that no file the program opens can take its number and receive what is
// meant for it; standard output and error go to binary mode, and a console
// shows UTF-8 (Windows); the signals that end a run (interrupt, hang-up,
// termination; Ctrl-C, Ctrl-Break and a closed console on Windows) first
// remove the temporary file of every atomic_file being written, then end the
// process as they would have.
void prepare_process();

// True when `path` is a regular file (not a link) whose bytes are exactly
// `content`. Used to leave a file untouched when it already holds what would
// be written, so that its modification time tells what changed. Never
// follows a link and never waits: a FIFO or a device at the name is not
// compared, only opened without waiting and closed again.
bool holds_exactly(const std::string& path, std::span<const std::uint8_t> content);

}  // namespace common
