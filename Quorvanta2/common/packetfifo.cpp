#include "packetfifo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

using SerialPacket = std::pair<int64_t, aPacketPtr>;
using Clock = std::chrono::steady_clock;

struct packetFifo {
    std::deque<SerialPacket> entries;
    std::condition_variable signal;
    std::mutex lock;
    std::atomic<bool> alive{true};
    std::atomic<int64_t> windowStart{0};
    std::atomic<int64_t> nextId{0};

    void syncWindow() { windowStart = entries.empty() ? nextId.load() : entries.front().first; }

    void clearAndSyncWindow() {
        entries.clear();
        syncWindow();
    }

    std::deque<SerialPacket>::iterator eraseAndSyncWindow(std::deque<SerialPacket>::iterator entry) {
        auto next = entries.erase(entry);
        syncWindow();
        return next;
    }
};

using FifoRef = std::shared_ptr<packetFifo>;

std::map<aPacketFifoId, FifoRef> gpPacketFifoDictionary;
std::mutex gpPacketFifoDictionaryMutex;
std::atomic<uint64_t> gpSequentialId{1};

FifoRef sGetFifo(aPacketFifoId id) {
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    auto found = gpPacketFifoDictionary.find(id);
    return found == gpPacketFifoDictionary.end() ? nullptr : found->second;
}

FifoRef sExtractFifo(aPacketFifoId id) {
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    auto found = gpPacketFifoDictionary.find(id);
    if (found == gpPacketFifoDictionary.end())
        return nullptr;
    FifoRef fifo = std::move(found->second);
    gpPacketFifoDictionary.erase(found);
    return fifo;
}

// Hands out a copy of the entry's packet and removes the entry; a failed copy leaves the entry in place.
aPacket* _stealPacketFromFifo(packetFifo& fifo, std::deque<SerialPacket>::iterator entry) {
    aPacket* copy = aPacket_Copy(entry->second.get());
    if (copy != nullptr)
        fifo.eraseAndSyncWindow(entry);
    return copy;
}

aPacket* _waitUntilNotEmpty(packetFifo& fifo, uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> guard(fifo.lock);
    fifo.signal.wait_until(guard, deadline, [&] { return !fifo.entries.empty() || !fifo.alive; });
    if (fifo.entries.empty())
        return nullptr;
    return _stealPacketFromFifo(fifo, fifo.entries.begin());
}

// Offers each entry to the filter once, remembering the last id tested so that wake-ups for new packets
// do not re-run the filter over packets it has already turned down.
aPacket* _waitUntilProcIsSatisfied(packetFifo& fifo, aPacketFilter filter, void* context,
                                   uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> guard(fifo.lock);
    int64_t lastTested = fifo.windowStart - 1;
    for (;;) {
        for (auto entry = fifo.entries.begin(); entry != fifo.entries.end(); ++entry) {
            if (entry->first <= lastTested)
                continue;
            lastTested = entry->first;
            if (filter(entry->second.get(), context))
                return _stealPacketFromFifo(fifo, entry);
        }
        if (!fifo.alive || Clock::now() >= deadline)
            return nullptr;
        fifo.signal.wait_until(guard, deadline);
    }
}

} // namespace

aPacketFifoId aPacketFifo_Create() {
    try {
        auto fifo = std::make_shared<packetFifo>();
        std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
        aPacketFifoId id = gpSequentialId++;
        if (id == 0)
            id = gpSequentialId++;
        gpPacketFifoDictionary.emplace(id, std::move(fifo));
        return id;
    } catch (const std::exception&) {
        return 0;
    }
}

aErr aPacketFifo_Destroy(aPacketFifoId* id) {
    if (id == nullptr)
        return aErrParam;
    try {
        FifoRef fifo = sExtractFifo(*id);
        if (!fifo)
            return aErrNotFound;
        {
            std::lock_guard<std::mutex> guard(fifo->lock);
            fifo->clearAndSyncWindow();
            fifo->alive = false;
        }
        fifo->signal.notify_all();
        *id = 0;
        return aErrNone;
    } catch (const std::exception&) {
        return aErrUnknown;
    }
}

aErr aPacketFifo_Put(aPacketFifoId id, const aPacket* packet) {
    FifoRef fifo = sGetFifo(id);
    if (!fifo || !aVALIDPACKET(packet))
        return aErrParam;
    {
        std::lock_guard<std::mutex> guard(fifo->lock);
        const int64_t entryId = fifo->nextId++;
        aPacketPtr copy(aPacket_Copy(packet));
        if (!copy)
            return aErrParam;
        try {
            fifo->entries.emplace_back(entryId, std::move(copy));
        } catch (const std::bad_alloc&) {
            return aErrResource;
        }
        fifo->syncWindow();
        if (fifo->entries.size() > aPACKETFIFO_MAX_ENTRIES) {
            fifo->clearAndSyncWindow();
            return aErrNone;
        }
    }
    fifo->signal.notify_all();
    return aErrNone;
}

aPacket* aPacketFifo_Get(aPacketFifoId id) {
    return aPacketFifo_Await(id, 0);
}

aPacket* aPacketFifo_Await(aPacketFifoId id, uint32_t timeoutMs) {
    FifoRef fifo = sGetFifo(id);
    return fifo ? _waitUntilNotEmpty(*fifo, timeoutMs) : nullptr;
}

aPacket* aPacketFifo_GetFirst(aPacketFifoId id, aPacketFilter filter, void* context) {
    return aPacketFifo_AwaitFirst(id, filter, context, 0);
}

aPacket* aPacketFifo_AwaitFirst(aPacketFifoId id, aPacketFilter filter, void* context, uint32_t timeoutMs) {
    FifoRef fifo = sGetFifo(id);
    if (!fifo || filter == nullptr)
        return nullptr;
    return _waitUntilProcIsSatisfied(*fifo, filter, context, timeoutMs);
}

size_t aPacketFifo_DrainPackets(aPacketFifoId id, aPacketFilter filter, void* context) {
    FifoRef fifo = sGetFifo(id);
    if (!fifo || filter == nullptr)
        return 0;
    std::lock_guard<std::mutex> guard(fifo->lock);
    const size_t before = fifo->entries.size();
    for (auto entry = fifo->entries.begin(); entry != fifo->entries.end();) {
        if (filter(entry->second.get(), context))
            entry = fifo->eraseAndSyncWindow(entry);
        else
            ++entry;
    }
    return before - fifo->entries.size();
}

size_t aPacketFifo_GetLength(aPacketFifoId id) {
    FifoRef fifo = sGetFifo(id);
    if (!fifo)
        return 0;
    std::lock_guard<std::mutex> guard(fifo->lock);
    return fifo->entries.size();
}
