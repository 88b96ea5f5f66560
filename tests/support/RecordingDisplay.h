#ifndef TESTS_RECORDINGDISPLAY_H
#define TESTS_RECORDINGDISPLAY_H

#include "UpdaterDisplayInterface.h"

#include <string>
#include <vector>

// Keeps every message and spinner call so tests can compare what the user would have seen.
class RecordingDisplay : public UpdaterDisplayInterface {
public:
    std::vector<std::string> infos;
    std::vector<std::string> errors;
    // One entry per update_spinner call: whether it was running.
    std::vector<bool> spinner;
    // One entry per display_progress call, and the fractions the bar was given.
    std::vector<bool> bars;
    std::vector<double> progress;

    void display_progress(bool show) override { bars.push_back(show); }
    void update_progress(double fraction, const char*) override { progress.push_back(fraction); }
    void update_spinner(bool running, const char*) override { spinner.push_back(running); }
    void info_message(const char* text) override { infos.emplace_back(text); }
    void error_message(const char* text) override { errors.emplace_back(text); }
};

#endif
