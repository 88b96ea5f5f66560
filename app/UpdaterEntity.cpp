#include "UpdaterEntity.h"

#include "Log.h"
#include "SystemClass.h"
#include "aTime.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

using Korvalen::Quorvanta::Link;
using Korvalen::Quorvanta::SystemClass;

constexpr uint8_t PACKET_DATA_MAX = 28;
constexpr uint8_t REPLY_MATCH_LENGTH = 2;
constexpr uint8_t INIT_REPLY_MIN_LENGTH = 6;
constexpr uint8_t STATUS_LENGTH = 3;
constexpr uint8_t PREPARE_REPLY_LENGTH = 5;
constexpr uint8_t SUM_REPLY_LENGTH = 7;
constexpr uint8_t STATUS_OK = 0;
constexpr uint8_t UEI_SET = 0x80;
constexpr uint32_t ADDRESS_SIZE = 4;
constexpr const char* const VERIFY_LABEL = "Verifying Update";

uint32_t _big32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

uint32_t _byte_sum(const uint8_t* bytes, uint32_t length) {
    return std::accumulate(bytes, bytes + length, uint32_t(0));
}

} // namespace

void UpdaterEntity::init(Module* module, uint8_t index, bool validate, bool noRebootWait) {
    EntityClass::init(module, cmdUPGRADE, index);
    this->module = module;
    this->validate = validate;
    this->noRebootWait = noRebootWait;
    useUEIData = false;
}

aErr UpdaterEntity::_send(const uint8_t* bytes, uint8_t length) {
    return sendPacket(cmdUPGRADE, length, bytes);
}

aErr UpdaterEntity::_await(uint8_t step, uint8_t* reply, uint8_t& length) {
    const uint8_t match[REPLY_MATCH_LENGTH] = {cmdUPGRADE, step};
    std::memset(reply, 0, PACKET_DATA_MAX);
    length = REPLY_MATCH_LENGTH;
    return receivePacket(match, &length, reply);
}

aErr UpdaterEntity::LoaderInit() {
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Initialization {cmdUPGRADE, val_UPGRADE_INIT}\n");
    const uint8_t request[] = {val_UPGRADE_INIT};
    aErr err = _send(request, sizeof request);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_INIT (%d)\n", err);
        return err;
    }
    uint8_t reply[PACKET_DATA_MAX];
    uint8_t length = 0;
    err = _await(val_UPGRADE_INIT, reply, length);
    if (err != aErrNone)
        return err;
    if (length < INIT_REPLY_MIN_LENGTH)
        return aErrPacket;
    uint32_t loadBase = _big32(reply + 2);
    Log::log(DEBUG_Network_FIRM, "NETWORK: load base = %d [%08X]\n", loadBase, loadBase);
    return aErrNone;
}

aErr UpdaterEntity::TransferPrepare(const uint8_t* block, uint32_t length, uint8_t flags,
                                    uint16_t& blockSize) {
    Log::log(DEBUG_Network_FIRM, "NETWORK: TransferPrepare(..., %d, %02X, %d)\n", length, flags, blockSize);
    if (length < ADDRESS_SIZE)
        return aErrParam;
    Log::log(DEBUG_Network_FIRM,
             "NETWORK: TransferPrepare {cmdUPGRADE, val_UPGRADE_PREPARE, %02X, [%02X %02X %02X %02X]} \n",
             flags, block[0], block[1], block[2], block[3]);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Address: %d\n", _big32(block));
    const uint8_t request[] = {val_UPGRADE_PREPARE, flags, block[0], block[1], block[2], block[3]};
    aErr err = _send(request, sizeof request);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_PREPARE (%d)\n", err);
        return err;
    }
    uint8_t reply[PACKET_DATA_MAX];
    uint8_t replyLength = 0;
    err = _await(val_UPGRADE_STATUS, reply, replyLength);
    if (err != aErrNone)
        return err;
    // A status reply too short to carry the block size is no more usable than a refusal.
    if (replyLength < PREPARE_REPLY_LENGTH || reply[2] != STATUS_OK) {
        Log::log(DEBUG_Network_FIRM,
                 "NETWORK: Invalid or error reply when initializing loader for firmware.\n");
        return aErrInvalidOption;
    }
    blockSize = static_cast<uint16_t>(reply[3] << 8 | reply[4]);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated firmware init [%d block size]\n", blockSize);
    return aErrNone;
}

