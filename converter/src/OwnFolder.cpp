#include <unistd.h>

#include <cstdio>
#include <optional>

#include "converter/Converter.h"
#include "rtl/CodePage.h"

namespace converter {

namespace {

// The folder of the running program, raw file-system bytes with the trailing "/". Never cut: the
// buffer grows until the whole link fits.
std::optional<std::string> OwnFolderBytes() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      break;
    }
    if (buffer.size() >= (std::size_t{1} << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  const std::size_t slash = buffer.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  buffer.resize(slash + 1);
  return buffer;
}

}  // namespace

std::size_t GetModuleFolder(std::u16string& folder) {
  const std::optional<std::string> bytes = OwnFolderBytes();
  folder = bytes ? rtl::Utf8ToUnicode(*bytes) : std::u16string();
  return folder.size();
}

std::string StatusFilePath() {
  const std::optional<std::string> bytes = OwnFolderBytes();
  return bytes ? *bytes + "pdf_temp" : std::string();
}

void WriteStatusFile(bool finished, std::string_view message) {
  const std::string path = StatusFilePath();
  if (path.empty()) return;
  // Binary mode: the file carries CR LF on every platform.
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  const std::string_view head = finished ? std::string_view("success\r\n") : "error\r\n";
  std::fwrite(head.data(), 1, head.size(), file);
  std::fwrite(message.data(), 1, message.size(), file);
  std::fflush(file);
  std::fclose(file);
}

}  // namespace converter
