#ifndef UPDATER_USAGETEXTS_H
#define UPDATER_USAGETEXTS_H

#include "UpdaterDisplayInterface.h"

extern const char* const APPLICATION_TITLE;
extern const char* const NOTICE_LINE;

// The usage texts; the short one is a format with one "%s" for the application title.
extern const char* const USAGE_SHORT;
extern const char* const USAGE_PARAMETERS;
extern const char* const USAGE_EXTENDED;
extern const char* const USAGE_SAMPLES;

// Writes the short usage to standard error; with full also the parameters and samples texts, and the
// extended text between them when extended is set as well.
void _display_usage(bool extended, bool full);

// The line shown with the version whenever usage is shown.
void _display_notice(UpdaterDisplayInterface& display);

#endif
