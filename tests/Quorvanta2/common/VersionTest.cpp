#include "aDefs.h"
#include "aVersion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(Version, PackAndParseBothLayouts) {
    struct Case {
        uint8_t major, minor, patch;
        uint32_t packed;
        bool legacy;
    } cases[] = {
        {2, 14, 5, 0x2E000005, true}, {2, 15, 0, 0x2F020F00, false}, {3, 0, 1, 0x2F030001, false},
        {0, 0, 0, 0x00000000, true},  {1, 9, 255, 0x190000FF, true}, {255, 255, 255, 0x2FFFFFFF, false},
    };
    for (const Case& c : cases) {
        const uint32_t packed = aVersion_Pack(c.major, c.minor, c.patch);
        EXPECT_EQ(packed, c.packed) << std::hex << c.packed;
        EXPECT_EQ(aVersion_IsLegacyFormat(packed), c.legacy) << std::hex << c.packed;
        EXPECT_EQ(aVersion_ParseMajor(packed), c.major);
        EXPECT_EQ(aVersion_ParseMinor(packed), c.minor);
        EXPECT_EQ(aVersion_ParsePatch(packed), c.patch);
    }
}

TEST(Version, LegacyWordCarriesLongPatch) {
    const uint32_t packed = 0x1A0186A0;
    EXPECT_TRUE(aVersion_IsLegacyFormat(packed));
    EXPECT_EQ(aVersion_ParseMajor(packed), 1u);
    EXPECT_EQ(aVersion_ParseMinor(packed), 10u);
    EXPECT_EQ(aVersion_ParsePatch(packed), 100000u);
    char text[32];
    EXPECT_EQ(aVersion_ParseString(packed, text, sizeof(text)), 11);
    EXPECT_STREQ(text, "1.10.100000");
}

TEST(Version, ParseStringIsBoundedAndReportsTheFullLength) {
    char text[5];
    EXPECT_EQ(aVersion_ParseString(aVersion_Pack(2, 15, 100), text, sizeof(text)), 8);
    EXPECT_STREQ(text, "2.15");
    EXPECT_EQ(aVersion_ParseString(aVersion_Pack(2, 15, 100), nullptr, 0), 8);
}

TEST(Version, Compare) {
    struct Case {
        uint32_t ref[3];
        uint32_t tested[3];
        bool atLeast;
    } cases[] = {
        {{2, 10, 4}, {2, 10, 4}, true},    {{2, 10, 3}, {2, 10, 4}, false}, {{3, 0, 0}, {2, 99, 99}, true},
        {{2, 9, 9}, {2, 10, 0}, false},    {{1, 99, 99}, {2, 0, 0}, false}, {{2, 11, 0}, {2, 10, 200}, true},
        {{0x101, 0, 0}, {2, 0, 0}, false}, // wider values are cut to 8 bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            aVersion_IsAtLeastCompare(c.ref[0], c.ref[1], c.ref[2], c.tested[0], c.tested[1], c.tested[2]),
            c.atLeast)
            << c.ref[0] << "." << c.ref[1] << "." << c.ref[2] << " vs " << c.tested[0] << "." << c.tested[1]
            << "." << c.tested[2];
}

TEST(Version, LibraryVersion) {
    EXPECT_EQ(aVersion_GetMajor(), 2);
    EXPECT_EQ(aVersion_GetMinor(), 11);
    EXPECT_EQ(aVersion_GetPatch(), 4);
    EXPECT_STREQ(aVersion_GetString(), "2.11.4");
    EXPECT_EQ(aVersion_GetString(), aVersion_GetString());
    EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 4));
    EXPECT_TRUE(aVersion_IsAtLeast(1, 200, 200));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 11, 5));
}

TEST(Version, Features) {
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("version"));
    EXPECT_FALSE(aVersion_HasFeature("VERSIO"));
    EXPECT_FALSE(aVersion_HasFeature(nullptr));

    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "VERSION - Version Query API");
    EXPECT_EQ(aVersion_DestroyFeatureList(&list), aErrNone);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(aVersion_DestroyFeatureList(&list), aErrParam);
}

TEST(ModelName, NamedAndUnknownNumbers) {
    for (uint32_t model : {0u, 1u, 3u, 6u, 12u, 28u, 0xFFFFFFFFu})
        EXPECT_STREQ(aDefs_GetModelName(model), "Unknown") << model;
    std::set<std::string> names;
    for (uint32_t model = 0; model < 64; model++) {
        const std::string name = aDefs_GetModelName(model);
        if (name == "Unknown")
            continue;
        EXPECT_LE(name.size(), 12u) << name; // the device table prints the name in 12 columns
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 17u);
    for (uint32_t model : {4u, 5u, 13u, 20u, 27u})
        EXPECT_STRNE(aDefs_GetModelName(model), "Unknown") << model;
}

TEST(ModelName, NoNameStartsAnother) {
    // Firmware files are matched to devices by comparing the start of the model text.
    for (uint32_t a = 0; a < 64; a++) {
        for (uint32_t b = 0; b < 64; b++) {
            const char* first = aDefs_GetModelName(a);
            const char* second = aDefs_GetModelName(b);
            if (a == b || strcmp(first, "Unknown") == 0 || strcmp(second, "Unknown") == 0)
                continue;
            EXPECT_NE(strncmp(first, second, strlen(first)), 0) << first << " / " << second;
        }
    }
}

} // namespace
