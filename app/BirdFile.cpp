#include "BirdFile.h"

#include "Log.h"
#include "aFile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <zlib.h>

namespace {

constexpr size_t HEADER_SIZE = 6;
constexpr uint32_t COUNT_SIZE = 4;
constexpr uint32_t CHECKSUM_SIZE = 4;
constexpr uint32_t BLOCK_HEADER_SIZE = 5;
constexpr unsigned FLAG_SHIFT = 5;
constexpr uint64_t DECOMPRESSION_FACTOR = 8;
constexpr uint32_t INFO_FIELD_SIZE = 16;
constexpr uint32_t INFO_BUILD = 0;
constexpr uint32_t INFO_VERSION = 16;
constexpr uint32_t INFO_SERIAL = 32;
constexpr uint32_t INFO_MODEL = 48;
constexpr uint32_t INFO_NUMBER_CHARACTERS = 15;
constexpr uint32_t SERIAL_CHARACTERS = 8;
constexpr size_t KEY_SIZE = 16;
constexpr uint32_t VECTOR_WORDS = 8;
constexpr uint32_t DESCRIPTOR_SIZE = 2 * SERIAL_CHARACTERS;
constexpr uint32_t SERIAL_WORD_SIZE = 4;
constexpr size_t DUMP_LINE = 50;

uint32_t _get_little(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void _put_little(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; i++)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Data of the first block of the type that holds at least minimum bytes; shorter blocks count as absent,
// so their fields are never read past their end.
const uint8_t* _first_block_data(const std::vector<BirdBlock>& blocks, BirdFile::BLOCK_TYPE type,
                                 uint32_t minimum) {
    for (const BirdBlock& block : blocks)
        if (block.type == type && block.length >= minimum)
            return block.data;
    return nullptr;
}

// Up to characters bytes of a text field of the first info block, ending early at a NUL.
std::string _info_field(const std::vector<BirdBlock>& blocks, uint32_t offset, uint32_t characters) {
    const uint8_t* info = _first_block_data(blocks, BirdFile::BLOCK_INFO, BirdFile::INFO_SIZE);
    if (info == nullptr)
        return std::string();
    const char* text = reinterpret_cast<const char*>(info + offset);
    return std::string(text, strnlen(text, characters));
}

uint32_t _info_number(const std::vector<BirdBlock>& blocks, uint32_t offset, uint32_t characters, int base) {
    std::string text = _info_field(blocks, offset, characters);
    return static_cast<uint32_t>(strtoull(text.c_str(), nullptr, base));
}

// True when [place, place + size) lies inside the image of a code block at address with image length.
bool _image_holds(uint32_t address, uint32_t imageLength, uint32_t place, uint32_t size) {
    return address <= place && uint64_t(place) + size <= uint64_t(address) + imageLength;
}

} // namespace

uint32_t GetInt(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

uint16_t GetShort(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

BirdFile::BirdFile() = default;

BirdFile::BirdFile(const std::string& filePath) : path(filePath) {
    if (!Load())
        throw std::runtime_error("Failed to load bird data");
}

BirdFile::BirdFile(BirdFile&&) noexcept = default;
BirdFile& BirdFile::operator=(BirdFile&&) noexcept = default;
BirdFile::~BirdFile() = default;

bool BirdFile::VerifyFile(const std::string& filePath) {
    aFile* file = aFile_Open(filePath.c_str(), aFileOpenRead);
    if (file == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", filePath.c_str());
        return false;
    }
    uint8_t header[HEADER_SIZE];
    size_t read = 0;
    aErr e = aFile_Read(file, header, sizeof(header), &read);
    aFile_Close(&file);
    return e == aErrNone && VerifyHeader(header, read);
}

bool BirdFile::VerifyHeader(const uint8_t* bytes, size_t length) {
    return length >= HEADER_SIZE && memcmp(bytes, BIRD_FILE_SIGNATURE, 4) == 0 && bytes[4] != 0 &&
           bytes[5] != 0;
}

bool BirdFile::Load() {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", path.c_str());
    if (!aFile_Exists(path.c_str())) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", path.c_str());
        return false;
    }
    aFile* file = aFile_Open(path.c_str(), aFileOpenRead);
    if (file == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path.c_str());
        return false;
    }
    size_t size = 0;
    aErr e = aFile_GetSize(file, &size);
    if (e != aErrNone) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) getting bird file size from %s\n", e, path.c_str());
        aFile_Close(&file);
        return false;
    }

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    size_t read = 0;
    bool result = false;
    e = buffer ? aFile_Read(file, buffer.get(), size, &read) : aErr(aErrMemory);
    if (e != aErrNone)
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", e, path.c_str());
    else if (read < size)
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", path.c_str(),
                 read, size);
    else if (size > HEADER_SIZE) {
        signature = GetInt(buffer.get());
        version = GetShort(buffer.get() + 4);
        if (DecompressData(buffer.get() + HEADER_SIZE, size - HEADER_SIZE)) {
            ScanBlocks(data.get(), dataSize);
            FindSerialNumberOffsets();
            result = true;
        }
    }
    hasSerialNumberBlock = !FindBlocks(BLOCK_SERIAL_OFFSETS).empty();
    aFile_Close(&file);
    return result;
}