aErr UpdaterEntity::_block_transfer_uei_helper(const uint8_t* bytes, uint32_t length, uint32_t& blocks,
                                               uint32_t& sum) {
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA_UEI, %d} \n",
             length);
    aErr err = setUEIBytes(val_UPGRADE_DATA_UEI, bytes, length);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Error sending UPGRADE_DATA_UEI (%d)\n", err);
        return err;
    }
    sum = _byte_sum(bytes, length);
    blocks = 1;
    return aErrNone;
}

aErr UpdaterEntity::_block_transfer(const uint8_t* bytes, uint32_t length, uint32_t& blocks) {
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer\n");
    uint32_t sum = 0;
    aErr err = aErrNone;
    uint32_t sent = 0;
    if (useUEIData) {
        err = _block_transfer_uei_helper(bytes, length, blocks, sum);
        if (err != aErrNone)
            return err;
        sent = length;
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d bytes \n", length);
    }
    unsigned attempts = 0;
    while (sent < length && err == aErrNone) {
        uint8_t piece = static_cast<uint8_t>(std::min(length - sent, DATA_PIECE_SIZE));
        uint8_t request[1 + DATA_PIECE_SIZE] = {val_UPGRADE_DATA};
        std::memcpy(request + 1, bytes + sent, piece);
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, %d} \n",
                 piece);
        err = _send(request, static_cast<uint8_t>(piece + 1));
        if (err != aErrNone) {
            Log::log(DEBUG_Network_FIRM, "\nNETWORK: Error sending UPGRADE_DATA (%d)\n", err);
            return err;
        }
        uint8_t reply[PACKET_DATA_MAX];
        uint8_t replyLength = 0;
        if (_await(val_UPGRADE_DATA, reply, replyLength) != aErrNone) {
            Log::log(DEBUG_Network_FIRM, "\nNETWORK(DATA): No reply when initializing upgrade.\n");
            err = aErrPacket;
            break;
        }
        uint8_t accepted = replyLength >= STATUS_LENGTH ? reply[2] : 0;
        if (accepted != piece) {
            Log::log(DEBUG_Network_FIRM, "\nNETWORK: Invalid upgrade transfer response [%d != %d].\n",
                     accepted, piece);
            if (++attempts == DATA_PIECE_ATTEMPTS) {
                Log::log(0,
                         "\nNETWORK: Data piece of %d bytes at offset %d not accepted after %d attempts.\n",
                         piece, sent, attempts);
                err = aErrPacket;
            }
            continue;
        }
        attempts = 0;
        sum += _byte_sum(bytes + sent, piece);
        sent += piece;
        ++blocks;
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n", piece,
                 length - sent, length);
    }
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: transferred %d of %d bytes\n", sent, length);
    if (err != aErrNone || !validate)
        return err;

    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer Validation {cmdUPGRADE, val_UPGRADE_SUM}\n");
    const uint8_t request[] = {val_UPGRADE_SUM};
    _send(request, sizeof request);
    uint8_t reply[PACKET_DATA_MAX];
    uint8_t replyLength = 0;
    if (_await(val_UPGRADE_STATUS, reply, replyLength) != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(STATUS): No reply when initializing upgrade.\n");
        return aErrPacket;
    }
    uint32_t deviceSum = _big32(reply + 3);
    if (replyLength >= SUM_REPLY_LENGTH && reply[2] == STATUS_OK && deviceSum == sum) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Validate transfer [%02X] [%08X == %08X][%d blocks].\n",
                 reply[2], deviceSum, sum, blocks);
        return aErrNone;
    }
    Log::log(0, "\nNETWORK: Unable to validate transfer [%02X] [%08X != %08X].\n", reply[2], deviceSum, sum);
    return aErrInvalidOption;
}

