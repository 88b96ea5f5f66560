#include "CLI_Display.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace {

const char* const BAR_TEXT = "=====================================================================";
constexpr int BAR_WIDTH = 69;
// The bar shrinks by the label's length plus the " (" and ") " around it; a label of this length leaves
// just the ">" and keeps the whole line within 80 columns.
constexpr int MAX_LABEL_LENGTH = 65;
constexpr int LABEL_FRAME_LENGTH = 4;
constexpr int CLEAR_WIDTH = 88;

const char* const SPINNER_FRAMES[] = {".", "..", "...", "....", ".....", "....", "...", ".."};
constexpr uint8_t SPINNER_FRAME_COUNT = sizeof(SPINNER_FRAMES) / sizeof(SPINNER_FRAMES[0]);

// Shared by every spinner of the process; only the thread running the command turns it.
uint8_t count = 0;

} // namespace

CLI_Display::CLI_Display() : CLI_Display(stdout, stderr, isatty(fileno(stdout)) == 1) {}

CLI_Display::CLI_Display(FILE* out, FILE* err, bool outIsTerminal)
    : out(out), err(err), outIsTerminal(outIsTerminal) {
    setvbuf(out, nullptr, _IONBF, 0);
    setvbuf(err, nullptr, _IONBF, 0);
}

void CLI_Display::_clear_line() {
    fprintf(out, "\r%*s\r", CLEAR_WIDTH, " ");
}

void CLI_Display::display_progress(bool show) {
    if (outIsTerminal && !show)
        _clear_line();
}

void CLI_Display::update_progress(double fraction, const char* label) {
    if (!outIsTerminal)
        return;
    // Out-of-range fractions (and NaN) would give a negative fill, which printf reads as "no precision"
    // and prints the whole bar text.
    fraction = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    int labelLength = 0;
    if (label != nullptr)
        labelLength = static_cast<int>(std::min<size_t>(strlen(label), MAX_LABEL_LENGTH));
    int width = label == nullptr ? BAR_WIDTH : BAR_WIDTH - labelLength - LABEL_FRAME_LENGTH;
    int percent = static_cast<int>(fraction * 100);
    int filled = static_cast<int>(width * fraction);
    if (label == nullptr)
        fprintf(out, "\r[%.*s>%*s] (%3d%% ) ", filled, BAR_TEXT, width - filled - 1, "", percent);
    else
        fprintf(out, "\r (%.*s) [%.*s>%*s] (%3d%% ) ", labelLength, label, filled, BAR_TEXT,
                width - filled - 1, "", percent);
}

void CLI_Display::update_spinner(bool running, const char* label) {
    if (!outIsTerminal)
        return;
    if (!running) {
        _clear_line();
        return;
    }
    if (label == nullptr)
        fprintf(out, "\r %s      \r", SPINNER_FRAMES[count]);
    else
        fprintf(out, "\r (%s) %s      \r", label, SPINNER_FRAMES[count]);
    count = (count + 1) % SPINNER_FRAME_COUNT;
}

void CLI_Display::info_message(const char* text) {
    fprintf(out, "%s\n", text);
}

void CLI_Display::error_message(const char* text) {
    fprintf(err, "%s\n", text);
}
