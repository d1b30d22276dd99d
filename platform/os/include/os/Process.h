#pragma once
// Starting programs from an argument vector and waiting for them. No shell is ever involved:
// every element reaches the program as one argument, whatever blanks, quotes or other shell
// characters it holds.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace os {

struct RunOptions {
  // Unset: wait for the program however long it takes. Set: after this long the program (and,
  // with ownGroup, its whole process group) is killed.
  std::optional<std::chrono::milliseconds> timeout;
  // Standard input, output and error on /dev/null instead of this process's own.
  bool quiet = false;
  // The program leads a process group of its own; whatever it leaves running in that group is
  // killed once it ends.
  bool ownGroup = false;
  // "NAME=value" entries that replace or join the inherited environment's.
  std::vector<std::string> environment;
};

struct RunResult {
  enum class End { Exited, Signalled, TimedOut, NotStarted };
  End end = End::NotStarted;
  int code = -1;  // exit status, signal number, or errno when not started
};

// Runs argv[0] (a path, or a bare name looked up on PATH) with the given arguments. The program
// inherits the environment (with the options' entries) and the working folder.
RunResult Run(const std::vector<std::string>& argv, const RunOptions& options = {});

// Our stand-in for handing a command to the command interpreter and waiting for it: runs the
// argument vector (UTF-16, as UTF-8 file-system bytes) with this process's console and returns
// the program's exit code, or -1 when it cannot be started (also for a text without UTF-8 form,
// which names no file) or does not end by exiting.
int RunAndWait(const std::vector<std::u16string>& argv);

// UTF-16 to UTF-8; nullopt for a lone surrogate or a NUL, which no file name or argument holds.
std::optional<std::string> ToUtf8(std::u16string_view text);

}  // namespace os
