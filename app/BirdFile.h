#ifndef UPDATER_BIRDFILE_H
#define UPDATER_BIRDFILE_H

#include "Fingerprint.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Big-endian integers of the BIRD format.
uint32_t GetInt(const uint8_t* bytes);
uint16_t GetShort(const uint8_t* bytes);

// One block of a loaded BIRD file. data points into the container owned by the BirdFile that produced the
// block; copies stay valid while that file lives and is not assigned to.
struct BirdBlock {
    uint8_t type = 0;
    uint8_t flags = 0;
    uint32_t length = 0;
    uint32_t address = 0; // load address of a loader or firmware block, else 0
    uint8_t* data = nullptr;

    // The code image of a loader or firmware block: the bytes after the load address. Other blocks, and a
    // code block too short to hold an address (whose address is 0), have no image.
    bool HasImage() const { return (type == 0 || type == 1) && length >= CODE_ADDRESS_SIZE; }
    uint8_t* Image() const { return HasImage() ? data + CODE_ADDRESS_SIZE : nullptr; }
    uint32_t ImageLength() const { return HasImage() ? length - CODE_ADDRESS_SIZE : 0; }

    static constexpr uint32_t CODE_ADDRESS_SIZE = 4;
};

// A BIRD firmware file read whole into memory: "bird", two version bytes, a zlib stream holding a count, the
// typed blocks and a checksum. Patching operations change the in-memory container only.
class BirdFile {
public:
    enum BLOCK_TYPE : uint8_t {
        BLOCK_LOADER = 0,
        BLOCK_FIRMWARE = 1,
        BLOCK_SERIAL_OFFSETS = 2,
        BLOCK_INFO = 4,
        BLOCK_LOADER_START = 5,
    };

    static constexpr const char* BIRD_FILE_SIGNATURE = "bird";
    static constexpr uint16_t BIRD_FILE_VERSION = 0x0101;
    static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
    static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;
    static constexpr uint32_t SERIAL_OFFSETS_SIZE = 8;
    static constexpr uint32_t INFO_SIZE = 64;

    BirdFile();
    // Loads path; throws std::runtime_error "Failed to load bird data" when that fails.
    explicit BirdFile(const std::string& path);
    BirdFile(BirdFile&&) noexcept;
    BirdFile& operator=(BirdFile&&) noexcept;
    BirdFile(const BirdFile&) = delete;
    BirdFile& operator=(const BirdFile&) = delete;
    ~BirdFile();

    // True when path opens and starts with "bird" and two non-zero version bytes.
    static bool VerifyFile(const std::string& path);
    // The same test on bytes in memory, e.g. a download before it is stored.
    static bool VerifyHeader(const uint8_t* bytes, size_t length);

    bool Load();
    bool DecompressData(const uint8_t* compressed, uint64_t length);
    bool ScanBlocks(uint8_t* container, uint32_t size);
    std::vector<BirdBlock> FindBlocks(BLOCK_TYPE type) const;
    bool FindSerialNumberOffsets();

    std::string GetVersion() const;
    uint32_t GetBuild() const;
    uint32_t GetSerialNumber() const;
    bool ValidateSerialNumber(uint32_t serial) const;
    bool ValidateModel(const std::string& name) const;

    bool ReplaceSerialNumber(uint32_t serial);
    bool DecodeFirmwareBlocks(const Fingerprint& key);
    bool ReplaceVectorChecksum();
    bool ValidateData(const uint8_t* pattern, uint32_t count) const;
    bool DumpBlocks(BLOCK_TYPE type) const;

    std::string path;
    uint32_t signature = 0;
    uint32_t version = 0;
    uint32_t fileChecksum = 0;
    uint32_t blockCount = 0;
    std::vector<BirdBlock> blocks;
    bool hasSerialNumberBlock = false;
    uint32_t serialNumberOffset = 0;
    uint32_t descriptorOffset = 0;
    std::unique_ptr<uint8_t[]> data;
    uint32_t dataSize = 0;
};

#endif
