// peek: lists, checks, reads, extracts and verifies a packed database. Its
// exit status tells a bad archive (1) from a run that could not do its work
// (2), as cmp and diff tell theirs.
#include "cli.hpp"
#include "peek.hpp"

int main(int argc, char** argv) {
    return common::run_main(peek::peek_main, argc, argv, "peek", false, 2);
}
