#include "RunProcess.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

void _close(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         int timeoutMs) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + program);
    }

    ProcessResult result;
    int fds[2] = {outPipe[0], errPipe[0]};
    std::string* sinks[2] = {&result.out, &result.err};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fds[0] >= 0 || fds[1] >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        if (poll(polls, 2, static_cast<int>(left.count())) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || polls[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t count = read(fds[i], buffer, sizeof(buffer));
            if (count < 0 && errno == EINTR)
                continue;
            if (count > 0)
                sinks[i]->append(buffer, static_cast<size_t>(count));
            else
                _close(fds[i]);
        }
    }
    _close(fds[0]);
    _close(fds[1]);

    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
