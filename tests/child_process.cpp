#include "child_process.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace tervalo::test {

pid_t StartProcess(const std::vector<std::string>& args, const std::filesystem::path& stdoutFile, bool quiet) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stdoutFile.empty())
        posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

ProcessEnd WaitProcess(pid_t pid) {
    ProcessEnd end;
    int status = 0;
    rusage usage{};
    if (pid <= 0 || ::wait4(pid, &status, 0, &usage) != pid) return end;
    if (WIFEXITED(status)) end.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    end.peakKiB = usage.ru_maxrss;
    return end;
}

}  // namespace tervalo::test
#endif
