#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "converter/Converter.h"
#include "rtl/CodePage.h"

namespace converter {

namespace {

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // a console that is gone is nothing to report to
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void ConsoleWrite(std::u16string_view text) {
  WriteAll(STDOUT_FILENO, rtl::UnicodeToUtf8(text));
}

void ConsoleWriteAnsi(std::string_view text) {
  WriteAll(STDOUT_FILENO, text);
}

int ConsoleReadChar() {
  unsigned char c = 0;
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got == 1) return c;
    if (got < 0 && errno == EINTR) continue;
    return -1;
  }
}

std::u16string Hex8(std::uint32_t value) {
  char buffer[9];
  std::snprintf(buffer, sizeof buffer, "%08lx", static_cast<unsigned long>(value));
  return std::u16string(buffer, buffer + 8);
}

}  // namespace converter
