#include "ServedCatalogue.h"

#include "BirdWriter.h"

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string REQUEST_PREFIX = "GET /cgi/u?";

} // namespace

ServedCatalogue::ServedCatalogue() {
    std::filesystem::create_directories(files / ("builds/" + std::string(DEVICE_TEXT)));
    for (auto [build, version] : {std::pair{4567u, "1.2.3"}, {4590u, "1.9.0"}, {4600u, "1.10.0"}})
        BirdWriter::WriteBytes(BuildFile(build), BuildBytes(build, version));
    WriteWholeFile(files / "tokens", std::string(DEVICE_TEXT) + " " + TOKEN + "\n");
    WriteWholeFile(files / "fingerprints", std::string("1 2 3 4 ") + DEVICE_TEXT + " 4567\n");

    UpdateServer::Options options;
    options.root = files / "builds";
    options.tokenFile = files / "tokens";
    options.fingerprintFile = files / "fingerprints";
    server = std::make_unique<UpdateServer>(options);
    server->Start();
}

std::string ServedCatalogue::BuildFile(uint32_t build) const {
    return files / ("builds/" + std::string(DEVICE_TEXT) + "/" + std::to_string(build) + ".bird");
}

std::vector<uint8_t> ServedCatalogue::BuildBytes(uint32_t build, const std::string& version) {
    return BirdWriter()
        .AddInfo(build, version, DEVICE, "Hub4")
        .AddCode(BirdWriter::TYPE_FIRMWARE, 0x1000, BirdWriter::PatternImage(256, build))
        .Bytes();
}

std::string PingRequest() {
    return REQUEST_PREFIX + "op=hi&rv=2&";
}

std::string QueryBuildRequest(const std::string& serial) {
    return REQUEST_PREFIX + "op=qu&sn=" + serial + "&";
}

std::string BuildListRequest(const std::string& serial) {
    return REQUEST_PREFIX + "op=builds&sn=" + serial + "&";
}

std::string BirdRequest(const std::string& serial, uint32_t build) {
    return REQUEST_PREFIX + "bld=" + std::to_string(build) +
           "&fw=quorvanta&no_cal=false&op=bird&sn=" + serial + "&";
}

std::string TokenRequest(const std::string& serial) {
    return REQUEST_PREFIX + "json=false&op=ent_jwt&sn=" + serial + "&";
}

// Bound but never listening: connections are refused, and no one else can take the port meanwhile.
RefusingPort::RefusingPort() : socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (socket < 0 || bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot reserve a loopback port");
    port = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
    close(socket);
}

std::string RefusingPort::Url() const {
    return "http://127.0.0.1:" + std::to_string(port) + "/cgi/u";
}
