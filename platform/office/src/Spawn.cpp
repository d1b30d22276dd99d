#include "Spawn.h"

#include "os/Process.h"

namespace office::detail {

RunResult RunBounded(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                     const std::vector<std::string>& environment) {
  os::RunOptions options;
  options.environment = environment;
  options.timeout = timeout;
  options.quiet = true;
  options.ownGroup = true;
  const os::RunResult run = os::Run(argv, options);
  RunResult result;
  result.code = run.code;
  switch (run.end) {
    case os::RunResult::End::Exited:
      result.end = RunResult::End::Exited;
      break;
    case os::RunResult::End::Signalled:
      result.end = RunResult::End::Signalled;
      break;
    case os::RunResult::End::TimedOut:
      result.end = RunResult::End::TimedOut;
      break;
    case os::RunResult::End::NotStarted:
      result.end = RunResult::End::NotStarted;
      break;
  }
  return result;
}

}  // namespace office::detail
