#include "SimPty.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace qvsim {

namespace {

constexpr size_t READ_CHUNK = 512;

} // namespace

SimPty::SimPty(SimDevice& device, std::string linkPath) : device_(device), linkPath_(std::move(linkPath)) {
    Open();
    thread_ = std::thread([this] { Serve(); });
}

SimPty::~SimPty() {
    Stop();
}

void SimPty::Open() {
    int master = -1;
    int slave = -1;
    char name[PATH_MAX];
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    master_.Reset(master);
    slave_.Reset(slave);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    if (::tcsetattr(slave, TCSANOW, &raw) != 0) {
        throw std::runtime_error("cannot make the terminal raw");
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    if (!linkPath_.empty()) {
        // A new link renamed over the old one, so the path never dangles while it moves.
        std::string temporary = linkPath_ + ".new";
        ::unlink(temporary.c_str());
        if (::symlink(name, temporary.c_str()) != 0 || ::rename(temporary.c_str(), linkPath_.c_str()) != 0) {
            throw std::runtime_error("cannot link " + linkPath_ + " to " + name);
        }
    }
    std::lock_guard lock(pathMutex_);
    slavePath_ = name;
}

std::string SimPty::SlavePath() const {
    std::lock_guard lock(pathMutex_);
    return slavePath_;
}

void SimPty::Serve() {
    for (;;) {
        {
            SimConnection connection(device_, *this);
            Pump(connection);
        }
        pollfd stop{stop_.Fd(), POLLIN, 0};
        if (::poll(&stop, 1, 0) != 0) {
            return;
        }
        drop_.Clear();
        try {
            Open();
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "qvsim: %s\n", error.what());
            return;
        }
    }
}

void SimPty::Pump(SimConnection& connection) {
    {
        std::lock_guard lock(connectionMutex_);
        connection_ = &connection;
    }
    uint8_t buffer[READ_CHUNK];
    for (;;) {
        pollfd targets[3] = {{master_.Get(), POLLIN, 0}, {stop_.Fd(), POLLIN, 0}, {drop_.Fd(), POLLIN, 0}};
        if (::poll(targets, 3, -1) < 0 && errno != EINTR) {
            break;
        }
        if (targets[1].revents != 0 || targets[2].revents != 0 || connection.IsClosed()) {
            break;
        }
        ssize_t got = ::read(master_.Get(), buffer, sizeof buffer);
        if (got > 0) {
            connection.Receive(buffer, static_cast<size_t>(got));
        } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    std::lock_guard lock(connectionMutex_);
    connection_ = nullptr;
}

bool SimPty::Write(const uint8_t* bytes, size_t count) {
    return SimIo_WriteAll(master_.Get(), SimFdKind::Terminal, bytes, count);
}

void SimPty::Drop() {
    drop_.Signal();
}

void SimPty::Stop() {
    stop_.Signal();
    {
        std::lock_guard lock(connectionMutex_);
        if (connection_) {
            connection_->Close();
        }
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    master_.Reset();
    slave_.Reset();
    if (!linkPath_.empty()) {
        ::unlink(linkPath_.c_str());
    }
}

} // namespace qvsim
