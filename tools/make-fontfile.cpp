// make-fontfile: writes the font file that cutter and peek read, from the
// system's own conversion tables from Unicode to EUC-JP (common/euc_jp.hpp):
// glibc's iconv on Linux, code page 20932 on Windows.
//
// For every code point from U+0391 to U+FFFE, in order, two bytes: its EUC-JP
// code, first byte first, when that code is a JIS X 0208 character (rows 1 to
// 84); otherwise 0x00 0x00. No header. Half-width katakana (0x8E ..) and JIS
// X 0212 (0x8F .. ..) codes are left out. The Linux program writes exactly
// examples/font.bin; since each system follows its own tables, the Windows
// program may give a few characters another code, or none.
//
// usage: make-fontfile output-file
#include "cli.hpp"
#include "euc_jp.hpp"
#include "fatal_error.hpp"
#include "file_io.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view usage_text = "usage: make-fontfile output-file";

constexpr std::string_view help_text =
    "make-fontfile: write a font file for cutter and peek from this system's EUC-JP tables\n"
    "\n"
    "usage: make-fontfile output-file\n"
    "\n"
    "  output-file  the font file to write; it takes its name only when it is complete\n"
    "  -h, --help   this text\n"
    "  --version    the program's version\n"
    "\n"
    "For every code point from U+0391 to U+FFFE the file holds its EUC-JP code,\n"
    "two bytes big-endian, when the system converts it to a JIS X 0208\n"
    "character, otherwise two zero bytes; no header. The count of code points\n"
    "mapped goes to standard error.\n";

constexpr char32_t first_code_point = 0x391;
constexpr char32_t last_code_point = 0xFFFE;

int make_fontfile(int argc, char** argv) {
    if (argc == 2 && common::answer_help_or_version(argv[1], "make-fontfile", help_text)) {
        return 0;
    }
    if (argc != 2 || std::string_view(argv[1]).starts_with("-")) {
        throw common::fatal_error(std::string(usage_text));
    }
    const std::string path = argv[1];

    common::system_euc_jp tables;
    std::vector<std::uint8_t> font;
    font.reserve(2 * (last_code_point - first_code_point + 1));
    std::size_t mapped = 0;
    for (char32_t u = first_code_point; u <= last_code_point; ++u) {
        const auto code = tables.jis0208_code(u).value_or(common::euc_code{0, 0});
        font.insert(font.end(), code.begin(), code.end());
        mapped += code[0] != 0 ? 1 : 0;
    }

    common::atomic_file out;
    if (!out.create(path)) {
        throw common::fatal_error("Can't open " + path + ".");
    }
    if (!common::write_all(out.get(), font) || !out.commit()) {
        throw common::fatal_error("Can't write " + path + ".");
    }
    std::fprintf(stderr, "%s: %zu of %zu code points mapped (%.*s)\n", path.c_str(), mapped, font.size() / 2,
                 static_cast<int>(tables.tables().size()), tables.tables().data());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return common::run_main(make_fontfile, argc, argv, "make-fontfile", false);
}
