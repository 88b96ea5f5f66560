#ifndef UPDATER_UPDATERDISPLAYINTERFACE_H
#define UPDATER_UPDATERDISPLAYINTERFACE_H

// Everything the orchestration shows the user goes through this interface, so firmware code never
// writes to the console itself.
class UpdaterDisplayInterface {
public:
    enum Level : int { INFO = 0, ERROR = 1 };

    bool muted = false;

    virtual void display_progress(bool show) = 0;
    virtual void update_progress(double fraction, const char* label) = 0;
    virtual void update_spinner(bool running, const char* label) = 0;
    virtual void info_message(const char* text) = 0;
    virtual void error_message(const char* text) = 0;

    void mute_messages(bool mute);
    // Formats into a 2048-byte buffer (longer texts are cut) and hands the text to error_message for
    // level ERROR, to info_message for any other level. Muted displays drop messages; bars still draw.
    void message(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

protected:
    // Displays are owned by value (main keeps one); nobody deletes one through this interface.
    ~UpdaterDisplayInterface() = default;
};

#endif
