#include "ResultPrinters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingDisplay : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char* text) override { lines.push_back(text); }
    void error_message(const char* text) override { lines.push_back(std::string("ERROR ") + text); }
    std::vector<std::string> lines;
};

TEST(BuildListPrinterTest, PrintsBuildsHighestVersionFirstInFixedColumns) {
    RecordingDisplay display;
    _display_builds(
        display, {{"100", "1.2.3"}, {"101", "1.10.0"}, {"A-very-long-build-text", "2.0.0-with-a-long-tail"}},
        0x1A2B3C4D);
    std::vector<std::string> expected = {
        "Build List for device [1A2B3C4D]:\n", "Build          \tVersion        ",
        "A-very-long-bui\t2.0.0-with-a-lo",    "101            \t1.10.0         ",
        "100            \t1.2.3          ",
    };
    EXPECT_EQ(display.lines, expected);
}

TEST(BuildListPrinterTest, SaysSoWhenThereAreNoBuilds) {
    RecordingDisplay display;
    _display_builds(display, {}, 0xAB);
    EXPECT_EQ(display.lines, std::vector<std::string>{"No builds found for device [000000AB]"});
}

} // namespace
