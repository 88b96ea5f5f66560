#include "BirdWriter.h"

#include "AtomicFile.h"

#include <cstdio>
#include <stdexcept>
#include <zlib.h>

namespace {

constexpr uint8_t TYPE_LIMIT = 0x1F;
constexpr uint8_t FLAG_LIMIT = 0x07;
constexpr unsigned FLAG_SHIFT = 5;
constexpr size_t KEY_SIZE = 16;

std::string _padded_field(const std::string& text) {
    if (text.size() > BirdWriter::INFO_FIELD_SIZE)
        throw std::invalid_argument("info field longer than 16 characters: " + text);
    return text + std::string(BirdWriter::INFO_FIELD_SIZE - text.size(), ' ');
}

} // namespace

BirdWriter& BirdWriter::Add(uint8_t type, uint8_t flags, std::vector<uint8_t> data) {
    if (type > TYPE_LIMIT || flags > FLAG_LIMIT)
        throw std::invalid_argument("block type above 31 or flags above 7");
    blocks.push_back(Block{type, flags, std::move(data)});
    return *this;
}

BirdWriter& BirdWriter::AddCode(uint8_t type, uint32_t address, const std::vector<uint8_t>& image,
                                uint8_t flags) {
    std::vector<uint8_t> data;
    data.reserve(4 + image.size());
    PutInt(data, address);
    data.insert(data.end(), image.begin(), image.end());
    return Add(type, flags, std::move(data));
}

BirdWriter& BirdWriter::AddSerialOffsets(uint32_t serialAddress, uint32_t descriptorAddress) {
    std::vector<uint8_t> data;
    PutInt(data, serialAddress);
    PutInt(data, descriptorAddress);
    return Add(TYPE_SERIAL_OFFSETS, 0, std::move(data));
}

BirdWriter& BirdWriter::AddInfo(uint32_t build, const std::string& version, uint32_t serial,
                                const std::string& model) {
    char serialText[16];
    snprintf(serialText, sizeof(serialText), "%08X", serial);
    return AddInfoText(std::to_string(build), version, serialText, model);
}

BirdWriter& BirdWriter::AddInfoText(const std::string& build, const std::string& version,
                                    const std::string& serial, const std::string& model) {
    std::string text =
        _padded_field(build) + _padded_field(version) + _padded_field(serial) + _padded_field(model);
    return Add(TYPE_INFO, 0, std::vector<uint8_t>(text.begin(), text.end()));
}

BirdWriter& BirdWriter::AddLoaderStart(uint32_t ivtAddress) {
    std::vector<uint8_t> data;
    PutInt(data, ivtAddress);
    return Add(TYPE_LOADER_START, 0, std::move(data));
}

BirdWriter& BirdWriter::SetVersion(uint16_t value) {
    version = value;
    return *this;
}

std::vector<uint8_t> BirdWriter::Container() const {
    std::vector<uint8_t> out;
    PutInt(out, static_cast<uint32_t>(blocks.size()));
    for (const Block& block : blocks) {
        out.push_back(static_cast<uint8_t>(block.type | block.flags << FLAG_SHIFT));
        PutInt(out, static_cast<uint32_t>(block.data.size()));
        out.insert(out.end(), block.data.begin(), block.data.end());
    }
    PutInt(out, Checksum(out.data(), out.size()));
    return out;
}

std::vector<uint8_t> BirdWriter::Bytes() const {
    return Wrap(Container(), version);
}

void BirdWriter::Write(const std::string& path) const {
    WriteBytes(path, Bytes());
}

std::vector<uint8_t> BirdWriter::Wrap(const std::vector<uint8_t>& container, uint16_t version) {
    uLongf compressedSize = compressBound(container.size());
    std::vector<uint8_t> out{
        'b', 'i', 'r', 'd', static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version)};
    size_t header = out.size();
    out.resize(header + compressedSize);
    int z = compress2(out.data() + header, &compressedSize, container.data(), container.size(),
                      Z_BEST_COMPRESSION);
    if (z != Z_OK)
        throw std::runtime_error("zlib compression failed (" + std::to_string(z) + ")");
    out.resize(header + compressedSize);
    return out;
}

uint32_t BirdWriter::Checksum(const uint8_t* bytes, size_t length) {
    uLong crc = crc32(0L, Z_NULL, 0);
    return static_cast<uint32_t>(crc32_z(crc, bytes, length));
}

void BirdWriter::PutInt(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void BirdWriter::WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    aErr e = WriteFileAtomically(path, bytes.data(), bytes.size());
    if (e != aErrNone)
        throw std::runtime_error("cannot write " + path + ": " + aError_GetErrorDescription(e));
}

std::vector<uint8_t> BirdWriter::EncodeRecoveryImage(const std::vector<uint8_t>& plain,
                                                     const Fingerprint& key) {
    uint8_t keyBytes[KEY_SIZE];
    for (size_t i = 0; i < KEY_SIZE; i++)
        keyBytes[i] = static_cast<uint8_t>(key[i / 4] >> (24 - 8 * (i % 4)));
    std::vector<uint8_t> out(plain.size());
    uint8_t previous = 0;
    for (size_t i = 0; i < plain.size(); i++) {
        out[i] = plain[i] ^ keyBytes[i % KEY_SIZE] ^ previous;
        previous = plain[i];
    }
    return out;
}

std::vector<uint8_t> BirdWriter::PatternImage(size_t length, uint32_t seed) {
    std::vector<uint8_t> out(length);
    uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    if (state == 0)
        state = 1;
    for (uint8_t& byte : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state);
    }
    return out;
}
