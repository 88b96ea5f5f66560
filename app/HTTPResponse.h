#ifndef UPDATER_HTTPRESPONSE_H
#define UPDATER_HTTPRESPONSE_H

#include <cstddef>
#include <cstdint>
#include <string>

// The answer to one GET: the URL that was asked for, the HTTP status and the body as received.
class HTTPResponse {
public:
    explicit HTTPResponse(std::string request) : request(std::move(request)) {}

    const std::string& get_request() const { return request; }
    int64_t get_status() const { return status; }
    const std::string& get_response() const { return response; }
    void set_status(int64_t code) { status = code; }
    void process(const char* data, size_t length) { response.append(data, length); }

private:
    std::string request;
    int64_t status = 0;
    std::string response;
};

#endif
