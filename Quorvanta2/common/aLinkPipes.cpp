#include "aLinkPipes.h"

#include <chrono>
#include <memory>

#include "aDebugging.h"
#include "aLink.h"
#include "aPacketDebug.h"
#include "aTime.h"

namespace {

// Pause after a failed stream read before the next one.
constexpr uint64_t kReadErrorPauseMs = 100;
// A pooled batch takes further packets while it holds at most kPoolFillLimit bytes, so that the
// largest packet still fits into its kPoolBufferSize bytes.
constexpr size_t kPoolBufferSize = 4096;
constexpr size_t kPoolFillLimit = kPoolBufferSize - aLINK_WIRE_MAX;
// Longest time a stopping writer spends sending what is still queued.
constexpr int64_t kStopDrainDeadlineMs = 2000;

void _debugPacket(const char* where, uint32_t id, const aPacket* packet) {
    aDebugging_Printf(aDEBUG_TRAFFIC, " %s(%u) ADDR:%02X, LEN:%02X, [%02X %02X %02X ...]\n", where, id,
                      packet->address, packet->length, packet->data[0], packet->data[1], packet->data[2]);
}

// A heartbeat (length 2, command 0) is answered on the spot with data byte 1 raised by 2; true when the
// packet was one.
bool sHandleHBBackChannel(aLinkRecord* link, const aPacket* packet) {
    if (packet->length != 2 || packet->data[0] != 0)
        return false;
    if (packet->data[1] == 0) {
        link->heartbeatState = 2;
        aDebugging_Printf(aDEBUG_TRAFFIC, " sHandleHBBackChannel() %s\n", "sending HB UP");
    } else if (packet->data[1] == 1) {
        link->heartbeatState = 3;
        aDebugging_Printf(aDEBUG_TRAFFIC, " sHandleHBBackChannel() %s\n", "sending HB DOWN");
    }
    const uint8_t answer[] = {0, static_cast<uint8_t>(packet->data[1] + 2)};
    aPacketPtr reply(aPacket_CreateWithData(packet->address, sizeof(answer), answer));
    if (reply)
        aPacketFifo_Put(link->outFifo, reply.get());
    link->heartbeatState = 0;
    return true;
}

aErr sHandlePacket(aLinkRecord* link) {
    aPacket* packet = link->assembly;
    if (!aPacket_IsComplete(packet))
        return aErrNone;
    aPacketDebug_LogPacket(link, aPACKETLOG_RECEIVED, packet);
    bool consumed = false;
    aMutex_Lock(link->userFilterLock);
    if (link->userFilter != nullptr)
        consumed = link->userFilter(packet, link->userFilterContext);
    aMutex_Unlock(link->userFilterLock);
    aErr err = aErrNone;
    if (!consumed && !sHandleHBBackChannel(link, packet)) {
        _debugPacket("sHandlePacket", link->id, packet);
        err = aPacketFifo_Put(link->inFifo, packet);
    }
    aPacket_Reset(packet);
    return err;
}

// Counts the device's answers to the probes: the link is in step after A, 0, A, 0 with A even and
// non-zero.
void sSyncByte(aLinkRecord* link, uint8_t byte) {
    switch (link->syncState) {
    case kSyncStateStart:
        sStartSync(link);
        break;
    case kSyncStateByte1:
        if (byte != 0 && byte % 2 == 0) {
            link->syncAddress = byte;
            link->syncState = kSyncStateByte2;
        } else {
            sStartSync(link);
        }
        break;
    case kSyncStateByte2:
        link->syncState = byte == 0 ? kSyncStateByte3 : kSyncStateStart;
        break;
    case kSyncStateByte3:
        link->syncState = byte == link->syncAddress ? kSyncStateByte4 : kSyncStateStart;
        break;
    case kSyncStateByte4:
        if (byte == 0) {
            link->syncState = kSyncStateDone;
            link->state = aLINK_RUNNING;
        } else {
            link->syncState = kSyncStateStart;
        }
        break;
    default:
        sStartSync(link);
        break;
    }
}

aErr sWritePacket(aLinkRecord* link, aPacketPtr packet) {
    uint8_t wire[aLINK_WIRE_MAX];
    const size_t length = sPacketWireBytes(packet.get(), wire);
    _debugPacket("sOutPipeProcess", link->id, packet.get());
    aErr err = aStream_Write(link->stream, wire, length);
    if (err != aErrNone)
        aDebugging_Printf(aDEBUG_LINK, "sOutPipeProcess error writing: %d\n", err);
    aPacketDebug_LogPacket(link, aPACKETLOG_SENT, packet.get());
    return err;
}

// Sends the packet together with whatever else is queued, as many as fit, in one stream write.
void sWritePooled(aLinkRecord* link, aPacketPtr packet) {
    uint8_t batch[kPoolBufferSize];
    size_t total = 0;
    while (packet) {
        _debugPacket("sOutPipeProcess", link->id, packet.get());
        total += sPacketWireBytes(packet.get(), batch + total);
        aPacketDebug_LogPacket(link, aPACKETLOG_SENT, packet.get());
        packet.reset(total <= kPoolFillLimit ? aPacketFifo_Get(link->outFifo) : nullptr);
    }
    aErr err = aStream_Write(link->stream, batch, total);
    if (err != aErrNone)
        aDebugging_Printf(aDEBUG_LINK, "sOutPipeProcess error writing pooled: %d\n", err);
}

// Sends what was queued when the link was told to stop, so that the force-route packet of the stop
// reaches the device; a peer that takes nothing more, or more packets arriving meanwhile, cannot hold
// the stop up.
void sDrainOnStop(aLinkRecord* link) {
    const int64_t deadline = sSteadyMs() + kStopDrainDeadlineMs;
    for (size_t left = aPacketFifo_GetLength(link->outFifo); left > 0 && sSteadyMs() < deadline; left--) {
        aPacketPtr packet(aPacketFifo_Get(link->outFifo));
        if (!packet || sWritePacket(link, std::move(packet)) != aErrNone)
            break;
    }
}

} // namespace

