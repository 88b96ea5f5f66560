#ifndef UPDATER_HTTPREQUEST_H
#define UPDATER_HTTPREQUEST_H

#include "HTTPResponse.h"

#include <map>
#include <string>

// HTTP GET through libcurl. https peers are verified against the system's certificate store.
class HTTPRequest {
public:
    // How long a transfer may take before it is abandoned as failed.
    struct Limits {
        long connectTimeoutMs;
        long lowSpeedBytesPerSecond;
        long lowSpeedTimeSeconds;
    };
    static constexpr Limits DEFAULT_LIMITS = {15000, 1, 30};

    // Appends "?key=value&..." in key order (keys and values unencoded) and fetches the URL. Throws
    // std::runtime_error with libcurl's description when the transfer fails or times out.
    static HTTPResponse GET(const std::string& url, const std::map<std::string, std::string>& parameters);

    // For every later GET of the process; tests shorten them to meet stalled servers quickly.
    static void SetLimits(const Limits& limits);
    static Limits GetLimits();
};

#endif
