#include "BirdWriter.h"
#include "ServerTestSupport.h"
#include "UpdateServerRequest.h"
#include "base64.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Request = UpdateServerRequest;

constexpr uint32_t SERIAL = 0x1A2B3C4D;
const char* const SERIAL_TEXT = "1A2B3C4D";

class UpdateServerTest : public ServerTest {
protected:
    std::string AddBuild(uint32_t build, const std::string& version) {
        std::string path = DeviceDirectory(SERIAL_TEXT) + "/" + std::to_string(build) + ".bird";
        BirdWriter()
            .AddInfo(build, version, SERIAL, "Hub4")
            .AddCode(BirdWriter::TYPE_FIRMWARE, 0, BirdWriter::PatternImage(300, build))
            .Write(path);
        return path;
    }
    void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

    std::string CurrentBuild(uint32_t serial = SERIAL) {
        std::string build = "none", firmware;
        if (!Request::QueryBuild(serial, build, firmware, url))
            return "refused";
        EXPECT_EQ(firmware, "quorvanta");
        return build;
    }
};

TEST_F(UpdateServerTest, ListsTheBuildFilesOfADeviceWithTheirVersions) {
    AddBuild(100, "1.2.3");
    AddBuild(101, "1.10.0");
    WriteFile(DeviceDirectory(SERIAL_TEXT) + "/102.bird", "not a BIRD file");
    WriteFile(DeviceDirectory(SERIAL_TEXT) + "/notes.txt", "ignored");
    WriteFile(DeviceDirectory(SERIAL_TEXT) + "/x1.bird", "ignored: not a build number");
    AddBuild(7, "9.9.9");
    std::filesystem::rename(DeviceDirectory(SERIAL_TEXT) + "/7.bird",
                            DeviceDirectory("0000ABCD") + "/7.bird");
    StartServer();

    Request::BuildList builds;
    ASSERT_TRUE(Request::GetBuildList(SERIAL, builds, url));
    EXPECT_EQ(builds, (Request::BuildList{{"100", "1.2.3"}, {"101", "1.10.0"}, {"102", ""}}));
    ASSERT_TRUE(Request::GetBuildList(0xFFFF, builds, url));
    EXPECT_TRUE(builds.empty()) << "an unknown device has no builds";
}

TEST_F(UpdateServerTest, CurrentBuildIsTheHighestVersionUnlessNamed) {
    StartServer();
    EXPECT_EQ(CurrentBuild(), "refused") << "a device without builds has no current build";
    AddBuild(100, "2.0.0");
    AddBuild(101, "1.10.0");
    AddBuild(99, "2.0.0");
    EXPECT_EQ(CurrentBuild(), "100") << "highest version, highest number among equals";
    WriteFile(DeviceDirectory(SERIAL_TEXT) + "/current", "101\n");
    EXPECT_EQ(CurrentBuild(), "101");
    WriteFile(DeviceDirectory(SERIAL_TEXT) + "/current", "next\n");
    EXPECT_EQ(CurrentBuild(), "refused");
}

TEST_F(UpdateServerTest, ServesTheBuildFileBase64Encoded) {
    std::string path = AddBuild(100, "1.2.3");
    StartServer();
    std::string payload;
    ASSERT_TRUE(Request::GetBuild(SERIAL, "quorvanta", "100", payload, url, false));
    size_t length = 0;
    unsigned char* bytes = base64_decode(payload.data(), payload.size(), &length);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), length), ReadText(path));
    free(bytes);
    EXPECT_FALSE(Request::GetBuild(SERIAL, "quorvanta", "99", payload, url, false)) << "no such build";
}

