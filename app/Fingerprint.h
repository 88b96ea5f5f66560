#ifndef UPDATER_FINGERPRINT_H
#define UPDATER_FINGERPRINT_H

#include <array>
#include <cstdint>

// A chip's unique identifier as its boot ROM reports it, word 0 to word 3; recovery sends it to the
// update server and decodes LPC recovery images with it.
using Fingerprint = std::array<uint32_t, 4>;

#endif
