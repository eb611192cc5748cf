#pragma once
// Starting helper programs from tests.
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

// Starts argv[0] with the given extra environment, its stderr into `errFile` when one is
// named; returns the pid (or -1).
inline pid_t spawnProgram(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                          const std::string& errFile = {}) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        envStore.push_back(*e);
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!errFile.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

// Waits up to `ms` for the process; its exit code, or -1 while it still runs, -2 on a signal.
inline int waitExit(pid_t pid, int ms) {
    for (int waited = 0;; waited += 10) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        if (waited >= ms)
            return -1;
        usleep(10 * 1000);
    }
}

inline void killAndReap(pid_t pid, int sig = SIGKILL) {
    if (pid <= 0)
        return;
    ::kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
}
