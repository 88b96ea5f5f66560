#include "ParameterScan.h"
#include "Log.h"
#include "RecordingDisplay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Scan {
    Parameters parameters;
    RecordingDisplay display;
    int result;
};

void _scan(Scan& scan, std::vector<std::string> words) {
    words.insert(words.begin(), "/usr/local/bin/updater");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    scan.result = _get_params(scan.display, static_cast<int>(words.size()), argv.data(), scan.parameters);
}

class ParameterScanTest : public ::testing::Test {
protected:
    void SetUp() override { Log::DeactivatePackage(0xFFFFFFFF); }
    void TearDown() override {
        Log::DeactivatePackage(0xFFFFFFFF);
        Log::SetOutput(nullptr);
    }
};

struct ScanCase {
    const char* name;
    std::vector<std::string> words;
    int result;
    std::vector<std::string> errors;
    std::function<void(const Parameters&)> check;
};

const std::vector<ScanCase> SCAN_CASES = {
    {"nothing",
     {},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_FALSE(p.commands.IsSet(0xFFFFFFFF));
         EXPECT_EQ(p.transport, TRANSPORT_USB);
         EXPECT_EQ(p.baudRate, 115200u);
         EXPECT_TRUE(p.useUEIBytes);
         EXPECT_EQ(p.serverUrl, "http://ota.korvalen.com:80/cgi/u");
         EXPECT_EQ(p.applicationName, "updater");
     }},
    {"non-options and unknown words are skipped",
     {"hello", "-Q", "-DU", "-d1234", "-", "--", "-d"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_FALSE(p.commands.IsSet(ANY_COMMAND));
         EXPECT_EQ(p.serialNumber, 0u);
     }},
    {"missing argument leaves the next option standing",
     {"-d", "-D"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_TRUE(p.commands.IsSet(DISCOVER));
         EXPECT_EQ(p.serialNumber, 0u);
     }},
    {"argument after equals",
     {"-d=0x1A2B", "-i=", "-u=http://h/x=y"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_EQ(p.serialNumber, 0x1A2Bu);
         EXPECT_EQ(p.storeDirectory, "");
         EXPECT_EQ(p.serverUrl, "http://h/x=y");
     }},
    {"unexpected argument skips the option",
     {"-D=1", "-e=1", "--help=yes"},
     0,
     {},
     [](const Parameters& p) { EXPECT_FALSE(p.commands.IsSet(DISCOVER | HELP)); }},
    {"unique prefixes",
     {"-O", "-OVERRID", "--he"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_TRUE(p.override);
         EXPECT_TRUE(p.helpRequested);
     }},
    {"too long is unknown",
     {"-OVERRIDEX", "--helpme"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_FALSE(p.override);
         EXPECT_FALSE(p.helpRequested);
     }},
    {"every command sets its bit",
     {"-B", "-L", "-D", "-G", "-I", "-U", "-N", "-C", "-J", "-Z", "z"},
     0,
     {},
     [](const Parameters& p) {
         for (uint32_t bit : {LIST_BUILDS, LIST_LOCAL_BUILDS, DISCOVER, GET_BUILD, SHOW_INFO, UPDATE,
                              FINGERPRINT, CHECK_BIRD, GET_JWT, OPTION_Z})
             EXPECT_TRUE(p.commands.IsSet(bit)) << std::hex << bit;
         EXPECT_FALSE(p.commands.IsSet(HELP));
     }},
    {"-I alone counts as a command",
     {"-I"},
     0,
     {},
     [](const Parameters& p) { EXPECT_TRUE(p.commands.IsSet(ANY_COMMAND)); }},
    {"accepted options without effect",
     {"-e", "-n", "-l", "note", "-k", "file.log", "-B"},
     0,
     {},
     [](const Parameters& p) { EXPECT_TRUE(p.commands.IsSet(LIST_BUILDS)); }},
    {"serial with any non-hex character",
     {"-d", "0xZZ", "-B"},
     1,
     {"Invalid serial number obtained from argument [ZZ]"},
     [](const Parameters& p) { EXPECT_EQ(p.serialNumber, 0u); }},
    {"serial zero",
     {"-d", "00000000"},
     1,
     {"Invalid serial number obtained from argument [00000000]"},
     nullptr},
    {"serial keeps the low 32 bits",
     {"-d", "11A2B3C4D", "-r", "0XD272031D"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_EQ(p.serialNumber, 0x1A2B3C4Du);
         EXPECT_EQ(p.routerSerialNumber, 0xD272031Du);
     }},
    {"router serial", {"-r", "0x0"}, 1, {"Invalid router serial number obtained from argument [0]"}, nullptr},
    {"unhandled command fails but scanning goes on",
     {"-Y", "-D"},
     1,
     {"Unhandled command: [-Y]"},
     [](const Parameters& p) { EXPECT_TRUE(p.commands.IsSet(DISCOVER)); }},
    {"transport is case-sensitive",
     {"-t", "tcpip"},
     1,
     {"Invalid transport type:[tcpip]\nMust be one of the following: USB, TCPIP, RECOVER"},
     [](const Parameters& p) {
         EXPECT_EQ(p.transport, TRANSPORT_INVALID);
         EXPECT_TRUE(p.transportGiven);
     }},
    {"transport prefixes",
     {"-t", "TCPIP"},
     0,
     {},
     [](const Parameters& p) { EXPECT_EQ(p.transport, TRANSPORT_TCPIP); }},
    {"recover",
     {"-t", "RECOVER"},
     0,
     {},
     [](const Parameters& p) { EXPECT_EQ(p.transport, TRANSPORT_RECOVER); }},
    {"non-numeric build and baud",
     {"-b", "12x", "-o", "fast"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_EQ(p.build, "0");
         EXPECT_EQ(p.baudRate, 0u);
     }},
    {"numeric build and baud",
     {"-b", "99528558", "-o", "9600"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_EQ(p.build, "99528558");
         EXPECT_EQ(p.baudRate, 9600u);
     }},
    {"UEI bytes switch", {"-m", "yes"}, 0, {}, [](const Parameters& p) { EXPECT_FALSE(p.useUEIBytes); }},
    {"UEI bytes true",
     {"-m", "0", "-m", "true"},
     0,
     {},
     [](const Parameters& p) { EXPECT_TRUE(p.useUEIBytes); }},
    {"UEI bytes 1", {"-m", "1x"}, 0, {}, [](const Parameters& p) { EXPECT_TRUE(p.useUEIBytes); }},
    {"texts",
     {"-i", "/tmp/store", "-f", "a.bird", "-s", "/dev/ttyS0", "-u", "http://127.0.0.1:1/cgi/u"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_EQ(p.storeDirectory, "/tmp/store");
         EXPECT_EQ(p.birdFile, "a.bird");
         EXPECT_EQ(p.serialPort, "/dev/ttyS0");
         EXPECT_EQ(p.serverUrl, "http://127.0.0.1:1/cgi/u");
     }},
    {"mask with a bare 0x prefix",
     {"-X", "0x"},
     0,
     {"Invalid format for \"-X\" parameter, unprocessed characters [x]"},
     [](const Parameters& p) {
         EXPECT_TRUE(p.logMaskGiven);
         EXPECT_EQ(Log::package_bitmask, 0u);
     }},
    {"mask with trailing text",
     {"-X", "12ab"},
     0,
     {"Invalid format for \"-X\" parameter, unprocessed characters [ab]"},
     [](const Parameters&) { EXPECT_EQ(Log::package_bitmask, 0u); }},
    {"hexadecimal and decimal masks",
     {"-X", "0X20", "-X", "65536"},
     0,
     {},
     [](const Parameters&) { EXPECT_EQ(Log::package_bitmask, 0x10020u); }},
    {"help stops the scan",
     {"-h", "-X", "1", "-Y"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_TRUE(p.commands.IsSet(HELP));
         EXPECT_TRUE(p.helpRequested);
         EXPECT_FALSE(p.logMaskGiven);
     }},
    {"options before help count",
     {"-X", "1", "-H"},
     0,
     {},
     [](const Parameters& p) {
         EXPECT_TRUE(p.logMaskGiven);
         EXPECT_TRUE(p.helpRequested);
     }},
};

