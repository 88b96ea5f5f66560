#include "BirdWriter.h"
#include "RunProcess.h"
#include "ServedCatalogue.h"
#include "TempDirectory.h"
#include "base64.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Fault = UpdateServer::Fault;
using Requests = std::vector<std::string>;

const std::string VERSION_LINE = "Updater (Version: 2.11.4 Sep 23 2025)\n";
const std::string DEVICE = ServedCatalogue::DEVICE_TEXT;
const std::string UNKNOWN_DEVICE = "0BADF00D";
constexpr int PROCESS_TIMEOUT_MS = 60000;

std::string _row(const std::string& build, const std::string& version) {
    char line[64];
    snprintf(line, sizeof(line), "%-15.15s\t%-15.15s\n", build.c_str(), version.c_str());
    return line;
}

std::string _build_table(const std::string& serial,
                         const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string table = "Build List for device [" + serial + "]:\n\n" + _row("Build", "Version");
    for (const auto& [build, version] : rows)
        table += _row(build, version);
    return table;
}

std::map<std::string, std::string> _settings(const std::string& path) {
    std::map<std::string, std::string> entries;
    std::istringstream lines(ReadWholeFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        entries[line.substr(0, equals)] = equals == std::string::npos ? "" : line.substr(equals + 1);
    }
    return entries;
}

std::string _encoded(const std::string& bytes) {
    size_t length = 0;
    char* text = base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &length);
    std::string encoded(text, length);
    free(text);
    return encoded;
}

class Acquisition : public ::testing::Test {
protected:
    ProcessResult Run(std::vector<std::string> arguments, const std::string& url = "") {
        arguments.insert(arguments.end(), {"-u", url.empty() ? catalogue.Url() : url, "-i", store.Path()});
        return RunProcess(UPDATER_PATH, arguments, PROCESS_TIMEOUT_MS);
    }
    std::string DeviceDirectory(const std::string& serial = DEVICE) { return store / ("updater/" + serial); }
    std::string StoredFile(const std::string& name) { return DeviceDirectory() + "/" + name; }
    std::vector<std::string> StoredBirdFiles() {
        std::vector<std::string> names;
        if (std::filesystem::is_directory(DeviceDirectory()))
            for (const auto& entry : std::filesystem::directory_iterator(DeviceDirectory()))
                if (entry.path().extension() == ".bird")
                    names.push_back(entry.path().filename());
        return names;
    }

    ServedCatalogue catalogue;
    TempDirectory store;
};

TEST_F(Acquisition, ListBuildsShowsTheServersBuildsHighestVersionFirst) {
    ProcessResult run = Run({"-B", "-d", DEVICE});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, VERSION_LINE +
                           _build_table(DEVICE, {{"4600", "1.10.0"}, {"4590", "1.9.0"}, {"4567", "1.2.3"}}));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(catalogue.Server().Requests(), (Requests{PingRequest(), BuildListRequest(DEVICE)}));
}

TEST_F(Acquisition, TokenIsPrinted) {
    ProcessResult run = Run({"-J", "-d", "0x" + DEVICE});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, VERSION_LINE + ServedCatalogue::TOKEN + "\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(catalogue.Server().Requests(), (Requests{PingRequest(), TokenRequest(DEVICE)}));
}

struct QueryFault {
    const char* option;
    const char* op;
    Fault fault;
    int status;
    std::string out;
    std::string err;
};

