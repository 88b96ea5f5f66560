#ifndef QV_UPDATESERVER_BUILDCATALOGUE_H
#define QV_UPDATESERVER_BUILDCATALOGUE_H

#include "Fingerprint.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// What the server offers, read from disk on every question so that files may change while it runs:
//   ROOT/<SERIAL>/<BUILD>.bird   the builds of a device (SERIAL as eight uppercase hex digits)
//   ROOT/<SERIAL>/current        optional: the build number to announce as current
//   fingerprint map file         lines "W0 W1 W2 W3 SERIAL [BUILD]" (hex words and serial, decimal build)
//   token file                   lines "SERIAL TOKEN"
// Blank lines and lines starting with "#" are ignored in the two map files.
class BuildCatalogue {
public:
    struct Build {
        uint32_t number;
        std::string version; // from the file's info block; empty when it has none
        std::string path;
    };

    // Raised when a file of the catalogue cannot be read or holds nonsense; the text says which.
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    BuildCatalogue(std::string root, std::string fingerprintFile, std::string tokenFile);

    // Ascending build numbers; none for an unknown device.
    std::vector<Build> Builds(uint32_t serial) const;
    // The "current" file's number when it exists, else the build with the highest version (the highest
    // number among equal versions or when no file has a version); none when the device has no builds.
    std::optional<uint32_t> CurrentBuild(uint32_t serial) const;
    std::optional<std::string> BuildPath(uint32_t serial, uint32_t build) const;

    struct Recovery {
        uint32_t serial;
        uint32_t build;
    };
    // A map entry without a build gets the device's current build.
    std::optional<Recovery> FindRecovery(const Fingerprint& fingerprint) const;
    std::optional<std::string> FindToken(uint32_t serial) const;

    // The whole text as a 32-bit number in the base, or none.
    static std::optional<uint32_t> ParseNumber(const std::string& text, int base);

private:
    std::string _device_directory(uint32_t serial) const;

    std::string root;
    std::string fingerprintFile;
    std::string tokenFile;
};

#endif
