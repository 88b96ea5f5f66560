#ifndef QUORVANTA_ZBEACONINTERFACE_H
#define QUORVANTA_ZBEACONINTERFACE_H

// Guards czmq's process-wide beacon interface (zsys_set_interface) with one lock and a saved copy, so a
// beacon search on one interface and a sharing server creating its beacon do not change it under each
// other. A valid interface text is a dotted IPv4 address, the empty text or "*". The "AndLock"
// operations return with the lock held; the same thread releases it with zBeaconInterface_unlock or
// zBeaconInterface_restoreAndUnlock.

// False for an invalid text, with nothing locked; otherwise locks and sets the interface.
bool zBeaconInterface_setAndLock(const char* text);
void zBeaconInterface_unlock();

// False for an invalid text, with nothing locked; otherwise locks, saves the current setting and sets
// the interface.
bool zBeaconInterface_backupSetAndLock(const char* text);
// Sets the saved setting back and unlocks.
void zBeaconInterface_restoreAndUnlock();

// The current setting, without the lock.
const char* zBeaconInterface_get();
const char* zBeaconInterface_getAndLock();
// The setting saved by the last backup.
const char* zBeaconInterface_getBackup();
const char* zBeaconInterface_getBackupAndLock();

#endif
