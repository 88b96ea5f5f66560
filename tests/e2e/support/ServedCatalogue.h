#ifndef TESTS_E2E_SERVEDCATALOGUE_H
#define TESTS_E2E_SERVEDCATALOGUE_H

#include "TempDirectory.h"
#include "UpdateServer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A local update server on loopback offering three builds for one device (4567 "1.2.3", 4590 "1.9.0"
// and the current 4600 "1.10.0"), a feature token for it, and its chip identifier 1 2 3 4 mapped to
// build 4567. Stopped and removed when the object goes.
class ServedCatalogue {
public:
    static constexpr uint32_t DEVICE = 0x1A2B3C4D;
    static constexpr const char* DEVICE_TEXT = "1A2B3C4D";
    static constexpr const char* TOKEN = "eyJhbGciOi.eyJmZWF0dXJlcyI6.c2lnbmF0dXJl";

    ServedCatalogue();

    UpdateServer& Server() { return *server; }
    std::string Url() const { return server->Url(); }
    // The file the server hands out for a build.
    std::string BuildFile(uint32_t build) const;

    // A small BIRD file for the device naming build and version.
    static std::vector<uint8_t> BuildBytes(uint32_t build, const std::string& version);

private:
    TempDirectory files;
    std::unique_ptr<UpdateServer> server;
};

// The request lines the server logs, "GET /cgi/u?<query>", for each question.
std::string PingRequest();
std::string QueryBuildRequest(const std::string& serial);
std::string BuildListRequest(const std::string& serial);
std::string BirdRequest(const std::string& serial, uint32_t build);
std::string TokenRequest(const std::string& serial);

// A loopback port that refuses connections for as long as the object lives.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::string Url() const;

private:
    int socket;
    uint16_t port;
};

#endif
