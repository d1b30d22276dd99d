#include "Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <thread>

extern char** environ;

namespace office::detail {
namespace {

// Waits for the child to end without reaping it, so that its pid (and with it the process group
// id) stays reserved until we are done with the group.
bool WaitEnded(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    siginfo_t info{};
    int rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (rc == 0 && info.si_pid == pid) return true;
    if (rc != 0 && errno != EINTR) return true;  // nothing left to wait for
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

RunResult RunBounded(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  RunResult result;
  if (argv.empty()) {
    result.code = EINVAL;
    return result;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &noSignals);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    result.code = rc;
    return result;
  }

  const bool ended = WaitEnded(pid, std::chrono::steady_clock::now() + timeout);
  // The group id is still ours while the child is unreaped.
  kill(-pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!ended) {
    result.end = RunResult::End::TimedOut;
    result.code = SIGKILL;
  } else if (WIFEXITED(status)) {
    result.end = RunResult::End::Exited;
    result.code = WEXITSTATUS(status);
  } else {
    result.end = RunResult::End::Signalled;
    result.code = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  }
  return result;
}

}  // namespace office::detail
