#include "BuildCatalogue.h"

#include "BirdFile.h"
#include "UpdateServerRequest.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const BIRD_EXTENSION = ".bird";
const char* const CURRENT_FILE = "current";

// The whitespace-separated words of each meaningful line of a map file.
std::vector<std::vector<std::string>> _read_entries(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw BuildCatalogue::Error("cannot read " + path);
    std::vector<std::vector<std::string>> entries;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> entry;
        for (std::string word; words >> word;)
            entry.push_back(word);
        if (!entry.empty() && entry[0][0] != '#')
            entries.push_back(entry);
    }
    return entries;
}

uint32_t _entry_number(const std::string& path, const std::string& word, int base) {
    std::optional<uint32_t> value = BuildCatalogue::ParseNumber(word, base);
    if (!value)
        throw BuildCatalogue::Error(path + ": '" + word + "' is not a " + (base == 16 ? "hex" : "decimal") +
                                    " number");
    return *value;
}

std::string _read_version(const std::string& path) {
    try {
        return BirdFile::VerifyFile(path) ? BirdFile(path).GetVersion() : std::string();
    } catch (const std::runtime_error&) {
        return std::string();
    }
}

} // namespace

BuildCatalogue::BuildCatalogue(std::string root, std::string fingerprintFile, std::string tokenFile)
    : root(std::move(root)), fingerprintFile(std::move(fingerprintFile)), tokenFile(std::move(tokenFile)) {}

std::string BuildCatalogue::_device_directory(uint32_t serial) const {
    char name[9];
    snprintf(name, sizeof(name), "%08X", serial);
    return (fs::path(root) / name).string();
}

std::vector<BuildCatalogue::Build> BuildCatalogue::Builds(uint32_t serial) const {
    std::vector<Build> builds;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(_device_directory(serial), error)) {
        const fs::path& path = entry.path();
        std::optional<uint32_t> number = BuildCatalogue::ParseNumber(path.stem().string(), 10);
        if (entry.is_regular_file() && path.extension() == BIRD_EXTENSION && number)
            builds.push_back({*number, _read_version(path.string()), path.string()});
    }
    std::sort(builds.begin(), builds.end(),
              [](const Build& a, const Build& b) { return a.number < b.number; });
    return builds;
}

std::optional<uint32_t> BuildCatalogue::CurrentBuild(uint32_t serial) const {
    fs::path current = fs::path(_device_directory(serial)) / CURRENT_FILE;
    if (fs::exists(current)) {
        std::vector<std::vector<std::string>> entries = _read_entries(current.string());
        if (entries.empty())
            throw Error(current.string() + " names no build");
        return _entry_number(current.string(), entries[0][0], 10);
    }
    std::vector<Build> builds = Builds(serial);
    if (builds.empty())
        return std::nullopt;
    // Keys that run from the highest number down, so the stable sort by version leaves the highest
    // number first among equals.
    UpdateServerRequest::BuildList byVersion;
    for (const Build& build : builds) {
        char key[16];
        snprintf(key, sizeof(key), "%010u", std::numeric_limits<uint32_t>::max() - build.number);
        byVersion.emplace(key, build.version);
    }
    std::string top = UpdateServerRequest::SortBuildsByVersion(byVersion).front().first;
    return std::numeric_limits<uint32_t>::max() - static_cast<uint32_t>(std::stoul(top));
}

std::optional<std::string> BuildCatalogue::BuildPath(uint32_t serial, uint32_t build) const {
    fs::path path = fs::path(_device_directory(serial)) / (std::to_string(build) + BIRD_EXTENSION);
    if (!fs::is_regular_file(path))
        return std::nullopt;
    return path.string();
}

std::optional<uint32_t> BuildCatalogue::ParseNumber(const std::string& text, int base) {
    uint32_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<BuildCatalogue::Recovery> BuildCatalogue::FindRecovery(const Fingerprint& fingerprint) const {
    if (fingerprintFile.empty())
        return std::nullopt;
    for (const std::vector<std::string>& entry : _read_entries(fingerprintFile)) {
        if (entry.size() != 5 && entry.size() != 6)
            throw Error(fingerprintFile +
                        ": an entry is four fingerprint words, a serial and an optional build");
        Fingerprint words;
        for (size_t i = 0; i < words.size(); i++)
            words[i] = _entry_number(fingerprintFile, entry[i], 16);
        if (words != fingerprint)
            continue;
        uint32_t serial = _entry_number(fingerprintFile, entry[4], 16);
        std::optional<uint32_t> build =
            entry.size() == 6 ? _entry_number(fingerprintFile, entry[5], 10) : CurrentBuild(serial);
        if (!build)
            throw Error(fingerprintFile + ": no build given and device " + entry[4] + " has none");
        return Recovery{serial, *build};
    }
    return std::nullopt;
}

std::optional<std::string> BuildCatalogue::FindToken(uint32_t serial) const {
    if (tokenFile.empty())
        return std::nullopt;
    for (const std::vector<std::string>& entry : _read_entries(tokenFile)) {
        if (entry.size() != 2)
            throw Error(tokenFile + ": an entry is a serial and a token");
        if (_entry_number(tokenFile, entry[0], 16) == serial)
            return entry[1];
    }
    return std::nullopt;
}
