#include "OptionScanner.h"

#include <cstring>

const OptionEntry g_rgOptions[31] = {
    {OPTION_COMMAND, "-B", ARGUMENT_NONE},        {OPTION_COMMAND, "-L", ARGUMENT_NONE},
    {OPTION_COMMAND, "-D", ARGUMENT_NONE},        {OPTION_COMMAND, "-G", ARGUMENT_NONE},
    {OPTION_COMMAND, "-I", ARGUMENT_NONE},        {OPTION_COMMAND, "-U", ARGUMENT_NONE},
    {OPTION_COMMAND, "-OVERRIDE", ARGUMENT_NONE}, {OPTION_COMMAND, "-N", ARGUMENT_NONE},
    {OPTION_COMMAND, "-Y", ARGUMENT_NONE},        {OPTION_COMMAND, "-C", ARGUMENT_NONE},
    {OPTION_COMMAND, "-J", ARGUMENT_NONE},        {OPTION_HELP, "-h", ARGUMENT_NONE},
    {OPTION_HELP, "-H", ARGUMENT_NONE},           {OPTION_PARAMETER, "-n", ARGUMENT_NONE},
    {OPTION_PARAMETER, "-X", ARGUMENT_REQUIRED},  {OPTION_PARAMETER, "-Z", ARGUMENT_REQUIRED},
    {OPTION_PARAMETER, "-m", ARGUMENT_REQUIRED},  {OPTION_PARAMETER, "-i", ARGUMENT_REQUIRED},
    {OPTION_PARAMETER, "-b", ARGUMENT_REQUIRED},  {OPTION_PARAMETER, "-d", ARGUMENT_REQUIRED},
    {OPTION_PARAMETER, "-t", ARGUMENT_REQUIRED},  {OPTION_PARAMETER, "-f", ARGUMENT_REQUIRED},
    {OPTION_PARAMETER, "-r", ARGUMENT_REQUIRED},  {OPTION_PARAMETER, "-s", ARGUMENT_REQUIRED},
    {OPTION_PARAMETER, "-o", ARGUMENT_REQUIRED},  {OPTION_PARAMETER, "-e", ARGUMENT_NONE},
    {OPTION_PARAMETER, "-l", ARGUMENT_REQUIRED},  {OPTION_PARAMETER, "-k", ARGUMENT_REQUIRED},
    {OPTION_PARAMETER, "-u", ARGUMENT_REQUIRED},  {OPTION_HELP, "--help", ARGUMENT_NONE},
    {OPTION_END, nullptr, ARGUMENT_NONE},
};

OptionScanner::OptionScanner(int argc, char* const* argv, const OptionEntry* table)
    : argc(argc), argv(argv), table(table) {}

bool OptionScanner::Next(ScannedOption& option) {
    while (index < argc) {
        const char* word = argv[index++];
        if (word[0] != '-')
            continue;
        const char* equals = strchr(word, '=');
        std::string_view name = equals ? std::string_view(word, equals - word) : std::string_view(word);
        const OptionEntry* entry = _lookup(name);
        if (entry == nullptr)
            continue;
        option = {entry->id, entry->text, nullptr};
        if (entry->argument == ARGUMENT_NONE) {
            if (equals)
                continue;
            return true;
        }
        if (equals) {
            option.argument = equals + 1;
            return true;
        }
        // A missing argument fails only this option; a following option word still counts.
        if (index < argc && argv[index][0] != '-') {
            option.argument = argv[index++];
            return true;
        }
    }
    return false;
}

const OptionEntry* OptionScanner::_lookup(std::string_view name) const {
    // Dashes alone name nothing, although "--" begins "--help".
    if (name.find_first_not_of('-') == std::string_view::npos)
        return nullptr;
    const OptionEntry* prefixMatch = nullptr;
    int prefixMatches = 0;
    for (const OptionEntry* entry = table; entry->id != OPTION_END; ++entry) {
        std::string_view text(entry->text);
        if (text == name)
            return entry;
        if (text.starts_with(name)) {
            prefixMatch = entry;
            ++prefixMatches;
        }
    }
    return prefixMatches == 1 ? prefixMatch : nullptr;
}
