#ifndef UPDATER_PARAMETERSCAN_H
#define UPDATER_PARAMETERSCAN_H

#include "Parameters.h"
#include "UpdaterDisplayInterface.h"

#include <cstdint>

// Fills parameters from the command line, reporting bad arguments through the display. Returns 0
// when the command line is acceptable, 1 when an option failed (scanning still runs to the end).
// A help option stops the scan at once.
int _get_params(UpdaterDisplayInterface& display, int argc, char* const* argv, Parameters& parameters);

// Cross-checks after scanning; nothing is rejected today.
int _validate_params(const Parameters& parameters);

// The text as a hexadecimal (decimal) number when every character is a hexadecimal (decimal) digit,
// else 0; an empty text is 0. Kept to the low 32 bits.
uint32_t _get_hex_arg(const char* text);
uint32_t _get_int_arg(const char* text);

#endif
