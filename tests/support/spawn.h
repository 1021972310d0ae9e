// Running one of the project's programs as a user does, its output and errors in files.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/wait.h"

extern char** environ;

namespace support {

// Starts `program` with `args`; standard output and error go to the files named (empty: this
// process's), `env` comes before this process's environment. -1 when it does not start.
inline pid_t Spawn(const std::string& program, std::vector<std::string> args, const std::string& out,
                   const std::string& err = {}, std::vector<std::string> env = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, path] : {std::pair{STDOUT_FILENO, &out}, {STDERR_FILENO, &err}}) {
        if (!path->empty())
            posix_spawn_file_actions_addopen(&actions, fd, path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    args.insert(args.begin(), program);
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    for (std::string& e : env)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status once `pid` has ended, 128 + the signal that ended it; -1 when it did not end
// in time (it is killed then).
inline int ExitCode(pid_t pid, int timeoutMs = 60000) {
    int status = 0;
    if (pid <= 0)
        return -1;
    if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace support
