#ifndef TESTS_E2E_RUNPROCESS_H
#define TESTS_E2E_RUNPROCESS_H

#include <string>
#include <vector>

struct ProcessResult {
    // The exit status, or -1 when the process did not exit normally (killed on time-out, crashed).
    int status = -1;
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs program with the arguments (argv[0] is the program path), standard input from /dev/null, and
// collects both output streams. A process still running after timeoutMs is killed.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         int timeoutMs = 30000);

#endif