TEST_F(UpdateServerTest, AnswersRecoveryAndTokenQuestionsFromTheirFiles) {
    AddBuild(120, "1.0.0");
    options.fingerprintFile = Path("fingerprints");
    options.tokenFile = Path("tokens");
    WriteFile(options.fingerprintFile, "# words                             serial   build\n"
                                       "00000001 00000002 00000003 00000004 1A2B3C4D 77\n"
                                       "\n"
                                       "aaaaaaaa bbbbbbbb cccccccc dddddddd 1A2B3C4D\n");
    WriteFile(options.tokenFile, "# serial token\n1A2B3C4D aa.bb.cc\n");
    StartServer();

    uint32_t serial = 0, build = 0;
    ASSERT_TRUE(Request::GetRecoveryInfo({1, 2, 3, 4}, serial, build, url));
    EXPECT_EQ(serial, SERIAL);
    EXPECT_EQ(build, 77u);
    ASSERT_TRUE(
        Request::GetRecoveryInfo({0xAAAAAAAA, 0xBBBBBBBB, 0xCCCCCCCC, 0xDDDDDDDD}, serial, build, url));
    EXPECT_EQ(build, 120u) << "without a build the device's current one";
    EXPECT_FALSE(Request::GetRecoveryInfo({1, 2, 3, 5}, serial, build, url));

    std::string token;
    ASSERT_TRUE(Request::GetDeviceJWT(SERIAL, token, url));
    EXPECT_EQ(token, "aa.bb.cc");
    EXPECT_FALSE(Request::GetDeviceJWT(0x1234, token, url));
}

TEST_F(UpdateServerTest, RefusesBadQueriesAndReportsBrokenFiles) {
    options.tokenFile = Path("tokens");
    WriteFile(options.tokenFile, "1A2B3C4D\n");
    StartServer();
    struct Case {
        std::map<std::string, std::string> query;
        int64_t status;
    };
    const std::vector<Case> cases = {
        {{{"op", "builds"}, {"sn", "../.."}}, 400},
        {{{"op", "builds"}}, 400},
        {{{"op", "bird"}, {"sn", SERIAL_TEXT}, {"bld", "../x"}}, 400},
        {{{"op", "fix"}, {"fp", "1%202%203"}}, 400},
        {{{"op", "nothing"}}, 400},
        {{{"op", "ent_jwt"}, {"sn", SERIAL_TEXT}}, 500},
    };
    for (const Case& c : cases) {
        HTTPResponse response = HTTPRequest::GET(url, c.query);
        EXPECT_EQ(response.get_status(), c.status) << response.get_request();
        EXPECT_EQ(response.get_response().rfind("error: ", 0), 0u) << response.get_response();
    }
}

TEST_F(UpdateServerTest, MalformedAnswersKeepOkButCarryNothingUsable) {
    StartServer();
    server->SetFault("*", UpdateServer::Fault::MALFORMED);
    std::string payload, token;
    ASSERT_TRUE(Request::GetBuild(SERIAL, "fw", "1", payload, url, false));
    size_t length = 0;
    EXPECT_EQ(base64_decode(payload.data(), payload.size(), &length), nullptr);
    EXPECT_FALSE(Request::GetDeviceJWT(SERIAL, token, url));
    uint32_t serial = 1, build = 1;
    ASSERT_TRUE(Request::GetRecoveryInfo({1, 2, 3, 4}, serial, build, url));
    EXPECT_EQ(serial, 0u);
    EXPECT_EQ(build, 0u);
}

// The executable as the updater's end-to-end tests use it: started with a port file, logging every
// query to a file, told to fail one operation, stopped with SIGTERM.
TEST_F(UpdateServerTest, ExecutableServesUntilTerminated) {
    AddBuild(100, "1.2.3");
    std::string portFile = Path("port"), logFile = Path("requests.log");
    std::string executable = std::string(QV_BINARY_DIR) + "/bin/qv-update-server";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(executable.c_str(), executable.c_str(), "--root", options.root.c_str(), "--port-file",
              portFile.c_str(), "--log", logFile.c_str(), "--fail", "ent_jwt=404",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(portFile) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string port = ReadText(portFile);
    url = "http://127.0.0.1:" + port.substr(0, port.find('\n')) + "/cgi/u";

    Request::BuildList builds;
    std::string token;
    EXPECT_TRUE(Request::ping(url));
    EXPECT_TRUE(Request::GetBuildList(SERIAL, builds, url));
    EXPECT_EQ(builds, (Request::BuildList{{"100", "1.2.3"}}));
    EXPECT_FALSE(Request::GetDeviceJWT(SERIAL, token, url));

    kill(child, SIGTERM);
    int status = -1;
    for (int i = 0; i < 500 && waitpid(child, &status, WNOHANG) == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!WIFEXITED(status)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ADD_FAILURE() << "server did not stop on SIGTERM";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadText(logFile), "GET /cgi/u?op=hi&rv=2&\n"
                                 "GET /cgi/u?op=builds&sn=1A2B3C4D&\n"
                                 "GET /cgi/u?json=false&op=ent_jwt&sn=1A2B3C4D&\n");
}

} // namespace
