#include "aVersion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint8_t LIBRARY_MAJOR = 2;
constexpr uint8_t LIBRARY_MINOR = 11;
constexpr uint8_t LIBRARY_PATCH = 4;

// Top byte of every version word in the current layout.
constexpr uint32_t CURRENT_LAYOUT_MARK = 0x2F000000;

// The first version packed in the current layout.
constexpr uint8_t CURRENT_LAYOUT_MAJOR = 2;
constexpr uint8_t CURRENT_LAYOUT_MINOR = 15;

struct Feature {
    const char* name;
    const char* description;
};

constexpr Feature FEATS[] = {
    {"VERSION", "Version Query API"},
};
constexpr size_t NUM_FEATS = sizeof(FEATS) / sizeof(FEATS[0]);

constexpr const char* FEATURE_SEPARATOR = " - ";

bool isCurrentVersion(uint32_t major, uint32_t minor) {
    return major > CURRENT_LAYOUT_MAJOR || (major == CURRENT_LAYOUT_MAJOR && minor >= CURRENT_LAYOUT_MINOR);
}

} // namespace

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch) {
    if (isCurrentVersion(major, minor))
        return CURRENT_LAYOUT_MARK | static_cast<uint32_t>(major) << 16 | static_cast<uint32_t>(minor) << 8 |
               patch;
    return static_cast<uint32_t>(major) << 28 | static_cast<uint32_t>(minor & 0xF) << 24 | patch;
}

bool aVersion_IsLegacyFormat(uint32_t packed) {
    return !isCurrentVersion(packed >> 28, (packed >> 24) & 0xF);
}

uint32_t aVersion_ParseMajor(uint32_t packed) {
    return aVersion_IsLegacyFormat(packed) ? packed >> 28 : (packed >> 16) & 0xFF;
}

uint32_t aVersion_ParseMinor(uint32_t packed) {
    return aVersion_IsLegacyFormat(packed) ? (packed >> 24) & 0xF : (packed >> 8) & 0xFF;
}

uint32_t aVersion_ParsePatch(uint32_t packed) {
    return aVersion_IsLegacyFormat(packed) ? packed & 0xFFFFFF : packed & 0xFF;
}

int aVersion_ParseString(uint32_t packed, char* buffer, size_t size) {
    return snprintf(buffer, buffer ? size : 0, "%u.%u.%u", aVersion_ParseMajor(packed) & 0xFF,
                    aVersion_ParseMinor(packed) & 0xFF, aVersion_ParsePatch(packed));
}

uint8_t aVersion_GetMajor() {
    return LIBRARY_MAJOR;
}

uint8_t aVersion_GetMinor() {
    return LIBRARY_MINOR;
}

uint8_t aVersion_GetPatch() {
    return LIBRARY_PATCH;
}

const char* aVersion_GetString() {
    // Built once, on first request; the static initialisation is thread-safe.
    static char text[15];
    static const bool built = [] {
        snprintf(text, sizeof(text), "%d.%d%s%d", LIBRARY_MAJOR, LIBRARY_MINOR, aVERSION_PHASE,
                 LIBRARY_PATCH);
        return true;
    }();
    (void)built;
    return text;
}

bool aVersion_IsAtLeastCompare(uint8_t refMajor, uint8_t refMinor, uint8_t refPatch, uint8_t major,
                               uint8_t minor, uint8_t patch) {
    if (refMajor != major)
        return refMajor > major;
    if (refMinor != minor)
        return refMinor > minor;
    return refPatch >= patch;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
    return aVersion_IsAtLeastCompare(LIBRARY_MAJOR, LIBRARY_MINOR, LIBRARY_PATCH, major, minor, patch);
}

bool aVersion_HasFeature(const char* name) {
    if (!name)
        return false;
    for (const Feature& feature : FEATS)
        if (strcmp(feature.name, name) == 0)
            return true;
    return false;
}

char* aVersion_GetFeatureList() {
    std::string list;
    for (size_t i = 0; i < NUM_FEATS; i++) {
        if (i > 0)
            list += '\n';
        list = list + FEATS[i].name + FEATURE_SEPARATOR + FEATS[i].description;
    }
    char* text = static_cast<char*>(malloc(list.size() + 1));
    if (text)
        memcpy(text, list.c_str(), list.size() + 1);
    return text;
}

aErr aVersion_DestroyFeatureList(char** list) {
    if (!list || !*list)
        return aErrParam;
    free(*list);
    *list = nullptr;
    return aErrNone;
}
