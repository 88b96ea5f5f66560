#include "BirdFile.h"

#include "BirdTestSupport.h"
#include "BirdWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class MakeBirdToolTest : public TempDirTest {
protected:
    int Run(const std::string& arguments) {
        std::string command =
            std::string(QV_BINARY_DIR) + "/bin/qv-make-bird " + arguments + " 2>" + Path("err");
        return WEXITSTATUS(std::system(command.c_str()));
    }
};

TEST_F(MakeBirdToolTest, WritesAGenericEncodedImageFromItsArguments) {
    WriteRaw("loader.bin", {1, 2, 3, 4, 5});
    ASSERT_EQ(Run("-o " + Path("out.bird") +
                  " -b 1300 -v 2.0.1 -s 0a1b2c3d -m Hub4 -p 256 -a 0x1000 -e 7 -l " + Path("loader.bin") +
                  " -A 0x400 -g 0x1010,0x1020 -S 0x20000400 -k 1,2,3,0xFFFFFFFF"),
              0);
    BirdFile file(Path("out.bird"));
    EXPECT_EQ(file.GetBuild(), 1300u);
    EXPECT_EQ(file.GetVersion(), "2.0.1");
    EXPECT_EQ(file.GetSerialNumber(), 0x0A1B2C3Du);
    EXPECT_TRUE(file.ValidateModel("Hub4"));
    EXPECT_TRUE(file.hasSerialNumberBlock);
    EXPECT_EQ(file.serialNumberOffset, 0x1010u);
    EXPECT_EQ(file.descriptorOffset, 0x1020u);
    ASSERT_EQ(file.FindBlocks(BirdFile::BLOCK_LOADER_START).size(), 1u);
    EXPECT_EQ(GetInt(file.FindBlocks(BirdFile::BLOCK_LOADER_START)[0].data), 0x20000400u);

    BirdBlock loader = file.FindBlocks(BirdFile::BLOCK_LOADER).at(0);
    EXPECT_EQ(loader.address, 0x400u);
    EXPECT_EQ(std::vector<uint8_t>(loader.Image(), loader.Image() + loader.ImageLength()),
              (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(file.DecodeFirmwareBlocks({1, 2, 3, 0xFFFFFFFF}));
    BirdBlock firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE).at(0);
    EXPECT_EQ(firmware.address, 0x1000u);
    EXPECT_EQ(std::vector<uint8_t>(firmware.Image(), firmware.Image() + firmware.ImageLength()),
              BirdWriter::PatternImage(256, 7));
}

TEST_F(MakeBirdToolTest, RefusesBadArgumentsWithoutWritingAnything) {
    const char* cases[] = {
        "-b 12x",
        "-s 123456789",
        "-g 0x1010",
        "-m 12345678901234567",
        "-f /nonexistent/image.bin",
        "-p 10 -f /etc/hostname",
        "-F 10000",
        "extra",
    };
    for (const char* arguments : cases) {
        EXPECT_EQ(Run("-o " + Path("out.bird") + " " + arguments), 1) << arguments;
        EXPECT_FALSE(std::filesystem::exists(Path("out.bird"))) << arguments;
    }
    EXPECT_EQ(Run("-b 1"), 1);
}

} // namespace
