#include "Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        capture = tmpfile();
        Log::SetOutput(capture);
        Log::package_bitmask = 0;
    }
    void TearDown() override {
        Log::SetOutput(nullptr);
        Log::package_bitmask = 0;
        Log::timestamped = false;
        fclose(capture);
    }
    std::string captured() {
        fflush(capture);
        std::string text;
        rewind(capture);
        for (int c; (c = fgetc(capture)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }
    FILE* capture = nullptr;
};

TEST_F(LogTest, WritesOnlyActivePackagesAndAlwaysPackageZero) {
    Log::ActivatePackage(DEBUG_ServerComm);
    Log::log(DEBUG_ServerComm, "server %d\n", 1);
    Log::log(DEBUG_BirdFile, "bird\n");
    Log::log(0, "always\n");
    Log::DeactivatePackage(DEBUG_ServerComm);
    Log::log(DEBUG_ServerComm, "server %d\n", 2);
    EXPECT_EQ(captured(), "server 1\nalways\n");
}

TEST_F(LogTest, ActivatingZeroChangesNothing) {
    Log::ActivatePackage(0);
    Log::log(DEBUG_APP, "app\n");
    EXPECT_EQ(captured(), "");
}

TEST_F(LogTest, LongLinesAreCutTo2047Characters) {
    std::string longText(5000, 'x');
    Log::log(0, "%s", longText.c_str());
    EXPECT_EQ(captured(), std::string(2047, 'x'));
}

TEST_F(LogTest, NoOutputStreamWritesNothing) {
    Log::SetOutput(nullptr);
    Log::log(0, "nowhere\n");
    Log::SetOutput(capture);
    EXPECT_EQ(captured(), "");
}

TEST_F(LogTest, TimestampsPrefixLinesButNotShortFragments) {
    Log::timestamped = true;
    Log::log(0, "0123456789");
    Log::log(0, "%s line ok\n", "stamped");
    EXPECT_TRUE(
        std::regex_match(captured(), std::regex("0123456789[0-9]{4}(:[0-9]{2}){5} \\| stamped line ok\n")))
        << captured();
}

} // namespace
