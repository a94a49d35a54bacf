// Whole runs of a program as a child process, for the tests that stop one
// with a signal, run two at once or measure one's memory. POSIX only (the
// tests that use it skip on Windows).
#pragma once

#ifndef _WIN32
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tervalo::test {

// Starts the program at args[0] with the rest as its arguments. Standard
// output goes to `stdoutFile` when one is named, standard error to
// /dev/null when `quiet`. -1 when it cannot be started.
pid_t StartProcess(const std::vector<std::string>& args, const std::filesystem::path& stdoutFile = {},
                   bool quiet = false);

struct ProcessEnd {
    int exitCode = -1;  // its exit status, or -1 when it did not exit
    int signal = 0;     // the signal that ended it, or 0
    long peakKiB = -1;  // its peak resident memory
};

// Waits until the process ends; nothing set when it cannot be waited for.
ProcessEnd WaitProcess(pid_t pid);

}  // namespace tervalo::test
#endif
