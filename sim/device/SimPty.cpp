#include "SimPty.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qvsim {

namespace {

constexpr size_t READ_CHUNK = 512;
// A hang-up discards what the host has not read yet, so replies sent before a disconnect get this
// long to be read. The terminal offers nothing to wait on for that, hence the polling; and bytes
// written to the master reach the slave's input queue a moment later, hence the settling time.
constexpr std::chrono::milliseconds DRAIN_WAIT{500};
constexpr std::chrono::milliseconds DRAIN_SETTLE{20};
constexpr std::chrono::milliseconds DRAIN_POLL{5};

} // namespace

SimPty::SimPty(SimDevice& device, std::string linkPath) : device_(device), linkPath_(std::move(linkPath)) {
    Open();
    // Connected before the constructor returns, so faults switched on at once find the connection.
    connection_ = std::make_unique<SimConnection>(device_, *this);
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
    SimFd newMaster(master);
    SimFd newSlave(slave);
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
    // The old terminal hangs up only now, when a host that notices can open the new one at once.
    master_ = std::move(newMaster);
    slave_ = std::move(newSlave);
    std::lock_guard lock(pathMutex_);
    slavePath_ = name;
}

void SimPty::AwaitHostRead() const {
    auto deadline = std::chrono::steady_clock::now() + DRAIN_WAIT;
    std::this_thread::sleep_for(DRAIN_SETTLE);
    int unread = 0;
    while (::ioctl(slave_.Get(), FIONREAD, &unread) == 0 && unread > 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(DRAIN_POLL);
    }
}

std::string SimPty::SlavePath() const {
    std::lock_guard lock(pathMutex_);
    return slavePath_;
}

void SimPty::Serve() {
    for (;;) {
        Pump(*connection_);
        {
            std::lock_guard lock(connectionMutex_);
            connection_.reset();
        }
        pollfd stop{stop_.Fd(), POLLIN, 0};
        if (::poll(&stop, 1, 0) != 0) {
            return;
        }
        AwaitHostRead();
        drop_.Clear();
        try {
            Open();
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "qvsim: %s\n", error.what());
            return;
        }
        std::lock_guard lock(connectionMutex_);
        connection_ = std::make_unique<SimConnection>(device_, *this);
    }
}

void SimPty::Pump(SimConnection& connection) {
    uint8_t buffer[READ_CHUNK];
    for (;;) {
        pollfd targets[3] = {{master_.Get(), POLLIN, 0}, {stop_.Fd(), POLLIN, 0}, {drop_.Fd(), POLLIN, 0}};
        if (::poll(targets, 3, -1) < 0 && errno != EINTR) {
            return;
        }
        if (targets[1].revents != 0 || targets[2].revents != 0 || connection.IsClosed()) {
            return;
        }
        ssize_t got = ::read(master_.Get(), buffer, sizeof buffer);
        if (got > 0) {
            connection.Receive(buffer, static_cast<size_t>(got));
        } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
    }
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
