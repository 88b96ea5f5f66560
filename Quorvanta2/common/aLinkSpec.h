#ifndef QUORVANTA_ALINKSPEC_H
#define QUORVANTA_ALINKSPEC_H

#include <cstdint>

// Transport of a link.
typedef enum linkType : int32_t {
    INVALID = 0,
    USB = 1,
    TCPIP = 2,
    SERIAL = 3,
    AETHER = 4,
} linkType;

#endif