TEST_F(ParameterScanTest, Table) {
    for (const ScanCase& c : SCAN_CASES) {
        SCOPED_TRACE(c.name);
        Log::DeactivatePackage(0xFFFFFFFF);
        Scan scan;
        _scan(scan, c.words);
        EXPECT_EQ(scan.result, c.result);
        EXPECT_EQ(scan.display.errors, c.errors);
        EXPECT_TRUE(scan.display.infos.empty());
        if (c.check)
            c.check(scan.parameters);
    }
}

TEST_F(ParameterScanTest, ApplicationNameIsTheLastPathPiece) {
    for (auto [argv0, name] :
         {std::pair{"C:\\tools\\updater.exe", "updater.exe"}, {"updater", "updater"}, {"", ""}}) {
        Parameters parameters;
        RecordingDisplay display;
        char* argv[] = {const_cast<char*>(argv0), nullptr};
        _get_params(display, 1, argv, parameters);
        EXPECT_EQ(parameters.applicationName, name);
    }
}

// The mask takes effect as soon as -X is scanned: notes of later options show, earlier ones do not.
TEST_F(ParameterScanTest, MaskAppliesToLaterOptionsOnly) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    Log::SetOutput(out);
    Scan scan;
    _scan(scan, {"-d", "0x1", "-X", "0x10001", "-r", "0x2"});
    fclose(out);
    EXPECT_EQ(std::string(text),
              "Discarding '0x' router serial number prefix\n"
              "\nApplication parameters:[updater]\n"
              "\t[/usr/local/bin/updater]\n\t[-d]\n\t[0x1]\n\t[-X]\n\t[0x10001]\n\t[-r]\n\t[0x2]\n");
    free(text);
}

TEST(ArgumentConversion, WholeTextOrZero) {
    struct {
        const char* text;
        uint32_t hex;
        uint32_t decimal;
    } cases[] = {
        {"", 0, 0},   {"1a2B", 0x1A2B, 0},           {"1234", 0x1234, 1234},      {"12 ", 0, 0},
        {"-5", 0, 0}, {"4294967296", 0x94967296, 0}, {"FFFFFFFF", 0xFFFFFFFF, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(_get_hex_arg(c.text), c.hex) << c.text;
        EXPECT_EQ(_get_int_arg(c.text), c.decimal) << c.text;
    }
}

} // namespace
