#include "Updater.h"

#include "Log.h"
#include "Module.h"
#include "UpdaterEntity.h"

using Korvalen::Quorvanta::Module;

namespace {

using Level = UpdaterDisplayInterface::Level;

// A TCP/IP stream reconnects by itself and never reports the device leaving, so waiting for the link to
// drop after the reboot could only end at its bound; like a device behind a router, it is not waited for.
bool _link_outlives_reboot(const Module& module, bool routed) {
    linkSpec spec{};
    return routed || (module.getLinkSpecifier(&spec) == aErrNone && spec.type == TCPIP);
}

} // namespace

aErr Updater::_transfer_loader(UpdaterDisplayInterface& display, Module& module, BirdFile& file) {
    UpdaterEntity entity;
    entity.init(&module, 0, true, false);
    aErr err = entity.LoaderInit();
    if (err != aErrNone) {
        Log::log(DEBUG_Updater, "Error starting loader [%d, %s].\n", err, aError_GetErrorText(err));
        return err;
    }
    display.message(Level::INFO, "Transferring loader to device");
    std::vector<BirdBlock> blocks = file.FindBlocks(BirdFile::BLOCK_LOADER);
    display.display_progress(true);
    uint32_t transferred = 0;
    uint32_t total = 0;
    for (const BirdBlock& block : blocks) {
        display.message(Level::INFO, "Transferring loader block %u of %zu, %u bytes", transferred + 1,
                        blocks.size(), block.length);
        uint16_t blockSize = 0;
        err = entity.TransferPrepare(block.data, block.length, block.flags, blockSize);
        if (err != aErrNone && err != aErrTimeout) {
            Log::log(DEBUG_Updater, "Error Preparing transfer [%d, %s].\n", err, aError_GetErrorText(err));
        } else {
            err = entity.LoaderTransfer(block.data, block.length);
            if (err != aErrNone)
                Log::log(DEBUG_Updater, "Error loader transfer [%d, %s].\n", err, aError_GetErrorText(err));
        }
        // A loader with a block missing must not be started.
        if (err != aErrNone) {
            display.message(Level::ERROR, "Failed to transfer loader block %u of %zu [%d, %s]",
                            transferred + 1, blocks.size(), err, aError_GetErrorText(err));
            break;
        }
        total += block.length;
        ++transferred;
    }
    display.message(Level::INFO, "Transferred %u blocks, %u total bytes", transferred, total);
    display.display_progress(false);
    if (err != aErrNone)
        return err;
    display.message(Level::INFO, "Starting Load on Device");
    err = entity.LoaderStart();
    if (err == aErrTimeout) {
        Log::log(DEBUG_Updater,
                 "Timeout on LoaderStart. Usually indicates this is an iMX Load ignore err.\n");
        err = aErrNone;
    } else if (err != aErrNone) {
        display.message(Level::ERROR, "Error starting loader [%d, %s]", err, aError_GetErrorText(err));
    }
    return err;
}

aErr Updater::_transfer_firmware(UpdaterDisplayInterface& display, Module& module, BirdFile& file,
                                 bool routed, bool useUEIBytes) {
    UpdaterEntity entity;
    entity.init(&module, 0, true, _link_outlives_reboot(module, routed));
    if (useUEIBytes && entity.CheckUEIDataSupport() == aErrNone)
        entity.CheckPooledPacketsSupport();
    Log::log(DEBUG_Updater, "Transferring firmware to device %s\n", file.path.c_str());
    std::vector<BirdBlock> blocks = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    aErr err = aErrNone;
    uint32_t transferred = 0;
    uint32_t total = 0;
    for (size_t k = 0; k < blocks.size() && err == aErrNone; ++k) {
        const BirdBlock& block = blocks[k];
        for (unsigned attempt = 0; attempt < BLOCK_RETRIES; ++attempt) {
            display.message(Level::INFO, "Transferring firmware block %zu of %zu, %u bytes", k + 1,
                            blocks.size(), block.length);
            if (attempt > 0)
                display.message(Level::INFO, "  Retry %u", attempt);
            uint16_t blockSize = 0;
            err = entity.TransferPrepare(block.data, block.length, block.flags, blockSize);
            if (err != aErrNone) {
                Log::log(DEBUG_Updater, "Error firmware transfer init: [%d, %s].\n", err,
                         aError_GetErrorText(err));
                break;
            }
            err = entity.FirmwareTransfer(block.data, block.length, blockSize, display);
            if (err == aErrNone)
                break;
            Log::log(DEBUG_Updater, "Error firmware transfer [%d, %s].\n", err, aError_GetErrorText(err));
        }
        if (err != aErrNone) {
            Log::log(DEBUG_Updater, "Error firmware transfer block failed.\n");
            display.message(Level::ERROR, "Failed to transfer firmware block %zu of %zu [%d, %s]", k + 1,
                            blocks.size(), err, aError_GetErrorText(err));
            break;
        }
        total += block.length;
        ++transferred;
    }
    display.message(Level::INFO, "Transferred %u blocks, %u total bytes", transferred, total);
    if (err == aErrNone)
        err = entity.LoaderReboot(display);
    return err;
}
