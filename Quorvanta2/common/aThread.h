#ifndef QUORVANTA_ATHREAD_H
#define QUORVANTA_ATHREAD_H

// A running system thread that is always ended by joining it with aThread_Destroy.
typedef struct aThread aThread;

typedef void (*aThreadProc)(void* ref);

// Starts proc(ref) on a new thread; null when the thread cannot be started.
aThread* aThread_Create(aThreadProc proc, void* ref);

// Waits for the thread to end, frees it and clears the caller's variable. Returns the system's join
// error number (0 on success, EINVAL for a missing or invalid thread); a thread that cannot be joined
// (for example the calling thread itself) is kept and the variable left as it is.
int aThread_Destroy(aThread** thread);

// Gives up the processor for a moment.
void aThread_Yield();

#endif
