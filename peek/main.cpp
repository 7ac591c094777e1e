// peek: lists, checks, reads, extracts and verifies a packed database.
#include "cli.hpp"
#include "peek.hpp"

int main(int argc, char** argv) {
    return common::run_main(peek::peek_main, argc, argv, "peek", false);
}
