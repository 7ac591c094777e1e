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
#include "message_blocks.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace test_support;

const fs::path golden = source_dir / "tests/golden/sample";

TEST(GoldenSample, CutterAndCrateWriteTheGoldenBytes) {
    const bool update = std::getenv("PALMPORT_UPDATE_GOLDEN") != nullptr;
    const scratch_folder here(fs::current_path() / "golden_sample_run");

    const auto cut = run_main(cutter::cutter_main, {"cutter", (source_dir / "examples/rumomsg.dll").string(),
                                                    (source_dir / "examples/font.bin").string()});
    ASSERT_EQ(cut.status, 0) << cut.err;

    // The chunk files in the order cutter writes them, then the pictures.
    std::vector<std::string> packed{"crate", "sample.pdb"};
    for (const std::string_view block : palm::text_name) {
        for (int index = 0; index < 16; ++index) {
            const std::string name = std::string(block) + "_" + (index < 10 ? "0" : "") + std::to_string(index) + ".txt";
            if (fs::exists(name)) {
                packed.push_back(name);
            }
        }
    }
    const std::vector<std::string> pictures{"CGRUMO.bmp", "CG001.bmp", "CG002.bmp"};
    for (const auto& picture : pictures) {
        fs::copy_file(source_dir / "examples" / picture, picture);
        packed.push_back(picture);
    }
    const auto packing = run_main(crate::crate_main, packed);
    ASSERT_EQ(packing.status, 0) << packing.err;

    bytes archive = read_bytes("sample.pdb");
    ASSERT_GE(archive.size(), 88u);
    std::fill(archive.begin() + 36, archive.begin() + 44, std::uint8_t{0});  // creation, modification date

    if (update) {
        fs::remove_all(golden);
        fs::create_directories(golden / "chunks");
        for (std::size_t i = 2; i < packed.size() - pictures.size(); ++i) {
            fs::copy_file(packed[i], golden / "chunks" / packed[i]);
        }
        write_bytes(golden / "sample_library.pdb", archive);
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
    EXPECT_EQ(archive, read_bytes(golden / "sample_library.pdb")) << "the archive differs";
}

}  // namespace
