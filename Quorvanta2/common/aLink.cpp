#include "aLink.h"

#include <cstdio>

#include "aDebugging.h"
#include "aLinkManagerInternal.h"
#include "aLinkPipes.h"
#include "aPacketDebug.h"
#include "aStreamsocket.h"
#include "aTime.h"
#include "unix_streamserial.h"

namespace {

// Start and synchronisation are watched in steps of kPollStepMs, at most kPollSteps times.
constexpr uint64_t kPollStepMs = 10;
constexpr int kPollSteps = 200;
// Settling time after a synchronisation before stray probe answers are dropped.
constexpr uint64_t kSyncSettleMs = 100;
// A reset tries this many times to make a new stream, pausing after each failure.
constexpr int kResetTries = 20;
constexpr uint64_t kResetPauseMs = 100;
// How long the module-address and model queries wait for their answer.
constexpr uint32_t kReplyTimeoutMs = 1000;
// A UEI get of option 8 (the model) of command 3, entity 0.
constexpr uint8_t kModelCommand = 3;
constexpr uint8_t kModelRequest[] = {kModelCommand, 0x48, 0x20};

bool drainAll(const aPacket*, void*) {
    return true;
}

// Polls until the condition holds; false when it did not within the polling budget.
template <typename Condition> bool _pollFor(Condition condition) {
    for (int step = 0; step < kPollSteps; step++) {
        if (condition())
            return true;
        aTime_MSSleep(kPollStepMs);
    }
    return condition();
}

// Releases what a link record holds besides its stream; the result is that of destroying the
// outbound FIFO.
aErr _releaseParts(aLinkRecord* link) {
    if (link->inFifo != 0)
        aPacketFifo_Destroy(&link->inFifo);
    aErr err = link->outFifo != 0 ? aPacketFifo_Destroy(&link->outFifo) : aErr(aErrNone);
    if (link->assembly != nullptr)
        aPacket_Destroy(&link->assembly);
    aPacketDebug_Release(link);
    if (link->userFilterLock != nullptr)
        aMutex_Destroy(&link->userFilterLock);
    link->userFilter = nullptr;
    link->userFilterContext = nullptr;
    return err;
}

aErr _makeSocketStream(uint32_t identifier, uint32_t port, aStream** stream) {
    return aStream_CreateSocket(identifier, static_cast<uint16_t>(port), stream);
}

// Gives a freshly made entry its stream, its first user, running threads and, when asked, a
// synchronised device; on any failure the link is torn down and 0 returned.
uint32_t _openLink(aLinkEntry* entry, aStream* stream, bool sync) {
    uint32_t id = entry->id;
    if (stream == nullptr || aLink_Init(id, stream) != id) {
        aLink_Destroy(&id);
        return 0;
    }
    sChangeUseCount(id, 1);
    if (aLink_Start(id) != aErrNone || (sync && aLink_Sync(id) != aErrNone)) {
        aLink_Destroy(&id);
        return 0;
    }
    return id;
}

// One more user of an existing link to that device, or 0 when there is none.
uint32_t _share(linkType type, uint32_t identifier, uint32_t port) {
    aLinkEntry* entry = sLookupEntryForSharing(type, identifier, port);
    if (entry == nullptr)
        return 0;
    sChangeUseCount(entry->id, 1);
    return entry->id;
}

int _baudIndex(uint32_t baudRate) {
    for (uint32_t index = 0; index < aSERIAL_BAUD_COUNT; index++) {
        if (aSERIAL_BAUD_RATES[index] == baudRate)
            return static_cast<int>(index);
    }
    return -1;
}

} // namespace

uint32_t aLink_CreateTCPIP(uint32_t address, uint16_t port) {
    if (uint32_t shared = _share(TCPIP, address, port))
        return shared;
    aLinkEntry* entry = sCreate(address, port, 0, TCPIP);
    if (entry == nullptr)
        return 0;
    entry->streamMaker = _makeSocketStream;
    aStream* stream = nullptr;
    _makeSocketStream(address, port, &stream);
    return _openLink(entry, stream, false);
}

