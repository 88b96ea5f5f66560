#include "aLinkManagerInternal.h"

#include <cstring>
#include <new>

namespace {

struct LinkTable {
    aLinkEntry* head = nullptr;
    uint32_t nextId = 1;
    aMutex* mutex = aMutex_Create("aLink_Managed");
};

LinkTable& _links() {
    static LinkTable table;
    return table;
}

// Holds the table mutex for one table operation.
class TableLock {
public:
    TableLock() : table_(_links()) { aMutex_Lock(table_.mutex); }
    ~TableLock() { aMutex_Unlock(table_.mutex); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    LinkTable& table() { return table_; }

private:
    LinkTable& table_;
};

template <typename Match> aLinkEntry* _find(LinkTable& table, Match match) {
    for (aLinkEntry* entry = table.head; entry != nullptr; entry = entry->next) {
        if (match(*entry))
            return entry;
    }
    return nullptr;
}

} // namespace

aLinkEntry* sCreate(uint32_t identifier, uint32_t port, uint32_t instance, linkType type) {
    auto* entry = new (std::nothrow) aLinkEntry{};
    auto* record = new (std::nothrow) aLinkRecord{};
    if (entry == nullptr || record == nullptr) {
        delete entry;
        delete record;
        return nullptr;
    }
    entry->identifier = identifier;
    entry->port = port;
    entry->instance = instance;
    entry->type = type;
    entry->link = record;
    TableLock lock;
    entry->id = lock.table().nextId++;
    record->id = entry->id;
    entry->next = lock.table().head;
    lock.table().head = entry;
    return entry;
}

aLinkEntry* sLookupEntryByID(uint32_t id) {
    TableLock lock;
    return _find(lock.table(), [id](const aLinkEntry& entry) { return entry.id == id; });
}

aLinkEntry* sLookupEntryForSharing(linkType type, uint32_t identifier, uint32_t port) {
    TableLock lock;
    return _find(lock.table(), [=](const aLinkEntry& entry) {
        return entry.type == type && entry.identifier == identifier && entry.port == port;
    });
}

aLinkEntry* sExtractEntry(uint32_t id) {
    TableLock lock;
    for (aLinkEntry** link = &lock.table().head; *link != nullptr; link = &(*link)->next) {
        if ((*link)->id == id) {
            aLinkEntry* entry = *link;
            *link = entry->next;
            entry->next = nullptr;
            return entry;
        }
    }
    return nullptr;
}

int16_t sChangeUseCount(uint32_t id, int16_t delta) {
    TableLock lock;
    aLinkEntry* entry = _find(lock.table(), [id](const aLinkEntry& e) { return e.id == id; });
    if (entry == nullptr)
        return 0;
    entry->useCount = static_cast<int16_t>(entry->useCount + delta);
    return entry->useCount;
}

aLinkRecord* sGetLink(uint32_t id) {
    aLinkEntry* entry = sLookupEntryByID(id);
    return entry != nullptr ? entry->link : nullptr;
}

void sFreeEntry(aLinkEntry** entry) {
    delete *entry;
    *entry = nullptr;
}

size_t sPacketWireBytes(const aPacket* packet, uint8_t* wire) {
    wire[0] = packet->address;
    wire[1] = packet->length;
    memcpy(wire + 2, packet->data, packet->length);
    return packet->length + 2u;
}
