#include "RawClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono;

RawClient RawClient::Tcp(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("connect failed");
    }
    return RawClient(fd);
}

RawClient RawClient::Terminal(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + path);
    }
    return RawClient(fd);
}

RawClient::RawClient(RawClient&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

RawClient::~RawClient() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void RawClient::Send(const std::vector<uint8_t>& bytes) {
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("short write");
    }
}

std::vector<uint8_t> RawClient::Read(size_t count, milliseconds time) {
    std::vector<uint8_t> got;
    auto deadline = steady_clock::now() + time;
    while (got.size() < count) {
        auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd target{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&target, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        uint8_t buffer[256];
        ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

std::vector<uint8_t> RawClient::ReadQuiet(milliseconds quiet) {
    std::vector<uint8_t> got;
    for (;;) {
        auto more = Read(256, quiet);
        if (more.empty()) {
            return got;
        }
        got.insert(got.end(), more.begin(), more.end());
    }
}

bool RawClient::SeesHangUp(milliseconds time) {
    auto deadline = steady_clock::now() + time;
    while (steady_clock::now() < deadline) {
        pollfd target{fd_, POLLIN, 0};
        auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (::poll(&target, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        if (target.revents & (POLLHUP | POLLERR)) {
            return true;
        }
        uint8_t byte;
        ssize_t n = ::read(fd_, &byte, 1);
        if (n == 0 || (n < 0 && errno != EAGAIN)) {
            return true;
        }
    }
    return false;
}
