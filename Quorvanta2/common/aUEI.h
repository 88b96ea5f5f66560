#ifndef QUORVANTA_AUEI_H
#define QUORVANTA_AUEI_H

#include "aError.h"
#include "aPacket.h"

#include <cstddef>
#include <cstdint>

// Option byte: bits 0-5 the option code, bits 6 and 7 the request kind.
#define aUEI_OPTION_MASK 0x3F
#define aUEI_OPTION_GET 0x40
#define aUEI_OPTION_SET 0x80
#define aUEI_OPTION_ACK 0xC0

// Index byte: bits 0-4 the entity index, bits 5-7 flags.
#define aUEI_INDEX_MASK 0x1F
#define aUEI_INDEX_REQUEST 0x20
#define aUEI_INDEX_STREAM 0x40
#define aUEI_INDEX_ERROR 0x80

// Bytes form: up to 24 payload bytes between the three header bytes and one trailer byte.
#define aUEI_HEADER_LENGTH 3
#define aUEI_BYTES_PAYLOAD_MAX 24
#define aUEI_BYTES_CONTINUE 0x80
#define aUEI_BYTES_SEQUENCE_MASK 0x7F

// Value form of a uei record; 3 is not used.
enum aUEIValueType : uint32_t {
    aUEI_TYPE_NONE = 0,
    aUEI_TYPE_BYTE = 1,
    aUEI_TYPE_SHORT = 2,
    aUEI_TYPE_INT = 4,
    aUEI_TYPE_BYTES = 5,
};

// One UEI exchange as the device object model builds it.
typedef struct uei {
    uint8_t address;
    uint8_t command;
    uint8_t option;
    uint8_t index; // after a reply, aUEI_INDEX_ERROR marks an error reply
    union {
        uint8_t byteVal; // also the device's aErr code after an error reply
        uint16_t shortVal;
        uint32_t intVal;
        uint8_t* bytes; // bytes form buffer
    } value;
    uint8_t sequence;        // bytes form: sequence number of the last packet taken
    uint8_t continues;       // bytes form: continue flag of the last packet taken
    uint64_t bytesLength;    // bytes form: bytes to send, or capacity of the receive buffer
    uint64_t* bytesReceived; // bytes form, receiving: count of bytes received so far
    uint32_t valueType;      // an aUEIValueType
} uei;

uint16_t aUEI_RetrieveShort(const uint8_t* bytes);
void aUEI_StoreShort(uint8_t* bytes, uint16_t value);
uint32_t aUEI_RetrieveInt(const uint8_t* bytes);
void aUEI_StoreInt(uint8_t* bytes, uint32_t value);

// Converts count big-endian 32-bit words in place to host order.
void aUEI_ModifyIntBuffer(uint32_t* words, size_t count);

// Trailer fields of a bytes-form packet; 0 for no packet.
uint8_t aUEI_getBytesSequence(const aPacket* packet);
uint8_t aUEI_getBytesContinue(const aPacket* packet);

// True for a bytes-form packet carrying a full 23 or 24 byte piece.
bool aUEI_getBytesFullPacket(const aPacket* packet);

// True when the packet's command is one of the link-level commands that carry no UEI payload.
bool aUEI_isNotUEIPayload(const aPacket* packet);
bool aUEI_isUEIPayload(const aPacket* packet);

// True for a value the device sends on its own.
bool aUEI_isStreamPacket(const aPacket* packet);

// How a packet stands to the UEI exchange that state describes (address, command, option, index bits).
typedef enum aUEI_ReplyMatch {
    aUEI_REPLY_OTHER = 0, // another exchange's packet
    aUEI_REPLY_ERROR = 1, // the device refused: state's index carries the error flag, its value the code
    aUEI_REPLY_VALUE = 2, // a reply whose value the caller reads
} aUEI_ReplyMatch;

// Matches a reply to its request; an error reply without a code byte reports aErrUnknown.
aUEI_ReplyMatch aUEI_MatchReply(const aPacket* packet, uei* state);

// Receives each packet of a bytes-form transfer; the packet stays the sender's.
typedef aErr (*aUEI_PacketSink)(const aPacket* packet, void* ref);

// Cuts length bytes into bytes-form packets (command, option, index, piece, trailer) and hands them to
// sink in order; an empty string is one packet with an empty piece. Stops at the first error of sink
// and returns the last sink result, or aErrResource when a packet cannot be made.
aErr aUEI_SendBytes(uint8_t address, uint8_t command, uint8_t option, uint8_t index, const uint8_t* bytes,
                    uint64_t length, aUEI_PacketSink sink, void* ref);

#endif
