#include "BirdFile.h"

#include "BirdTestSupport.h"
#include "BirdWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

class BirdFileTest : public TempDirTest {
protected:
    std::string WriteBird(const std::string& name, const BirdWriter& writer) const {
        writer.Write(Path(name));
        return Path(name);
    }
    std::string WriteContainer(const std::string& name, const Bytes& container) const {
        return WriteRaw(name, BirdWriter::Wrap(container));
    }
};

Bytes _join(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A writer holding one info block with the given raw fields.
BirdWriter _info(const std::string& build, const std::string& version, const std::string& serial,
                 const std::string& model) {
    BirdWriter writer;
    writer.AddInfoText(build, version, serial, model);
    return writer;
}

// The container of raw blocks (type byte, declared length, data) with a count field of count.
Bytes _raw_container(uint32_t count, const std::vector<std::pair<uint8_t, Bytes>>& blocks) {
    Bytes out;
    BirdWriter::PutInt(out, count);
    for (const auto& [typeByte, data] : blocks) {
        out.push_back(typeByte);
        BirdWriter::PutInt(out, static_cast<uint32_t>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

TEST_F(BirdFileTest, VerifyFileChecksSignatureAndNonZeroVersionBytesOnly) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool accepted;
    } cases[] = {
        {"version 1.0", {'b', 'i', 'r', 'd', 1, 0}, false},
        {"version 0.1", {'b', 'i', 'r', 'd', 0, 1}, false},
        {"version 1.1", {'b', 'i', 'r', 'd', 1, 1}, true},
        {"version 2.7 and no body", {'b', 'i', 'r', 'd', 2, 7}, true},
        {"wrong signature", {'B', 'i', 'r', 'd', 1, 1, 0x78}, false},
        {"five bytes", {'b', 'i', 'r', 'd', 1}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BirdFile::VerifyFile(WriteRaw("f.bird", c.bytes)), c.accepted) << c.name;
    EXPECT_EQ(Logged(), "");

    EXPECT_FALSE(BirdFile::VerifyFile(Path("missing.bird")));
    EXPECT_EQ(Logged(), "BIRDFILE: Error - cannot open bird file: '" + Path("missing.bird") + "'\n");
}

TEST_F(BirdFileTest, LoadsEveryBlockInFileOrderWithItsFieldsAndTheWriterChecksum) {
    Bytes loader = BirdWriter::PatternImage(40, 1), firmwareA = BirdWriter::PatternImage(64, 2),
          firmwareB = BirdWriter::PatternImage(9, 3);
    BirdWriter writer;
    writer.AddInfo(1234, "2.1.0", 0x1A2B3C4D, "Hub4")
        .AddSerialOffsets(0x1010, 0x1020)
        .AddLoaderStart(0x20000400)
        .AddCode(BirdWriter::TYPE_LOADER, 0x400, loader, 3)
        .AddCode(BirdWriter::TYPE_FIRMWARE, 0x1000, firmwareA, 2)
        .Add(31, 7, {0xAA})
        .AddCode(BirdWriter::TYPE_FIRMWARE, 0x8000, firmwareB);
    BirdFile file(WriteBird("b.bird", writer));

    EXPECT_EQ(file.signature, GetInt(reinterpret_cast<const uint8_t*>("bird")));
    EXPECT_EQ(file.version, BirdFile::BIRD_FILE_VERSION);
    ASSERT_EQ(file.blockCount, 7u);
    ASSERT_EQ(file.blocks.size(), 7u);
    const uint8_t expectedTypes[] = {4, 2, 5, 0, 1, 31, 1};
    const uint8_t expectedFlags[] = {0, 0, 0, 3, 2, 7, 0};
    for (size_t i = 0; i < 7; i++) {
        EXPECT_EQ(file.blocks[i].type, expectedTypes[i]) << i;
        EXPECT_EQ(file.blocks[i].flags, expectedFlags[i]) << i;
    }
    // Only code blocks carry an address.
    EXPECT_EQ(file.blocks[2].address, 0u);
    EXPECT_EQ(GetInt(file.blocks[2].data), 0x20000400u);

    auto firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    ASSERT_EQ(firmware.size(), 2u);
    EXPECT_EQ(firmware[0].address, 0x1000u);
    EXPECT_EQ(firmware[0].length, 68u);
    EXPECT_EQ(Bytes(firmware[0].Image(), firmware[0].Image() + firmware[0].ImageLength()), firmwareA);
    EXPECT_EQ(firmware[1].address, 0x8000u);
    EXPECT_EQ(Bytes(firmware[1].Image(), firmware[1].Image() + firmware[1].ImageLength()), firmwareB);
    auto loaders = file.FindBlocks(BirdFile::BLOCK_LOADER);
    ASSERT_EQ(loaders.size(), 1u);
    EXPECT_EQ(loaders[0].address, 0x400u);
    EXPECT_TRUE(file.FindBlocks(static_cast<BirdFile::BLOCK_TYPE>(3)).empty());

    EXPECT_TRUE(file.hasSerialNumberBlock);
    EXPECT_EQ(file.serialNumberOffset, 0x1010u);
    EXPECT_EQ(file.descriptorOffset, 0x1020u);
    EXPECT_EQ(file.GetBuild(), 1234u);
    EXPECT_EQ(file.GetVersion(), "2.1.0");
    EXPECT_EQ(file.GetSerialNumber(), 0x1A2B3C4Du);
    EXPECT_TRUE(file.ValidateSerialNumber(0x1A2B3C4D));
    EXPECT_FALSE(file.ValidateSerialNumber(0x1A2B3C4E));

    Bytes container = writer.Container();
    EXPECT_EQ(file.dataSize, container.size());
    EXPECT_EQ(file.fileChecksum, crc32(0, container.data(), container.size() - 4));

    std::string log = Logged();
    EXPECT_NE(log.find("BIRDFILE: Loading File [" + Path("b.bird") + "]\n"), std::string::npos);
    EXPECT_NE(log.find("BIRDFILE:\t\t File reports 7 blocks\nBIRDFILE: Bird file objects:\n"
                       "BIRDFILE: \t\tType Flags Length\nBIRDFILE:\t\t 04   00   64\n"
                       "BIRDFILE:\t\t \t[1234            ]\nBIRDFILE:\t\t \t[2.1.0           ]\n"
                       "BIRDFILE:\t\t \t[1A2B3C4D        ]\nBIRDFILE:\t\t \t[Hub4            ]\n"
                       "BIRDFILE:\t\t 02   00   8\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("BIRDFILE:\t\t 01   02   68\n"), std::string::npos);
    EXPECT_NE(log.find("BIRDFILE:\t\t 1F   07   1\n"), std::string::npos);
    char checksumLine[64];
    snprintf(checksumLine, sizeof(checksumLine), "BIRDFILE:\t\t File checksum %08X\n", file.fileChecksum);
    EXPECT_NE(log.find(checksumLine), std::string::npos);
    EXPECT_NE(log.find("BIRDFILE: Offsets: Serial number: 4112, Descriptor: 4128\n"), std::string::npos);
    EXPECT_EQ(log.find("mismatch"), std::string::npos);
}

TEST_F(BirdFileTest, MovedFileKeepsItsBlocksReadable) {
    BirdWriter writer;
    writer.AddInfo(7, "1.0.0", 1, "Hub").AddCode(BirdWriter::TYPE_FIRMWARE, 0x100, {1, 2, 3});
    BirdFile moved;
    {
        BirdFile loaded(WriteBird("m.bird", writer));
        moved = std::move(loaded);
    }
    EXPECT_EQ(moved.path, Path("m.bird"));
    EXPECT_EQ(moved.GetBuild(), 7u);
    auto firmware = moved.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    ASSERT_EQ(firmware.size(), 1u);
    EXPECT_EQ(firmware[0].Image()[2], 3);
}

TEST_F(BirdFileTest, CountMismatchIsLoggedAndTolerated) {
    Bytes container = _raw_container(3, {{1, {0, 0, 0x10, 0, 0xAB}}, {4, Bytes(64, ' ')}});
    BirdWriter::PutInt(container, 0xC0FFEE00);
    BirdFile file(WriteContainer("c.bird", container));
    EXPECT_EQ(file.blockCount, 2u);
    EXPECT_EQ(file.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0].address, 0x1000u);
    EXPECT_EQ(file.fileChecksum, 0xC0FFEE00u);
    std::string log = Logged();
    EXPECT_NE(log.find("BIRDFILE: Block parsing mismatch in number of blocks. (2 != 3)\n"),
              std::string::npos);
    EXPECT_EQ(log.find("mismatch in data size"), std::string::npos);
}

TEST_F(BirdFileTest, LoadFailuresAreLoggedAndTheLoadingConstructorThrows) {
    // A zero block compresses about a thousandfold: beyond the eightfold room the reader allows.
    BirdWriter huge;
    huge.Add(3, 0, Bytes(100000, 0));
    Bytes corrupt = BirdWriter().AddInfo(1, "1", 1, "Hub").Bytes();
    corrupt[6] ^= 0xFF;
    struct Case {
        const char* name;
        std::string path;
        std::string logLine;
    } cases[] = {
        {"missing", Path("missing.bird"), "BIRDFILE: BIRD file not found [" + Path("missing.bird") + "]\n"},
        {"directory", dir, "BIRDFILE: BIRD file not found [" + dir + "]\n"},
        {"container beyond 8x", WriteBird("huge.bird", huge),
         "BIRDFILE: Error (-5) decompressing bird file.\n"},
        {"corrupt stream", WriteRaw("corrupt.bird", corrupt),
         "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {"header only", WriteRaw("short.bird", {'b', 'i', 'r', 'd', 1, 1}), ""},
    };
    for (const Case& c : cases) {
        Logged();
        try {
            BirdFile file(c.path);
            ADD_FAILURE() << c.name << " loaded";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to load bird data") << c.name;
        }
        std::string log = Logged();
        EXPECT_NE(log.find(c.logLine), std::string::npos) << c.name << ": " << log;
    }
}

TEST_F(BirdFileTest, DecompressionRefusesARoomBeyond32Bits) {
    // Eight times this length wraps to 0 in 32 bits; the reader must refuse it before touching the input.
    const uint8_t input[1] = {0};
    BirdFile file;
    EXPECT_FALSE(file.DecompressData(input, 0x20000000));
    EXPECT_EQ(file.dataSize, 0u);
    EXPECT_EQ(Logged(), "BIRDFILE: Error (-4) decompressing bird file.\n");
}

TEST_F(BirdFileTest, InfoFieldsAreReadAsTheirFixedWidthsSay) {
    struct Case {
        const char* build;
        const char* version;
        const char* serial;
        uint32_t expectedBuild;
        const char* expectedVersion;
        uint32_t expectedSerial;
    } cases[] = {
        {"1234", "1.2.3 beta", "0A1B2C3D", 1234, "1.2.3", 0x0A1B2C3D},
        {"0000000000123456", "ABCDEFGHIJKLMNOP", "1a2b3c4d9999", 12345, "ABCDEFGHIJKLMNO", 0x1A2B3C4D},
        {"12ab", "", "zz", 12, "", 0},
        {"build", " 1.0", "", 0, "", 0},
    };
    for (const Case& c : cases) {
        BirdFile file(WriteBird("i.bird", _info(c.build, c.version, c.serial, "Hub")));
        EXPECT_EQ(file.GetBuild(), c.expectedBuild) << c.build;
        EXPECT_EQ(file.GetVersion(), c.expectedVersion) << c.version;
        EXPECT_EQ(file.GetSerialNumber(), c.expectedSerial) << c.serial;
    }
}

TEST_F(BirdFileTest, QueriesWithoutInfoBlockGiveEmptyAnswers) {
    BirdWriter writer;
    writer.AddCode(BirdWriter::TYPE_FIRMWARE, 0, {1, 2, 3, 4});
    BirdFile file(WriteBird("n.bird", writer));
    EXPECT_EQ(file.GetVersion(), "");
    EXPECT_EQ(file.GetBuild(), 0u);
    EXPECT_EQ(file.GetSerialNumber(), 0u);
    EXPECT_TRUE(file.ValidateSerialNumber(0));
    EXPECT_FALSE(file.ValidateModel("Hub"));
    EXPECT_FALSE(file.hasSerialNumberBlock);
    EXPECT_FALSE(file.FindSerialNumberOffsets());
}

TEST_F(BirdFileTest, ValidateModelComparesTheLengthOfTheGivenName) {
    BirdFile file(WriteBird("v.bird", _info("1", "1", "1", "Hub4")));
    struct Case {
        const char* name;
        bool matches;
    } cases[] = {{"Hub", true},  {"Hub4", true},  {"Hub44", false},
                 {"hub", false}, {"Hub5", false}, {"Hub4 ", false}};
    for (const Case& c : cases)
        EXPECT_EQ(file.ValidateModel(c.name), c.matches) << c.name;
    Logged();
    file.ValidateModel("Hub");
    EXPECT_EQ(Logged(), "Model matches model number ([Hub4] == [Hub])\n");
}

TEST_F(BirdFileTest, ReplaceSerialNumberWritesOnlyPlacesInsideFirmwareImages) {
    // One firmware image of 0x40 bytes at 0x1000, and a loader image at the same addresses that must stay.
    const Bytes image = BirdWriter::PatternImage(0x40, 9);
    struct Case {
        const char* name;
        uint32_t serialOffset;
        uint32_t descriptorOffset;
        bool result;
        std::vector<std::pair<size_t, uint8_t>> writes; // image offset, new byte
    } cases[] = {
        {"word inside", 0x1010, 0, true, {{0x10, 0xCD}, {0x11, 0xAB}, {0x12, 0x34}, {0x13, 0x12}}},
        {"word at the very end", 0x103C, 0, true, {{0x3C, 0xCD}, {0x3D, 0xAB}, {0x3E, 0x34}, {0x3F, 0x12}}},
        {"word straddling the end", 0x103D, 0, true, {}},
        {"word before the image", 0x0FFE, 0, true, {}},
        {"word elsewhere", 0x5000, 0, true, {}},
        {"both zero", 0, 0, false, {}},
        {"descriptor inside",
         0,
         0x1020,
         true,
         {{0x20, '1'},
          {0x22, '2'},
          {0x24, '3'},
          {0x26, '4'},
          {0x28, 'A'},
          {0x2A, 'B'},
          {0x2C, 'C'},
          {0x2E, 'D'}}},
        {"descriptor straddling the end", 0, 0x1031, false, {}},
        {"word and descriptor",
         0x1000,
         0x1030,
         true,
         {{0x00, 0xCD},
          {0x01, 0xAB},
          {0x02, 0x34},
          {0x03, 0x12},
          {0x30, '1'},
          {0x32, '2'},
          {0x34, '3'},
          {0x36, '4'},
          {0x38, 'A'},
          {0x3A, 'B'},
          {0x3C, 'C'},
          {0x3E, 'D'}}},
    };
    for (const Case& c : cases) {
        BirdWriter writer;
        writer.AddCode(BirdWriter::TYPE_LOADER, 0x1000, image)
            .AddCode(BirdWriter::TYPE_FIRMWARE, 0x1000, image);
        if (c.serialOffset != 0 || c.descriptorOffset != 0)
            writer.AddSerialOffsets(c.serialOffset, c.descriptorOffset);
        BirdFile file(WriteBird("r.bird", writer));
        EXPECT_EQ(file.ReplaceSerialNumber(0x1234ABCD), c.result) << c.name;

        Bytes expected = image;
        for (auto [offset, value] : c.writes)
            expected[offset] = value;
        BirdBlock firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0];
        EXPECT_EQ(Bytes(firmware.Image(), firmware.Image() + firmware.ImageLength()), expected) << c.name;
        BirdBlock loader = file.FindBlocks(BirdFile::BLOCK_LOADER)[0];
        EXPECT_EQ(Bytes(loader.Image(), loader.Image() + loader.ImageLength()), image) << c.name;
    }
}

TEST_F(BirdFileTest, ReplaceSerialNumberLogsTheWordItReplaces) {
    BirdWriter writer;
    writer.AddCode(BirdWriter::TYPE_FIRMWARE, 0x1000, {0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12})
        .AddSerialOffsets(0x1004, 0);
    BirdFile file(WriteBird("l.bird", writer));
    Logged();
    EXPECT_TRUE(file.ReplaceSerialNumber(0x0A1B2C3D));
    EXPECT_EQ(Logged(), "BIRDFILE: updating serial number from 12345678 ==> 0A1B2C3D\n");
}

TEST_F(BirdFileTest, DecodeFirmwareBlocksInvertsTheRecoveryEncoding) {
    const Fingerprint key = {0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00};
    Bytes plain = BirdWriter::PatternImage(100, 4);
    plain[0] = 0;
    Bytes loader = BirdWriter::PatternImage(20, 5);
    BirdWriter writer;
    writer.AddCode(BirdWriter::TYPE_LOADER, 0, loader)
        .AddCode(BirdWriter::TYPE_FIRMWARE, 0x2000, BirdWriter::EncodeRecoveryImage(plain, key));
    BirdFile file(WriteBird("d.bird", writer));
    BirdBlock stored = file.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0];
    // A plain 0 is stored as the first key byte; the chaining then starts from that 0.
    EXPECT_EQ(stored.Image()[0], 0x11);
    EXPECT_EQ(stored.Image()[1], plain[1] ^ 0x22);

    EXPECT_TRUE(file.DecodeFirmwareBlocks(key));
    BirdBlock decoded = file.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0];
    EXPECT_EQ(Bytes(decoded.Image(), decoded.Image() + decoded.ImageLength()), plain);
    EXPECT_EQ(decoded.address, 0x2000u);
    BirdBlock untouched = file.FindBlocks(BirdFile::BLOCK_LOADER)[0];
    EXPECT_EQ(Bytes(untouched.Image(), untouched.Image() + untouched.ImageLength()), loader);
}

TEST_F(BirdFileTest, ReplaceVectorChecksumMakesTheVectorTableSumToZero) {
    Bytes vectors = BirdWriter::PatternImage(40, 6);
    BirdWriter writer;
    writer.AddCode(BirdWriter::TYPE_FIRMWARE, 0, vectors).AddCode(BirdWriter::TYPE_FIRMWARE, 0x100, vectors);
    BirdFile file(WriteBird("vt.bird", writer));
    EXPECT_TRUE(file.ReplaceVectorChecksum());
    auto firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    uint32_t sum = 0;
    for (int i = 0; i < 8; i++) {
        const uint8_t* w = firmware[0].Image() + 4 * i;
        sum += w[0] | w[1] << 8 | w[2] << 16 | static_cast<uint32_t>(w[3]) << 24;
    }
    EXPECT_EQ(sum, 0u);
    EXPECT_TRUE(std::equal(vectors.begin(), vectors.begin() + 0x1C, firmware[0].Image()));
    EXPECT_TRUE(std::equal(vectors.begin() + 0x20, vectors.end(), firmware[0].Image() + 0x20));
    EXPECT_TRUE(std::equal(vectors.begin(), vectors.end(), firmware[1].Image()));
    EXPECT_NE(Logged().find("BIRDFILE: updating vector checksum from "), std::string::npos);
}

TEST_F(BirdFileTest, ValidateDataSearchesFirmwareBlocksButNotTheirLastPosition) {
    BirdWriter writer;
    writer.AddCode(BirdWriter::TYPE_LOADER, 0, {0xCA, 0xFE, 0, 0})
        .AddCode(BirdWriter::TYPE_FIRMWARE, 0, {0xCA, 0xFE, 1, 0xCA, 0xFE});
    BirdFile file(WriteBird("p.bird", writer));
    const uint8_t pattern[] = {0xCA, 0xFE};
    Logged();
    EXPECT_TRUE(file.ValidateData(pattern, 2));
    EXPECT_EQ(Logged(),
              "BIRDFILE: looking for data pattern in [" + Path("p.bird") + "]\nFound data at 4\n\n");
    const uint8_t tail[] = {1, 0xCA, 0xFE};
    EXPECT_FALSE(file.ValidateData(tail, 3));
}

TEST_F(BirdFileTest, DumpBlocksPrintsFiftyBytesPerLineWithTheirPrintableText) {
    Bytes image(50, 'x');
    image.push_back(0x01);
    BirdWriter writer;
    writer.AddCode(BirdWriter::TYPE_FIRMWARE, 0x41424344, image).AddCode(BirdWriter::TYPE_LOADER, 0, {});
    BirdFile file(WriteBird("dump.bird", writer));
    std::string line0 = "41 42 43 44 ";
    for (int i = 0; i < 46; i++)
        line0 += "78 ";
    std::string expected = "BIRDFILE: BLOCK DUMP [" + Path("dump.bird") + "]\n" + " \r\n000000: " + line0 +
                           " ABCD" + std::string(46, 'x') + "\r\n000050: 78 78 78 78 01  xxxx \n\n";
    testing::internal::CaptureStdout();
    EXPECT_TRUE(file.DumpBlocks(BirdFile::BLOCK_FIRMWARE));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

// Malformed containers are scanned straight from a buffer of their exact size, so that a sanitizer build
// catches any read past the end.
class MalformedContainerTest : public TempDirTest {
protected:
    void Scan(const Bytes& container) {
        buffer.reset(new uint8_t[container.size() ? container.size() : 1]);
        std::memcpy(buffer.get(), container.data(), container.size());
        matched = file.ScanBlocks(buffer.get(), static_cast<uint32_t>(container.size()));
        file.FindSerialNumberOffsets();
    }
    // Runs every reading and patching operation; none may read or write outside the buffer.
    void Exercise() {
        file.GetVersion();
        file.GetBuild();
        file.GetSerialNumber();
        file.ValidateModel("Hub");
        file.ReplaceSerialNumber(0x1234ABCD);
        file.DecodeFirmwareBlocks({1, 2, 3, 4});
        file.ReplaceVectorChecksum();
        const uint8_t pattern[] = {0, 0, 0, 0, 0, 0};
        file.ValidateData(pattern, sizeof(pattern));
        testing::internal::CaptureStdout();
        file.DumpBlocks(BirdFile::BLOCK_FIRMWARE);
        testing::internal::GetCapturedStdout();
    }
    std::unique_ptr<uint8_t[]> buffer;
    BirdFile file;
    bool matched = false;
};

TEST_F(MalformedContainerTest, BlocksShorterThanTheirLayoutAreKeptButNeverReadPastTheirEnd) {
    // Each short block ends the buffer (no checksum follows), so a read past its end leaves the buffer.
    const std::pair<uint8_t, Bytes> cases[] = {
        {0, {0x00, 0x10, 0x00}}, {1, {0x00, 0x10}}, {2, {0, 0, 0x10, 0x10, 0, 0, 0x10}}, {4, Bytes(63, '1')}};
    for (const auto& block : cases) {
        SCOPED_TRACE(testing::Message()
                     << "type " << int(block.first) << ", " << block.second.size() << " bytes");
        Scan(_raw_container(1, {block}));
        ASSERT_EQ(file.blockCount, 1u);
        EXPECT_EQ(file.blocks[0].length, block.second.size());
        EXPECT_EQ(file.blocks[0].address, 0u);
        EXPECT_EQ(file.blocks[0].ImageLength(), 0u);
        EXPECT_FALSE(file.FindSerialNumberOffsets());
        EXPECT_EQ(file.GetVersion(), "");
        EXPECT_EQ(file.GetBuild(), 0u);
        EXPECT_EQ(file.GetSerialNumber(), 0u);
        EXPECT_FALSE(file.ValidateModel("1"));
        Exercise();
    }

    // A generic image whose offsets cannot be read cannot be personalised.
    BirdWriter writer;
    writer.Add(BirdWriter::TYPE_SERIAL_OFFSETS, 0, {0, 0, 0x10, 0x10})
        .AddCode(BirdWriter::TYPE_FIRMWARE, 0x1000, Bytes(0x40, 0));
    BirdFile loaded(WriteRaw("s.bird", writer.Bytes()));
    EXPECT_TRUE(loaded.hasSerialNumberBlock);
    EXPECT_EQ(loaded.serialNumberOffset, 0u);
    EXPECT_FALSE(loaded.ReplaceSerialNumber(0x1234ABCD));
}

TEST_F(MalformedContainerTest, TruncatedContainersEndTheScanInsideTheBuffer) {
    Bytes good = _raw_container(1, {{1, {0, 0, 0x10, 0, 7, 7}}});
    struct Case {
        const char* name;
        Bytes container;
        uint32_t blocks;
        const char* logLine;
    } cases[] = {
        {"count cut short",
         {0, 0},
         0,
         "BIRDFILE: Block parsing mismatch in data size. (-2 bytes remaining)\n"},
        {"header cut inside its length", _join(_raw_container(1, {}), Bytes{1, 0, 0}), 0,
         "BIRDFILE: Block parsing mismatch in data size. (-1 bytes remaining)\n"},
        {"checksum missing", good, 1,
         "BIRDFILE: Block parsing mismatch in data size. (-4 bytes remaining)\n"},
        {"checksum cut short", _join(good, Bytes{9, 9}), 1,
         "BIRDFILE: Block parsing mismatch in data size. (-2 bytes remaining)\n"},
        {"length past the end", _join(good, Bytes{1, 0, 0, 0, 9, 1, 2, 3, 4}), 1,
         "BIRDFILE: Block parsing mismatch in data size. (5 bytes remaining)\n"},
        {"length wrapping 32 bits", _join(good, Bytes{1, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}), 1,
         "BIRDFILE: Block parsing mismatch in data size. (5 bytes remaining)\n"},
        {"trailing bytes", _join(good, Bytes{1, 2, 3, 4, 5, 6, 7}), 1,
         "BIRDFILE: Block parsing mismatch in data size. (3 bytes remaining)\n"},
    };
    for (const Case& c : cases) {
        Logged();
        Scan(c.container);
        EXPECT_FALSE(matched) << c.name;
        EXPECT_EQ(file.blockCount, c.blocks) << c.name;
        EXPECT_EQ(file.blocks.size(), c.blocks) << c.name;
        std::string log = Logged();
        EXPECT_NE(log.find(c.logLine), std::string::npos) << c.name << ": " << log;
        Exercise();
    }
}

} // namespace
