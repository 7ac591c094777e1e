// The one way a library function ends a run: it throws `fatal_error` with the
// one-line message (no trailing newline) that the program prints on standard
// error before it exits with status 1. Library code never calls exit(), so
// every function can be tested in-process.
#pragma once

#include <stdexcept>
#include <string>

namespace common {

class fatal_error : public std::runtime_error {
public:
    explicit fatal_error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace common
