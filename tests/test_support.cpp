#include "test_support.hpp"

#include "cli.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define popen _popen
#define pclose _pclose
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace test_support {

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void write_bytes(const fs::path& path, std::span<const std::uint8_t> content) {
    write_file(path, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

run_result run_main(program_entry entry, std::vector<std::string> argv) {
    std::vector<char*> pointers;
    for (auto& a : argv) {
        pointers.push_back(a.data());
    }
    pointers.push_back(nullptr);
    testing::internal::CaptureStderr();
    const int status = common::run_entry(entry, static_cast<int>(argv.size()), pointers.data(), argv[0]);
    return {status, testing::internal::GetCapturedStderr()};
}

int exit_status(int raw) {
#ifdef _WIN32
    return raw;
#else
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
}

int run_shell(const std::string& command) {
    return exit_status(std::system(command.c_str()));
}

captured run_capture(const std::string& command) {
    std::FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return {-1, ""};
    }
    captured r{0, ""};
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        r.out.append(buf, n);
    }
    r.status = exit_status(pclose(p));
    return r;
}

#ifdef _WIN32

namespace {

std::wstring wide(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument as the C runtime of the started program splits it back.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring q = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, L'\\');
    return q + L"\"";
}

HANDLE inheritable(const std::string& name, bool output, DWORD standard) {
    if (name.empty()) {
        return GetStdHandle(standard);
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(wide(name).c_str(), output ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       output ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

process::process(const std::vector<std::string>& argv, const redirection& io) {
    std::wstring line;
    for (const auto& a : argv) {
        line += (line.empty() ? L"" : L" ") + quoted(wide(a));
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inheritable(io.in, false, STD_INPUT_HANDLE);
    si.hStdOutput = inheritable(io.out, true, STD_OUTPUT_HANDLE);
    si.hStdError = inheritable(io.err, true, STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        handle_ = reinterpret_cast<std::intptr_t>(pi.hProcess);
    }
    for (const auto& [name, h] : {std::pair{io.in, si.hStdInput}, {io.out, si.hStdOutput}, {io.err, si.hStdError}}) {
        if (!name.empty() && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
}

int process::wait() {
    if (!status_) {
        const auto h = reinterpret_cast<HANDLE>(handle_);
        DWORD code = 0;
        if (handle_ == -1 || WaitForSingleObject(h, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(h, &code)) {
            status_ = -1000;
        } else {
            status_ = static_cast<int>(code);
        }
        if (handle_ != -1) {
            CloseHandle(h);
        }
    }
    return *status_;
}

void process::signal(int) {}

#else

process::process(const std::vector<std::string>& argv, const redirection& io) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const struct {
        const std::string& name;
        int fd;
        int flags;
    } streams[] = {{io.in, 0, O_RDONLY}, {io.out, 1, O_WRONLY | O_CREAT | O_TRUNC}, {io.err, 2, O_WRONLY | O_CREAT | O_TRUNC}};
    for (const auto& s : streams) {
        if (s.name == "-") {
            posix_spawn_file_actions_addclose(&actions, s.fd);
        } else if (!s.name.empty()) {
            posix_spawn_file_actions_addopen(&actions, s.fd, s.name.c_str(), s.flags, 0644);
        }
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        handle_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

int process::wait() {
    if (!status_) {
        int raw = 0;
        if (handle_ == -1 || waitpid(static_cast<pid_t>(handle_), &raw, 0) != static_cast<pid_t>(handle_)) {
            status_ = -1000;
        } else {
            status_ = WIFSIGNALED(raw) ? -WTERMSIG(raw) : WEXITSTATUS(raw);
        }
    }
    return *status_;
}

void process::signal(int sig) {
    if (handle_ != -1 && !status_) {
        kill(static_cast<pid_t>(handle_), sig);
    }
}

#endif

process::~process() {
    wait();
}

int run_program(const std::vector<std::string>& argv, const redirection& io) {
    return process(argv, io).wait();
}

bool under_wine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

std::string missing_tool(const std::string& probe, std::string_view tool, std::string_view package) {
    if (under_wine()) {
        return std::string(tool) + " cannot be started from Wine: it is a Linux program";
    }
    const std::string quiet = probe + " >" + std::string(null_device) + " 2>&1";
    if (run_shell(quiet) != 0) {
        return std::string(tool) + " is not installed (Debian package " + std::string(package) + ")";
    }
    return {};
}

std::uint32_t read_be(std::span<const std::uint8_t> data, std::size_t at, std::size_t n) {
    if (n > 4 || at > data.size() || n > data.size() - at) {
        throw std::out_of_range("big-endian field past the end");
    }
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        v = v << 8 | data[at + i];
    }
    return v;
}

std::uint32_t read_be(std::string_view data, std::size_t at, std::size_t n) {
    return read_be(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), at, n);
}

void put_be(std::string& data, std::size_t at, std::uint32_t value, std::size_t n) {
    if (n > 4 || at > data.size() || n > data.size() - at) {
        throw std::out_of_range("big-endian field past the end");
    }
    for (std::size_t i = 0; i < n; ++i) {
        data[at + n - 1 - i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

scratch_folder::scratch_folder(fs::path path) : previous_(fs::current_path()), path_(std::move(path)) {
    fs::remove_all(path_);
    fs::create_directories(path_);
    fs::current_path(path_);
}

scratch_folder::~scratch_folder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

void scratch::SetUp() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    dir_ = fs::current_path() / name;
    folder_.emplace(dir_);
}

void scratch::TearDown() {
    folder_.reset();
}

}  // namespace test_support
