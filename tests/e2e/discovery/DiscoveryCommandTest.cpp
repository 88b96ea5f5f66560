#include "NetworkDevice.h"
#include "RunProcess.h"
#include "TempDirectory.h"
#include "aVersion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qvtest::DeviceSetup;
using qvtest::NetworkDevice;

const std::string NETWORK_HEADER =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]       Device Name";
const std::string NO_DEVICES = "    No devices found.";

std::vector<std::string> _lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// The run's standard output from the line after the version line, with the device rows (those
// after the header) sorted: discovery order follows the order in which replies arrive.
struct Listing {
    ProcessResult run;
    std::vector<std::string> lines;
};

Listing _run_updater(const std::vector<std::string>& arguments) {
    TempDirectory store;
    std::vector<std::string> all = arguments;
    all.insert(all.end(), {"-i", store.Path(), "-u", "http://127.0.0.1:9/cgi/u"});
    Listing listing{RunProcess(UPDATER_PATH, all, 60000), {}};
    listing.lines = _lines(listing.run.out);
    if (!listing.lines.empty())
        listing.lines.erase(listing.lines.begin());
    if (listing.lines.size() > 3)
        std::sort(listing.lines.begin() + 3, listing.lines.end());
    return listing;
}

const uint32_t V2_10_3 = aVersion_Pack(2, 10, 3);
const uint32_t V2_10_4 = aVersion_Pack(2, 10, 4);
// Legacy versions carry patches above 255.
const uint32_t V2_10_258 = (2u << 28) | (10u << 24) | 258u;

TEST(DiscoverCommand, ListsNetworkDevicesWithNamesFromFirmware2_10_4On) {
    NetworkDevice current({0x1A2B3C4D, 2, 13, V2_10_4, 99511694, "bench switch"});
    NetworkDevice older({0x0BADCAFE, 6, 17, V2_10_3, 1234, "old hub"});
    NetworkDevice legacyPatch({0x40F5849A, 4, 18, V2_10_258, 7, "lab io"});

    Listing listing = _run_updater({"-D", "-t", "TCPIP"});
    EXPECT_EQ(listing.run.status, 0) << listing.run.err;
    EXPECT_EQ(listing.run.err, "");
    std::vector<std::string> expected = {
        "Searching for Quorvanta devices",
        "Discovered Devices: (TCPIP)",
        NETWORK_HEADER,
        "    0BADCAFE  06       00      I2CRouter      2.10.3 (      1234)        [198.18.0.1]       ",
        "    1A2B3C4D  02       00      USBSwitch      2.10.4 (  99511694)        [198.18.0.1]       bench "
        "switch",
        "    40F5849A  04       00      IOModule       2.10.258 (         7)        [198.18.0.1]       lab "
        "io",
    };
    EXPECT_EQ(listing.lines, expected);
}

// A network device that cannot be read still gets its full row: what discovery said of it, and
// whatever could be read before the failure.
TEST(DiscoverCommand, UnreadableNetworkDevicesShowWhatCouldBeRead) {
    NetworkDevice silent({0x5EEDF00D, 8, 20, V2_10_4, 4242, "quiet"});
    silent.device.Faults().DropRepliesTo(qvsim::SimSystemEntity::COMMAND);
    NetworkDevice refusing({0x0DEAD000, 10, 4, V2_10_4, 99, "closed"}, NetworkDevice::REFUSING);

    Listing listing = _run_updater({"-D", "-t", "TCPIP"});
    EXPECT_EQ(listing.run.status, 0) << listing.run.err;
    std::vector<std::string> expected = {
        "Searching for Quorvanta devices",
        "Discovered Devices: (TCPIP)",
        NETWORK_HEADER,
        "    0DEAD000  0A       0A      USBHub2x4      0.0.0 (         0)        [198.18.0.1]       ",
        "    5EEDF00D  08       08      PowerModule    0.0.0 (      4242)        [198.18.0.1]       ",
    };
    EXPECT_EQ(listing.lines, expected);
}

