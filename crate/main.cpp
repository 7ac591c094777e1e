// crate: packs files into one Palm OS database.
#include "cli.hpp"
#include "crate.hpp"

int main(int argc, char** argv) {
    return common::run_main(crate::crate_main, argc, argv, "crate", true);
}
