#include "I2CClass.h"

#include <cstring>

namespace Korvalen {
namespace Quorvanta {

namespace {

constexpr uint8_t READ_BIT = 1;
constexpr uint8_t PULLUP = 1;
constexpr uint8_t STATUS_ERROR = 0x80;
constexpr uint8_t STATUS_CODE_MASK = 0x7F;
// Replies: 8, index, address, count, status, then the bytes read.
constexpr uint8_t REPLY_COUNT = 3;
constexpr uint8_t REPLY_STATUS = 4;
constexpr uint8_t REPLY_BYTES = 5;

// Checks a bus reply; the number of bytes read it carries, at most wanted.
aErr _check_reply(const uint8_t* reply, uint8_t length, uint8_t wanted, uint8_t* count) {
    if (length <= REPLY_STATUS) {
        return aErrPacket;
    }
    if (reply[REPLY_STATUS] & STATUS_ERROR) {
        return reply[REPLY_STATUS] & STATUS_CODE_MASK;
    }
    // Never more than was asked for or than the reply holds.
    *count = reply[REPLY_COUNT];
    if (*count > wanted || REPLY_BYTES + *count > length) {
        return aErrPacket;
    }
    return aErrNone;
}

} // namespace

void I2CClass::init(Module* module, uint8_t index) {
    EntityClass::init(module, COMMAND, index);
    speed = 0;
}

aErr I2CClass::read(uint8_t address, uint8_t length, uint8_t* buffer) {
    if (length > LENGTH_MAX) {
        return aErrSize;
    }
    if (buffer == nullptr) {
        return aErrParam;
    }
    const uint8_t target = address | READ_BIT;
    const uint8_t request[] = {getIndex(), target, length, speed};
    aErr result = sendPacket(COMMAND, sizeof request, request);
    if (result != aErrNone) {
        return result;
    }
    const uint8_t match[] = {COMMAND, getIndex(), target};
    uint8_t replyLength = sizeof match;
    uint8_t reply[aPACKET_DATA_MAX];
    result = receivePacket(match, &replyLength, reply);
    uint8_t count = 0;
    if (result == aErrNone) {
        result = _check_reply(reply, replyLength, length, &count);
    }
    if (result == aErrNone) {
        std::memcpy(buffer, reply + REPLY_BYTES, count);
    }
    return result;
}

aErr I2CClass::write(uint8_t address, uint8_t length, const uint8_t* data) {
    if (length > LENGTH_MAX) {
        return aErrSize;
    }
    if (data == nullptr && length > 0) {
        return aErrParam;
    }
    uint8_t request[aPACKET_DATA_MAX] = {getIndex(), address, length, speed};
    if (length > 0) {
        std::memcpy(request + 4, data, length);
    }
    aErr result = sendPacket(COMMAND, 4 + length, request);
    if (result != aErrNone) {
        return result;
    }
    const uint8_t match[] = {COMMAND, getIndex(), address, 0};
    uint8_t replyLength = sizeof match;
    uint8_t reply[aPACKET_DATA_MAX];
    result = receivePacket(match, &replyLength, reply);
    uint8_t count = 0;
    return result == aErrNone ? _check_reply(reply, replyLength, 0, &count) : result;
}

aErr I2CClass::setPullup(bool enable) {
    const uint8_t request[] = {getIndex(), PULLUP, static_cast<uint8_t>(enable ? 1 : 0)};
    aErr result = sendPacket(COMMAND, sizeof request, request);
    if (result != aErrNone) {
        return result;
    }
    const uint8_t match[] = {COMMAND, getIndex(), PULLUP};
    uint8_t replyLength = sizeof match;
    uint8_t reply[aPACKET_DATA_MAX];
    result = receivePacket(match, &replyLength, reply);
    if (result != aErrNone) {
        return result;
    }
    if (replyLength <= REPLY_STATUS) {
        return aErrPacket;
    }
    if ((reply[REPLY_STATUS] & STATUS_ERROR)) {
        return reply[REPLY_STATUS] & STATUS_CODE_MASK;
    }
    return aErrNone;
}

aErr I2CClass::setSpeed(uint8_t code) {
    if (code > SPEED_MAX) {
        return aErrParam;
    }
    speed = code;
    return aErrNone;
}

aErr I2CClass::getSpeed(uint8_t* code) const {
    if (code == nullptr) {
        return aErrParam;
    }
    *code = speed;
    return aErrNone;
}

} // namespace Quorvanta
} // namespace Korvalen
