#ifndef UPDATER_UPDATERSTORE_H
#define UPDATER_UPDATERSTORE_H

#include "BirdFile.h"
#include "KeyValueStore.h"
#include "aError.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Joins the pieces with aDIR_PATH_SEP, keeping separators the pieces already carry; the list ends at the
// first null piece.
std::string BuildPath(std::initializer_list<const char*> pieces);

enum store_item_t {
    STORE_ITEM_FILE = 0,
    STORE_ITEM_DIRECTORY = 1,
    STORE_ITEM_NONE = 2,
};

// One entry of the local store (a device directory, or a file inside one) with that entry's settings.
class UpdaterStoreItem {
public:
    UpdaterStoreItem();
    // The item, with its settings loaded from base/name/.settings.
    UpdaterStoreItem(const std::string& base, const std::string& name, store_item_t kind);

    bool IsValid() const;
    // Replaces base/name/file with the bytes whole or not at all. aErrNotFound without bytes or when the
    // file cannot be opened; aErrWrite or aErrIO when writing or replacing fails, leaving the old file.
    aErr WriteFile(const std::string& file, const uint8_t* data, uint64_t length);
    // Loads base/name/file; throws std::runtime_error "Invalid bird <path>" when it is no BIRD file, and
    // lets the loading error of BirdFile pass.
    BirdFile ReadBirdFile(const std::string& file);
    bool FileExists(const std::string& file);

    std::string base;
    std::string name;
    store_item_t kind;
    KeyValueStore settings;
};

// The local store: one "%08X" directory per device below the root, holding its BIRD files and settings.
// Every query goes to the file system afresh; nothing is ever deleted.
class UpdaterStore {
public:
    // Creates the root when missing; throws std::runtime_error when it cannot be created or is a file.
    explicit UpdaterStore(const std::string& root);

    const std::string& BasePath() const { return root; }
    // Ensures the device's directory (may throw) and returns its item with settings loaded or created.
    UpdaterStoreItem AddDevice(uint32_t serial);
    UpdaterStoreItem AddDevice(const std::string& name);
    // True when an entry of the root contains name; the first in listing order fills item when given.
    bool FindDevice(uint32_t serial, UpdaterStoreItem* item = nullptr);
    bool FindDevice(const std::string& name, UpdaterStoreItem* item = nullptr);
    // Appends an item for every entry of the device's directory whose name does not begin with ".".
    bool FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items);

private:
    std::string root;
};

#endif