// A server that cannot be reached or answers badly is a failure with a message, never an empty result.
TEST_F(Acquisition, ServerFailuresOfListAndToken) {
    const std::string buildsFailed = "Failed to retrieve builds for " + DEVICE + "\n";
    const std::string tokenFailed = "Failed to retrieve jwt for " + DEVICE + "\n";
    const std::string pingFailed = "Server request failed for " + catalogue.Url() + "\n";
    const QueryFault cases[] = {
        {"-B", "hi", Fault::STATUS_404, 1, VERSION_LINE, pingFailed},
        {"-J", "hi", Fault::EMPTY, 1, VERSION_LINE, pingFailed},
        {"-B", "builds", Fault::STATUS_404, 1, VERSION_LINE, buildsFailed},
        {"-B", "builds", Fault::STATUS_500, 1, VERSION_LINE, buildsFailed},
        {"-B", "builds", Fault::NOT_OK, 1, VERSION_LINE, buildsFailed},
        {"-B", "builds", Fault::EMPTY, 1, VERSION_LINE, buildsFailed},
        // Lines too short to name a build are passed over; the rest is listed as it came.
        {"-B", "builds", Fault::MALFORMED, 0, VERSION_LINE + _build_table(DEVICE, {{"no-version-here", ""}}),
         ""},
        {"-J", "ent_jwt", Fault::STATUS_404, 1, VERSION_LINE, tokenFailed},
        {"-J", "ent_jwt", Fault::STATUS_500, 1, VERSION_LINE, tokenFailed},
        {"-J", "ent_jwt", Fault::NOT_OK, 1, VERSION_LINE, tokenFailed},
        {"-J", "ent_jwt", Fault::EMPTY, 1, VERSION_LINE, tokenFailed},
        {"-J", "ent_jwt", Fault::MALFORMED, 1, VERSION_LINE, tokenFailed},
    };
    for (const QueryFault& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " with " + c.op + " fault " +
                     std::to_string(static_cast<int>(c.fault)));
        catalogue.Server().SetFault(c.op, c.fault);
        ProcessResult run = Run({c.option, "-d", DEVICE});
        catalogue.Server().SetFault(c.op, Fault::NONE);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

TEST_F(Acquisition, UnknownDeviceHasNoToken) {
    ProcessResult run = Run({"-J", "-d", UNKNOWN_DEVICE});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Failed to retrieve jwt for " + UNKNOWN_DEVICE + "\n");
    EXPECT_EQ(catalogue.Server().Requests(), (Requests{PingRequest(), TokenRequest(UNKNOWN_DEVICE)}));
}

TEST_F(Acquisition, ServerDown) {
    RefusingPort down;
    const std::string failed = "Server request failed for " + down.Url() + "\n";
    for (const char* option : {"-B", "-J", "-G"}) {
        SCOPED_TRACE(option);
        ProcessResult run = Run({option, "-d", DEVICE}, down.Url());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, failed);
    }
    // The server is asked before the store is touched.
    EXPECT_FALSE(std::filesystem::exists(DeviceDirectory()));
}

TEST_F(Acquisition, GetStoresTheCurrentBuildAndRecordsIt) {
    ProcessResult run = Run({"-G", "-d", DEVICE});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, VERSION_LINE + "Retrieving firmware for device with serial number " + DEVICE +
                           "\nNo build specified\nUsing Latest build\nRetrieving build 4600\n"
                           "Validating build 4600 with server\nBuild 4600 is valid\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(catalogue.Server().Requests(), (Requests{PingRequest(), QueryBuildRequest(DEVICE),
                                                       BuildListRequest(DEVICE), BirdRequest(DEVICE, 4600)}));

    EXPECT_EQ(ReadWholeFile(StoredFile("4600.bird")), ReadWholeFile(catalogue.BuildFile(4600)));
    EXPECT_EQ(StoredBirdFiles(), std::vector<std::string>{"4600.bird"});
    std::map<std::string, std::string> settings = _settings(StoredFile(".settings"));
    EXPECT_EQ(settings["LATEST_DOWNLOAD"], "4600.bird");
    EXPECT_TRUE(
        std::regex_match(settings["LAST_DOWNLOAD_DATE"],
                         std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] \\d\\d:\\d\\d:\\d\\d \\d{4}")))
        << settings["LAST_DOWNLOAD_DATE"];
    EXPECT_TRUE(settings.count("CREATED_TIME") && settings.count("UPDATED_TIME"));
}

