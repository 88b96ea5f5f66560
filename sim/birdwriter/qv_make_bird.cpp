// qv-make-bird: writes a BIRD firmware file from command-line arguments, for demos and local servers.

#include "BirdWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <getopt.h>
#include <iterator>
#include <optional>
#include <stdexcept>

namespace {

const char* const USAGE =
    "Usage: qv-make-bird -o FILE [options]\n"
    "  -o, --output FILE            BIRD file to write (through a temporary file and a rename)\n"
    "  -b, --build N                build number (default 1)\n"
    "  -v, --version TEXT           version text (default 1.0.0)\n"
    "  -s, --serial HEX             serial number (default 00000000)\n"
    "  -m, --model TEXT             model name, at most 16 characters\n"
    "  -f, --firmware FILE          firmware image read from FILE\n"
    "  -p, --pattern SIZE           generated firmware image of SIZE bytes\n"
    "  -a, --address ADDR           firmware load address (default 0)\n"
    "  -l, --loader FILE            loader image read from FILE\n"
    "  -P, --loader-pattern SIZE    generated loader image of SIZE bytes\n"
    "  -A, --loader-address ADDR    loader load address (default 0)\n"
    "  -g, --generic SADDR,DADDR    generic image: serial-number and descriptor addresses\n"
    "  -S, --loader-start ADDR      recovery loader start (image vector table) address\n"
    "  -k, --encode-key W0,W1,W2,W3 encode the firmware image for LPC recovery with these words\n"
    "  -e, --seed N                 seed of the generated patterns (default 1)\n"
    "  -F, --format-version HEX     the two version bytes of the file (default 0101)\n"
    "Numbers take a 0x prefix for hexadecimal.\n";

uint32_t _number(const char* text, int base = 0) {
    char* end = nullptr;
    errno = 0;
    unsigned long long value = strtoull(text, &end, base);
    if (errno != 0 || end == text || *end != '\0' || value > UINT32_MAX || text[0] == '-')
        throw std::invalid_argument(std::string("not a 32-bit number: ") + text);
    return static_cast<uint32_t>(value);
}

std::vector<uint32_t> _numbers(const std::string& text, size_t count) {
    std::vector<uint32_t> out;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        out.push_back(_number(text.substr(start, comma - start).c_str()));
    out.push_back(_number(text.substr(start).c_str()));
    if (out.size() != count)
        throw std::invalid_argument("expected " + std::to_string(count) +
                                    " comma-separated numbers: " + text);
    return out;
}

std::vector<uint8_t> _read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Image {
    std::optional<std::string> file;
    std::optional<uint32_t> patternSize;
    uint32_t address = 0;

    bool Given() const { return file || patternSize; }
    std::vector<uint8_t> Bytes(uint32_t seed) const {
        if (file && patternSize)
            throw std::invalid_argument("give an image file or a pattern size, not both");
        return file ? _read_file(*file) : BirdWriter::PatternImage(*patternSize, seed);
    }
};

int _run(int argc, char** argv) {
    static const option LONG_OPTIONS[] = {
        {"output", required_argument, nullptr, 'o'},
        {"build", required_argument, nullptr, 'b'},
        {"version", required_argument, nullptr, 'v'},
        {"serial", required_argument, nullptr, 's'},
        {"model", required_argument, nullptr, 'm'},
        {"firmware", required_argument, nullptr, 'f'},
        {"pattern", required_argument, nullptr, 'p'},
        {"address", required_argument, nullptr, 'a'},
        {"loader", required_argument, nullptr, 'l'},
        {"loader-pattern", required_argument, nullptr, 'P'},
        {"loader-address", required_argument, nullptr, 'A'},
        {"generic", required_argument, nullptr, 'g'},
        {"loader-start", required_argument, nullptr, 'S'},
        {"encode-key", required_argument, nullptr, 'k'},
        {"seed", required_argument, nullptr, 'e'},
        {"format-version", required_argument, nullptr, 'F'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    std::string output, version = "1.0.0", model;
    uint32_t build = 1, serial = 0, seed = 1, formatVersion = BirdWriter::DEFAULT_VERSION;
    Image firmware, loader;
    std::optional<std::vector<uint32_t>> offsets, key;
    std::optional<uint32_t> loaderStart;

    for (int c;
         (c = getopt_long(argc, argv, "o:b:v:s:m:f:p:a:l:P:A:g:S:k:e:F:h", LONG_OPTIONS, nullptr)) != -1;) {
        switch (c) {
        case 'o':
            output = optarg;
            break;
        case 'b':
            build = _number(optarg);
            break;
        case 'v':
            version = optarg;
            break;
        case 's':
            serial = _number(optarg, 16);
            break;
        case 'm':
            model = optarg;
            break;
        case 'f':
            firmware.file = optarg;
            break;
        case 'p':
            firmware.patternSize = _number(optarg);
            break;
        case 'a':
            firmware.address = _number(optarg);
            break;
        case 'l':
            loader.file = optarg;
            break;
        case 'P':
            loader.patternSize = _number(optarg);
            break;
        case 'A':
            loader.address = _number(optarg);
            break;
        case 'g':
            offsets = _numbers(optarg, 2);
            break;
        case 'S':
            loaderStart = _number(optarg);
            break;
        case 'k':
            key = _numbers(optarg, 4);
            break;
        case 'e':
            seed = _number(optarg);
            break;
        case 'F':
            formatVersion = _number(optarg, 16);
            break;
        case 'h':
            fputs(USAGE, stdout);
            return 0;
        default:
            fputs(USAGE, stderr);
            return 1;
        }
    }
    if (output.empty() || optind != argc) {
        fputs(USAGE, stderr);
        return 1;
    }
    if (formatVersion > UINT16_MAX)
        throw std::invalid_argument("the format version is two bytes");

    BirdWriter writer;
    writer.SetVersion(static_cast<uint16_t>(formatVersion)).AddInfo(build, version, serial, model);
    if (offsets)
        writer.AddSerialOffsets((*offsets)[0], (*offsets)[1]);
    if (loaderStart)
        writer.AddLoaderStart(*loaderStart);
    if (loader.Given())
        writer.AddCode(BirdWriter::TYPE_LOADER, loader.address, loader.Bytes(seed + 1));
    if (firmware.Given()) {
        std::vector<uint8_t> image = firmware.Bytes(seed);
        if (key)
            image = BirdWriter::EncodeRecoveryImage(image, {(*key)[0], (*key)[1], (*key)[2], (*key)[3]});
        writer.AddCode(BirdWriter::TYPE_FIRMWARE, firmware.address, image);
    }
    writer.Write(output);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return _run(argc, argv);
    } catch (const std::exception& e) {
        fprintf(stderr, "qv-make-bird: %s\n", e.what());
        return 1;
    }
}
