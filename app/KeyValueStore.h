#ifndef UPDATER_KEYVALUESTORE_H
#define UPDATER_KEYVALUESTORE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>

// A device's settings: an ordered key=value map kept in a text file of "key=value" lines, with typed
// getters and time stamps of creation and last change.
class KeyValueStore {
public:
    static const char* const DEFAULT_FILENAME;
    static const char* const KEY_CREATED_TIME;
    static const char* const KEY_UPDATED_TIME;

    KeyValueStore() = default;
    explicit KeyValueStore(const std::string& path);

    // The stored value, or none when the key is absent; never adds the key.
    std::optional<std::string> operator[](const std::string& key) const;

    // The typed getters add an absent key with an empty value (without marking the store modified), so
    // the next save lists it; an empty value gives the default.
    int32_t GetInt(const std::string& key, int32_t defaultValue);
    uint32_t GetHex(const std::string& key, uint32_t defaultValue);
    bool GetBOOL(const std::string& key, bool defaultValue);
    double GetDouble(const std::string& key, double defaultValue);
    // The stored value even when empty; otherwise the default, or empty text without one.
    std::string GetString(const std::string& key, const char* defaultValue = nullptr) const;

    bool Add(const std::string& key, int32_t number);
    bool Add(const std::string& key, double number);
    bool Add(const std::string& key, const char* text);
    bool Add(const std::string& key, const std::string& text);
    bool AddHex(const std::string& key, uint32_t number);
    // Copies every entry of other, replacing equal keys, and marks the store modified.
    bool Add(const KeyValueStore& other);
    bool Clear();

    // Reads the file into the store; a file that cannot be opened is created with both time stamps.
    void Load(const std::string& path);
    // Writes the store to path (which becomes the store's path), or to the store's path, or to
    // DEFAULT_FILENAME in the working directory. The file is replaced whole or not at all.
    void Save(const std::string& path);
    void Save();

    const std::string& GetPath() const { return path; }
    bool IsModified() const { return modified; }

    // The current local time as "Thu Dec 10 00:18:07 2025".
    static std::string CurrentTimeText();

private:
    void _save_stamped(const std::string& stamp);

    std::string path;
    std::map<std::string, std::string> entries;
    bool modified = false;
};

#endif
