// What the programs share on their command lines: the project's version, the
// arguments that ask for help or the version and the answer to them, the
// options cutter and crate both take (run_options), names capped for messages
// (shown), and the runner around each main (run_main).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace common {

// The project's version, as the build sets it.
inline constexpr std::string_view project_version = PALMPORT_VERSION;

// When `arg` is "-h" or "--help" (or "/?" on Windows), prints `help`; when it is "--version",
// prints "<program> <version>"; both on standard output, then returns true.
// Returns false for any other argument. Throws fatal_error "Can't write
// standard output." when the answer cannot be written.
bool answer_help_or_version(std::string_view arg, std::string_view program, std::string_view help);

// Writes `text` on standard output and flushes it. Throws fatal_error
// "Can't write standard output." when that fails (a full disk, say).
void print_stdout(std::string_view text);

// A count with its noun, in English: "1 warning", "2 warnings", "0 errors".
std::string count_text(std::size_t n, std::string_view noun);

// printf's formatting into a string of whatever length the text needs.
std::string format(const char* fmt, auto... args) {
    const int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(s.data(), s.size() + 1, fmt, args...);
    return s;
}

// A program's whole run, from its command line to its exit status.
using program_entry = int (*)(int argc, char** argv);

// Runs `entry` as every program's run ends: a common::fatal_error becomes its
// line on standard error and exit status `failure_status` (a
// common::finding: status 1); running out of memory the line
// "<program>: out of memory."; any other exception "<program>: <what>".
// Standard output is flushed before such a line, so that the line follows
// the results. Returns the exit status. The tests run the programs' entries
// through this too.
int run_entry(program_entry entry, int argc, char** argv, std::string_view program, int failure_status = 1);

// A program's main: prepare_process (common/file_io.hpp), standard error in
// pieces of 64 KiB when `buffered_progress` (so that many progress lines cost
// few writes), run_entry, then both streams flushed, the message that ended
// a run leaving behind the progress lines before it.
int run_main(program_entry entry, int argc, char** argv, std::string_view program, bool buffered_progress,
             int failure_status = 1);

// The options cutter and crate both take in front of their arguments.
struct run_options {
    bool quiet = false;   // -q, --quiet: no progress lines
    bool strict = false;  // --strict: every warning is fatal
};

// Reads the options from argv[1] on and returns the index of the first
// argument that is none of them.
int read_run_options(int argc, char** argv, run_options& options);

// Longest name a message quotes whole, in bytes.
inline constexpr std::size_t shown_name_bytes = 255;

// A name as a message quotes it: whole when it has at most
// `shown_name_bytes` bytes; otherwise its first characters up to that many
// bytes and "…", so that a hostile name cannot flood standard error.
std::string shown(std::string_view name);

}  // namespace common
