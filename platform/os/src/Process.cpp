#include "os/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string_view>
#include <thread>

extern char** environ;

namespace os {
namespace {

// Waits for the child to end without reaping it, so that its pid (and with it the process group
// id) stays reserved until we are done with the group. False on time-out.
bool WaitEnded(pid_t pid, std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!deadline) {
    for (;;) {
      siginfo_t info{};
      const int rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
      if (rc == 0 || errno != EINTR) return true;
    }
  }
  for (;;) {
    siginfo_t info{};
    const int rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (rc == 0 && info.si_pid == pid) return true;
    if (rc != 0 && errno != EINTR) return true;  // nothing left to wait for
    if (std::chrono::steady_clock::now() >= *deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  if (argv.empty() || argv[0].empty()) {
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
  if (options.quiet) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &noSignals);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.ownGroup) {
    posix_spawnattr_setpgroup(&attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attr, flags);

  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry = *e;
    const std::string_view name = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(
        options.environment.begin(), options.environment.end(), [name](const std::string& set) {
          return set.size() > name.size() && set.compare(0, name.size(), name) == 0 &&
                 set[name.size()] == '=';
        });
    if (!replaced) envp.push_back(*e);
  }
  for (const std::string& set : options.environment) envp.push_back(const_cast<char*>(set.c_str()));
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    result.code = rc;
    return result;
  }

  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (options.timeout) deadline = std::chrono::steady_clock::now() + *options.timeout;
  const bool ended = WaitEnded(pid, deadline);
  // The group id is still ours while the child is unreaped.
  if (options.ownGroup) {
    kill(-pid, SIGKILL);
  } else if (!ended) {
    kill(pid, SIGKILL);
  }
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (reaped < 0) {
    // Someone else reaped it (SIGCHLD ignored): the outcome is unknown.
    result.end = RunResult::End::Signalled;
    result.code = -1;
  } else if (!ended) {
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

int RunAndWait(const std::vector<std::u16string>& argv) {
  std::vector<std::string> bytes;
  bytes.reserve(argv.size());
  for (const std::u16string& a : argv) {
    std::optional<std::string> utf8 = ToUtf8(a);
    if (!utf8) return -1;
    bytes.push_back(std::move(*utf8));
  }
  const RunResult run = Run(bytes);
  return run.end == RunResult::End::Exited ? run.code : -1;
}

std::optional<std::string> ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
    if (c == 0) return std::nullopt;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace os