bool BirdFile::DecompressData(const uint8_t* compressed, uint64_t length) {
    // The blocks point into the buffer being replaced.
    blocks.clear();
    blockCount = 0;
    data.reset();
    dataSize = 0;

    // The container's size is a 32-bit quantity; a capacity that does not fit is refused rather than
    // wrapped around to a small number.
    int z = Z_MEM_ERROR;
    uLongf decompressed = 0;
    if (length <= UINT32_MAX / DECOMPRESSION_FACTOR) {
        decompressed = DECOMPRESSION_FACTOR * length;
        data.reset(new (std::nothrow) uint8_t[decompressed]);
        if (data)
            z = uncompress(data.get(), &decompressed, compressed, length);
    }
    if (z != Z_OK) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", z);
        return false;
    }
    dataSize = static_cast<uint32_t>(decompressed);
    return true;
}

bool BirdFile::ScanBlocks(uint8_t* container, uint32_t size) {
    blockCount = 0;
    fileChecksum = 0;
    blocks.clear();
    if (size < COUNT_SIZE) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                 static_cast<int>(size) - static_cast<int>(CHECKSUM_SIZE));
        return false;
    }
    uint32_t reported = GetInt(container);
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", static_cast<int>(reported));
    Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
    Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");

    uint8_t* position = container + COUNT_SIZE;
    uint32_t remaining = size - COUNT_SIZE;
    while (remaining > CHECKSUM_SIZE) {
        BirdBlock block;
        block.type = position[0] & BIRD_FILE_TYPE_MASK;
        block.flags = static_cast<uint8_t>((position[0] & BIRD_FILE_FLAG_MASK) >> FLAG_SHIFT);
        block.length = GetInt(position + 1);
        block.data = position + BLOCK_HEADER_SIZE;
        // A block running past the container ends the scan; what remains shows up as a size mismatch.
        if (uint64_t(BLOCK_HEADER_SIZE) + block.length > remaining)
            break;
        if (block.HasImage())
            block.address = GetInt(block.data);
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
                 static_cast<int>(block.length));
        if (block.type == BLOCK_INFO && block.length >= INFO_SIZE)
            for (uint32_t field = 0; field < INFO_SIZE; field += INFO_FIELD_SIZE)
                Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n",
                         reinterpret_cast<const char*>(block.data + field));
        position += BLOCK_HEADER_SIZE + block.length;
        remaining -= BLOCK_HEADER_SIZE + block.length;
        blockCount++;
        blocks.push_back(block);
    }

    bool matched = true;
    if (remaining >= CHECKSUM_SIZE) {
        fileChecksum = GetInt(position);
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", fileChecksum);
    }
    if (remaining != CHECKSUM_SIZE) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                 static_cast<int>(remaining) - static_cast<int>(CHECKSUM_SIZE));
        matched = false;
    }
    if (blockCount != reported) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
                 static_cast<int>(blockCount), static_cast<int>(reported));
        matched = false;
    }
    return matched;
}

std::vector<BirdBlock> BirdFile::FindBlocks(BLOCK_TYPE type) const {
    std::vector<BirdBlock> found;
    for (const BirdBlock& block : blocks)
        if (block.type == type)
            found.push_back(block);
    return found;
}

bool BirdFile::FindSerialNumberOffsets() {
    const uint8_t* offsets = _first_block_data(blocks, BLOCK_SERIAL_OFFSETS, SERIAL_OFFSETS_SIZE);
    if (blockCount == 0 || offsets == nullptr)
        return false;
    serialNumberOffset = GetInt(offsets);
    descriptorOffset = GetInt(offsets + 4);
    Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n",
             static_cast<int>(serialNumberOffset), static_cast<int>(descriptorOffset));
    return true;
}

std::string BirdFile::GetVersion() const {
    std::string text = _info_field(blocks, INFO_VERSION, INFO_NUMBER_CHARACTERS);
    return text.substr(0, text.find(' '));
}

uint32_t BirdFile::GetBuild() const {
    return _info_number(blocks, INFO_BUILD, INFO_NUMBER_CHARACTERS, 10);
}

