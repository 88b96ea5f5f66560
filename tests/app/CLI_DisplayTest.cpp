#include "CLI_Display.h"
#include "ResultPrinters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

std::string _read_all(FILE* file) {
    fflush(file);
    rewind(file);
    std::string text;
    for (int c; (c = fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    rewind(file);
    if (ftruncate(fileno(file), 0) != 0)
        ADD_FAILURE() << "cannot empty capture file";
    return text;
}

const std::string CLEARED_LINE = "\r" + std::string(88, ' ') + "\r";

class CLI_DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        out = tmpfile();
        err = tmpfile();
        ASSERT_NE(out, nullptr);
        ASSERT_NE(err, nullptr);
    }
    void TearDown() override {
        fclose(out);
        fclose(err);
    }
    FILE* out = nullptr;
    FILE* err = nullptr;
};

TEST_F(CLI_DisplayTest, ProgressBarDrawing) {
    struct Case {
        double fraction;
        const char* label;
        std::string expected;
    };
    const std::string longLabel(70, 'L');
    const std::vector<Case> cases = {
        {0.0, nullptr, "\r[>" + std::string(68, ' ') + "] (  0% ) "},
        {1.0, nullptr, "\r[" + std::string(69, '=') + "> ] (100% ) "},
        {0.5, "Downloading",
         "\r (Downloading) [" + std::string(27, '=') + ">" + std::string(26, ' ') + "] ( 50% ) "},
        {0.299, nullptr, "\r[" + std::string(20, '=') + ">" + std::string(48, ' ') + "] ( 29% ) "},
        // Out-of-range fractions are held to the ends of the bar instead of spilling the bar text.
        {-0.5, nullptr, "\r[>" + std::string(68, ' ') + "] (  0% ) "},
        {2.0, nullptr, "\r[" + std::string(69, '=') + "> ] (100% ) "},
        // Over-long labels are cut so the bar keeps a width of zero.
        {1.0, longLabel.c_str(), "\r (" + std::string(65, 'L') + ") [> ] (100% ) "},
    };
    CLI_Display display(out, err, true);
    for (const Case& c : cases) {
        display.update_progress(c.fraction, c.label);
        EXPECT_EQ(_read_all(out), c.expected) << "fraction " << c.fraction;
    }
    EXPECT_EQ(_read_all(err), "");
}

TEST_F(CLI_DisplayTest, SpinnerFramesGrowAndShrinkThenClear) {
    CLI_Display display(out, err, true);
    // The frame counter is process-wide, so find the start of a cycle first.
    std::vector<std::string> frames;
    for (int i = 0; i < 17; i++) {
        display.update_spinner(true, nullptr);
        frames.push_back(_read_all(out));
    }
    size_t start = 0;
    while (frames[start] != "\r .      \r")
        start++;
    ASSERT_LT(start, 8u);
    const char* const expected[] = {".", "..", "...", "....", ".....", "....", "...", "..", "."};
    for (size_t i = 0; i < 9; i++)
        EXPECT_EQ(frames[start + i], std::string("\r ") + expected[i] + "      \r") << "call " << i;

    display.update_spinner(true, "Rebooting");
    EXPECT_EQ(_read_all(out).substr(0, 14), "\r (Rebooting) ");
    display.update_spinner(false, "Rebooting");
    EXPECT_EQ(_read_all(out), CLEARED_LINE);
}

TEST_F(CLI_DisplayTest, HidingProgressClearsTheLine) {
    CLI_Display display(out, err, true);
    display.display_progress(true);
    EXPECT_EQ(_read_all(out), "");
    display.display_progress(false);
    EXPECT_EQ(_read_all(out), CLEARED_LINE);
}

TEST_F(CLI_DisplayTest, RedirectedOutputGetsMessagesButNoBars) {
    CLI_Display display(out, err, false);
    display.update_progress(0.5, "Downloading");
    display.update_spinner(true, nullptr);
    display.update_spinner(false, nullptr);
    display.display_progress(false);
    display.message(UpdaterDisplayInterface::INFO, "done %d", 7);
    display.message(UpdaterDisplayInterface::ERROR, "failed");
    EXPECT_EQ(_read_all(out), "done 7\n");
    EXPECT_EQ(_read_all(err), "failed\n");
}

TEST_F(CLI_DisplayTest, MessageLevelsMutingAndLength) {
    CLI_Display display(out, err, true);
    display.message(0, "info");
    display.message(2, "other levels are information");
    display.message(1, "error");
    EXPECT_EQ(_read_all(out), "info\nother levels are information\n");
    EXPECT_EQ(_read_all(err), "error\n");

    display.message(0, "%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(_read_all(out), std::string(2047, 'x') + "\n");

    display.mute_messages(true);
    display.message(0, "hidden");
    display.message(1, "hidden");
    display.update_progress(0, nullptr);
    EXPECT_EQ(_read_all(out), "\r[>" + std::string(68, ' ') + "] (  0% ) ");
    EXPECT_EQ(_read_all(err), "");
    display.mute_messages(false);
    display.message(0, "back");
    EXPECT_EQ(_read_all(out), "back\n");
}

TEST_F(CLI_DisplayTest, ResultPrinters) {
    CLI_Display display(out, err, false);
    _display_app_version(display);
    _display_fingerprint(display, Fingerprint{0x1A2B3C4D, 0, 0xFFFFFFFF, 0xABC});
    _display_jwt(display, "eyJ.payload.sig %s");
    EXPECT_EQ(_read_all(out), "Updater (Version: 2.11.4 Sep 23 2025)\n"
                              "[ 1A2B3C4D 00000000 FFFFFFFF 00000ABC ]\n"
                              "eyJ.payload.sig %s\n");
    display.mute_messages(true);
    _display_app_version(display);
    EXPECT_EQ(_read_all(out), "");
}

// Runs a default-constructed display in a child whose standard output is the given descriptor, so the
// real terminal test of standard output decides.
void _draw_in_child(int stdoutFd) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(stdoutFd, STDOUT_FILENO);
        CLI_Display display;
        display.update_progress(1.0, nullptr);
        display.message(UpdaterDisplayInterface::INFO, "message");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

std::string _drain(int fd) {
    std::string text;
    char buffer[512];
    pollfd ready{fd, POLLIN, 0};
    while (poll(&ready, 1, 200) == 1 && (ready.revents & POLLIN)) {
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

TEST(CLI_DisplayTerminalTest, BarsOnARealTerminalOnly) {
    int master = -1;
    int slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&master, &slave, nullptr, &raw, nullptr), 0);
    _draw_in_child(slave);
    EXPECT_EQ(_drain(master), "\r[" + std::string(69, '=') + "> ] (100% ) message\n");
    close(slave);
    close(master);

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    _draw_in_child(pipeFds[1]);
    close(pipeFds[1]);
    EXPECT_EQ(_drain(pipeFds[0]), "message\n");
    close(pipeFds[0]);
}

} // namespace
