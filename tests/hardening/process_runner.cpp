#include "process_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace {

constexpr size_t kMaxKeptOutput = size_t{1} << 16;

ProcessResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  bool asUser, uid_t uid, gid_t gid) {
    ProcessResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp, args;
    for (std::string& s : envStore) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = argv;
    for (std::string& s : argStore) args.push_back(s.data());
    args.push_back(nullptr);

    // A child's peak memory starts from its parent's high-water mark (the exec inherits it),
    // so bring ours down to what we use now.
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }

    pid_t pid = 0;
    int rc = 0;
    if (asUser) {
        // Only async-signal-safe calls between fork and exec.
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            dup2(fds[1], STDERR_FILENO);
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        rc = pid < 0 ? errno : 0;
    } else {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
    }
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return result;
    }
    result.started = true;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
            // Keep the beginning; a child may print gigabytes (a huge mesh as JSON).
            if (result.out.size() < kMaxKeptOutput)
                result.out.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.maxRssKiB = usage.ru_maxrss;
    return result;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env) {
    return Run(argv, env, false, 0, 0);
}

ProcessResult RunProcessAs(unsigned uid, unsigned gid, const std::vector<std::string>& argv) {
    return Run(argv, {}, true, uid, gid);
}
