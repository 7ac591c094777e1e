#include "test_support.hpp"

#include "fatal_error.hpp"

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
#include <sys/wait.h>
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
    run_result r{1, ""};
    try {
        r.status = entry(static_cast<int>(argv.size()), pointers.data());
    } catch (const common::fatal_error& e) {
        r.err = std::string(e.what()) + "\n";
    } catch (...) {
        testing::internal::GetCapturedStderr();
        throw;
    }
    r.err = testing::internal::GetCapturedStderr() + r.err;
    return r;
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
