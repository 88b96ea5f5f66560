#ifndef QVSIM_BIRDWRITER_H
#define QVSIM_BIRDWRITER_H

#include "Fingerprint.h"

#include <cstdint>
#include <string>
#include <vector>

// Produces BIRD firmware files for tests, simulators and demos; the updater itself only reads them.
//
// File: "bird", two version bytes (0x01 0x01 unless changed), then one zlib stream holding the container.
// Container: a big-endian 32-bit block count, the blocks back to back (type | flags << 5, a big-endian
// 32-bit data length, the data) and a big-endian 32-bit checksum. The checksum is the CRC-32 of zlib
// (polynomial 0xEDB88320, as crc32()) over every container byte before it, count field included.
class BirdWriter {
public:
    enum : uint8_t {
        TYPE_LOADER = 0,
        TYPE_FIRMWARE = 1,
        TYPE_SERIAL_OFFSETS = 2,
        TYPE_INFO = 4,
        TYPE_LOADER_START = 5,
    };
    static constexpr uint16_t DEFAULT_VERSION = 0x0101;
    static constexpr size_t INFO_FIELD_SIZE = 16;

    struct Block {
        uint8_t type;  // 0-31
        uint8_t flags; // 0-7
        std::vector<uint8_t> data;
    };

    // Appends a block as given. Throws std::invalid_argument for a type above 31 or flags above 7.
    BirdWriter& Add(uint8_t type, uint8_t flags, std::vector<uint8_t> data);
    // A loader or firmware block: the big-endian load address, then the little-endian image.
    BirdWriter& AddCode(uint8_t type, uint32_t address, const std::vector<uint8_t>& image, uint8_t flags = 0);
    // Marks the image generic: device addresses of the serial-number word and of the descriptor text.
    BirdWriter& AddSerialOffsets(uint32_t serialAddress, uint32_t descriptorAddress);
    // The 64-byte text record: build in decimal, version, serial as "%08X", model.
    BirdWriter& AddInfo(uint32_t build, const std::string& version, uint32_t serial,
                        const std::string& model);
    // The text record from four raw fields, each padded with spaces to 16 characters. Throws
    // std::invalid_argument for a field longer than 16.
    BirdWriter& AddInfoText(const std::string& build, const std::string& version, const std::string& serial,
                            const std::string& model);
    // Where the i.MX boot ROM is told to start the recovery loader.
    BirdWriter& AddLoaderStart(uint32_t ivtAddress);

    BirdWriter& SetVersion(uint16_t version);

    const std::vector<Block>& Blocks() const { return blocks; }
    // The container: count, blocks, checksum.
    std::vector<uint8_t> Container() const;
    // The whole file.
    std::vector<uint8_t> Bytes() const;
    // Writes the whole file to path through a temporary file and a rename. Throws std::runtime_error.
    void Write(const std::string& path) const;

    // A file around any container bytes, well formed or not.
    static std::vector<uint8_t> Wrap(const std::vector<uint8_t>& container,
                                     uint16_t version = DEFAULT_VERSION);
    static uint32_t Checksum(const uint8_t* bytes, size_t length);
    static void PutInt(std::vector<uint8_t>& out, uint32_t value);
    // Writes bytes to path through a temporary file and a rename. Throws std::runtime_error.
    static void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
    // Encodes a plain recovery image with a chip's four identifier words: each stored byte is the plain byte
    // XOR the key byte XOR the previous plain byte (0 before the first); the 16 key bytes are the words,
    // most significant byte first.
    static std::vector<uint8_t> EncodeRecoveryImage(const std::vector<uint8_t>& plain,
                                                    const Fingerprint& key);
    // A deterministic image of length bytes, different for every seed.
    static std::vector<uint8_t> PatternImage(size_t length, uint32_t seed);

private:
    std::vector<Block> blocks;
    uint16_t version = DEFAULT_VERSION;
};

#endif
