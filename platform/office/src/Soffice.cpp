#include "Soffice.h"

#include <poppler-document.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <system_error>

#include "KeptOffice.h"
#include "Spawn.h"

namespace fs = std::filesystem;

namespace office::detail {
namespace {

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

bool IsExecutableFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && access(p.c_str(), X_OK) == 0;
}

std::string CacheRoot(const ConvertOptions& options) {
  if (options.profileCache) return *options.profileCache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') {
    return (fs::path(xdg) / "vellumark").string();
  }
  if (const char* home = std::getenv("HOME"); home && *home == '/') {
    return (fs::path(home) / ".cache" / "vellumark").string();
  }
  return {};
}

template <typename Bytes>
bool ReadInto(const fs::path& path, Bytes& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

// soffice is LibreOffice's launcher script; oosplash beside it is the program the script ends
// in, and it restarts the office when a fresh profile asks for that. Starting it directly keeps
// any shell out of the way.
std::string LauncherFor(const std::string& soffice) {
  std::error_code ec;
  fs::path real = fs::canonical(soffice, ec);
  if (ec) return soffice;
  if (real.filename() == "soffice") {
    fs::path splash = real.parent_path() / "oosplash";
    if (IsExecutableFile(splash)) return splash.string();
  }
  return real.string();
}

std::string FileUrl(const fs::path& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path.string()) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  return url;
}

// A profile belongs to the LibreOffice build that made it; another build gets its own. All
// engines share one kept profile per build.
std::string BuildKey(const std::string& launcher) {
  std::error_code ec;
  const auto stamp = fs::last_write_time(launcher, ec).time_since_epoch().count();
  const std::size_t key = std::hash<std::string>{}(launcher + '\n' + std::to_string(stamp));
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016zx", key);
  return hex;
}

fs::path ProfileTemplate(const std::string& cacheRoot, const std::string& launcher) {
  return fs::path(cacheRoot) / ("libreoffice-profile-" + BuildKey(launcher));
}

bool CopyTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  return !ec;
}

