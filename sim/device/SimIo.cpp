#include "SimIo.h"

#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qvsim {

SimFd& SimFd::operator=(SimFd&& other) noexcept {
    Reset(other.Release());
    return *this;
}

int SimFd::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void SimFd::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

SimEvent::SimEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_.Get() < 0) {
        throw std::runtime_error("eventfd failed");
    }
}

void SimEvent::Signal() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(fd_.Get(), &one, sizeof one);
}

void SimEvent::Clear() {
    uint64_t value;
    [[maybe_unused]] ssize_t got = ::read(fd_.Get(), &value, sizeof value);
}

bool SimIo_WriteAll(int fd, SimFdKind kind, const uint8_t* bytes, size_t count,
                    std::chrono::milliseconds wait) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (count > 0) {
        ssize_t written =
            kind == SimFdKind::Socket ? ::send(fd, bytes, count, MSG_NOSIGNAL) : ::write(fd, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN) {
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd target{fd, POLLOUT, 0};
        ::poll(&target, 1, static_cast<int>(left.count()));
    }
    return true;
}

bool SimIo_WaitReadable(int fd, const SimEvent& event) {
    pollfd targets[2] = {{fd, POLLIN, 0}, {event.Fd(), POLLIN, 0}};
    while (::poll(targets, 2, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return targets[1].revents == 0 && targets[0].revents != 0;
}

} // namespace qvsim
