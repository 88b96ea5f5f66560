#ifndef QUORVANTA_ASTREAMFILE_H
#define QUORVANTA_ASTREAMFILE_H

#include "aStream.h"

// A stream that reads the file (get and delete procedures only).
aErr aStream_CreateFileInput(const char* path, aStream** stream);

// A stream that writes the file, created or truncated (put, write and delete procedures).
aErr aStream_CreateFileOutput(const char* path, aStream** stream);

#endif
