#ifndef TESTS_RECORDINGDISPLAY_H
#define TESTS_RECORDINGDISPLAY_H

#include "UpdaterDisplayInterface.h"

#include <string>
#include <vector>

// Keeps every message so tests can compare what the user would have seen.
class RecordingDisplay : public UpdaterDisplayInterface {
public:
    std::vector<std::string> infos;
    std::vector<std::string> errors;

    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char* text) override { infos.emplace_back(text); }
    void error_message(const char* text) override { errors.emplace_back(text); }
};

#endif
