#include "office/ImpressDeck.h"

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <system_error>

#include "Jpeg.h"
#include "Spawn.h"

namespace fs = std::filesystem;

namespace office {
namespace {

constexpr int kJpegQuality = 90;
// Larger requests are refused rather than allocated (about 1.2 GB of pixels).
constexpr long long kMaxPixels = 400LL * 1000 * 1000;
constexpr int kMaxSide = 32767;

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

bool IsExecutableFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && access(p.c_str(), X_OK) == 0;
}

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

// A private folder for one conversion, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    fs::path base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t && *t == '/') {
      std::error_code ec;
      if (fs::is_directory(t, ec)) base = t;
    }
    std::string pattern = (base / "vellumark-office-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

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

// A profile belongs to the LibreOffice build that made it; another build gets its own.
fs::path ProfileTemplate(const std::string& cacheRoot, const std::string& launcher) {
  std::error_code ec;
  const auto stamp = fs::last_write_time(launcher, ec).time_since_epoch().count();
  const std::size_t key = std::hash<std::string>{}(launcher + '\n' + std::to_string(stamp));
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016zx", key);
  return fs::path(cacheRoot) / (std::string("libreoffice-profile-") + hex);
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

bool ReadFile(const fs::path& p, std::vector<char>& data) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::vector<unsigned char>& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) std::remove(path.c_str());
  return ok;
}

}  // namespace

