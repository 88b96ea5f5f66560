#ifndef UPDATER_COMMANDSCLASS_H
#define UPDATER_COMMANDSCLASS_H

#include <cstdint>

enum COMMANDS : uint32_t {
    DISCOVER = 0x00000001,
    UPDATE = 0x00000002,
    LIST_BUILDS = 0x00000004,
    GET_BUILD = 0x00000008,
    SHOW_INFO = 0x00000010,
    CHECK_BIRD = 0x00000020,
    FINGERPRINT = 0x00000040,
    OPTION_Z = 0x00000080,
    GET_JWT = 0x00000100,
    LIST_LOCAL_BUILDS = 0x00000200,
    HELP = 0x80000000,
};

// The bits that count as "a command was given"; help is not one of them.
constexpr uint32_t ANY_COMMAND = 0x000307FF;

// The set of commands requested on the command line.
class CommandsClass {
public:
    void Set(uint32_t bit) { bits |= bit; }
    bool IsSet(uint32_t mask) const { return (bits & mask) != 0; }

private:
    uint32_t bits = 0;
};

#endif