uint32_t BirdFile::GetSerialNumber() const {
    return _info_number(blocks, INFO_SERIAL, SERIAL_CHARACTERS, 16);
}

bool BirdFile::ValidateSerialNumber(uint32_t serial) const {
    return serial == GetSerialNumber();
}

bool BirdFile::ValidateModel(const std::string& name) const {
    if (_first_block_data(blocks, BLOCK_INFO, INFO_SIZE) == nullptr)
        return false;
    std::string model = _info_field(blocks, INFO_MODEL, INFO_FIELD_SIZE);
    model.erase(model.find_last_not_of(' ') + 1);
    if (model.compare(0, name.size(), name) != 0)
        return false;
    Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", model.c_str(), name.c_str());
    return true;
}

bool BirdFile::ReplaceSerialNumber(uint32_t serial) {
    char text[SERIAL_CHARACTERS + 1];
    snprintf(text, sizeof(text), "%08X", serial);
    bool result = false;
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE)
            continue;
        uint8_t* image = block.Image();
        uint32_t imageLength = block.ImageLength();
        if (serialNumberOffset != 0) {
            result = true;
            if (_image_holds(block.address, imageLength, serialNumberOffset, SERIAL_WORD_SIZE)) {
                uint8_t* word = image + (serialNumberOffset - block.address);
                Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n",
                         _get_little(word), serial);
                _put_little(word, serial);
            }
        }
        if (descriptorOffset != 0 &&
            _image_holds(block.address, imageLength, descriptorOffset, DESCRIPTOR_SIZE)) {
            uint8_t* descriptor = image + (descriptorOffset - block.address);
            for (uint32_t i = 0; i < SERIAL_CHARACTERS; i++)
                descriptor[2 * i] = static_cast<uint8_t>(text[i]);
            result = true;
        }
    }
    return result;
}

bool BirdFile::DecodeFirmwareBlocks(const Fingerprint& key) {
    uint8_t keyBytes[KEY_SIZE];
    for (size_t i = 0; i < KEY_SIZE; i++)
        keyBytes[i] = static_cast<uint8_t>(key[i / 4] >> (24 - 8 * (i % 4)));
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE)
            continue;
        uint8_t* image = block.Image();
        uint8_t chain = 0;
        for (uint32_t i = 0; i < block.ImageLength(); i++) {
            image[i] ^= keyBytes[i % KEY_SIZE] ^ chain;
            chain = image[i];
        }
    }
    return true;
}

bool BirdFile::ReplaceVectorChecksum() {
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE || block.address != 0 || block.ImageLength() < VECTOR_WORDS * 4)
            continue;
        uint8_t* vectors = block.Image();
        uint32_t sum = 0;
        for (uint32_t i = 0; i + 1 < VECTOR_WORDS; i++)
            sum += _get_little(vectors + 4 * i);
        uint8_t* checksum = vectors + 4 * (VECTOR_WORDS - 1);
        uint32_t replacement = 0u - sum;
        Log::log(DEBUG_BirdFile, "BIRDFILE: updating vector checksum from %08X ==> %08X\n",
                 _get_little(checksum), replacement);
        _put_little(checksum, replacement);
    }
    return true;
}

bool BirdFile::ValidateData(const uint8_t* pattern, uint32_t count) const {
    Log::log(DEBUG_BirdFile, "BIRDFILE: looking for data pattern in [%s]\n", path.c_str());
    bool found = false;
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE || count == 0 || count >= block.length)
            continue;
        // A match ending on the block's last byte is not looked for.
        for (uint32_t start = 0; start < block.length - count; start++) {
            if (memcmp(block.data + start, pattern, count) == 0) {
                Log::log(DEBUG_BirdFile, "Found data at %d\n", static_cast<int>(start));
                found = true;
            }
        }
    }
    Log::log(DEBUG_BirdFile, "\n");
    return found;
}

bool BirdFile::DumpBlocks(BLOCK_TYPE type) const {
    printf("BIRDFILE: BLOCK DUMP [%s]\n", path.c_str());
    for (const BirdBlock& block : blocks) {
        if (block.type != type)
            continue;
        std::string printable;
        for (uint32_t i = 0; i < block.length; i++) {
            if (i % DUMP_LINE == 0) {
                printf(" %s\r\n%06d: ", printable.c_str(), static_cast<int>(i));
                printable.clear();
            }
            printf("%02X ", block.data[i]);
            printable += isprint(block.data[i]) ? static_cast<char>(block.data[i]) : ' ';
        }
        printf(" %s\n", printable.c_str());
    }
    printf("\n");
    return true;
}