// Keeps the profile of a successful run for the next ones, without its settings file, which
// holds what this run did (recent documents and the like). Published by rename, so a reader
// never sees half a template and concurrent savers do not clash.
void SaveTemplate(const fs::path& profile, const fs::path& target) {
  std::error_code ec;
  if (!fs::is_directory(profile / "user", ec)) return;
  fs::create_directories(target.parent_path(), ec);
  std::string pattern = (target.parent_path() / ".profile-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return;
  const fs::path staging = pattern;
  if (CopyTree(profile, staging)) {
    fs::remove(staging / "user" / "registrymodifications.xcu", ec);
    fs::rename(staging, target, ec);
    if (!ec) return;
  }
  fs::remove_all(staging, ec);
}

namespace {

// The major and minor version ("7.4") that the LibreOffice installation names in its registry.
std::string InstalledVersion(const std::string& program) {
  const fs::path registry =
      fs::path(program).parent_path().parent_path() / "share" / "registry" / "main.xcd";
  std::string xcd;
  if (!ReadInto(registry, xcd)) return {};
  const std::size_t prop = xcd.find("<prop oor:name=\"ooSetupVersion\">");
  if (prop == std::string::npos) return {};
  const std::size_t open = xcd.find("<value>", prop);
  const std::size_t close = xcd.find("</value>", prop);
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  const std::string version = xcd.substr(open + 7, close - open - 7);
  const std::size_t dot = version.find('.');
  const bool digits =
      !version.empty() && version.find_first_not_of("0123456789.") == std::string::npos;
  if (!digits || dot == 0 || dot == std::string::npos || dot + 1 == version.size() ||
      version.find('.', dot + 1) != std::string::npos) {
    return {};
  }
  return version;
}

}  // namespace

void MarkVersionSeen(const fs::path& profile, const std::string& program) {
  std::error_code ec;
  const fs::path user = profile / "user";
  if (!fs::is_directory(user, ec)) return;
  const std::string version = InstalledVersion(program);
  if (version.empty()) return;
  const fs::path file = user / "registrymodifications.xcu";
  std::string xcu;
  if (fs::exists(file, ec) && !ReadInto(file, xcu)) return;
  if (xcu.find("oor:name=\"ooSetupLastVersion\"") != std::string::npos) return;
  const std::string item =
      "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
      "oor:op=\"fuse\"><value>" +
      version + "</value></prop></item>\n";
  const std::size_t end = xcu.rfind("</oor:items>");
  if (end != std::string::npos) {
    xcu.insert(end, item);
  } else if (xcu.empty()) {
    xcu =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
        "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n" +
        item + "</oor:items>\n";
  } else {
    return;  // not a file LibreOffice wrote: leave it alone
  }
  WriteWholeFile(file.string(), xcu);
}

TempDir::TempDir() {
  fs::path base = "/tmp";
  if (const char* t = std::getenv("TMPDIR"); t && *t == '/') {
    std::error_code ec;
    if (fs::is_directory(t, ec)) base = t;
  }
  std::string pattern = (base / "vellumark-office-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path TempDir::Folder(const std::string& name) const {
  if (path_.empty()) return {};
  std::error_code ec;
  const fs::path folder = path_ / name;
  if (!fs::create_directory(folder, ec)) return {};
  return folder;
}

fs::path ExistingDocument(const std::string& document) {
  if (document.empty()) return {};
  std::error_code ec;
  // Absolute, so that soffice never reads the path as an option or a URL.
  const fs::path input = fs::absolute(document, ec).lexically_normal();
  if (ec || !fs::is_regular_file(input, ec)) return {};
  return input;
}

bool RunConversion(const ConvertOptions& options, const std::string& target, const fs::path& outDir,
                   const std::vector<fs::path>& inputs, const fs::path& scratch, std::string* error,
                   const std::string& failure, const std::function<bool()>& made) {
  const std::string soffice = options.soffice.empty() ? FindSoffice() : options.soffice;
  if (soffice.empty()) {
    SetError(error, "LibreOffice (soffice) not found");
    return false;
  }
  const std::string launcher = LauncherFor(soffice);
  const std::string cacheRoot = CacheRoot(options);
  const fs::path templ = cacheRoot.empty() ? fs::path() : ProfileTemplate(cacheRoot, launcher);
  // The kept instance first; whatever it could not do gets one start of LibreOffice of its own,
  // on a private profile, as if there were no instance.
  const std::function<bool()> madeOrOutput = [&] {
    if (made) return made();
    std::error_code ec;
    if (fs::is_empty(outDir, ec)) {
      SetError(error, failure);
      return false;
    }
    return true;
  };
  if (ConvertOnKeptOffice(options, launcher, target, outDir, inputs, templ, madeOrOutput, error) ==
      KeptRun::Converted) {
    return true;
  }

  std::error_code ec;
  const fs::path profile = scratch / "profile";
  bool fromTemplate = false;
  if (!templ.empty() && fs::is_directory(templ / "user", ec)) {
    fromTemplate = CopyTree(templ, profile);
    if (fromTemplate) {
      MarkVersionSeen(profile, launcher);
    } else {
      fs::remove_all(profile, ec);
    }
  }
  std::vector<std::string> argv = {
      launcher,       "-env:UserInstallation=" + FileUrl(profile),
      "--headless",   "--invisible",
      "--nologo",     "--norestore",
      "--nodefault",  "--nolockcheck",
      "--convert-to", target,
      "--outdir",     outDir.string(),
  };
  for (const fs::path& input : inputs) argv.push_back(input.string());
  const RunResult run = RunBounded(argv, options.timeout, {kNoMigration});
  if (run.end == RunResult::End::NotStarted) {
    SetError(error, "cannot start " + argv[0] + ": " +
                        std::error_code(run.code, std::generic_category()).message());
    return false;
  }
  if (run.end == RunResult::End::TimedOut) {
    SetError(error, "LibreOffice did not finish in time");
    return false;
  }
  if (run.end != RunResult::End::Exited || run.code != 0) {
    SetError(error, failure);
    return false;
  }
  if (made && !made()) return false;
  if (!templ.empty() && !fromTemplate) SaveTemplate(profile, templ);
  return true;
}

fs::path FindOutput(const fs::path& folder, const std::string& extension) {
  std::error_code ec;
  fs::path found;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.is_regular_file(ec) && e.path().extension() == extension) found = e.path();
  }
  return found;
}

bool ReadWholeFile(const fs::path& path, std::string& data) {
  return ReadInto(path, data);
}

bool ReadWholeFile(const fs::path& path, std::vector<char>& data) {
  return ReadInto(path, data);
}

bool WriteWholeFile(const std::string& path, std::string_view data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) std::remove(path.c_str());
  return ok;
}

std::optional<std::string> PdfCreator(const std::string& pdf) {
  if (pdf.empty() || pdf.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return std::nullopt;
  }
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(pdf.data(), static_cast<int>(pdf.size())));
  if (!doc || doc->is_locked()) return std::nullopt;
  return doc->info_key("Creator").to_latin1();
}

}  // namespace office::detail

namespace office {

std::string FindSoffice() {
  if (const char* pathVar = std::getenv("PATH")) {
    std::string_view rest = pathVar;
    while (true) {
      const std::size_t colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      // An empty entry means the current folder; a program found there is not trusted.
      if (!dir.empty() && dir.front() == '/') {
        fs::path candidate = fs::path(dir) / "soffice";
        if (detail::IsExecutableFile(candidate)) return candidate.string();
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  const fs::path fallback = "/usr/lib/libreoffice/program/soffice";
  if (detail::IsExecutableFile(fallback)) return fallback.string();
  return {};
}

}  // namespace office
