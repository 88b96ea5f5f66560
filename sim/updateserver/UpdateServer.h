#ifndef QV_UPDATESERVER_UPDATESERVER_H
#define QV_UPDATESERVER_UPDATESERVER_H

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A local update server on 127.0.0.1: answers GET /cgi/u?op=... (hi, qu, bird, builds, fix, ent_jwt)
// from a directory of BIRD files (see BuildCatalogue.h for the layout and file formats) and can be told
// to misbehave per operation. Runs on its own threads between Start() and Stop().
class UpdateServer {
public:
    enum class Fault {
        NONE,
        STATUS_404, // "404" : status 404 with a short body
        STATUS_500, // "500" : status 500 with a short body
        NOT_OK,     // "notok": status 200, first line not "ok"
        EMPTY,      // "empty": status 200, no body
        MALFORMED,  // "malformed": status 200, "ok" and then lines the operation's reader cannot use
        HANG,       // "hang": accepts the request and never answers (until Stop)
    };

    struct Options {
        std::string root;            // ROOT/<SERIAL>/<BUILD>.bird
        std::string fingerprintFile; // empty: no device is known by fingerprint
        std::string tokenFile;       // empty: no device has a token
        std::string logFile;         // empty: requests are only kept in memory (Requests())
        uint16_t port = 0;           // 0: any free port, see Port()
        std::string certificateFile; // both set: serve https
        std::string privateKeyFile;
        std::map<std::string, Fault> faults; // by op name; "*" for every op
    };

    static const char* const PATH; // "/cgi/u"

    explicit UpdateServer(Options options);
    ~UpdateServer(); // stops the server
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    // Listens and answers; throws std::runtime_error when it cannot.
    void Start();
    // Releases hanging requests and waits for the server's threads.
    void Stop();
    uint16_t Port() const;
    // "http://127.0.0.1:PORT/cgi/u" (https with a certificate).
    std::string Url() const;

    // Both replace the answer of op ("*" for every op) until changed again; NONE restores the real one.
    void SetFault(const std::string& op, Fault fault);
    void SetAnswer(const std::string& op, int status, const std::string& body);
    // The requests received so far as logged: "GET <path>?<query>" exactly as sent.
    std::vector<std::string> Requests() const;

    // "404", "500", "notok", "empty", "malformed", "hang" or "none".
    static std::optional<Fault> ParseFault(const std::string& name);

private:
    struct Implementation;
    std::unique_ptr<Implementation> implementation;
};

#endif
