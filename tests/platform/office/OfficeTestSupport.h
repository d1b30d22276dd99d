#pragma once
// Helpers shared by the office tests: private folders, environment overrides and a JPEG reader.

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "office/ImpressDeck.h"

namespace office_test {

inline const std::filesystem::path kDataDir = VM_OFFICE_TEST_DATA;
inline const std::string kFakeSoffice = VM_FAKE_SOFFICE;

// The fake soffice (or another program), with no profile cache.
inline office::ConvertOptions OfficeOptions(
    std::string soffice = kFakeSoffice,
    std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  office::ConvertOptions options;
  options.soffice = std::move(soffice);
  options.timeout = timeout;
  options.profileCache = "";
  return options;
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "office-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A PDF file of the given objects, numbered from 1 (object 1 the catalog), with a correct
// cross-reference table.
std::string PdfOfObjects(const std::vector<std::string>& objects);

// The names of the entries directly inside a folder, sorted.
std::vector<std::string> ListNames(const std::filesystem::path& folder);

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Changes the working folder for the lifetime of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& to) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(to);
  }
  ~ScopedCwd() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
  }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

struct Rgb {
  int r, g, b;
};

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  Rgb At(int x, int y) const;
};

// Decodes a JPEG file; nullopt when it is missing or not a JPEG.
std::optional<Picture> ReadJpeg(const std::filesystem::path& path);

// Within `tolerance` per channel (JPEG is lossy).
bool Near(Rgb actual, Rgb expected, int tolerance = 40);

std::u16string U16(const std::string& utf8);

}  // namespace office_test
