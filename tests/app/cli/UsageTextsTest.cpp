#include "UsageTexts.h"

#include <gtest/gtest.h>

#include <string>

TEST(UsageTexts, LengthsAndEndings) {
    struct {
        const char* name;
        std::string text;
        size_t length;
    } texts[] = {
        {"parameters", USAGE_PARAMETERS, 2010},
        {"extended", USAGE_EXTENDED, 2041},
        {"samples", USAGE_SAMPLES, 2082},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(t.text.size(), t.length) << t.name;
        EXPECT_TRUE(t.text.ends_with("\n\n")) << t.name;
    }
    EXPECT_NE(
        std::string(USAGE_EXTENDED).find("\n                                Default: ota.korvalen.com:80\n"),
        std::string::npos);
}
