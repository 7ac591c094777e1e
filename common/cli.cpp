#include "cli.hpp"

#include "fatal_error.hpp"
#include "file_io.hpp"

#include <array>
#include <exception>
#include <new>

#include <cstdio>
#include <string>

namespace common {

bool answer_help_or_version(std::string_view arg, std::string_view program, std::string_view help) {
    // "/?" is how Windows users ask a console program for help.
#ifdef _WIN32
    const bool asks_help = arg == "-h" || arg == "--help" || arg == "/?";
#else
    const bool asks_help = arg == "-h" || arg == "--help";
#endif
    if (asks_help) {
        print_stdout(help);
        return true;
    }
    if (arg == "--version") {
        print_stdout(std::string(program) + " " + std::string(project_version) + "\n");
        return true;
    }
    return false;
}

void print_stdout(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        throw fatal_error("Can't write standard output.");
    }
}

int run_entry(program_entry entry, int argc, char** argv, std::string_view program, int failure_status) {
    const auto fail = [&](const std::string& line, int status = 1) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", line.c_str());
        return status;
    };
    try {
        return entry(argc, argv);
    } catch (const finding& e) {
        return fail(e.what());
    } catch (const fatal_error& e) {
        return fail(e.what(), failure_status);
    } catch (const std::bad_alloc&) {
        return fail(std::string(program) + ": out of memory.", failure_status);
    } catch (const std::exception& e) {
        return fail(std::string(program) + ": " + e.what(), failure_status);
    }
}

int run_main(program_entry entry, int argc, char** argv, std::string_view program, bool buffered_progress,
             int failure_status) {
    prepare_process();
    // The buffer lives as long as the process, so that the flush at exit
    // still finds it.
    static std::array<char, 64 * 1024> progress;
    if (buffered_progress) {
        std::setvbuf(stderr, progress.data(), _IOFBF, progress.size());
    }
    const int status = run_entry(entry, argc, argv, program, failure_status);
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

int read_run_options(int argc, char** argv, run_options& options) {
    int at = 1;
    for (; at < argc; ++at) {
        const std::string_view a = argv[at];
        if (a == "-q" || a == "--quiet") {
            options.quiet = true;
        } else if (a == "--strict") {
            options.strict = true;
        } else {
            break;
        }
    }
    return at;
}

std::string shown(std::string_view name) {
    if (name.size() <= shown_name_bytes) {
        return std::string(name);
    }
    // Cut on a character's first byte, so that UTF-8 stays UTF-8.
    std::size_t cut = shown_name_bytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(name.substr(0, cut)) + "\xE2\x80\xA6";
}

std::string count_text(std::size_t n, std::string_view noun) {
    return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

}  // namespace common
