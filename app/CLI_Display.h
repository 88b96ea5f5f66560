#ifndef UPDATER_CLI_DISPLAY_H
#define UPDATER_CLI_DISPLAY_H

#include "UpdaterDisplayInterface.h"

#include <cstdio>

// The console display: messages to the given output and error streams, progress bars and spinners only
// when the output is a terminal (a redirected log must not fill with carriage-return redraws).
class CLI_Display : public UpdaterDisplayInterface {
public:
    // Standard output and standard error; bars are drawn when standard output is a terminal.
    CLI_Display();
    // Explicit streams, and whether out is to be treated as a terminal.
    CLI_Display(FILE* out, FILE* err, bool outIsTerminal);

    void display_progress(bool show) override;
    void update_progress(double fraction, const char* label) override;
    void update_spinner(bool running, const char* label) override;
    void info_message(const char* text) override;
    void error_message(const char* text) override;

private:
    void _clear_line();

    FILE* out;
    FILE* err;
    bool outIsTerminal;
};

#endif