int64_t sSteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

aErr sQueueControlPacket(aLinkRecord* link, uint8_t address, uint8_t length, const uint8_t* data) {
    static const uint8_t none = 0;
    aPacketPtr packet(aPacket_CreateWithData(address, length, length == 0 ? &none : data));
    if (!packet)
        return aErrMemory;
    return aPacketFifo_Put(link->outFifo, packet.get());
}

aErr sStartSync(aLinkRecord* link) {
    link->state = aLINK_SYNCHRONISING;
    link->syncState = kSyncStateStart;
    aPacket_Reset(link->assembly);
    const int64_t now = sSteadyMs();
    if (now - link->lastSyncRoundMs < aLINK_SYNC_ROUND_INTERVAL_MS) {
        link->syncState = kSyncStateByte1;
        return aErrNone;
    }
    link->lastSyncRoundMs = now;
    aErr err = aErrNone;
    for (int i = 0; i < aLINK_SYNC_PROBES; i++)
        err = sQueueControlPacket(link, aLINK_PROBE_ADDRESS, 0, nullptr);
    if (err == aErrNone)
        link->syncState = kSyncStateByte1;
    return err;
}

void sInPipeProcess(void* ref) {
    auto* link = static_cast<aLinkRecord*>(ref);
    link->heartbeatState = 0;
    link->syncAddress = 1;
    link->readerStarted = 1;
    link->state = aLINK_RUNNING;
    link->syncState = kSyncStateDone;
    while (link->running) {
        uint8_t byte;
        aErr err = aStream_Read(link->stream, &byte, 1);
        if (err == aErrNotReady) {
            // Silence while synchronising means the probes went unanswered: send another round.
            if (aStream_AwaitReadable(link->stream, aLINK_READER_WAIT_MS) != aErrNone &&
                link->state == aLINK_SYNCHRONISING)
                sStartSync(link);
            continue;
        }
        if (err != aErrNone) {
            link->state = aLINK_READ_ERROR;
            aDebugging_Printf(aDEBUG_LINK, " sInPipeProcess(%u) IO_ERROR [aStream_Read()==>%d]\n", link->id,
                              err);
            aTime_MSSleep(kReadErrorPauseMs);
            continue;
        }
        if (link->state == aLINK_SYNCHRONISING) {
            sSyncByte(link, byte);
        } else if (aPacket_AddByte(link->assembly, byte) == aErrNone) {
            if (sHandlePacket(link) != aErrNone)
                link->state = aLINK_HANDLING_ERROR;
        } else {
            aDebugging_Printf(aDEBUG_LINK, "Out of sync\n");
            sStartSync(link);
        }
    }
    aDebugging_Printf(aDEBUG_LINK, " sInPipeProcess(%u) terminating\n", link->id);
}

void sOutPipeProcess(void* ref) {
    auto* link = static_cast<aLinkRecord*>(ref);
    link->writerStarted = 1;
    while (link->running) {
        aPacketPtr packet(aPacketFifo_Await(link->outFifo, aLINK_WRITER_WAIT_MS));
        if (!packet)
            continue;
        if (link->pooled)
            sWritePooled(link, std::move(packet));
        else
            sWritePacket(link, std::move(packet));
    }
    sDrainOnStop(link);
    aDebugging_Printf(aDEBUG_LINK, " sOutPipeProcess(%u) terminating\n", link->id);
}
