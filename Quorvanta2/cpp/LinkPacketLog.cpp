#include "Link.h"

#include "LinkImpl.h"
#include "aFile.h"
#include "aPacketDebug.h"
#include "aTime.h"

#include <cstdio>
#include <string>

namespace Korvalen {
namespace Quorvanta {

namespace {

constexpr size_t LOG_RECORD_MAX = 64;
constexpr uint32_t LOG_IDLE_MS = 5;
const char LOG_START[] = "START";

// Called over and over on the logger's thread: writes the oldest record of the link's packet log as
// one line, "count marker bytes", the marker ">" for a packet sent and "<" otherwise.
void _write_log_line(aFile* file, uint32_t linkId) {
    uint8_t type = 0;
    uint8_t record[LOG_RECORD_MAX];
    size_t length = sizeof record;
    // Also when the link has gone: the logger must not spin while nobody reads it.
    if (aLink_PacketDebug_Read(linkId, &type, &length, record) != aErrNone) {
        aTime_MSSleep(LOG_IDLE_MS);
        return;
    }
    char piece[16];
    std::snprintf(piece, sizeof piece, "%d %s ", static_cast<int>(length),
                  type == aPACKETLOG_SENT ? ">" : "<");
    std::string line = piece;
    for (size_t i = 0; i < length; ++i) {
        if (type == aPACKETLOG_TEXT) {
            line.push_back(static_cast<char>(record[i]));
        } else {
            std::snprintf(piece, sizeof piece, "0x%X ", record[i]);
            line += piece;
        }
    }
    line += "\r\n";
    aFile_Write(file, line.data(), line.size(), nullptr);
}

} // namespace

aErr Link::enablePacketLog(const char* path) {
    if (impl->linkId == 0) {
        return aErrConfiguration;
    }
    if (path == nullptr) {
        return aErrParam;
    }
    aErr result = aLink_PacketDebug_Enable(impl->linkId);
    if (result != aErrNone) {
        return result;
    }
    if (impl->packetLogger == nullptr) {
        impl->packetLogger = aLogger_Create(impl->linkId, _write_log_line, path);
        if (impl->packetLogger == nullptr) {
            aLink_PacketDebug_Disable(impl->linkId);
            return aErrIO;
        }
    }
    result = aLogger_Enable(impl->packetLogger);
    if (result == aErrNone) {
        aLink_PacketDebug_Write(impl->linkId, aPACKETLOG_TEXT, sizeof LOG_START,
                                reinterpret_cast<const uint8_t*>(LOG_START));
    }
    return result;
}

aErr Link::disablePacketLog() {
    if (impl->linkId == 0) {
        return aErrConfiguration;
    }
    aLink_PacketDebug_Disable(impl->linkId);
    return aLogger_Disable(impl->packetLogger);
}

} // namespace Quorvanta
} // namespace Korvalen
