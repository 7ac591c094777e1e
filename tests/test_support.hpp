// Helpers the test programs share: whole files in and out, a program's entry
// run in-process with its standard error captured, a fresh folder to work in,
// a built program run through the shell, and big-endian fields. Files are
// always opened in binary mode, so the helpers read and write the same bytes
// on Linux and on Windows.
#pragma once

#include "cli.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

// The project's source folder, and the texts the sample library's chunks
// hold, computed apart from the program.
inline const fs::path source_dir = PALMPORT_SOURCE_DIR;
inline const fs::path sample_expected_dir = source_dir / "tests/data/sample_expected";

// The whole file at `path`; empty when it cannot be opened.
std::string read_file(const fs::path& path);
bytes read_bytes(const fs::path& path);

// Replaces the file at `path` with exactly `content`; throws
// std::runtime_error when it cannot be written.
void write_file(const fs::path& path, std::string_view content);
void write_bytes(const fs::path& path, std::span<const std::uint8_t> content);

struct run_result {
    int status;
    std::string err;  // everything the run printed on standard error
};

using program_entry = common::program_entry;

// Runs a program's entry with `argv` (the program name first) as its command
// line, through the main runner's own common::run_entry: a
// common::fatal_error becomes its line on standard error and status 1.
run_result run_main(program_entry entry, std::vector<std::string> argv);

// Runs `command` through the system's shell and returns the program's exit
// status (-1 on POSIX when it did not exit normally).
int run_shell(const std::string& command);

// The exit status in what system() or pclose() returned, as run_shell gives it.
int exit_status(int raw);

// What a command run through the system's shell wrote on standard output,
// and its exit status as run_shell gives it (-1 also when it could not be
// started at all).
struct captured {
    int status;
    std::string out;
};
captured run_capture(const std::string& command);

// Where a started program's standard streams go: "" keeps the test's own,
// a name opens that file (input for reading; output and error created or
// cut), and "-" starts the program with that descriptor closed (Unix).
struct redirection {
    std::string in;
    std::string out;
    std::string err;
};

// A built program started directly, without a shell between, so that its
// exit status is its own. The destructor waits for it.
class process {
public:
    explicit process(const std::vector<std::string>& argv, const redirection& io = {});
    ~process();
    process(const process&) = delete;
    process& operator=(const process&) = delete;

    // Waits for the program: its exit status; -N when signal N ended it
    // (Unix); -1000 when it could not be started.
    int wait();

    // Sends signal `sig` to the program (Unix).
    void signal(int sig);

private:
    std::intptr_t handle_ = -1;  // the process id (Unix) or handle (Windows)
    std::optional<int> status_;
};

// Starts `argv` and waits for it: process(argv, io).wait().
int run_program(const std::vector<std::string>& argv, const redirection& io = {});

// The system's null device, for a shell redirection.
#ifdef _WIN32
inline constexpr std::string_view null_device = "NUL";
#else
inline constexpr std::string_view null_device = "/dev/null";
#endif

// True when this (Windows) test program runs under Wine.
bool under_wine();

// Why a test cannot use the peer tool `tool`, or an empty string when it can:
// `probe` is a command that exits with status 0 when the tool works. Under
// Wine the tools are Linux programs that a Windows program cannot start;
// elsewhere the reason names the Debian package that brings the tool:
//     if (const auto why = missing_tool("llvm-readobj --version", "llvm-readobj", "llvm"); !why.empty())
//         GTEST_SKIP() << why;
std::string missing_tool(const std::string& probe, std::string_view tool, std::string_view package);

// The `n`-byte (1 to 4) big-endian value at `at`; throws std::out_of_range
// when it reaches past the end.
std::uint32_t read_be(std::span<const std::uint8_t> data, std::size_t at, std::size_t n);
std::uint32_t read_be(std::string_view data, std::size_t at, std::size_t n);

// Stores the low `n` bytes (1 to 4) of `value` big-endian at `at`; throws
// std::out_of_range when they reach past the end.
void put_be(std::string& data, std::size_t at, std::uint32_t value, std::size_t n);

// Switches into `path`, made fresh (emptied if it was there), for its
// lifetime; then switches back to the folder it came from and removes it.
class scratch_folder {
public:
    explicit scratch_folder(fs::path path);
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path previous_;
    fs::path path_;
};

// A fixture that runs each test in a fresh folder of its own, named after
// the test, under the folder the test program started in: the programs write
// to the current folder, and CTest runs the cases in parallel.
class scratch : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path dir_;  // the test's folder, the current one while it runs

private:
    std::optional<scratch_folder> folder_;
};

}  // namespace test_support
