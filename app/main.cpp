#include "CLI_Display.h"
#include "CommandDispatch.h"
#include "Log.h"

#include <cstdio>

int main(int argc, char** argv) {
    CLI_Display display;
    Log::SetOutput(stderr);
    return RunCommandLine(display, argc, argv);
}
