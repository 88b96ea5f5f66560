#include "zBeaconInterface.h"

#include "aDebugging.h"
#include "aMutex.h"

#include <arpa/inet.h>
#include <cstring>
#include <czmq.h>
#include <string>

namespace {

constexpr size_t _BACKUP_CAPACITY = 100;

std::string _backupInterface;

// Made on first use and kept for the life of the process: holders may run until exit.
aMutex* _interfaceLock() {
    static aMutex* lock = aMutex_Create("zBeaconInterface");
    return lock;
}

void _lock(const char* operation) {
    aDebugging_Printf(aDEBUG_BEACON, "%s PRE-LOCK\n", operation);
    aMutex_Lock(_interfaceLock());
    aDebugging_Printf(aDEBUG_BEACON, "%s LOCKED\n", operation);
}

bool _isValid(const char* text) {
    in_addr address{};
    return text != nullptr &&
           (text[0] == '\0' || std::strcmp(text, "*") == 0 || inet_pton(AF_INET, text, &address) == 1);
}

void _configureBackup() {
    if (_backupInterface.capacity() < _BACKUP_CAPACITY) {
        aDebugging_Printf(aDEBUG_BEACON, "%s Reserving memory for _backupInterface\n", "_configureBackup");
        _backupInterface.reserve(_BACKUP_CAPACITY);
    }
}

} // namespace

bool zBeaconInterface_setAndLock(const char* text) {
    if (!_isValid(text)) {
        return false;
    }
    _lock(__func__);
    zsys_set_interface(text);
    return true;
}

void zBeaconInterface_unlock() {
    aDebugging_Printf(aDEBUG_BEACON, "%s: UNLOCKING\n", __func__);
    aMutex_Unlock(_interfaceLock());
}

bool zBeaconInterface_backupSetAndLock(const char* text) {
    if (!_isValid(text)) {
        return false;
    }
    _lock(__func__);
    _configureBackup();
    const char* current = zsys_interface();
    _backupInterface = current != nullptr ? current : "";
    zsys_set_interface(text);
    return true;
}

void zBeaconInterface_restoreAndUnlock() {
    zsys_set_interface(_backupInterface.c_str());
    aDebugging_Printf(aDEBUG_BEACON, "%s UNLOCKING\n", __func__);
    aMutex_Unlock(_interfaceLock());
}

const char* zBeaconInterface_get() {
    return zsys_interface();
}

const char* zBeaconInterface_getAndLock() {
    _lock(__func__);
    return zsys_interface();
}

const char* zBeaconInterface_getBackup() {
    return _backupInterface.c_str();
}

const char* zBeaconInterface_getBackupAndLock() {
    _lock(__func__);
    return _backupInterface.c_str();
}
