// The one way a library function ends a run: it throws `fatal_error` with the
// one-line message (no trailing newline) that the program prints on standard
// error before it exits with a failure status (1; peek ends with 2 unless the
// error is a `finding`). Library code never calls exit(), so
// every function can be tested in-process.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace common {

class fatal_error : public std::runtime_error {
public:
    explicit fatal_error(const std::string& message) : std::runtime_error(message) {}
};

// A failure that concerns what one input file holds (a broken structure, a
// value out of range). The function that reads the bytes does not know the
// file's name; the caller that opened the file puts it in front with
// `name_input`, so that the line reads "game.pdb: record list: ...".
class input_error : public fatal_error {
public:
    using fatal_error::fatal_error;
};

// What a program that checks an input found: it read the input, and the
// input is not what it should be (a damaged archive, a library cutter cannot
// read). Such a run ends with exit status 1 even in a program whose other
// failures, those that keep it from doing its work, end with 2 (peek).
class finding : public fatal_error {
public:
    using fatal_error::fatal_error;
};

// Runs `work` and returns what it returns; an input_error it throws ends the
// run as a `Thrown` (a fatal_error) whose message starts with "<name>: ".
template <typename Thrown = fatal_error, typename Work>
decltype(auto) name_input(const std::string& name, Work&& work) {
    try {
        return std::forward<Work>(work)();
    } catch (const input_error& e) {
        throw Thrown(name + ": " + e.what());
    }
}

// The same, ending the run as the finding "<name>: <message>" about the
// input `name`, which was read.
template <typename Work>
decltype(auto) name_finding(const std::string& name, Work&& work) {
    return name_input<finding>(name, std::forward<Work>(work));
}

}  // namespace common
