#include "HTTPRequest.h"

#include "Log.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace {

constexpr size_t LOGGED_DATA_LENGTH = 100;

// Read by the download thread as well as the calling thread.
std::mutex limitsMutex;
HTTPRequest::Limits limits = HTTPRequest::DEFAULT_LIMITS;

size_t _rcv_data(char* data, size_t size, size_t count, void* user) {
    auto* response = static_cast<HTTPResponse*>(user);
    size_t length = size * count;
    // The received bytes carry no terminating zero, so the precision never exceeds their count.
    int shown = static_cast<int>(std::min(length, LOGGED_DATA_LENGTH));
    Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.*s]\n", static_cast<int>(size),
             static_cast<int>(count), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(response)), shown,
             data);
    response->process(data, length);
    Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(length));
    return length;
}

std::string _request_text(const std::string& url, const std::map<std::string, std::string>& parameters) {
    std::string text = url;
    if (!parameters.empty()) {
        text += "?";
        for (const auto& [key, value] : parameters)
            text += key + "=" + value + "&";
    }
    return text;
}

CURLcode _set_options(CURL* curl, HTTPResponse& response) {
    HTTPRequest::Limits current = HTTPRequest::GetLimits();
    CURLcode result = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK)
            result = curl_easy_setopt(curl, option, value);
    };
    set(CURLOPT_WRITEFUNCTION, _rcv_data);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&response));
    set(CURLOPT_URL, response.get_request().c_str());
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYSTATUS, 0L);
    // Time-outs must not raise signals: downloads run on a second thread.
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, current.connectTimeoutMs);
    set(CURLOPT_LOW_SPEED_LIMIT, current.lowSpeedBytesPerSecond);
    set(CURLOPT_LOW_SPEED_TIME, current.lowSpeedTimeSeconds);
    return result;
}

} // namespace

HTTPResponse HTTPRequest::GET(const std::string& url, const std::map<std::string, std::string>& parameters) {
    CURL* curl = curl_easy_init();
    HTTPResponse response(_request_text(url, parameters));
    if (curl == nullptr)
        throw std::runtime_error("Could not create curl instance");

    CURLcode result = _set_options(curl, response);
    long status = 0;
    if (result == CURLE_OK) {
        Log::log(DEBUG_ServerComm, "GET(%s)\n", response.get_request().c_str());
        result = curl_easy_perform(curl);
    }
    if (result == CURLE_OK)
        result = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK)
        throw std::runtime_error(curl_easy_strerror(result));
    response.set_status(status);
    return response;
}

void HTTPRequest::SetLimits(const Limits& value) {
    std::lock_guard<std::mutex> lock(limitsMutex);
    limits = value;
}

HTTPRequest::Limits HTTPRequest::GetLimits() {
    std::lock_guard<std::mutex> lock(limitsMutex);
    return limits;
}