std::string FindSoffice() {
  if (const char* pathVar = std::getenv("PATH")) {
    std::string_view rest = pathVar;
    while (true) {
      const std::size_t colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      // An empty entry means the current folder; a program found there is not trusted.
      if (!dir.empty() && dir.front() == '/') {
        fs::path candidate = fs::path(dir) / "soffice";
        if (IsExecutableFile(candidate)) return candidate.string();
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  const fs::path fallback = "/usr/lib/libreoffice/program/soffice";
  if (IsExecutableFile(fallback)) return fallback.string();
  return {};
}

struct ImpressDeck::Impl {
  std::vector<char> pdf;
  std::unique_ptr<poppler::document> document;
  std::vector<PageSize> sizes;
  mutable std::mutex mutex;  // a poppler document renders one page at a time
};

ImpressDeck::ImpressDeck(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ImpressDeck::~ImpressDeck() = default;

std::unique_ptr<ImpressDeck> ImpressDeck::Open(const std::string& document,
                                               const ConvertOptions& options, std::string* error) {
  const std::string soffice = options.soffice.empty() ? FindSoffice() : options.soffice;
  if (soffice.empty()) {
    SetError(error, "LibreOffice (soffice) not found");
    return nullptr;
  }
  std::error_code ec;
  // Absolute, so that soffice never reads the path as an option or a URL.
  const fs::path input = fs::absolute(document, ec).lexically_normal();
  if (ec || document.empty() || !fs::is_regular_file(input, ec)) {
    SetError(error, "no such document: " + document);
    return nullptr;
  }

  auto impl = std::make_unique<Impl>();
  {
    TempDir temp;
    if (temp.path().empty()) {
      SetError(error, "cannot create a temporary folder");
      return nullptr;
    }
    const fs::path outDir = temp.path() / "out";
    fs::create_directory(outDir, ec);
    if (ec) {
      SetError(error, "cannot create " + outDir.string());
      return nullptr;
    }
    const fs::path profile = temp.path() / "profile";
    const std::string launcher = LauncherFor(soffice);
    const std::string cacheRoot = CacheRoot(options);
    fs::path templ;
    bool fromTemplate = false;
    if (!cacheRoot.empty()) {
      templ = ProfileTemplate(cacheRoot, launcher);
      if (fs::is_directory(templ / "user", ec)) {
        fromTemplate = CopyTree(templ, profile);
        if (!fromTemplate) fs::remove_all(profile, ec);
      }
    }
    const std::vector<std::string> argv = {
        launcher,       "-env:UserInstallation=" + FileUrl(profile),
        "--headless",   "--invisible",
        "--nologo",     "--norestore",
        "--nodefault",  "--nolockcheck",
        "--convert-to", "pdf:impress_pdf_Export",
        "--outdir",     outDir.string(),
        input.string(),
    };
    const detail::RunResult run = detail::RunBounded(argv, options.timeout);
    using End = detail::RunResult::End;
    if (run.end == End::NotStarted) {
      SetError(error, "cannot start " + argv[0] + ": " +
                          std::error_code(run.code, std::generic_category()).message());
      return nullptr;
    }
    if (run.end == End::TimedOut) {
      SetError(error, "LibreOffice did not finish in time");
      return nullptr;
    }
    // The PDF is named after the document; it is the only file in the fresh folder.
    fs::path pdfPath;
    for (const fs::directory_entry& e : fs::directory_iterator(outDir, ec)) {
      if (e.is_regular_file(ec) && e.path().extension() == ".pdf") pdfPath = e.path();
    }
    if (pdfPath.empty() || run.end != End::Exited || run.code != 0) {
      SetError(error, "LibreOffice cannot open the document as a presentation");
      return nullptr;
    }
    if (!ReadFile(pdfPath, impl->pdf) || impl->pdf.empty() ||
        impl->pdf.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      SetError(error, "cannot read the converted PDF");
      return nullptr;
    }
    if (!templ.empty() && !fromTemplate) SaveTemplate(profile, templ);
  }

  impl->document.reset(
      poppler::document::load_from_raw_data(impl->pdf.data(), static_cast<int>(impl->pdf.size())));
  if (!impl->document || impl->document->is_locked()) {
    SetError(error, "the converted PDF cannot be read");
    return nullptr;
  }
  // LibreOffice opens a text or a sheet in another module, whatever the file is called, and
  // still exports it; its PDF names that module as the creator.
  if (impl->document->info_key("Creator").to_latin1().find("Impress") == std::string::npos) {
    SetError(error, "the document is not a presentation");
    return nullptr;
  }
  const int pages = impl->document->pages();
  impl->sizes.reserve(static_cast<std::size_t>(pages > 0 ? pages : 0));
  for (int i = 0; i < pages; ++i) {
    std::unique_ptr<poppler::page> page(impl->document->create_page(i));
    PageSize size;
    if (page) {
      const poppler::rectf box = page->page_rect(poppler::crop_box);
      size = {box.width(), box.height()};
      const auto o = page->orientation();
      if (o == poppler::page::landscape || o == poppler::page::seascape) {
        std::swap(size.width, size.height);
      }
    }
    impl->sizes.push_back(size);
  }
  return std::unique_ptr<ImpressDeck>(new ImpressDeck(std::move(impl)));
}

int ImpressDeck::PageCount() const {
  return static_cast<int>(impl_->sizes.size());
}

std::optional<PageSize> ImpressDeck::PageSizeAt(int n) const {
  if (n < 1 || n > PageCount()) return std::nullopt;
  return impl_->sizes[static_cast<std::size_t>(n - 1)];
}

const std::vector<char>& ImpressDeck::Pdf() const {
  return impl_->pdf;
}

bool ImpressDeck::ExportJpeg(int n, const std::string& path, int width, int height,
                             std::string* error) const {
  const std::optional<PageSize> size = PageSizeAt(n);
  if (!size || size->width <= 0 || size->height <= 0) {
    SetError(error, "no page " + std::to_string(n));
    return false;
  }
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
      static_cast<long long>(width) * height > kMaxPixels) {
    SetError(error, "bad image size");
    return false;
  }
  std::vector<unsigned char> jpeg;
  {
    std::lock_guard lock(impl_->mutex);
    std::unique_ptr<poppler::page> page(impl_->document->create_page(n - 1));
    if (!page) {
      SetError(error, "page " + std::to_string(n) + " cannot be read");
      return false;
    }
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_bgr24);
    // One resolution per axis stretches the page onto exactly width x height pixels.
    const double xres = 72.0 * width / size->width;
    const double yres = 72.0 * height / size->height;
    poppler::image img = renderer.render_page(page.get(), xres, yres, 0, 0, width, height);
    if (!img.is_valid() || img.format() != poppler::image::format_bgr24) {
      SetError(error, "page " + std::to_string(n) + " cannot be rendered");
      return false;
    }
    const auto* pixels = reinterpret_cast<const unsigned char*>(img.const_data());
    std::string why;
    bool ok;
    if (img.width() == width && img.height() == height) {
      ok = detail::EncodeJpegBgr(pixels, width, height, img.bytes_per_row(), kJpegQuality, jpeg,
                                 why);
    } else {
      // Rounding in the renderer can leave a pixel more or less: map it onto the exact size.
      const std::size_t stride = static_cast<std::size_t>(width) * 3;
      std::vector<unsigned char> exact(stride * static_cast<std::size_t>(height));
      for (int y = 0; y < height; ++y) {
        const int sy = static_cast<int>(static_cast<long long>(y) * img.height() / height);
        const unsigned char* src =
            pixels + static_cast<std::size_t>(sy) * static_cast<std::size_t>(img.bytes_per_row());
        unsigned char* dst = exact.data() + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
          const int sx = static_cast<int>(static_cast<long long>(x) * img.width() / width);
          std::copy_n(src + static_cast<std::size_t>(sx) * 3, 3,
                      dst + static_cast<std::size_t>(x) * 3);
        }
      }
      ok = detail::EncodeJpegBgr(exact.data(), width, height, static_cast<int>(stride),
                                 kJpegQuality, jpeg, why);
    }
    if (!ok) {
      SetError(error, why);
      return false;
    }
  }
  if (!WriteFile(path, jpeg)) {
    SetError(error, "cannot write " + path);
    return false;
  }
  return true;
}

}  // namespace office
