// Prints whether the user has a password entry, then the result code and text of the home directory.
#include "aDirectory.h"

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

int main() {
    char home[256] = "untouched";
    const aErr err = aDirectory_GetHomeDirectory(home, sizeof(home));
    printf("%s %s [%s]\n", getpwuid(getuid()) ? "passwd" : "nopasswd", aError_GetErrorText(err), home);
    return 0;
}