uint32_t aLink_CreateSerial(uint32_t serialNumber, const char* path, uint32_t baudRate) {
    if (uint32_t shared = _share(SERIAL, serialNumber, 0))
        return shared;
    const int baudIndex = _baudIndex(baudRate);
    if (baudIndex < 0)
        return 0;
    aLinkEntry* entry = sCreate(serialNumber, 0, 0, SERIAL);
    if (entry == nullptr)
        return 0;
    aStream* stream = nullptr;
    aStream_CreateSerial(path, static_cast<uint32_t>(baudIndex), 0, 0, 0, &stream);
    return _openLink(entry, stream, false);
}

uint32_t aLink_Create(aStream* stream) {
    if (!aVALIDSTREAM(stream))
        return 0;
    aLinkEntry* entry = sCreate(aLINK_UNSHARED_IDENTIFIER, 0, 0, INVALID);
    if (entry == nullptr) {
        aStream_Destroy(&stream);
        return 0;
    }
    return _openLink(entry, stream, false);
}

aErr aLink_Destroy(uint32_t* linkId) {
    if (linkId == nullptr)
        return aErrParam;
    const uint32_t id = *linkId;
    *linkId = 0;
    if (sLookupEntryByID(id) == nullptr)
        return aErrParam;
    const int16_t users = sChangeUseCount(id, -1);
    if (users > 0) {
        aDebugging_Printf(aDEBUG_LINK, "aLink_Destroy use_count: %d\n", users);
        return aErrNone;
    }
    aLinkEntry* entry = sExtractEntry(id);
    if (entry == nullptr)
        return aErrParam;
    aLinkRecord* link = entry->link;
    if (link == nullptr) {
        sFreeEntry(&entry);
        return aErrUnknown;
    }
    if (link->userFilterLock != nullptr) {
        aMutex_Lock(link->userFilterLock);
        link->userFilter = nullptr;
        aMutex_Unlock(link->userFilterLock);
    }
    aLink_Stop(link);
    if (entry->server != nullptr && entry->serverDestroy != nullptr)
        entry->serverDestroy(&entry->server);
    if (entry->wrappedId != 0)
        aLink_Destroy(&entry->wrappedId);
    aErr err = _releaseParts(link);
    aStream_Destroy(&link->stream);
    link->check = 0;
    delete link;
    sFreeEntry(&entry);
    return err;
}

int32_t aLink_GetStatus(uint32_t linkId) {
    aLinkRecord* link = sGetLink(linkId);
    return link != nullptr ? link->state.load() : aLINK_NO_STREAM;
}

aErr aLink_PutPacket(uint32_t linkId, const aPacket* packet) {
    aLinkRecord* link = sGetLink(linkId);
    return link != nullptr ? aPacketFifo_Put(link->outFifo, packet) : aErr(aErrParam);
}

aPacket* aLink_GetPacket(uint32_t linkId) {
    aLinkRecord* link = sGetLink(linkId);
    return link != nullptr ? aPacketFifo_Get(link->inFifo) : nullptr;
}

aPacket* aLink_AwaitPacket(uint32_t linkId, uint32_t timeoutMs) {
    aLinkRecord* link = sGetLink(linkId);
    return link != nullptr ? aPacketFifo_Await(link->inFifo, timeoutMs) : nullptr;
}

aPacket* aLink_GetFirst(uint32_t linkId, aPacketFilter filter, void* context) {
    aLinkRecord* link = sGetLink(linkId);
    return link != nullptr ? aPacketFifo_GetFirst(link->inFifo, filter, context) : nullptr;
}

