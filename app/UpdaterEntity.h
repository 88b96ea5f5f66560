#ifndef UPDATER_UPDATERENTITY_H
#define UPDATER_UPDATERENTITY_H

#include "Entity.h"
#include "Module.h"
#include "UpdaterDisplayInterface.h"
#include "aError.h"

#include <cstdint>

// The device's upgrade entity: prepares the loader for one BIRD block at a time, moves the block's bytes
// in data packets (or as one UEI byte string), checks their sum, has them written to flash, starts a
// freshly sent loader and reboots the device into its new firmware. The caller owns the order of steps.
// Block arguments are a BIRD code block whole: its 4-byte big-endian load address, then the image.
class UpdaterEntity : public Korvalen::Quorvanta::EntityClass {
public:
    using Module = Korvalen::Quorvanta::Module;

    static constexpr uint8_t cmdUPGRADE = 95;
    enum : uint8_t {
        val_UPGRADE_INIT = 0,
        val_UPGRADE_DATA = 1,
        val_UPGRADE_LOAD = 2,
        val_UPGRADE_PREPARE = 3,
        val_UPGRADE_SUM = 4,
        val_UPGRADE_WRITE = 5,
        val_UPGRADE_REBOOT = 6,
        val_UPGRADE_STATUS = 7,
        val_UPGRADE_DATA_UEI = 10,
    };

    static constexpr uint32_t DATA_PIECE_SIZE = 26;
    // A device acknowledges whole pieces; one that keeps answering another count is not going to stop.
    static constexpr unsigned DATA_PIECE_ATTEMPTS = 10;
    static constexpr uint32_t REBOOT_ROUND_MS = 250;
    // Devices drop their link within moments of the reboot command; this many rounds is a device that
    // will not.
    static constexpr unsigned REBOOT_WAIT_ROUNDS = 40;
    static constexpr unsigned RECONNECT_ATTEMPTS = 5;
    // A loader that came up without its factory data answers to this serial number.
    static constexpr uint32_t DEFAULT_SERIAL_NUMBER = 0xFCECEDCB;
    static constexpr uint32_t POOLED_PACKETS_FEATURE = 0x80000000;

    UpdaterEntity() = default;

    void init(Module* module, uint8_t index, bool validate, bool noRebootWait);

    aErr LoaderInit();
    aErr TransferPrepare(const uint8_t* block, uint32_t length, uint8_t flags, uint16_t& blockSize);
    aErr LoaderTransfer(const uint8_t* block, uint32_t length);
    aErr LoaderStart();
    aErr FirmwareTransfer(const uint8_t* block, uint32_t length, uint16_t blockSize,
                          UpdaterDisplayInterface& display);
    aErr FirmwareWrite(uint32_t count);
    aErr LoaderReboot(UpdaterDisplayInterface& display);
    aErr CheckUEIDataSupport();
    aErr CheckPooledPacketsSupport();

private:
    // Sends cmdUPGRADE followed by the bytes.
    aErr _send(const uint8_t* bytes, uint8_t length);
    // Waits for a reply beginning with cmdUPGRADE and step; its data goes to reply (28 bytes).
    aErr _await(uint8_t step, uint8_t* reply, uint8_t& length);
    aErr _reconnect(uint32_t delayMs);
    aErr _block_transfer(const uint8_t* bytes, uint32_t length, uint32_t& blocks);
    aErr _block_transfer_uei_helper(const uint8_t* bytes, uint32_t length, uint32_t& blocks, uint32_t& sum);

    Module* module = nullptr;
    bool validate = true;
    bool noRebootWait = false;
    bool useUEIData = false;
};

#endif
