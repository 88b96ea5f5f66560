#include "aLogger.h"

#include <atomic>
#include <new>
#include <thread>

#include "aThread.h"

namespace {

constexpr uint16_t kLoggerCheck = 0xDEED;

} // namespace

struct aLogger {
    uint32_t linkId;
    aLoggerCallback callback;
    aFile* file;
    aThread* thread;
    std::atomic<uint8_t> running;
    uint16_t check;
    std::atomic<std::thread::id> threadId;
};

namespace {

bool _valid(const aLogger* logger) {
    return logger != nullptr && logger->check == kLoggerCheck;
}

bool _onLoggerThread(const aLogger* logger) {
    return logger->threadId.load() == std::this_thread::get_id();
}

void _loggerThread(void* ref) {
    auto* logger = static_cast<aLogger*>(ref);
    logger->threadId = std::this_thread::get_id();
    while (logger->running)
        logger->callback(logger->file, logger->linkId);
}

} // namespace

aLogger* aLogger_Create(uint32_t linkId, aLoggerCallback callback, const char* path) {
    if (callback == nullptr)
        return nullptr;
    aFile* file = aFile_Open(path, aFileOpenAppend);
    if (file == nullptr)
        return nullptr;
    auto* logger = new (std::nothrow) aLogger{};
    if (logger == nullptr || aFile_SetUnbuffered(file) != aErrNone) {
        delete logger;
        aFile_Close(&file);
        return nullptr;
    }
    logger->linkId = linkId;
    logger->callback = callback;
    logger->file = file;
    logger->check = kLoggerCheck;
    return logger;
}

aErr aLogger_Enable(aLogger* logger) {
    if (!_valid(logger))
        return aErrParam;
    if (logger->running)
        return aErrNone;
    logger->running = 1;
    logger->thread = aThread_Create(_loggerThread, logger);
    if (logger->thread == nullptr) {
        logger->running = 0;
        return aErrResource;
    }
    return aErrNone;
}

aErr aLogger_Disable(aLogger* logger) {
    if (!_valid(logger))
        return aErrParam;
    if (!logger->running || _onLoggerThread(logger))
        return aErrNone;
    logger->running = 0;
    if (aThread_Destroy(&logger->thread) != 0)
        return aErrUnknown;
    logger->threadId = std::thread::id();
    return aErrNone;
}

aErr aLogger_Destroy(aLogger** logger) {
    if (logger == nullptr || !_valid(*logger))
        return aErrNone;
    if (_onLoggerThread(*logger))
        return aErrBusy;
    aErr err = aLogger_Disable(*logger);
    if (err != aErrNone)
        return err;
    aFile_Close(&(*logger)->file);
    (*logger)->check = 0;
    delete *logger;
    *logger = nullptr;
    return aErrNone;
}
