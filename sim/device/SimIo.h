#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qvsim {

constexpr std::chrono::milliseconds WRITE_WAIT{1000};

// Owns one descriptor and closes it.
class SimFd {
public:
    SimFd() = default;
    explicit SimFd(int fd) : fd_(fd) {}
    ~SimFd() { Reset(); }
    SimFd(SimFd&& other) noexcept : fd_(other.Release()) {}
    SimFd& operator=(SimFd&& other) noexcept;
    int Get() const { return fd_; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A level-triggered wake-up for poll: once signalled it stays readable.
class SimEvent {
public:
    SimEvent();
    int Fd() const { return fd_.Get(); }
    void Signal();
    void Clear();

private:
    SimFd fd_;
};

enum class SimFdKind { Socket, Terminal };

// Writes every byte to a non-blocking descriptor, waiting at most `wait` in total for room.
// Sockets are written without SIGPIPE, so a host that went away only fails the write.
bool SimIo_WriteAll(int fd, SimFdKind kind, const uint8_t* bytes, size_t count,
                    std::chrono::milliseconds wait = WRITE_WAIT);

// Waits for input on fd or for the event; true when fd is readable (or hung up).
bool SimIo_WaitReadable(int fd, const SimEvent& event);

} // namespace qvsim
