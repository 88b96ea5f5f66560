// Serves one simulated device over TCP and/or a pseudo-terminal until SIGTERM or SIGINT.

#include "SimDevice.h"
#include "SimDiscoveryResponder.h"
#include "SimEntities.h"
#include "SimPty.h"
#include "SimRouter.h"
#include "SimTcpServer.h"
#include "SimUpgradeOptions.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const USAGE =
    "usage: qv-sim-device [--tcp PORT] [--pty [--link PATH]] [--serial HEX] [--model N]\n"
    "                     [--address N] [--version N] [--build N] [--port-file PATH]\n"
    "                     [--discovery IFADDR]   (with --tcp; only inside a private network namespace)\n"
    "                     [--name TEXT] [--child ADDRESS:HEX:MODEL]...   (children make it a router)\n"
    "                     [--upgrade on|ITEM,...]   (the upgrade entity; see sim/device/README.md)\n";

struct Options {
    qvsim::SimIdentity identity;
    std::optional<uint16_t> tcpPort;
    bool pty = false;
    std::string linkPath;
    std::string portFile;
    std::string discoveryInterface;
    qvsim::SimSystemSettings settings;
    std::vector<qvsim::SimIdentity> children;
    std::optional<qvsim::SimUpgradeOptions> upgrade;
};

unsigned long _number(const std::string& text, int base, unsigned long limit) {
    size_t used = 0;
    unsigned long value = std::stoul(text, &used, base);
    if (used != text.size() || value > limit) {
        throw std::invalid_argument(text);
    }
    return value;
}

// ADDRESS:HEX:MODEL; the child runs the same firmware as the router.
qvsim::SimIdentity _child(const std::string& text, const qvsim::SimIdentity& router) {
    size_t first = text.find(':');
    size_t second = text.find(':', first == std::string::npos ? first : first + 1);
    if (second == std::string::npos) {
        throw std::invalid_argument(text);
    }
    qvsim::SimIdentity child = router;
    child.moduleAddress = static_cast<uint8_t>(_number(text.substr(0, first), 0, 0xFF));
    child.serialNumber =
        static_cast<uint32_t>(_number(text.substr(first + 1, second - first - 1), 16, 0xFFFFFFFF));
    child.model = static_cast<uint8_t>(_number(text.substr(second + 1), 0, 0xFF));
    return child;
}

Options _parse(int argc, char** argv) {
    Options options;
    std::vector<std::string> childTexts;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--pty") {
            options.pty = true;
            continue;
        }
        if (i + 1 >= argc) {
            throw std::invalid_argument(option);
        }
        std::string value = argv[++i];
        if (option == "--tcp") {
            options.tcpPort = static_cast<uint16_t>(_number(value, 10, 0xFFFF));
        } else if (option == "--link") {
            options.linkPath = value;
        } else if (option == "--discovery") {
            options.discoveryInterface = value;
        } else if (option == "--port-file") {
            options.portFile = value;
        } else if (option == "--serial") {
            options.identity.serialNumber = static_cast<uint32_t>(_number(value, 16, 0xFFFFFFFF));
        } else if (option == "--model") {
            options.identity.model = static_cast<uint8_t>(_number(value, 0, 0xFF));
        } else if (option == "--address") {
            options.identity.moduleAddress = static_cast<uint8_t>(_number(value, 0, 0xFF));
        } else if (option == "--version") {
            options.identity.firmwareVersion = static_cast<uint32_t>(_number(value, 0, 0xFFFFFFFF));
        } else if (option == "--build") {
            options.identity.build = static_cast<uint32_t>(_number(value, 0, 0xFFFFFFFF));
        } else if (option == "--name") {
            if (value.size() > qvsim::SimSystemSettings::NAME_CAPACITY) {
                throw std::invalid_argument(value);
            }
            options.settings.name.assign(value.begin(), value.end());
        } else if (option == "--child") {
            childTexts.push_back(value);
        } else if (option == "--upgrade") {
            options.upgrade = qvsim::SimUpgradeOptions::Parse(value);
        } else {
            throw std::invalid_argument(option);
        }
    }
    for (const auto& text : childTexts) {
        options.children.push_back(_child(text, options.identity));
    }
    if (!options.tcpPort && !options.pty) {
        throw std::invalid_argument("no transport");
    }
    if (!options.discoveryInterface.empty() && !options.tcpPort) {
        throw std::invalid_argument("--discovery without --tcp");
    }
    if (!options.linkPath.empty() && !options.pty) {
        throw std::invalid_argument("--link without --pty");
    }
    return options;
}

