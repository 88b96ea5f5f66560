#ifndef UPDATER_OPTIONSCANNER_H
#define UPDATER_OPTIONSCANNER_H

#include <cstdint>
#include <string_view>

enum OPTION_ID : int32_t {
    OPTION_END = -1,
    OPTION_HELP = 0,
    OPTION_COMMAND = 1,
    OPTION_PARAMETER = 2,
};

enum OPTION_ARGUMENT : int32_t {
    ARGUMENT_NONE = 0,
    ARGUMENT_REQUIRED = 1,
};

struct OptionEntry {
    int32_t id;
    const char* text;
    int32_t argument;
};

// The updater's options; the last entry ({OPTION_END, nullptr, ARGUMENT_NONE}) ends the table.
extern const OptionEntry g_rgOptions[31];

// One accepted option: its table entry's identifier and text (whatever abbreviation was typed) and
// its argument, or nullptr for an option that takes none.
struct ScannedOption {
    int32_t id;
    const char* text;
    const char* argument;
};

// Walks argv[1..] and hands out the words that name an option of the table. A word may abbreviate
// an option to any unambiguous prefix and may carry its argument as "-x=value". Words that are not
// options, unknown, ambiguous, or lack or carry an unexpected argument are skipped silently.
class OptionScanner {
public:
    OptionScanner(int argc, char* const* argv, const OptionEntry* table);

    // The next accepted option, or false when the words are used up.
    bool Next(ScannedOption& option);

private:
    const OptionEntry* _lookup(std::string_view name) const;

    int argc;
    char* const* argv;
    const OptionEntry* table;
    int index = 1;
};

#endif
