// qv-update-server: serves a directory of BIRD files to the updater over the update server protocol.
#include "UpdateServer.h"

#include <getopt.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

const char* const USAGE =
    "Usage: qv-update-server --root DIR [options]\n"
    "  --root DIR            BIRD files as DIR/<SERIAL>/<BUILD>.bird (SERIAL: eight uppercase hex digits)\n"
    "  --port N              port on 127.0.0.1 (default 0: any free port)\n"
    "  --port-file FILE      write the port to FILE once the server listens\n"
    "  --log FILE            append one line per request: GET <path>?<query>\n"
    "  --fingerprints FILE   recovery map, lines: W0 W1 W2 W3 SERIAL [BUILD]\n"
    "  --tokens FILE         feature tokens, lines: SERIAL TOKEN\n"
    "  --fail OP=KIND        misbehave for OP (hi, qu, bird, builds, fix, ent_jwt or *);\n"
    "                        KIND: 404, 500, notok, empty, malformed, hang, none\n"
    "  --cert FILE --key FILE  serve https with this certificate and private key\n";

[[noreturn]] void _usage_error(const std::string& message) {
    fprintf(stderr, "qv-update-server: %s\n%s", message.c_str(), USAGE);
    exit(2);
}

void _add_fault(UpdateServer::Options& options, const std::string& text) {
    size_t equals = text.find('=');
    std::optional<UpdateServer::Fault> fault =
        equals == std::string::npos ? std::nullopt : UpdateServer::ParseFault(text.substr(equals + 1));
    if (!fault)
        _usage_error("--fail wants OP=KIND, not '" + text + "'");
    options.faults[text.substr(0, equals)] = *fault;
}

uint16_t _parse_port(const char* text) {
    char* end = nullptr;
    unsigned long port = strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || port > 65535)
        _usage_error(std::string("bad port '") + text + "'");
    return static_cast<uint16_t>(port);
}

// Written under a temporary name and renamed, so a reader never sees half a number.
void _write_port_file(const std::string& path, uint16_t port) {
    std::string temporary = path + ".tmp";
    std::ofstream(temporary) << port << "\n";
    std::filesystem::rename(temporary, path);
}

} // namespace

int main(int argc, char** argv) {
    enum { ROOT = 1, PORT, PORT_FILE, LOG, FINGERPRINTS, TOKENS, FAIL, CERT, KEY, HELP };
    const option longOptions[] = {
        {"root", required_argument, nullptr, ROOT},
        {"port", required_argument, nullptr, PORT},
        {"port-file", required_argument, nullptr, PORT_FILE},
        {"log", required_argument, nullptr, LOG},
        {"fingerprints", required_argument, nullptr, FINGERPRINTS},
        {"tokens", required_argument, nullptr, TOKENS},
        {"fail", required_argument, nullptr, FAIL},
        {"cert", required_argument, nullptr, CERT},
        {"key", required_argument, nullptr, KEY},
        {"help", no_argument, nullptr, HELP},
        {nullptr, 0, nullptr, 0},
    };
    UpdateServer::Options options;
    std::string portFile;
    for (int c; (c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1;) {
        switch (c) {
        case ROOT:
            options.root = optarg;
            break;
        case PORT:
            options.port = _parse_port(optarg);
            break;
        case PORT_FILE:
            portFile = optarg;
            break;
        case LOG:
            options.logFile = optarg;
            break;
        case FINGERPRINTS:
            options.fingerprintFile = optarg;
            break;
        case TOKENS:
            options.tokenFile = optarg;
            break;
        case FAIL:
            _add_fault(options, optarg);
            break;
        case CERT:
            options.certificateFile = optarg;
            break;
        case KEY:
            options.privateKeyFile = optarg;
            break;
        case HELP:
            fputs(USAGE, stdout);
            return 0;
        default:
            _usage_error("unknown option");
        }
    }
    if (optind != argc)
        _usage_error(std::string("unexpected argument '") + argv[optind] + "'");
    if (options.root.empty())
        _usage_error("--root is required");
    if (options.certificateFile.empty() != options.privateKeyFile.empty())
        _usage_error("--cert and --key go together");

    // Blocked before the server's threads exist, so only sigwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    UpdateServer server(options);
    try {
        server.Start();
        if (!portFile.empty())
            _write_port_file(portFile, server.Port());
    } catch (const std::exception& e) {
        fprintf(stderr, "qv-update-server: %s\n", e.what());
        return 1;
    }
    printf("qv-update-server: serving %s at %s\n", options.root.c_str(), server.Url().c_str());
    fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
    return 0;
}