// Written to a temporary name and renamed, so a reader never sees a partial port number.
void _write_port_file(const std::string& path, uint16_t port) {
    std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr || std::fprintf(file, "%u\n", port) < 0 || std::fclose(file) != 0 ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

// Modules behind a router restart without touching the router's link to the host.
void _install_upgrade(const Options& options, qvsim::SimModule& module, const qvsim::SimEntities& entities,
                      bool child) {
    qvsim::SimUpgradeOptions upgrade = *options.upgrade;
    if (child) {
        upgrade.settings.start = qvsim::SimLoaderStart::Keep;
        upgrade.settings.rebootDrops = false;
    }
    auto entity = upgrade.Install(module, entities);
    uint8_t address = module.Address();
    entity->OnReboot([address](const qvsim::SimFlash& flash) {
        std::printf("reboot %u: flash holds %zu bytes in %zu segments\n", address, flash.Size(),
                    flash.Segments().size());
        std::fflush(stdout);
    });
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = _parse(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qv-sim-device: bad option or value: %s\n%s", error.what(), USAGE);
        return 2;
    }
    // Blocked before any thread starts, so every thread leaves the signals to sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        qvsim::SimDevice device(options.identity);
        auto entities = qvsim::SimEntities::Install(device.Module(), options.settings);
        if (options.upgrade) {
            _install_upgrade(options, device.Module(), entities, false);
        }
        if (!options.children.empty()) {
            auto router = qvsim::SimRouter::Install(device, entities);
            for (const auto& child : options.children) {
                auto added = router->AddChild(child);
                if (options.upgrade) {
                    _install_upgrade(options, *added.module, added.entities, true);
                }
            }
        }
        std::unique_ptr<qvsim::SimTcpServer> tcp;
        std::unique_ptr<qvsim::SimPty> pty;
        std::unique_ptr<qvsim::SimDiscoveryResponder> discovery;
        if (options.tcpPort) {
            // A discovered device is reached at the interface address it answers discovery on.
            tcp = options.discoveryInterface.empty()
                      ? std::make_unique<qvsim::SimTcpServer>(device, *options.tcpPort)
                      : std::make_unique<qvsim::SimTcpServer>(device, *options.tcpPort,
                                                              options.discoveryInterface);
            std::printf("tcp %u\n", tcp->Port());
            // Answering before the port file appears, so whoever waits for it can discover at once.
            if (!options.discoveryInterface.empty()) {
                discovery = std::make_unique<qvsim::SimDiscoveryResponder>(device, tcp->Port(),
                                                                           options.discoveryInterface);
                std::printf("discovery %s\n", options.discoveryInterface.c_str());
            }
            if (!options.portFile.empty()) {
                _write_port_file(options.portFile, tcp->Port());
            }
        }
        if (options.pty) {
            pty = std::make_unique<qvsim::SimPty>(device, options.linkPath);
            std::printf("pty %s\n",
                        options.linkPath.empty() ? pty->SlavePath().c_str() : options.linkPath.c_str());
        }
        std::fflush(stdout);
        int received = 0;
        sigwait(&signals, &received);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qv-sim-device: %s\n", error.what());
        return 1;
    }
    return 0;
}
