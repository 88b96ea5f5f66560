#ifndef QV_TESTS_LOOPBACKPEER_H
#define QV_TESTS_LOOPBACKPEER_H

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A TCP listener on 127.0.0.1 that plays a device byte by byte.
class LoopbackPeer {
public:
    LoopbackPeer() {
        listening = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(listening, 4);
        socklen_t size = sizeof(address);
        getsockname(listening, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~LoopbackPeer() {
        closePeer();
        close(listening);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    void accept() { peer = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC); }
    void closePeer() {
        if (peer >= 0)
            close(peer);
        peer = -1;
    }
    bool send(const std::string& bytes) const {
        return ::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    // The next count bytes, or fewer when they do not come within a few seconds.
    std::string receive(size_t count) {
        std::string got;
        while (got.size() < count && (!pending.empty() || wait()))
            got += take(count - got.size());
        return got;
    }
    // Bytes up to and including the first occurrence of the pattern; empty when it does not come.
    std::string receiveThrough(const std::string& pattern) {
        while (pending.find(pattern) == std::string::npos && wait())
            pending += takeFromSocket(4096);
        size_t at = pending.find(pattern);
        if (at == std::string::npos)
            return "";
        std::string through = pending.substr(0, at + pattern.size());
        pending.erase(0, at + pattern.size());
        return through;
    }

    int listening = -1;
    int peer = -1;
    uint16_t port = 0;

private:
    bool wait() const {
        pollfd waiting{peer, POLLIN, 0};
        return poll(&waiting, 1, 3000) > 0;
    }
    std::string take(size_t most) {
        if (!pending.empty()) {
            std::string head = pending.substr(0, most);
            pending.erase(0, head.size());
            return head;
        }
        return takeFromSocket(most);
    }
    std::string takeFromSocket(size_t most) {
        char buffer[4096];
        ssize_t n = recv(peer, buffer, std::min(sizeof(buffer), most), 0);
        return n > 0 ? std::string(buffer, size_t(n)) : std::string();
    }

    std::string pending;
};

#endif
