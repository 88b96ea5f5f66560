#include "UpdateServer.h"

#include "BuildCatalogue.h"
#include "ServerAnswers.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>

const char* const UpdateServer::PATH = "/cgi/u";

namespace {

const char* const HOST = "127.0.0.1";
const char* const CONTENT_TYPE = "text/plain";
constexpr auto START_TIMEOUT = std::chrono::seconds(5);
constexpr auto START_POLL = std::chrono::milliseconds(1);
constexpr time_t KEEP_ALIVE_SECONDS = 1;

const std::map<std::string, UpdateServer::Fault> FAULT_NAMES = {
    {"none", UpdateServer::Fault::NONE},      {"404", UpdateServer::Fault::STATUS_404},
    {"500", UpdateServer::Fault::STATUS_500}, {"notok", UpdateServer::Fault::NOT_OK},
    {"empty", UpdateServer::Fault::EMPTY},    {"malformed", UpdateServer::Fault::MALFORMED},
    {"hang", UpdateServer::Fault::HANG},
};

// "ok" followed by lines that each operation's reader has to turn down or cannot make sense of.
const std::map<std::string, std::string> MALFORMED_ANSWERS = {
    {"hi", "ok\n\x01\x02\x03\n"},          {"qu", "ok\nnot-a-build\n"},
    {"bird", "ok\n!!!!not*base64!!!!\n"},  {"builds", "ok\n;\nno-version-here\n"},
    {"fix", "ok\nnot-hex\nnot-a-build\n"}, {"ent_jwt", "ok\na.b.c\n"},
};
const char* const MALFORMED_ANSWER = "ok\n\x01\x02\x03\n";

// A replacement for the real answer of an operation: a fault, or with fault NONE a fixed answer.
struct Override {
    UpdateServer::Fault fault;
    ServerAnswer answer;
};

ServerAnswer _fault_answer(const std::string& op, UpdateServer::Fault fault) {
    switch (fault) {
    case UpdateServer::Fault::STATUS_404:
        return {404, "error: not found\n"};
    case UpdateServer::Fault::STATUS_500:
        return {500, "error: internal error\n"};
    case UpdateServer::Fault::NOT_OK:
        return {200, "error: refused\n"};
    case UpdateServer::Fault::MALFORMED:
        return {200, MALFORMED_ANSWERS.count(op) ? MALFORMED_ANSWERS.at(op) : MALFORMED_ANSWER};
    case UpdateServer::Fault::EMPTY:
    case UpdateServer::Fault::HANG:
    case UpdateServer::Fault::NONE:
        break;
    }
    return {200, ""};
}

std::map<std::string, std::string> _first_values(const httplib::Params& parameters) {
    std::map<std::string, std::string> values;
    for (const auto& [key, value] : parameters)
        values.emplace(key, value);
    return values;
}

} // namespace

struct UpdateServer::Implementation {
    explicit Implementation(Options options)
        : options(std::move(options)),
          catalogue(this->options.root, this->options.fingerprintFile, this->options.tokenFile) {
        for (const auto& [op, fault] : this->options.faults)
            SetFault(op, fault);
    }

    void Answer(const httplib::Request& request, httplib::Response& response);
    void SetFault(const std::string& op, Fault fault);
    std::optional<Override> OverrideFor(const std::string& op) const;
    void Record(const std::string& line);
    void WaitForStop();

    Options options;
    BuildCatalogue catalogue;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    uint16_t port = 0;

    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::map<std::string, Override> overrides;
    std::vector<std::string> requests;
    FILE* log = nullptr;
};

void UpdateServer::Implementation::SetFault(const std::string& op, Fault fault) {
    std::lock_guard<std::mutex> lock(mutex);
    if (fault == Fault::NONE)
        overrides.erase(op);
    else
        overrides[op] = {fault, {}};
}

std::optional<Override> UpdateServer::Implementation::OverrideFor(const std::string& op) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = overrides.find(op);
    if (found == overrides.end())
        found = overrides.find("*");
    if (found == overrides.end())
        return std::nullopt;
    return found->second;
}

void UpdateServer::Implementation::Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(line);
    if (log != nullptr) {
        fprintf(log, "%s\n", line.c_str());
        fflush(log);
    }
}

void UpdateServer::Implementation::WaitForStop() {
    std::unique_lock<std::mutex> lock(mutex);
    stopped.wait(lock, [this] { return stopping; });
}

