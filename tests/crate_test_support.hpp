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

// What crate printed on standard error without its warnings and its closing
// line: the progress lines and the message that ended the run.
inline std::string progress_only(const std::string& err) {
    std::string kept;
    for (std::size_t at = 0; at < err.size();) {
        const std::size_t end = std::min(err.find('\n', at), err.size() - 1) + 1;
        const std::string_view line(err.data() + at, end - at);
        const bool closing = line.find(" (the size record and ") != std::string_view::npos;
        if (!line.starts_with("warning: ") && !closing) {
            kept += line;
        }
        at = end;
    }
    return kept;
}

// Runs crate with `args` behind the program name, as main does: a fatal error
// becomes its line on standard error and status 1.
inline run_result run(std::vector<std::string> args) {
    args.insert(args.begin(), "crate");
    return run_main(crate::crate_main, std::move(args));
}

}  // namespace crate_test
