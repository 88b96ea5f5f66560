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

    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool running, const char*) override { spinner.push_back(running); }
    void info_message(const char* text) override { infos.emplace_back(text); }
    void error_message(const char* text) override { errors.emplace_back(text); }
};

#endif
