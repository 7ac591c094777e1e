// Shared helpers of the crate tests: a fresh folder per test, files in and
// out, and a run of crate_main that captures standard error as the program
// prints it.
#pragma once

#include "crate.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace crate_test {

namespace fs = std::filesystem;

inline void write_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The header's two dates (bytes 36 to 43) follow the clock: zero them.
inline std::string masked(std::string archive) {
    return archive.replace(36, 8, 8, '\0');
}

struct run_result {
    int status;
    std::string err;
};

// Runs crate with `args` behind the program name, as main does: a fatal error
// becomes its line on standard error and status 1.
inline run_result run(std::vector<std::string> args) {
    args.insert(args.begin(), "crate");
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    run_result r{1, ""};
    try {
        r.status = crate::crate_main(static_cast<int>(args.size()), argv.data());
    } catch (const common::fatal_error& e) {
        r.err = std::string(e.what()) + "\n";
    }
    r.err = testing::internal::GetCapturedStderr() + r.err;
    return r;
}

// Each test runs in a fresh folder of its own, so that names stay short and
// relative, as the unique-ID rules expect.
class scratch : public testing::Test {
protected:
    void SetUp() override {
        dir_ = home_ / (std::string("crate_") + testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(home_);
        fs::remove_all(dir_);
    }
    fs::path home_ = fs::current_path();
    fs::path dir_;
};

}  // namespace crate_test
