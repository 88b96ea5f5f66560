#ifndef QUORVANTA_AVERSION_H
#define QUORVANTA_AVERSION_H

#include "aError.h"

#include <cstddef>
#include <cstdint>

// Separator between minor and patch in the library's version text.
#define aVERSION_PHASE "."

// Packs a version into a device version word: legacy layout below 2.15, current layout from 2.15 on.
uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);

// True when the word is in the legacy layout (major.minor below 2.15 as read from the top nibbles).
bool aVersion_IsLegacyFormat(uint32_t packed);

uint32_t aVersion_ParseMajor(uint32_t packed);
uint32_t aVersion_ParseMinor(uint32_t packed);
uint32_t aVersion_ParsePatch(uint32_t packed);

// Writes "major.minor.patch" bounded by size; returns the length the full text needs.
int aVersion_ParseString(uint32_t packed, char* buffer, size_t size);

// The device library's own version.
uint8_t aVersion_GetMajor();
uint8_t aVersion_GetMinor();
uint8_t aVersion_GetPatch();
const char* aVersion_GetString();

// True when the reference version is at least the tested version.
bool aVersion_IsAtLeastCompare(uint8_t refMajor, uint8_t refMinor, uint8_t refPatch, uint8_t major,
                               uint8_t minor, uint8_t patch);

// True when the library is at least the given version.
bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);

// True when the library has the named feature (case-sensitive).
bool aVersion_HasFeature(const char* name);

// "name - description" lines joined by newlines; the caller frees it with aVersion_DestroyFeatureList.
char* aVersion_GetFeatureList();
aErr aVersion_DestroyFeatureList(char** list);

#endif
