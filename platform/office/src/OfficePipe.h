#pragma once
// Handing a command line to a running LibreOffice over its single-instance pipe, as a second
// soffice.bin does before it ends: the instance greets with "InternalIPC::SendArguments", takes
// "InternalIPC::Arguments" followed by the working folder and the arguments, and answers
// "InternalIPC::ProcessingDone" once it has carried them out (a conversion: converted). Each
// message ends in a NUL byte.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace office::detail {

enum class HandOver {
  Done,      // the instance carried the command line out
  Failed,    // no instance took it, or it went away before it was done
  TimedOut,  // it did not answer within the bound
};

// The message for `args` (the command line without the program and its -env: settings), with
// `cwdUrl` as the working folder; nullopt when an argument is no valid UTF-8, which the instance
// refuses.
std::optional<std::string> ArgumentsMessage(const std::string& cwdUrl,
                                            const std::vector<std::string>& args);

// Connects to `pipe`, hands `message` over and waits for the instance to be done, all within
// `timeout`.
HandOver HandOverArguments(const std::filesystem::path& pipe, const std::string& message,
                           std::chrono::milliseconds timeout);

}  // namespace office::detail
