// cutter: the message library's strings -> compressed chunk files.
#include "cli.hpp"
#include "cutter.hpp"

int main(int argc, char** argv) {
    return common::run_main(cutter::cutter_main, argc, argv, "cutter", true);
}