// Measured on the steady clock, so that a wall-clock change neither cuts the wait short nor stretches it.
aPacket* aLink_AwaitFirst(uint32_t linkId, aPacketFilter filter, void* context, uint32_t timeoutMs) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr)
        return nullptr;
    const int64_t start = sSteadyMs();
    int64_t elapsed = 0;
    while (link->running && link->state == aLINK_RUNNING && elapsed <= timeoutMs) {
        if (aPacket* found =
                aPacketFifo_AwaitFirst(link->inFifo, filter, context, uint32_t(timeoutMs - elapsed)))
            return found;
        elapsed = sSteadyMs() - start;
        if (elapsed >= timeoutMs)
            break;
    }
    return nullptr;
}

size_t aLink_DrainPackets(uint32_t linkId, aPacketFilter filter, void* context) {
    aLinkRecord* link = sGetLink(linkId);
    return link != nullptr ? aPacketFifo_DrainPackets(link->inFifo, filter, context) : 0;
}

aErr aLink_InstallUserPacketFilter(uint32_t linkId, aPacketFilter filter, void* context) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr || link->userFilterLock == nullptr)
        return aErrParam;
    aMutex_Lock(link->userFilterLock);
    link->userFilter = filter;
    link->userFilterContext = filter != nullptr ? context : nullptr;
    aMutex_Unlock(link->userFilterLock);
    return aErrNone;
}

aErr aLink_EnablePooledPackets(uint32_t linkId, bool pooled) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr)
        return aErrParam;
    link->pooled = pooled ? 1 : 0;
    return aErrNone;
}

aErr aLink_Reset(uint32_t linkId) {
    aLinkEntry* entry = sLookupEntryByID(linkId);
    if (entry == nullptr || entry->link == nullptr)
        return aErrParam;
    aLinkRecord* link = entry->link;
    aLink_Stop(link);
    _releaseParts(link);
    aStream_Destroy(&link->stream);
    aStream* stream = nullptr;
    aErr err = aErrParam;
    for (int attempt = 0; entry->streamMaker != nullptr && attempt < kResetTries; attempt++) {
        err = entry->streamMaker(entry->identifier, entry->port, &stream);
        if (err == aErrNone)
            break;
        aTime_MSSleep(kResetPauseMs);
    }
    if (stream == nullptr) {
        aDebugging_Printf(aDEBUG_LINK, " ERROR - could not recreate stream: %d\n", err);
        aLink_Init(linkId, nullptr);
        return err;
    }
    aLink_Init(linkId, stream);
    return aLink_Start(linkId);
}

aErr aLink_Sync(uint32_t linkId) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr)
        return aErrParam;
    link->state = aLINK_SYNCHRONISING;
    const bool synchronised = _pollFor([link] { return link->state == aLINK_RUNNING; });
    aPacketFifo_DrainPackets(link->outFifo, drainAll, nullptr);
    aTime_MSSleep(kSyncSettleMs);
    aPacketFifo_DrainPackets(link->inFifo, drainAll, nullptr);
    return synchronised ? aErrNone : aErrNotReady;
}

aErr aLink_ForceRoute(uint32_t linkId, uint8_t route) {
    aLinkEntry* entry = sLookupEntryByID(linkId);
    if (entry == nullptr)
        return aErrNotFound;
    if (entry->link == nullptr)
        return aErrParam;
    return sQueueControlPacket(entry->link, aLINK_FORCE_ROUTE_ADDRESS, 1, &route);
}

uint32_t aLink_Init(uint32_t linkId, aStream* stream) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr || link->running)
        return 0;
    _releaseParts(link);
    if (link->stream != stream)
        aStream_Destroy(&link->stream);
    link->check = aLINK_CHECK;
    link->id = linkId;
    link->running = 0;
    link->stream = stream;
    link->state = stream != nullptr ? aLINK_STOPPED : aLINK_NO_STREAM;
    link->reader = nullptr;
    link->writer = nullptr;
    link->inFifo = aPacketFifo_Create();
    link->outFifo = aPacketFifo_Create();
    link->readerProc = sInPipeProcess;
    link->writerProc = sOutPipeProcess;
    link->readerStarted = 0;
    link->writerStarted = 0;
    link->heartbeatState = 0;
    link->assembly = aPacket_Create();
    link->pooled = 0;
    link->lastSyncRoundMs = sSteadyMs() - aLINK_SYNC_ROUND_INTERVAL_MS;
    char name[255];
    snprintf(name, sizeof(name), "aLink(%p)->userFilterSema", static_cast<void*>(link));
    link->userFilterLock = aMutex_Create(name);
    if (link->inFifo == 0 || link->outFifo == 0 || link->assembly == nullptr ||
        link->userFilterLock == nullptr)
        return 0;
    return linkId;
}

