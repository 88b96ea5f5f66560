#include "SimDebugEntity.h"

namespace qvsim {

void SimDebugEntity::Install(SimModule& module) {
    module.RegisterCommand(
        COMMAND, [](const SimPacket& request, SimReplies& replies) { replies.Add(request.Data()); });
}

} // namespace qvsim
