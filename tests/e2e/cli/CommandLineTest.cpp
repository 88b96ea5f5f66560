#include "RunProcess.h"
#include "TempDirectory.h"
#include "UsageTexts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string VERSION_LINE = "Updater (Version: 2.11.4 Sep 23 2025)\n";
const std::string NOTICE = std::string(NOTICE_LINE) + "\n";

std::string _short_usage() {
    std::string text = USAGE_SHORT;
    return text.replace(text.find("%s"), 2, "Updater");
}

struct RunCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
};

// Runs that stop before any store or server is touched.
TEST(CommandLine, UsageVersionAndBadOptions) {
    const std::string usage = _short_usage();
    const RunCase cases[] = {
        {"no arguments", {}, 0, VERSION_LINE + NOTICE, usage},
        {"help stops the scan",
         {"-h", "-X", "1"},
         0,
         VERSION_LINE + NOTICE,
         usage + USAGE_PARAMETERS + USAGE_SAMPLES},
        {"mask then help",
         {"-X", "1", "--help"},
         0,
         VERSION_LINE + NOTICE,
         usage + USAGE_PARAMETERS + USAGE_EXTENDED + USAGE_SAMPLES},
        {"mask without a command", {"-X", "1"}, 0, VERSION_LINE + NOTICE, usage},
        {"bad serial",
         {"-d", "0xZZ", "-B"},
         1,
         VERSION_LINE + NOTICE,
         "Invalid serial number obtained from argument [ZZ]\n" + usage},
        {"serial zero",
         {"-G", "-d", "0"},
         1,
         VERSION_LINE + NOTICE,
         "Invalid serial number obtained from argument [0]\n" + usage},
        {"unhandled command", {"-Y"}, 1, VERSION_LINE + NOTICE, "Unhandled command: [-Y]\n" + usage},
        {"bad transport",
         {"-t", "tcpip", "-B"},
         1,
         VERSION_LINE + NOTICE,
         "Invalid transport type:[tcpip]\nMust be one of the following: USB, TCPIP, RECOVER\n" + usage},
        {"bad mask is not fatal",
         {"-X", "0x"},
         0,
         VERSION_LINE + NOTICE,
         "Invalid format for \"-X\" parameter, unprocessed characters [x]\n" + usage},
        {"unknown words are skipped", {"-Q", "stray", "-D=1"}, 0, VERSION_LINE + NOTICE, usage},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult run = RunProcess(UPDATER_PATH, c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

// Runs that create the store directory and then stop at a command's own checks.
TEST(CommandLine, StoreDirectoryAndMissingDevice) {
    TempDirectory temp;
    const std::string usage = _short_usage();
    const RunCase cases[] = {
        {"-I runs nothing", {"-I"}, 0, VERSION_LINE, ""},
        {"-B needs a device",
         {"-B"},
         1,
         VERSION_LINE,
         "Error must supply a serial number for the List Builds command\n" + usage},
        {"-L needs a device",
         {"-L"},
         1,
         VERSION_LINE,
         "Error must supply a serial number for the List Local Builds command\n" + usage},
        {"-J needs a device",
         {"-J"},
         1,
         VERSION_LINE,
         "Error must supply a serial number for the Get JWT command\n" + usage},
        {"-G needs a device",
         {"-G"},
         1,
         VERSION_LINE,
         "-G must specify a specific device via -d\n--help for usage information\n"},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"-i", temp.Path()});
        ProcessResult run = RunProcess(UPDATER_PATH, arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_TRUE(std::filesystem::is_directory(temp / "updater"));
}

TEST(CommandLine, StoreDirectoryThatCannotBeMade) {
    TempDirectory temp;
    WriteWholeFile(temp / "file", "not a directory");
    ProcessResult run = RunProcess(UPDATER_PATH, {"-I", "-i", temp / "file"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, VERSION_LINE);
    EXPECT_EQ(run.err, "Could not find updater directory at " + (temp / "file") + "/updater\n");
}

TEST(CommandLine, ApplicationLogShowsTheParameters) {
    TempDirectory temp;
    ProcessResult run = RunProcess(UPDATER_PATH, {"-X", "0x10000", "-I", "-i", temp.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "\nApplication parameters:[updater]\n\t[" + std::string(UPDATER_PATH) +
                           "]\n\t[-X]\n\t[0x10000]\n\t[-I]\n\t[-i]\n\t[" + temp.Path() + "]\n");
}

} // namespace
