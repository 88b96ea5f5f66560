#pragma once

#include "SimModule.h"

namespace qvsim {

// The debug echo command (23): the module sends back the bytes it was sent.
struct SimDebugEntity {
    static constexpr uint8_t COMMAND = 23;

    static void Install(SimModule& module);
};

} // namespace qvsim
