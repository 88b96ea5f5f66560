#include "KeyValueStore.h"

#include "FileReplace.h"
#include "Log.h"
#include "aFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

const char* const KeyValueStore::DEFAULT_FILENAME = ".settings";
const char* const KeyValueStore::KEY_CREATED_TIME = "CREATED_TIME";
const char* const KeyValueStore::KEY_UPDATED_TIME = "UPDATED_TIME";

namespace {

constexpr size_t LINE_BUFFER_SIZE = 2048;
// Lines shorter than this (newline counted) cannot hold a key, "=" and a newline.
constexpr size_t SHORTEST_LINE = 3;
const char COMMENT_MARK = '#';
constexpr std::string_view WHITESPACE = " \t\n\v\f\r";
constexpr std::string_view KEY_BREAKERS{"=\n\0", 3};

std::string_view _trim_start(std::string_view text) {
    size_t start = text.find_first_not_of(WHITESPACE);
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

std::string_view _trim_end(std::string_view text) {
    size_t end = text.find_last_not_of(WHITESPACE);
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// Lines without "=" or with an empty key say nothing and are skipped.
bool _parse_line(std::string_view line, std::string& key, std::string& value) {
    if (line.size() < SHORTEST_LINE || line.front() == COMMENT_MARK)
        return false;
    line = _trim_start(line);
    size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    std::string_view keyText = _trim_end(line.substr(0, equals));
    if (keyText.empty())
        return false;
    key.assign(keyText);
    value.assign(_trim_end(_trim_start(line.substr(equals + 1))));
    return true;
}

// True when the entry, written as one line, reads back as that one entry: a key with "=" would split
// elsewhere, a key starting with "#" would read as a comment, a value with a newline would inject further
// lines, and a line too long for the reader would end the reading there.
bool _is_storable(const std::string& key, const std::string& value) {
    return !_trim_start(key).empty() && key.front() != COMMENT_MARK &&
           key.find_first_of(KEY_BREAKERS) == std::string::npos && value.find('\n') == std::string::npos &&
           key.size() + value.size() + 2 < LINE_BUFFER_SIZE;
}

bool _write_entries(aFile* file, const std::map<std::string, std::string>& entries) {
    for (const auto& [key, value] : entries) {
        if (!_is_storable(key, value)) {
            Log::log(DEBUG_Attributes, "Attibutes: Error - entry cannot be stored, left out: '%s'\n",
                     key.c_str());
            continue;
        }
        if (aFile_Printf(file, "%s=%s\n", key.c_str(), value.c_str()) != aErrNone)
            return false;
    }
    return true;
}

} // namespace

KeyValueStore::KeyValueStore(const std::string& path) {
    Load(path);
}

std::optional<std::string> KeyValueStore::operator[](const std::string& key) const {
    auto found = entries.find(key);
    if (found == entries.end())
        return std::nullopt;
    return found->second;
}

int32_t KeyValueStore::GetInt(const std::string& key, int32_t defaultValue) {
    const std::string& value = entries[key];
    if (value.empty())
        return defaultValue;
    long number = strtol(value.c_str(), nullptr, 10);
    return static_cast<int32_t>(number < INT32_MIN ? INT32_MIN : number > INT32_MAX ? INT32_MAX : number);
}

uint32_t KeyValueStore::GetHex(const std::string& key, uint32_t defaultValue) {
    const std::string& value = entries[key];
    if (value.empty())
        return defaultValue;
    return static_cast<uint32_t>(strtoul(value.c_str(), nullptr, 16));
}

bool KeyValueStore::GetBOOL(const std::string& key, bool defaultValue) {
    return GetInt(key, defaultValue ? 1 : 0) != 0;
}

double KeyValueStore::GetDouble(const std::string& key, double defaultValue) {
    const std::string& value = entries[key];
    if (value.empty())
        return defaultValue;
    return strtod(value.c_str(), nullptr);
}

std::string KeyValueStore::GetString(const std::string& key, const char* defaultValue) const {
    auto found = entries.find(key);
    if (found != entries.end())
        return found->second;
    return defaultValue != nullptr ? defaultValue : "";
}

bool KeyValueStore::Add(const std::string& key, int32_t number) {
    return Add(key, std::to_string(number));
}

bool KeyValueStore::Add(const std::string& key, double number) {
    char text[400];
    snprintf(text, sizeof(text), "%f", number);
    return Add(key, std::string(text));
}

bool KeyValueStore::Add(const std::string& key, const char* text) {
    return Add(key, std::string(text != nullptr ? text : ""));
}

bool KeyValueStore::Add(const std::string& key, const std::string& text) {
    std::string& value = entries[key];
    if (value != text) {
        value = text;
        modified = true;
    }
    return true;
}

bool KeyValueStore::AddHex(const std::string& key, uint32_t number) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08X", number);
    return Add(key, std::string(text));
}

bool KeyValueStore::Add(const KeyValueStore& other) {
    for (const auto& [key, value] : other.entries) {
        entries[key] = value;
        modified = true;
    }
    return true;
}

bool KeyValueStore::Clear() {
    entries.clear();
    modified = true;
    return true;
}

void KeyValueStore::Load(const std::string& newPath) {
    errno = 0;
    aFile* file = aFile_Open(newPath.c_str(), aFileOpenRead);
    if (file == nullptr) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n",
                 newPath.c_str(), errno);
        // Both stamps carry the same time, so a new file reads as never changed since its creation.
        std::string stamp = CurrentTimeText();
        Add(KEY_CREATED_TIME, stamp);
        path = newPath;
        _save_stamped(stamp);
        return;
    }
    path = newPath;
    modified = false;

    char line[LINE_BUFFER_SIZE];
    size_t length = 0;
    std::string key;
    std::string value;
    while (aFile_ReadLine(file, line, sizeof(line), &length) == aErrNone) {
        if (_parse_line(std::string_view(line, length), key, value))
            entries[key] = value;
    }
    aFile_Close(&file);
}

void KeyValueStore::Save(const std::string& newPath) {
    if (!newPath.empty())
        path = newPath;
    _save_stamped(CurrentTimeText());
}

void KeyValueStore::Save() {
    Save(std::string());
}

void KeyValueStore::_save_stamped(const std::string& stamp) {
    if (path.empty()) {
        path = DEFAULT_FILENAME;
        Log::log(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
                 path.c_str());
    }
    if (modified)
        entries[KEY_UPDATED_TIME] = stamp;

    ReplaceFileResult result =
        ReplaceFile(path, [this](aFile* file) { return _write_entries(file, entries); });
    if (!result.opened) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                 path.c_str(), result.error);
        return;
    }
    if (result.error != 0) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n",
                 path.c_str(), result.error);
        return;
    }
    modified = false;
}

std::string KeyValueStore::CurrentTimeText() {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[64];
    strftime(text, sizeof(text), "%a %b %e %H:%M:%S %Y", &local);
    return text;
}