TEST_F(Acquisition, GetNamedBuild) {
    ProcessResult run = Run({"-G", "-d", DEVICE, "-b", "4567"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, VERSION_LINE + "Retrieving firmware for device with serial number " + DEVICE +
                           "\nRetrieving firmware build 4567\nRetrieving build 4567\n"
                           "Validating build 4567 with server\nBuild 4567 is valid\n");
    EXPECT_EQ(catalogue.Server().Requests(), (Requests{PingRequest(), QueryBuildRequest(DEVICE),
                                                       BuildListRequest(DEVICE), BirdRequest(DEVICE, 4567)}));
    EXPECT_EQ(ReadWholeFile(StoredFile("4567.bird")), ReadWholeFile(catalogue.BuildFile(4567)));
    EXPECT_EQ(_settings(StoredFile(".settings"))["LATEST_DOWNLOAD"], "4567.bird");
}

TEST_F(Acquisition, BuildTheServerDoesNotList) {
    ProcessResult run = Run({"-G", "-d", DEVICE, "-b", "9999"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "No valid build 9999\n");
    EXPECT_EQ(catalogue.Server().Requests(),
              (Requests{PingRequest(), QueryBuildRequest(DEVICE), BuildListRequest(DEVICE)}));
    EXPECT_TRUE(StoredBirdFiles().empty());
}

// With -OVERRIDE the list is not consulted and the build is asked for anyway.
TEST_F(Acquisition, OverrideSkipsValidation) {
    ProcessResult run = Run({"-G", "-OVERRIDE", "-d", DEVICE, "-b", "9999"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Override specified, skipping validation of build 9999\n"), std::string::npos);
    EXPECT_EQ(run.err, "Download failed\nFailed to retrieve a valid BIRD file\n");
    EXPECT_EQ(catalogue.Server().Requests(),
              (Requests{PingRequest(), QueryBuildRequest(DEVICE), BirdRequest(DEVICE, 9999)}));
}

struct DownloadFault {
    const char* name;
    const char* op;
    Fault fault;
    std::string birdAnswer; // replaces the "bird" answer when not empty
    std::string err;
};

// Every failed download ends with status 1, stores no file and leaves the settings without a latest
// download; the device's directory exists from before the server was asked for the current build.
TEST_F(Acquisition, DownloadFailures) {
    const DownloadFault cases[] = {
        {"no current build", "qu", Fault::STATUS_404, "", "No build information for device\n"},
        {"current build unreadable", "qu", Fault::MALFORMED, "", "No valid build 0\n"},
        {"list refused", "builds", Fault::STATUS_500, "", "No valid build 4600\n"},
        {"transfer refused", "bird", Fault::STATUS_500, "",
         "Download failed\nFailed to retrieve a valid BIRD file\n"},
        {"transfer empty", "bird", Fault::EMPTY, "",
         "Download failed\nFailed to retrieve a valid BIRD file\n"},
        {"payload not base64", "bird", Fault::MALFORMED, "",
         "The download of build 4600 could not be decoded\n"},
        {"payload not a BIRD file", "bird", Fault::NONE, "ok\n" + _encoded("this is no firmware") + "\n",
         "The download of build 4600 is not a BIRD file\n"},
    };
    for (const DownloadFault& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.birdAnswer.empty())
            catalogue.Server().SetFault(c.op, c.fault);
        else
            catalogue.Server().SetAnswer("bird", 200, c.birdAnswer);
        ProcessResult run = Run({"-G", "-d", DEVICE});
        catalogue.Server().SetFault(c.op, Fault::NONE);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.err);
        EXPECT_TRUE(StoredBirdFiles().empty());
        EXPECT_TRUE(std::filesystem::exists(StoredFile(".settings")));
        EXPECT_EQ(_settings(StoredFile(".settings")).count("LATEST_DOWNLOAD"), 0u);
    }
}

TEST_F(Acquisition, StoreWriteFailureRecordsNothing) {
    std::filesystem::create_directories(StoredFile("4600.bird"));
    ProcessResult run = Run({"-G", "-d", DEVICE});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::regex_match(run.err, std::regex("Failed to write file with [1-9][0-9]*\n"))) << run.err;
    EXPECT_TRUE(std::filesystem::is_directory(StoredFile("4600.bird")));
    EXPECT_EQ(_settings(StoredFile(".settings")).count("LATEST_DOWNLOAD"), 0u);
}

// The store answers -L without the server; names without ".bird" and files that are no BIRD file are
// listed without a version.
TEST_F(Acquisition, ListLocalBuilds) {
    std::filesystem::create_directories(DeviceDirectory());
    BirdWriter::WriteBytes(StoredFile("4567.bird"), ServedCatalogue::BuildBytes(4567, "1.2.3"));
    BirdWriter::WriteBytes(StoredFile("4600.bird"), ServedCatalogue::BuildBytes(4600, "1.10.0"));
    WriteWholeFile(StoredFile("broken.bird"), std::string("bird\x01\x01", 6) + "not compressed");
    WriteWholeFile(StoredFile("notes.txt"), "bench unit");

    RefusingPort down;
    ProcessResult run = Run({"-L", "-d", DEVICE}, down.Url());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.out,
        VERSION_LINE +
            _build_table(DEVICE, {{"4600", "1.10.0"}, {"4567", "1.2.3"}, {"broken", ""}, {"notes.txt", ""}}));
    EXPECT_EQ(run.err, "");

    run = Run({"-L", "-d", UNKNOWN_DEVICE}, down.Url());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, VERSION_LINE + "No builds found for device [" + UNKNOWN_DEVICE + "]\n");
}

// -G runs before the listing commands, so the listing already sees the download.
TEST_F(Acquisition, GetThenListLocal) {
    ProcessResult run = Run({"-L", "-G", "-d", DEVICE, "-b", "4590"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.ends_with("Build 4590 is valid\n" + _build_table(DEVICE, {{"4590", "1.9.0"}})))
        << run.out;
}

} // namespace
