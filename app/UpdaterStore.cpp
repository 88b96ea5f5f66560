#include "UpdaterStore.h"

#include "AtomicFile.h"
#include "Log.h"
#include "aDirectory.h"

#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

namespace {

constexpr uint16_t DIRECTORY_MODE = 0755;

std::string _serial_name(uint32_t serial) {
    char name[16];
    snprintf(name, sizeof(name), "%08X", serial);
    return name;
}

void _ensure_directory(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        aErr e = aDirectory_Ensure(path.c_str(), DIRECTORY_MODE);
        if (e != aErrNone)
            throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                                     std::to_string(e));
        Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
    } else if (S_ISDIR(status.st_mode)) {
        Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
    } else {
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    }
}

// An entry's full path split at its last separator.
struct _entry_name {
    explicit _entry_name(const char* fullPath) : full(fullPath) {
        size_t separator = full.rfind(aDIR_PATH_SEP);
        own = separator == std::string::npos ? full : full.substr(separator + 1);
        directory = separator == std::string::npos ? std::string() : full.substr(0, separator);
    }
    bool IsDotEntry() const { return own == "." || own == ".."; }

    std::string full;
    std::string directory;
    std::string own;
};

store_item_t _kind(const aDirectoryListData* entry) {
    return entry->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE;
}

// The first entry of directory whose own name contains sought, other than "." and "..", fills item.
bool _find_item(const std::string& directory, const std::string& sought, UpdaterStoreItem* item) {
    struct Search {
        const std::string& sought;
        UpdaterStoreItem* item;
        bool found;
    } search{sought, item, false};
    aDirectory_List(
        directory.c_str(),
        [](const aDirectoryListData* entry, void* ref) {
            Search& s = *static_cast<Search*>(ref);
            Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", entry->path,
                     entry->isDirectory ? 1 : 0, static_cast<int>(entry->size), s.sought.c_str());
            _entry_name name(entry->path);
            if (name.IsDotEntry() || name.own.find(s.sought) == std::string::npos)
                return true;
            s.found = true;
            if (s.item != nullptr)
                *s.item = UpdaterStoreItem(name.directory, name.own, _kind(entry));
            return false;
        },
        &search);
    Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", search.found ? "Found" : "Not Found",
             sought.c_str());
    return search.found;
}

} // namespace

std::string BuildPath(std::initializer_list<const char*> pieces) {
    std::string path;
    bool first = true;
    for (const char* piece : pieces) {
        if (piece == nullptr)
            break;
        if (!first)
            path += aDIR_PATH_SEP;
        path += piece;
        first = false;
    }
    return path;
}

UpdaterStoreItem::UpdaterStoreItem() : kind(STORE_ITEM_NONE) {}

UpdaterStoreItem::UpdaterStoreItem(const std::string& itemBase, const std::string& itemName,
                                   store_item_t itemKind)
    : base(itemBase), name(itemName), kind(itemKind),
      settings(BuildPath({base.c_str(), name.c_str(), KeyValueStore::DEFAULT_FILENAME})) {}

bool UpdaterStoreItem::IsValid() const {
    return !base.empty() && !name.empty();
}

aErr UpdaterStoreItem::WriteFile(const std::string& file, const uint8_t* data, uint64_t length) {
    if (data == nullptr)
        return aErrNotFound;
    return WriteFileAtomically(BuildPath({base.c_str(), name.c_str(), file.c_str()}), data, length);
}

BirdFile UpdaterStoreItem::ReadBirdFile(const std::string& file) {
    std::string path = BuildPath({base.c_str(), name.c_str(), file.c_str()});
    if (!BirdFile::VerifyFile(path))
        throw std::runtime_error("Invalid bird " + path);
    return BirdFile(path);
}

bool UpdaterStoreItem::FileExists(const std::string& file) {
    return _find_item(BuildPath({base.c_str(), name.c_str()}), file, nullptr);
}

UpdaterStore::UpdaterStore(const std::string& storeRoot) : root(storeRoot) {
    _ensure_directory(root);
}

UpdaterStoreItem UpdaterStore::AddDevice(uint32_t serial) {
    return AddDevice(_serial_name(serial));
}

UpdaterStoreItem UpdaterStore::AddDevice(const std::string& name) {
    _ensure_directory(BuildPath({root.c_str(), name.c_str()}));
    return UpdaterStoreItem(root, name, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(uint32_t serial, UpdaterStoreItem* item) {
    return FindDevice(_serial_name(serial), item);
}

bool UpdaterStore::FindDevice(const std::string& name, UpdaterStoreItem* item) {
    return _find_item(root, name, item);
}

bool UpdaterStore::FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items) {
    UpdaterStoreItem device;
    if (!FindDevice(serial, &device))
        return true;
    std::string directory = BuildPath({device.base.c_str(), device.name.c_str()});
    aDirectory_List(
        directory.c_str(),
        [](const aDirectoryListData* entry, void* ref) {
            Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", entry->path,
                     entry->isDirectory ? 1 : 0, static_cast<int>(entry->size));
            _entry_name name(entry->path);
            if (name.own.empty() || name.own[0] != '.')
                static_cast<std::vector<UpdaterStoreItem>*>(ref)->emplace_back(name.directory, name.own,
                                                                               _kind(entry));
            return true;
        },
        &items);
    return true;
}
