#include "SimTcpServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qvsim {

namespace {

constexpr size_t READ_CHUNK = 512;

} // namespace

// One host connection: the wire the device writes to and the thread that reads from it.
class SimTcpServer::Client : public SimWire {
public:
    Client(SimDevice& device, int fd, const SimEvent& stop) : fd_(fd) {
        thread_ = std::thread([this, &device, &stop] { Serve(device, stop); });
    }

    ~Client() override {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    bool Write(const uint8_t* bytes, size_t count) override {
        return SimIo_WriteAll(fd_.Get(), SimFdKind::Socket, bytes, count);
    }

    // The host sees a reset, as from a device that lost power: lingering off makes the close in
    // the serving thread send it, and shutting the read side wakes that thread.
    void Drop() override {
        linger off{1, 0};
        ::setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &off, sizeof off);
        ::shutdown(fd_.Get(), SHUT_RD);
    }

    // Interrupts a delayed reply so the serving thread sees the stop at once.
    void Interrupt() {
        std::lock_guard lock(connectionMutex_);
        if (connection_) {
            connection_->Close();
        }
    }

    bool Done() const { return done_; }

private:
    void Serve(SimDevice& device, const SimEvent& stop) {
        {
            SimConnection connection(device, *this);
            Pump(connection, stop);
        }
        // Only now, with the connection gone from the device, can no one drop the descriptor.
        fd_.Reset();
        done_ = true;
    }

    void Pump(SimConnection& connection, const SimEvent& stop) {
        {
            std::lock_guard lock(connectionMutex_);
            connection_ = &connection;
        }
        uint8_t buffer[READ_CHUNK];
        while (!connection.IsClosed() && SimIo_WaitReadable(fd_.Get(), stop)) {
            ssize_t got = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                break;
            }
            if (got > 0) {
                connection.Receive(buffer, static_cast<size_t>(got));
            }
        }
        std::lock_guard lock(connectionMutex_);
        connection_ = nullptr;
    }

    SimFd fd_;
    std::thread thread_;
    std::mutex connectionMutex_;
    SimConnection* connection_ = nullptr;
    std::atomic<bool> done_{false};
};

SimTcpServer::SimTcpServer(SimDevice& device, uint16_t port, const std::string& address) : device_(device) {
    listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (listener_.Get() < 0) {
        throw std::runtime_error("socket failed");
    }
    int on = 1;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(listener_.Get(), 8) != 0) {
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port));
    }
    socklen_t length = sizeof local;
    ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

SimTcpServer::~SimTcpServer() {
    Stop();
}

void SimTcpServer::AcceptLoop() {
    while (SimIo_WaitReadable(listener_.Get(), stop_)) {
        int fd = ::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        Reap();
        if (fd < 0) {
            continue;
        }
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard lock(clientsMutex_);
        clients_.push_back(std::make_unique<Client>(device_, fd, stop_));
    }
}

void SimTcpServer::Reap() {
    std::lock_guard lock(clientsMutex_);
    clients_.remove_if([](const std::unique_ptr<Client>& client) { return client->Done(); });
}

void SimTcpServer::Stop() {
    stop_.Signal();
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::lock_guard lock(clientsMutex_);
    for (auto& client : clients_) {
        client->Interrupt();
    }
    clients_.clear();
    listener_.Reset();
}

} // namespace qvsim
