// The bundled sample taken through cutter and crate in-process must give
// exactly the chunk files and the archive kept in tests/golden/sample/ (the
// archive's two dates masked). The same test runs in the Linux build and in
// the Windows build under Wine, so a byte that differs between the systems
// (a text-mode open, a path rule) fails it on the system that writes it.
//
// To write the golden files anew after a deliberate format change, run the
// test with PALMPORT_UPDATE_GOLDEN=1 in the environment and review the diff.
#include "crate.hpp"
#include "cutter.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

const fs::path source = PALMPORT_SOURCE_DIR;
const fs::path golden = source / "tests/golden/sample";

bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& path, const bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Runs a program's entry with `args` (the program name first) as its
// command line; a run-ending failure fails the test with its message.
template <typename Entry>
int run(Entry entry, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    int status = -1;
    try {
        status = entry(static_cast<int>(args.size()), argv.data());
    } catch (const std::exception& e) {
        testing::internal::GetCapturedStderr();
        ADD_FAILURE() << e.what();
        return -1;
    }
    testing::internal::GetCapturedStderr();
    return status;
}

// Switches into a fresh folder for the test's lifetime.
class scratch_folder {
public:
    explicit scratch_folder(const fs::path& path) : previous_(fs::current_path()) {
        fs::remove_all(path);
        fs::create_directories(path);
        fs::current_path(path);
    }
    ~scratch_folder() { fs::current_path(previous_); }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

private:
    fs::path previous_;
};

TEST(GoldenSample, CutterAndCrateWriteTheGoldenBytes) {
    const bool update = std::getenv("PALMPORT_UPDATE_GOLDEN") != nullptr;
    const scratch_folder here(fs::current_path() / "golden_sample_run");

    ASSERT_EQ(run(cutter::cutter_main, {"cutter", (source / "examples/rumomsg.dll").string(),
                                        (source / "examples/font.bin").string()}),
              0);

    // The chunk files in the order cutter writes them, then the pictures.
    std::vector<std::string> packed{"crate", "sample.pdb"};
    for (const std::string_view block : cutter::text_name) {
        for (int index = 0; index < 16; ++index) {
            const std::string name = std::string(block) + "_" + (index < 10 ? "0" : "") + std::to_string(index) + ".txt";
            if (fs::exists(name)) {
                packed.push_back(name);
            }
        }
    }
    const std::vector<std::string> pictures{"CGRUMO.bmp", "CG001.bmp", "CG002.bmp"};
    for (const auto& picture : pictures) {
        fs::copy_file(source / "examples" / picture, picture);
        packed.push_back(picture);
    }
    ASSERT_EQ(run(crate::crate_main, packed), 0);

    bytes archive = read_bytes("sample.pdb");
    ASSERT_GE(archive.size(), 88u);
    std::fill(archive.begin() + 36, archive.begin() + 44, std::uint8_t{0});  // creation, modification date

    if (update) {
        fs::remove_all(golden);
        fs::create_directories(golden / "chunks");
        for (std::size_t i = 2; i < packed.size() - pictures.size(); ++i) {
            fs::copy_file(packed[i], golden / "chunks" / packed[i]);
        }
        write_bytes(golden / "sample.pdb", archive);
        GTEST_SKIP() << "golden files written to " << golden.string();
    }

    // Every golden chunk was written, and nothing else.
    std::size_t golden_chunks = 0;
    for (const auto& entry : fs::directory_iterator(golden / "chunks")) {
        const std::string name = entry.path().filename().string();
        ++golden_chunks;
        ASSERT_TRUE(fs::exists(name)) << name << " was not written";
        EXPECT_EQ(read_bytes(name), read_bytes(entry.path())) << name << " differs";
    }
    EXPECT_EQ(packed.size() - 2 - pictures.size(), golden_chunks);
    EXPECT_EQ(archive, read_bytes(golden / "sample.pdb")) << "the archive differs";
}

}  // namespace
