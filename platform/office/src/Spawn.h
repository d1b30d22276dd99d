#pragma once
// Starting a helper program from an argument vector (never through a shell) and waiting for it
// a bounded time.

#include <chrono>
#include <string>
#include <vector>

namespace office::detail {

struct RunResult {
  enum class End { Exited, Signalled, TimedOut, NotStarted };
  End end = End::NotStarted;
  int code = -1;  // exit status, signal number, or errno when not started
};

// Runs argv[0] (a path, or a name searched on PATH) with stdin, stdout and stderr on /dev/null,
// in a process group of its own. On time-out the whole group is killed. Any process the program
// left behind in its group is killed too once it ends. `environment` ("NAME=value") is set on
// top of the inherited environment.
RunResult RunBounded(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                     const std::vector<std::string>& environment = {});

}  // namespace office::detail