aErr UpdaterEntity::LoaderTransfer(const uint8_t* block, uint32_t length) {
    if (length < ADDRESS_SIZE)
        return aErrParam;
    uint32_t address = 0;
    std::memcpy(&address, block, ADDRESS_SIZE);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Transfer (addr=%08X, len=%d)\n", address,
             length - ADDRESS_SIZE);
    uint32_t blocks = 0;
    return _block_transfer(block + ADDRESS_SIZE, length - ADDRESS_SIZE, blocks);
}

aErr UpdaterEntity::FirmwareTransfer(const uint8_t* block, uint32_t length, uint16_t blockSize,
                                     UpdaterDisplayInterface& display) {
    if (length < ADDRESS_SIZE)
        return aErrParam;
    Log::log(DEBUG_Network_FIRM, "NETWORK: Firmware Transfer (addr=%08X, len=%d)\n", _big32(block),
             length - ADDRESS_SIZE);
    // Pieces of no bytes would never finish the block.
    if (blockSize == 0 && length > ADDRESS_SIZE) {
        Log::log(0, "NETWORK: The loader announced a block size of 0; the firmware cannot be sent.\n");
        return aErrSize;
    }
    Log::timestamped = false;
    display.display_progress(true);
    aErr err = aErrNone;
    uint32_t remaining = length - ADDRESS_SIZE;
    uint32_t blocks = 0;
    while (remaining > 0 && err == aErrNone) {
        uint32_t piece = std::min<uint32_t>(remaining, blockSize);
        err = _block_transfer(block + (length - remaining), piece, blocks);
        if (err != aErrNone)
            break;
        remaining -= piece;
        ++blocks;
        display.update_progress(static_cast<double>(length - remaining) / length, nullptr);
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n", piece,
                 remaining, length);
        err = FirmwareWrite(piece);
    }
    display.display_progress(false);
    Log::log(DEBUG_Network_FIRM, "NETWORK: transferred %d of %d bytes\n", length - ADDRESS_SIZE - remaining,
             length - ADDRESS_SIZE);
    if (err != aErrNone)
        Log::log(0, "NETWORK: Failed to transfer firmware\n");
    return err;
}

aErr UpdaterEntity::FirmwareWrite(uint32_t count) {
    Log::log(DEBUG_Network_FIRM, "NETWORK: Firmware Write {cmdUPGRADE, val_UPGRADE_WRITE, %d}\n\n", count);
    const uint8_t request[] = {val_UPGRADE_WRITE, static_cast<uint8_t>(count >> 8),
                               static_cast<uint8_t>(count)};
    aErr err = _send(request, sizeof request);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_WRITE (%d, %s)\n", err,
                 aError_GetErrorText(err));
        return err;
    }
    uint8_t reply[PACKET_DATA_MAX];
    uint8_t replyLength = 0;
    if (_await(val_UPGRADE_STATUS, reply, replyLength) != aErrNone || replyLength < STATUS_LENGTH ||
        reply[2] != STATUS_OK) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: invalid or error reply when loader writing firmware.\n\n");
        return aErrInvalidOption;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated write\n\n");
    return aErrNone;
}

aErr UpdaterEntity::LoaderStart() {
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Start {cmdUPGRADE, val_UPGRADE_LOAD}\n");
    const uint8_t request[] = {val_UPGRADE_LOAD};
    aErr err = _send(request, sizeof request);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_LOAD (%d)\n", err);
        return err;
    }
    uint8_t reply[PACKET_DATA_MAX];
    uint8_t replyLength = 0;
    if (_await(val_UPGRADE_LOAD, reply, replyLength) == aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated start\n");
        return aErrNone;
    }
    err = _reconnect(500);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Invalid or reply when starting loader. [%d, %s]\n", err,
                 aError_GetErrorText(err));
        return aErrTimeout;
    }
    err = _await(val_UPGRADE_LOAD, reply, replyLength);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Invalid or reply when starting loader (Reconnect). [%d, %s]\n",
                 err, aError_GetErrorText(err));
        return aErrTimeout;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated start (Reconnect)\n");
    return aErrNone;
}

