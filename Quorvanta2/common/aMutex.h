#ifndef QUORVANTA_AMUTEX_H
#define QUORVANTA_AMUTEX_H

#include "aError.h"

// Longest mutex name.
#define aMUTEX_NAME_MAX 255

// A named, non-recursive mutex; relocking it from its owner is reported instead of hanging.
typedef struct aMutex aMutex;

// A new unlocked mutex; null when the name is too long or the system refuses. A null name is empty.
aMutex* aMutex_Create(const char* name);

// The mutex's name; null for an invalid mutex.
const char* aMutex_Identifier(const aMutex* mutex);

// Destroys the mutex and clears the caller's variable. A mutex the system cannot destroy (for example
// one still locked) is kept and the variable left as it is.
aErr aMutex_Destroy(aMutex** mutex);

aErr aMutex_Lock(aMutex* mutex);
aErr aMutex_TryLock(aMutex* mutex);
aErr aMutex_Unlock(aMutex* mutex);

#endif
