// Shared helpers of the crate tests: a fresh folder per test, files in and
// out, and a run of crate_main that captures standard error the way the
// program prints it.
#pragma once

#include "crate.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace crate_test {

using bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

inline bytes to_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }

inline void write_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The two dates of the header (bytes 36 to 43) change with the clock.
inline bytes masked(bytes archive) {
    for (std::size_t i = 36; i < 44 && i < archive.size(); ++i) {
        archive[i] = 0;
    }
    return archive;
}

struct run_result {
    int status;
    std::string err;
};

// Runs crate with `args` behind the program name, as main would: a fatal
// error becomes its line on standard error and status 1.
inline run_result run(std::vector<std::string> args) {
    args.insert(args.begin(), "crate");
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    run_result r{0, ""};
    std::string fatal;
    try {
        r.status = crate::crate_main(static_cast<int>(args.size()), argv.data());
    } catch (const common::fatal_error& e) {
        r.status = 1;
        fatal = std::string(e.what()) + "\n";
    }
    r.err = testing::internal::GetCapturedStderr() + fatal;
    return r;
}

// Each test runs in a fresh, empty folder of its own, so names are short and
// relative as the unique-ID rules expect.
class scratch : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        home_ = fs::current_path();
        dir_ = home_ / (std::string("crate_") + info->test_suite_name() + "_" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(home_);
        fs::remove_all(dir_);
    }

private:
    fs::path home_;
    fs::path dir_;
};

}  // namespace crate_test
