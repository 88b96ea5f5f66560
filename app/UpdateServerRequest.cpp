#include "UpdateServerRequest.h"

#include "DefaultServer.h"
#include "HTTPRequest.h"
#include "Log.h"
#include "aVersion.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>

const char* const UpdateServerRequest::default_url = DEFAULT_SERVER_URL;

namespace {

using Parameters = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;
using Version = std::array<uint8_t, 3>;

constexpr int64_t HTTP_OK = 200;
constexpr size_t SHORTEST_BUILD_LINE = 3;
constexpr size_t SHORTEST_TOKEN_LINE = 3;
constexpr size_t SHORTEST_TOKEN_PART = 2;

std::string _serial_text(uint32_t serial) {
    char text[9];
    snprintf(text, sizeof(text), "%08X", serial);
    return text;
}

std::string _fingerprint_text(const Fingerprint& fingerprint) {
    char text[64];
    snprintf(text, sizeof(text), "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1],
             fingerprint[2], fingerprint[3]);
    return text;
}

// Lines split at newlines; runs of newlines count as one, so no line is empty.
Lines _split_lines(const std::string& body) {
    Lines lines;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        if (end > start)
            lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string _cut_at_line_end(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

std::vector<std::string> _split(const std::string& text, const char* separators) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t end = text.find_first_of(separators, start);
        fields.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

// One GET; the answer's lines when the server said "ok", nothing after any failure.
std::optional<Lines> _request(const char* name, const std::string& url, const Parameters& parameters) {
    const std::string& server = url.empty() ? std::string(UpdateServerRequest::default_url) : url;
    try {
        HTTPResponse response = HTTPRequest::GET(server, parameters);
        const std::string& body = response.get_response();
        int status = static_cast<int>(response.get_status());
        if (response.get_status() != HTTP_OK) {
            if (std::string(name) == "ping")
                Log::log(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", status, body.c_str());
            else
                Log::log(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", name, status, body.c_str());
            return std::nullopt;
        }
        Lines lines = _split_lines(body);
        if (lines.empty() || lines[0].compare(0, 2, "ok") != 0) {
            Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name,
                     response.get_request().c_str());
            return std::nullopt;
        }
        return lines;
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
        return std::nullopt;
    }
}

std::optional<Version> _parse_version(const std::string& text) {
    std::vector<std::string> parts = UpdateServerRequest::SplitQuorvantaVersion(text);
    if (parts.size() != 3)
        return std::nullopt;
    Version version;
    try {
        for (size_t i = 0; i < parts.size(); i++)
            version[i] = static_cast<uint8_t>(std::stoi(parts[i]) & 0xFF);
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion", e.what());
        return std::nullopt;
    }
    return version;
}

struct SortEntry {
    std::pair<std::string, std::string> build;
    std::optional<Version> version;
};

// Versions that are not three numbers come after every proper one, which keeps the ordering strict
// and weak as sorting requires.
bool _sortVersion(const SortEntry& a, const SortEntry& b) {
    if (!a.version)
        return false;
    if (!b.version)
        return true;
    const Version& x = *a.version;
    const Version& y = *b.version;
    return !aVersion_IsAtLeastCompare(y[0], y[1], y[2], x[0], x[1], x[2]);
}

} // namespace

bool UpdateServerRequest::ping(const std::string& url) {
    return _request("ping", url, {{"op", "hi"}, {"rv", "2"}}).has_value();
}

bool UpdateServerRequest::QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                                     const std::string& url) {
    std::optional<Lines> lines = _request("QueryBuild", url, {{"op", "qu"}, {"sn", _serial_text(serial)}});
    if (!lines)
        return false;
    if (lines->size() > 1)
        build = (*lines)[1];
    if (lines->size() > 2)
        firmware = _cut_at_line_end((*lines)[2]);
    return true;
}

bool UpdateServerRequest::GetBuild(uint32_t serial, const std::string& firmware, const std::string& build,
                                   std::string& payload, const std::string& url, bool noCalibration) {
    payload.clear();
    std::optional<Lines> lines = _request("GetBuild", url,
                                          {{"bld", build},
                                           {"fw", firmware},
                                           {"no_cal", noCalibration ? "true" : "false"},
                                           {"op", "bird"},
                                           {"sn", _serial_text(serial)}});
    if (!lines)
        return false;
    if (lines->size() > 1)
        payload = (*lines)[1];
    return true;
}

bool UpdateServerRequest::GetBuildList(uint32_t serial, BuildList& builds, const std::string& url) {
    builds.clear();
    std::optional<Lines> lines =
        _request("GetBuildList", url, {{"op", "builds"}, {"sn", _serial_text(serial)}});
    if (!lines)
        return false;
    for (size_t i = 1; i < lines->size(); i++) {
        const std::string& line = (*lines)[i];
        if (line.size() < SHORTEST_BUILD_LINE)
            continue;
        Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetBuildList", line.c_str());
        std::vector<std::string> fields = _split(line, ";\r\n");
        std::string version = fields.size() > 1 ? fields[1] : std::string();
        builds.emplace(fields[0], version);
        Log::log(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", "GetBuildList", fields[0].c_str(), version.c_str());
    }
    return true;
}

bool UpdateServerRequest::GetRecoveryInfo(const Fingerprint& fingerprint, uint32_t& serial, uint32_t& build,
                                          const std::string& url) {
    std::optional<Lines> lines = _request(
        "GetRecoveryInfo", url, {{"brief", "true"}, {"fp", _fingerprint_text(fingerprint)}, {"op", "fix"}});
    if (!lines)
        return false;
    auto line = [&](size_t i) { return i < lines->size() ? (*lines)[i].c_str() : ""; };
    Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", "GetRecoveryInfo", line(0), line(1), line(2));
    if (lines->size() > 1)
        serial = static_cast<uint32_t>(strtoul(line(1), nullptr, 16));
    if (lines->size() > 2)
        build = static_cast<uint32_t>(strtoul(line(2), nullptr, 0));
    return true;
}

bool UpdateServerRequest::GetDeviceJWT(uint32_t serial, std::string& token, const std::string& url) {
    std::optional<Lines> lines =
        _request("GetDeviceJWT", url, {{"json", "false"}, {"op", "ent_jwt"}, {"sn", _serial_text(serial)}});
    if (!lines || lines->size() < 2 || (*lines)[1].size() < SHORTEST_TOKEN_LINE)
        return false;
    const std::string& line = (*lines)[1];
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetDeviceJWT", line.c_str());
    std::string text = _cut_at_line_end(line);
    size_t first = text.find('.');
    size_t second = first == std::string::npos ? std::string::npos : text.find('.', first + 1);
    if (second == std::string::npos)
        return false;
    size_t lengths[] = {first, second - first - 1, text.size() - second - 1};
    if (std::any_of(std::begin(lengths), std::end(lengths), [](size_t n) { return n < SHORTEST_TOKEN_PART; }))
        return false;
    token = text;
    return true;
}

UpdateServerRequest::SortedBuilds UpdateServerRequest::SortBuildsByVersion(const BuildList& builds) {
    std::vector<SortEntry> entries;
    for (const auto& build : builds)
        entries.push_back({build, _parse_version(build.second)});
    std::stable_sort(entries.begin(), entries.end(), _sortVersion);
    SortedBuilds sorted;
    for (const SortEntry& entry : entries)
        sorted.push_back(entry.build);
    return sorted;
}

std::vector<std::string> UpdateServerRequest::SplitQuorvantaVersion(const std::string& version) {
    std::vector<std::string> parts = _split(version, ".");
    if (parts.size() != 3)
        return {};
    return parts;
}
