#ifndef TESTS_SERVERTESTSUPPORT_H
#define TESTS_SERVERTESTSUPPORT_H

#include "../bird/BirdTestSupport.h"
#include "HTTPRequest.h"
#include "UpdateServer.h"

#include <filesystem>
#include <memory>
#include <string>

// A temporary directory with an update server root in it, the diagnostic log captured, and an
// in-process update server that the test starts with the options it wants.
class ServerTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        options.root = Path("root");
        std::filesystem::create_directories(options.root);
    }
    void TearDown() override {
        server.reset();
        HTTPRequest::SetLimits(HTTPRequest::DEFAULT_LIMITS);
        TempDirTest::TearDown();
    }

    void StartServer() {
        server = std::make_unique<UpdateServer>(options);
        server->Start();
        url = server->Url();
    }

    // The last request as the server received it, without "GET /cgi/u?".
    std::string LastQuery() const {
        std::vector<std::string> requests = server->Requests();
        const std::string prefix = std::string("GET ") + UpdateServer::PATH + "?";
        if (requests.empty() || requests.back().rfind(prefix, 0) != 0)
            return "(no request)";
        return requests.back().substr(prefix.size());
    }

    std::string DeviceDirectory(const std::string& serial) const {
        std::string directory = options.root + "/" + serial;
        std::filesystem::create_directories(directory);
        return directory;
    }

    static std::string ReadText(const std::string& path) {
        std::vector<uint8_t> bytes = ReadRaw(path);
        return std::string(bytes.begin(), bytes.end());
    }

    UpdateServer::Options options;
    std::unique_ptr<UpdateServer> server;
    std::string url;
};

#endif
