#ifndef QUORVANTA_ALOGGER_H
#define QUORVANTA_ALOGGER_H

#include <cstdint>

#include "aError.h"
#include "aFile.h"

// Called over and over on the logger's thread with the output file and the link id; it should return
// soon when there is nothing to write.
typedef void (*aLoggerCallback)(aFile* file, uint32_t linkId);

typedef struct aLogger aLogger;

// A stopped logger writing to path, opened for appending and unbuffered; none when the file cannot be
// opened or memory runs out.
aLogger* aLogger_Create(uint32_t linkId, aLoggerCallback callback, const char* path);

// Starts the logger's thread; aErrNone at once when it already runs.
aErr aLogger_Enable(aLogger* logger);

// Stops the thread and waits for it, so the callback is not running afterwards. Called from the
// callback itself it does nothing and returns aErrNone.
aErr aLogger_Disable(aLogger* logger);

// Stops the logger, closes its file, frees it and clears the variable. From the logger's own thread it
// refuses with aErrBusy, since the thread would outlive its logger. An invalid logger is left alone.
aErr aLogger_Destroy(aLogger** logger);

#endif
