// Helpers of the crate tests on top of test_support.hpp: an archive with its
// dates masked, and a run of crate_main that captures standard error as the
// program prints it.
#pragma once

#include "crate.hpp"
#include "file_io.hpp"
#include "test_support.hpp"

#include <string>
#include <vector>

namespace crate_test {

using namespace test_support;

// The header's two dates (bytes 36 to 43) follow the clock: zero them.
inline std::string masked(std::string archive) {
    return archive.replace(36, 8, 8, '\0');
}

// Runs crate with `args` behind the program name, as main does: a fatal error
// becomes its line on standard error and status 1.
inline run_result run(std::vector<std::string> args) {
    args.insert(args.begin(), "crate");
    return run_main(crate::crate_main, std::move(args));
}

}  // namespace crate_test
