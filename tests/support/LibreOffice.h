#pragma once
// Tests that need LibreOffice skip, saying why, where it is not installed. CI installs it, and
// .ci/run sets VM_REQUIRE_LIBREOFFICE so that there its absence fails those tests instead.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vmtest {

// Where the office servers look: "soffice" in a folder of PATH, else LibreOffice's usual place.
inline bool LibreOfficeInstalled() {
  std::string_view path = std::getenv("PATH") ? std::getenv("PATH") : "";
  for (;;) {
    const std::size_t colon = path.find(':');
    const std::string_view dir = path.substr(0, colon);
    if (!dir.empty() && dir.front() == '/' &&
        access((std::string(dir) + "/soffice").c_str(), X_OK) == 0) {
      return true;
    }
    if (colon == std::string_view::npos) break;
    path.remove_prefix(colon + 1);
  }
  return access("/usr/lib/libreoffice/program/soffice", X_OK) == 0;
}

// HOME and XDG_CACHE_HOME in `folder` while the object lives, so that no LibreOffice a test
// starts (directly or through the converter) reads or writes the user's own home and cache.
class PrivateOfficeHome {
 public:
  explicit PrivateOfficeHome(const std::filesystem::path& folder)
      : home_("HOME", folder / "home"), cache_("XDG_CACHE_HOME", folder / "cache") {}

 private:
  class Env {
   public:
    Env(const char* name, const std::filesystem::path& value) : name_(name) {
      if (const char* old = std::getenv(name)) old_ = old;
      setenv(name, value.c_str(), 1);
    }
    ~Env() {
      if (old_) {
        setenv(name_, old_->c_str(), 1);
      } else {
        unsetenv(name_);
      }
    }
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;

   private:
    const char* name_;
    std::optional<std::string> old_;
  };
  Env home_;
  Env cache_;
};

}  // namespace vmtest

#define VM_NEED_LIBREOFFICE()                                                      \
  do {                                                                             \
    if (!::vmtest::LibreOfficeInstalled()) {                                       \
      if (std::getenv("VM_REQUIRE_LIBREOFFICE")) {                                 \
        FAIL() << "LibreOffice (soffice) is not installed, and this run needs it"; \
      }                                                                            \
      GTEST_SKIP() << "LibreOffice (soffice) is not installed";                    \
    }                                                                              \
  } while (false)
