#include "HTTPRequest.h"
#include "ServerTestSupport.h"
#include "UpdateServerRequest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class HTTPRequestTest : public ServerTest {};

TEST_F(HTTPRequestTest, SendsParametersUnencodedInKeyOrderAndReturnsStatusAndBody) {
    StartServer();
    HTTPResponse bare = HTTPRequest::GET(url, {});
    EXPECT_EQ(bare.get_request(), url);
    EXPECT_EQ(server->Requests().back(), "GET /cgi/u");
    EXPECT_EQ(bare.get_status(), 400);
    EXPECT_EQ(bare.get_response(), "error: unknown op\n");

    HTTPResponse response = HTTPRequest::GET(url, {{"sn", "1A"}, {"op", "hi"}, {"fp", "1%202"}});
    EXPECT_EQ(response.get_request(), url + "?fp=1%202&op=hi&sn=1A&");
    EXPECT_EQ(server->Requests().back(), "GET /cgi/u?fp=1%202&op=hi&sn=1A&");
    EXPECT_EQ(response.get_status(), 200);
    EXPECT_EQ(response.get_response(), "ok\n");
}

TEST_F(HTTPRequestTest, LogsReceivedDataWithoutReadingPastIt) {
    StartServer();
    server->SetAnswer("hi", 200, "ok\n");
    HTTPRequest::GET(url, {{"op", "hi"}});
    std::string log = Logged();
    // Three bytes arrived; the field is padded to 100 columns and holds nothing beyond them.
    EXPECT_NE(log.find(std::string(97, ' ') + "ok\n]\nrcv_data returns 3\n"), std::string::npos) << log;
}

// A listener whose accept queue is full: the kernel drops further connection attempts, so the
// client's connect never completes.
class FullListener {
public:
    FullListener() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 0) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen");
        port = ntohs(address.sin_port);
        for (int& filler : fillers) {
            filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        }
    }
    ~FullListener() {
        for (int filler : fillers)
            close(filler);
        close(listener);
    }
    int listener = -1;
    int fillers[2] = {-1, -1};
    uint16_t port = 0;
};

TEST_F(HTTPRequestTest, ConnectionThatIsNeverAcceptedTimesOut) {
    FullListener full;
    HTTPRequest::SetLimits({500, 1, 1});
    std::string serverUrl = "http://127.0.0.1:" + std::to_string(full.port) + "/cgi/u";
    EXPECT_FALSE(UpdateServerRequest::ping(serverUrl));
    EXPECT_NE(Logged().find("ping ==> [Timeout was reached]\n"), std::string::npos);
}

// A server with a certificate that no authority signed must be refused, while the same server is
// reachable for a client that trusts the certificate.
TEST_F(HTTPRequestTest, HttpsServerWithSelfSignedCertificateIsRefused) {
    options.certificateFile = Path("cert.pem");
    options.privateKeyFile = Path("key.pem");
    std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                          " -addext subjectAltName=IP:127.0.0.1 -keyout " +
                          options.privateKeyFile + " -out " + options.certificateFile + " >/dev/null 2>&1";
    if (system(command.c_str()) != 0)
        GTEST_SKIP() << "the openssl command cannot make a certificate here";
    StartServer();
    ASSERT_EQ(url.rfind("https://", 0), 0u);

    EXPECT_FALSE(UpdateServerRequest::ping(url));
    EXPECT_NE(
        Logged().find("ping ==> [" + std::string(curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION)) + "]\n"),
        std::string::npos);

    CURL* curl = curl_easy_init();
    std::string query = url + "?op=hi&rv=2&";
    curl_easy_setopt(curl, CURLOPT_URL, query.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, options.certificateFile.c_str());
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
    CURLcode trusted = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    EXPECT_EQ(trusted, CURLE_OK) << curl_easy_strerror(trusted);
}

} // namespace
