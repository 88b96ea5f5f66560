#ifndef QUORVANTA_ADEFS_H
#define QUORVANTA_ADEFS_H

#include <cstdint>

// Display name of a device model number, "Unknown" for numbers without a model. Names are at most 12
// characters and none is the beginning of another, so a prefix comparison never confuses two models.
const char* aDefs_GetModelName(uint32_t model);

#endif