// Without a transport the command lists USB devices only and sends nothing onto the network.
TEST(DiscoverCommand, WithoutTransportSearchesUSBOnly) {
    NetworkDevice network({0x1A2B3C4D, 2, 13, V2_10_4, 1, "bench switch"});

    Listing listing = _run_updater({"-D"});
    EXPECT_EQ(listing.run.status, 0) << listing.run.err;
    EXPECT_EQ(listing.lines, (std::vector<std::string>{"Searching for Quorvanta devices",
                                                       "Discovered Devices: (USB)", NO_DEVICES}));
    EXPECT_EQ(network.responder->RequestsAnswered(), 0u);
}

TEST(DiscoverCommand, ListsTheModulesBehindARouter) {
    NetworkDevice router({0xD272031D, 2, 17, V2_10_4, 5000, "router"});
    router.AddChildren({{0x3C3C3C3C, 8, 20, V2_10_4, 5000, ""}, {0x2181F0EE, 4, 18, V2_10_4, 5000, ""}});
    const std::vector<std::string> rows = {
        "    2181F0EE  04       02      IOModule       2.10.4 (      5000)        [198.18.0.1]       ",
        "    3C3C3C3C  08       02      PowerModule    2.10.4 (      5000)        [198.18.0.1]       ",
    };
    struct Case {
        std::vector<std::string> arguments;
        const char* table;
    };
    std::string log;
    for (const Case& c : {Case{{"-D", "-r", "D272031D", "-X", "0x101"}, "Unknown"},
                          Case{{"-D", "-t", "TCPIP", "-r", "0xD272031D"}, "TCPIP"}}) {
        SCOPED_TRACE(c.table);
        Listing listing = _run_updater(c.arguments);
        EXPECT_EQ(listing.run.status, 0) << listing.run.err;
        std::vector<std::string> expected = {"Searching for Quorvanta Network devices connected to D272031D",
                                             std::string("Discovered Devices: (") + c.table + ")",
                                             NETWORK_HEADER};
        expected.insert(expected.end(), rows.begin(), rows.end());
        EXPECT_EQ(listing.lines, expected);
        EXPECT_FALSE(router.router->Routing());
        log += listing.run.err;
    }
    // The first run had to find the router's transport before scanning its bus.
    EXPECT_NE(log.find("NETWORK: Found device [D272031D] via link type [2]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Found Link Module"), std::string::npos);
    EXPECT_NE(log.find("Searching Address 0x04\nAttempt Connect on address: 0x04\nGot Serial [0x2181F0EE]\n"),
              std::string::npos);
    EXPECT_NE(log.find("Searching Address 0x06\nSearching Address 0x08\n"), std::string::npos);
    EXPECT_NE(log.find("Searching Address 0xfc\n"), std::string::npos);
    EXPECT_EQ(log.find("Searching Address 0x02\n"), std::string::npos)
        << "the router's own address is skipped";
}

TEST(DiscoverCommand, RouterThatCannotBeReachedGivesAnEmptyList) {
    NetworkDevice other({0x1A2B3C4D, 2, 17, V2_10_4, 1, ""});
    NetworkDevice refusing({0xD272031D, 2, 17, V2_10_4, 1, ""}, NetworkDevice::REFUSING);
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string err;
    };
    const Case cases[] = {
        {"no such router", {"-D", "-r", "0BADF00D"}, ""},
        {"no such router on TCP/IP", {"-D", "-t", "TCPIP", "-r", "0BADF00D"}, ""},
        {"router refuses the connection",
         {"-D", "-t", "TCPIP", "-r", "D272031D"},
         "Error 25 on connectFromSpec\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Listing listing = _run_updater(c.arguments);
        EXPECT_EQ(listing.run.status, 0);
        EXPECT_EQ(listing.run.err, c.err);
        ASSERT_EQ(listing.lines.size(), 3u);
        EXPECT_EQ(listing.lines[2], NO_DEVICES);
    }
}

} // namespace
