#pragma once
// Runs a program as a child process and reports how it ended and its peak memory, which a
// fresh process measures exactly (the peak of the test process itself cannot be reset).
#include <string>
#include <vector>

struct ProcessResult {
    bool started = false;
    int exitCode = -1;   // when it exited
    int signal = 0;      // when a signal ended it
    long maxRssKiB = 0;  // peak resident memory
    std::string out;     // stdout and stderr together, its first 64 KiB or a little more
};

// `env` entries ("NAME=value") are added to the current environment.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {});

// The same as another user (root only: the child drops to uid/gid before it starts).
ProcessResult RunProcessAs(unsigned uid, unsigned gid, const std::vector<std::string>& argv);