void UpdateServer::Implementation::Answer(const httplib::Request& request, httplib::Response& response) {
    Record(request.method + " " + request.target);
    std::map<std::string, std::string> parameters = _first_values(request.params);
    std::string op = parameters.count("op") ? parameters["op"] : std::string();
    std::optional<Override> replacement = OverrideFor(op);
    if (replacement && replacement->fault == Fault::HANG) {
        WaitForStop();
        return;
    }
    ServerAnswer answer = !replacement                        ? AnswerQuery(catalogue, parameters)
                          : replacement->fault == Fault::NONE ? replacement->answer
                                                              : _fault_answer(op, replacement->fault);
    response.status = answer.status;
    response.set_content(answer.body, CONTENT_TYPE);
}

UpdateServer::UpdateServer(Options options)
    : implementation(std::make_unique<Implementation>(std::move(options))) {}

UpdateServer::~UpdateServer() {
    Stop();
}

void UpdateServer::Start() {
    Implementation& self = *implementation;
    if (self.server)
        throw std::runtime_error("update server already started");
    const Options& options = self.options;
    if (!options.certificateFile.empty() || !options.privateKeyFile.empty())
        self.server = std::make_unique<httplib::SSLServer>(options.certificateFile.c_str(),
                                                           options.privateKeyFile.c_str());
    else
        self.server = std::make_unique<httplib::Server>();
    if (!self.server->is_valid())
        throw std::runtime_error("cannot use certificate " + options.certificateFile + " with key " +
                                 options.privateKeyFile);
    if (!options.logFile.empty()) {
        self.log = fopen(options.logFile.c_str(), "a");
        if (self.log == nullptr)
            throw std::runtime_error("cannot open request log " + options.logFile);
    }
    self.stopping = false;
    self.server->set_keep_alive_timeout(KEEP_ALIVE_SECONDS);
    self.server->Get(PATH, [&self](const httplib::Request& request, httplib::Response& response) {
        self.Answer(request, response);
    });

    bool bound = false;
    if (options.port == 0) {
        int port = self.server->bind_to_any_port(HOST);
        bound = port > 0;
        self.port = static_cast<uint16_t>(port);
    } else {
        bound = self.server->bind_to_port(HOST, options.port);
        self.port = options.port;
    }
    if (!bound) {
        Stop();
        throw std::runtime_error("cannot listen on " + std::string(HOST) + ":" +
                                 std::to_string(options.port));
    }
    self.thread = std::thread([&self] { self.server->listen_after_bind(); });
    // stop() is only heard once the accept loop runs, so Start returns no earlier than that.
    auto deadline = std::chrono::steady_clock::now() + START_TIMEOUT;
    while (!self.server->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(START_POLL);
    if (!self.server->is_running()) {
        Stop();
        throw std::runtime_error("update server did not start");
    }
}

void UpdateServer::Stop() {
    Implementation& self = *implementation;
    {
        std::lock_guard<std::mutex> lock(self.mutex);
        self.stopping = true;
    }
    self.stopped.notify_all();
    if (self.server)
        self.server->stop();
    if (self.thread.joinable())
        self.thread.join();
    self.server.reset();
    if (self.log != nullptr) {
        fclose(self.log);
        self.log = nullptr;
    }
}

uint16_t UpdateServer::Port() const {
    return implementation->port;
}

std::string UpdateServer::Url() const {
    bool secure = !implementation->options.certificateFile.empty();
    return std::string(secure ? "https" : "http") + "://" + HOST + ":" + std::to_string(Port()) + PATH;
}

void UpdateServer::SetFault(const std::string& op, Fault fault) {
    implementation->SetFault(op, fault);
}

void UpdateServer::SetAnswer(const std::string& op, int status, const std::string& body) {
    std::lock_guard<std::mutex> lock(implementation->mutex);
    implementation->overrides[op] = {Fault::NONE, {status, body}};
}

std::vector<std::string> UpdateServer::Requests() const {
    std::lock_guard<std::mutex> lock(implementation->mutex);
    return implementation->requests;
}

std::optional<UpdateServer::Fault> UpdateServer::ParseFault(const std::string& name) {
    auto found = FAULT_NAMES.find(name);
    if (found == FAULT_NAMES.end())
        return std::nullopt;
    return found->second;
}