aErr aLink_Start(uint32_t linkId) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr || link->check != aLINK_CHECK)
        return aErrParam;
    if (link->running)
        return aErrNone;
    link->running = 1;
    link->state = aLINK_STARTING;
    link->heartbeatState = 0;
    link->readerStarted = 0;
    link->writerStarted = 0;
    link->reader = aThread_Create(link->readerProc, link);
    link->writer = link->reader != nullptr ? aThread_Create(link->writerProc, link) : nullptr;
    if (link->writer == nullptr) {
        link->running = 0;
        aThread_Destroy(&link->reader);
        return aErrResource;
    }
    if (!_pollFor(
            [link] { return link->readerStarted && link->writerStarted && link->state == aLINK_RUNNING; }))
        return aErrIndexRange;
    return aLink_ForceRoute(linkId, 1);
}

// The force-route packet goes straight onto the record's FIFO: a link being torn down is already out
// of the table.
aErr aLink_Stop(aLinkRecord* link) {
    if (link == nullptr)
        return aErrParam;
    if (link->state == aLINK_STOPPING || link->state == aLINK_STOPPED)
        return aErrNone;
    link->state = aLINK_STOPPING;
    if (link->reader == nullptr || link->writer == nullptr)
        return aErrNone;
    const uint8_t route = 0;
    aErr err = sQueueControlPacket(link, aLINK_FORCE_ROUTE_ADDRESS, 1, &route);
    link->running = 0;
    bool joined = aThread_Destroy(&link->reader) == 0;
    joined = aThread_Destroy(&link->writer) == 0 && joined;
    link->readerStarted = 0;
    link->writerStarted = 0;
    aPacket_Reset(link->assembly);
    link->state = aLINK_STOPPED;
    link->heartbeatState = 0;
    return joined ? err : aErr(aErrUnknown);
}

aErr _aLink_GetModuleAddress(uint32_t linkId, uint8_t* address) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr || address == nullptr)
        return aErrParam;
    aErr err = sQueueControlPacket(link, aLINK_PROBE_ADDRESS, 0, nullptr);
    if (err != aErrNone)
        return err;
    aPacketPtr reply(aLink_AwaitPacket(linkId, kReplyTimeoutMs));
    if (!reply)
        return aErrTimeout;
    if (reply->length != 0 || reply->address == 0)
        return aErrIO;
    *address = reply->address;
    aDebugging_Printf(aDEBUG_LINK, "aLink_GetModuleAddress: moduleAddress:%d\n", *address);
    return aErrNone;
}

aErr _aLink_GetModel(uint32_t linkId, uint8_t module, uint8_t* model) {
    if (model == nullptr)
        return aErrParam;
    aPacketPtr request(aPacket_CreateWithData(module, sizeof(kModelRequest), kModelRequest));
    if (!request)
        return aErrMemory;
    aErr err = aLink_PutPacket(linkId, request.get());
    if (err != aErrNone)
        return err;
    aPacketPtr reply(aLink_AwaitPacket(linkId, kReplyTimeoutMs));
    if (!reply)
        return aErrTimeout;
    if (reply->length != 4 || reply->address != module || reply->data[0] != kModelCommand)
        return aErrIO;
    *model = reply->data[3];
    aDebugging_Printf(aDEBUG_LINK, "aLink_GetModel: model:%d\n", *model);
    return aErrNone;
}