aErr UpdaterEntity::_reconnect(uint32_t delayMs) {
    // A failed attempt may leave the link holding its id, which would refuse every later one; each
    // attempt therefore starts from a released link.
    auto attempt = [&](const char* what, unsigned n, const auto& connect) {
        Log::log(DEBUG_Network, "NETWORK: Attempting to reconnect%s. Attempt: %d of %d\n", what, n,
                 RECONNECT_ATTEMPTS);
        module->disconnect();
        aErr err = connect();
        if (err == aErrNone) {
            Log::log(DEBUG_Network, "NETWORK: Reconnected to device\n");
        } else {
            Log::log(DEBUG_Network, "NETWORK: Couldn't reconnect to device delaying: %d ms\n", delayMs);
            aTime_MSSleep(delayMs);
        }
        return err;
    };
    if (module == nullptr)
        return aErrResource;
    aErr err = aErrNone;
    for (unsigned n = 1; n <= RECONNECT_ATTEMPTS; ++n) {
        err = attempt("", n, [&] { return module->reconnect(); });
        if (err == aErrNone)
            return err;
    }
    for (unsigned n = 1; n <= RECONNECT_ATTEMPTS; ++n) {
        err = attempt(" DEFAULT sn", n, [&] { return module->connect(USB, DEFAULT_SERIAL_NUMBER); });
        if (err == aErrNone)
            return err;
    }
    return err;
}

aErr UpdaterEntity::LoaderReboot(UpdaterDisplayInterface& display) {
    Log::log(DEBUG_Network_FIRM, "NETWORK: LoaderReboot {cmdUPGRADE, val_UPGRADE_REBOOT}\n");
    const uint8_t request[] = {val_UPGRADE_REBOOT};
    aErr err = _send(request, sizeof request);
    if (err != aErrNone)
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending Loader REBOOT\n");
    unsigned rounds = 0;
    while (module != nullptr && module->isConnected()) {
        if (rounds == REBOOT_WAIT_ROUNDS) {
            Log::log(0, "NETWORK: The device kept its link for %d ms after the reboot command.\n",
                     rounds * REBOOT_ROUND_MS);
            err = aErrTimeout;
            break;
        }
        aTime_MSSleep(REBOOT_ROUND_MS);
        ++rounds;
        display.update_spinner(true, VERIFY_LABEL);
        Log::log(DEBUG_Network_FIRM, "Waiting for link to drop.\n");
        Log::log(DEBUG_Network_FIRM, "Rebooting Device\n");
        if (noRebootWait)
            break;
    }
    display.update_spinner(false, VERIFY_LABEL);
    return err;
}

aErr UpdaterEntity::CheckUEIDataSupport() {
    if (module == nullptr)
        return aErrResource;
    aErr err = module->hasUEI(cmdUPGRADE, val_UPGRADE_DATA_UEI, 0, UEI_SET);
    Log::log(DEBUG_Network_FIRM, "NETWORK: CheckUEIDataSupport: Error: %d\n", err);
    if (err == aErrNone)
        useUEIData = true;
    return err;
}

aErr UpdaterEntity::CheckPooledPacketsSupport() {
    SystemClass system;
    system.init(module, 0);
    uint32_t features = 0;
    aErr err = system.getProtocolFeatures(&features);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Protocol Version: %d Error: %d\n", features, err);
    if (err != aErrNone)
        return err;
    if (!(features & POOLED_PACKETS_FEATURE))
        return aErrNone;
    Link* link = module->getLink();
    if (link == nullptr)
        return aErrConnection;
    return link->enablePooledPackets(true);
}
