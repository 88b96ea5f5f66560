#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The host end of a simulator connection in its plainest form: a descriptor, write and read.
class RawClient {
public:
    static RawClient Tcp(uint16_t port);
    // Opens a terminal the way a host opens a device node: plain open, no settings of its own.
    static RawClient Terminal(const std::string& path);

    RawClient(RawClient&& other) noexcept;
    ~RawClient();

    int Fd() const { return fd_; }
    void Send(const std::vector<uint8_t>& bytes);
    // Reads until count bytes came or the time ran out; returns what came.
    std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds time = std::chrono::milliseconds(1000));
    // Reads everything that arrives until the line stays quiet for `quiet`.
    std::vector<uint8_t> ReadQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(150));
    // True when the peer closed or reset the connection within the time.
    bool SeesHangUp(std::chrono::milliseconds time = std::chrono::milliseconds(1000));

private:
    explicit RawClient(int fd) : fd_(fd) {}
    int fd_;
};
