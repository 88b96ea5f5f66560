#ifndef UPDATER_UPDATESERVERREQUEST_H
#define UPDATER_UPDATESERVERREQUEST_H

#include "Fingerprint.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The questions the application asks the update server. Each operation is one GET of the server URL
// (default_url when the text is empty) and returns false on any failure, with the reason in the
// DEBUG_ServerComm log. Answers are lines; the first must begin with "ok".
class UpdateServerRequest {
public:
    using BuildList = std::map<std::string, std::string>;
    using SortedBuilds = std::vector<std::pair<std::string, std::string>>;

    static const char* const default_url;

    static bool ping(const std::string& url);
    // build and firmware are set only when the answer carries them.
    static bool QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                           const std::string& url);
    // payload is cleared first and receives the base64 text of the BIRD file.
    static bool GetBuild(uint32_t serial, const std::string& firmware, const std::string& build,
                         std::string& payload, const std::string& url, bool noCalibration);
    // builds is cleared first; the first line for a build wins.
    static bool GetBuildList(uint32_t serial, BuildList& builds, const std::string& url);
    // serial and build are set only when the answer carries them.
    static bool GetRecoveryInfo(const Fingerprint& fingerprint, uint32_t& serial, uint32_t& build,
                                const std::string& url);
    // token is set only when the answer holds a token of three parts.
    static bool GetDeviceJWT(uint32_t serial, std::string& token, const std::string& url);

    // Highest version first; builds whose version is not three numbers come last, in build order.
    static SortedBuilds SortBuildsByVersion(const BuildList& builds);
    // The three parts of "major.minor.patch", or an empty list for any other number of parts.
    static std::vector<std::string> SplitQuorvantaVersion(const std::string& version);
};

#endif
