#include "office/ImpressDeck.h"

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string_view>
#include <thread>

#include "Jpeg.h"
#include "Soffice.h"

namespace fs = std::filesystem;

namespace office {
namespace {

constexpr int kJpegQuality = 90;
// Larger requests are refused rather than allocated (about 1.2 GB of pixels).
constexpr long long kMaxPixels = 400LL * 1000 * 1000;
constexpr int kMaxSide = 32767;
// Threads that render pages ahead of the exports, besides the caller's.
constexpr int kAheadThreads = 3;

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// The size a page is exported at when the caller names none: its points as pixels.
int DefaultPixels(double points) {
  return static_cast<int>(static_cast<float>(points));
}

// Page n (0-based) of `document`, stretched onto exactly width x height pixels, as a JPEG.
bool RenderJpeg(poppler::document& document, int n, const PageSize& size, int width, int height,
                std::vector<unsigned char>& jpeg, std::string* error) {
  std::unique_ptr<poppler::page> page(document.create_page(n));
  if (!page) {
    SetError(error, "page " + std::to_string(n + 1) + " cannot be read");
    return false;
  }
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_bgr24);
  // One resolution per axis stretches the page onto exactly width x height pixels.
  const double xres = 72.0 * width / size.width;
  const double yres = 72.0 * height / size.height;
  poppler::image img = renderer.render_page(page.get(), xres, yres, 0, 0, width, height);
  if (!img.is_valid() || img.format() != poppler::image::format_bgr24) {
    SetError(error, "page " + std::to_string(n + 1) + " cannot be rendered");
    return false;
  }
  const auto* pixels = reinterpret_cast<const unsigned char*>(img.const_data());
  std::string why;
  bool ok;
  if (img.width() == width && img.height() == height) {
    ok = detail::EncodeJpegBgr(pixels, width, height, img.bytes_per_row(), kJpegQuality, jpeg, why);
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
    ok = detail::EncodeJpegBgr(exact.data(), width, height, static_cast<int>(stride), kJpegQuality,
                               jpeg, why);
  }
  if (!ok) SetError(error, why);
  return ok;
}

// Pages rendered ahead, at their own size, on threads of their own while the caller exports
// page after page: each thread reads the PDF with a poppler document of its own. The caller
// renders a page itself that no thread has begun.
class RenderAhead {
 public:
  // Renders the pages from index `from` on.
  RenderAhead(const std::vector<char>& pdf, const std::vector<PageSize>& sizes, int threads,
              std::size_t from)
      : pdf_(pdf), sizes_(sizes), pages_(sizes.size()), next_(from) {
    for (int t = 0; t < threads; ++t) workers_.emplace_back([this] { Work(); });
  }
  ~RenderAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    for (std::thread& w : workers_) w.join();
  }
  RenderAhead(const RenderAhead&) = delete;
  RenderAhead& operator=(const RenderAhead&) = delete;

  // Page n (0-based) as rendered ahead, waiting for a thread that has begun it; false when the
  // caller is to render it (no thread began it, or rendering it failed there).
  bool Take(std::size_t n, std::vector<unsigned char>& jpeg) {
    std::unique_lock lock(mutex_);
    Page& page = pages_[n];
    if (page.state == State::Waiting) {
      page.state = State::Taken;  // the caller's: no thread starts it now
      return false;
    }
    done_.wait(lock, [&] { return page.state != State::Rendering; });
    if (page.state != State::Rendered) return false;
    jpeg = std::move(page.jpeg);
    page.state = State::Taken;
    return true;
  }

 private:
  enum class State { Waiting, Rendering, Rendered, Failed, Taken };
  struct Page {
    State state = State::Waiting;
    std::vector<unsigned char> jpeg;
  };

  void Work() {
    std::unique_ptr<poppler::document> document(
        poppler::document::load_from_raw_data(pdf_.data(), static_cast<int>(pdf_.size())));
    for (;;) {
      std::size_t n = 0;
      {
        std::lock_guard lock(mutex_);
        while (next_ < pages_.size() && pages_[next_].state != State::Waiting) ++next_;
        if (stop_ || next_ >= pages_.size()) return;
        n = next_++;
        pages_[n].state = State::Rendering;
      }
      const PageSize& size = sizes_[n];
      std::vector<unsigned char> jpeg;
      const bool ok = document && !document->is_locked() && size.width > 0 && size.height > 0 &&
                      RenderJpeg(*document, static_cast<int>(n), size, DefaultPixels(size.width),
                                 DefaultPixels(size.height), jpeg, nullptr);
      {
        std::lock_guard lock(mutex_);
        pages_[n].state = ok ? State::Rendered : State::Failed;
        pages_[n].jpeg = std::move(jpeg);
      }
      done_.notify_all();
    }
  }

  const std::vector<char>& pdf_;
  const std::vector<PageSize>& sizes_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<Page> pages_;
  std::size_t next_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

struct ImpressDeck::Impl {
  std::vector<char> pdf;
  std::unique_ptr<poppler::document> document;
  std::vector<PageSize> sizes;
  mutable std::mutex mutex;  // a poppler document renders one page at a time
  mutable bool aheadTried = false;
  // Started by the first export at a page's own size. Declared last: its threads end before
  // the PDF and the sizes they read go.
  mutable std::unique_ptr<RenderAhead> ahead;
};

ImpressDeck::ImpressDeck(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ImpressDeck::~ImpressDeck() = default;

std::unique_ptr<ImpressDeck> ImpressDeck::Open(const std::string& document,
                                               const ConvertOptions& options, std::string* error) {
  // Resolved once, and first: without LibreOffice the document is not even looked at.
  ConvertOptions resolved = options;
  if (resolved.soffice.empty()) resolved.soffice = FindSoffice();
  if (resolved.soffice.empty()) {
    SetError(error, "LibreOffice (soffice) not found");
    return nullptr;
  }
  const fs::path input = detail::ExistingDocument(document);
  if (input.empty()) {
    SetError(error, "no such document: " + document);
    return nullptr;
  }

  auto impl = std::make_unique<Impl>();
  {
    detail::TempDir temp;
    if (temp.path().empty()) {
      SetError(error, "cannot create a temporary folder");
      return nullptr;
    }
    const fs::path outDir = temp.Folder("out");
    if (outDir.empty()) {
      SetError(error, "cannot create " + (temp.path() / "out").string());
      return nullptr;
    }
    const std::string notOpened = "LibreOffice cannot open the document as a presentation";
    const auto readPdf = [&] {
      const fs::path pdfPath = detail::FindOutput(outDir, ".pdf");
      if (pdfPath.empty()) {
        SetError(error, notOpened);
        return false;
      }
      if (!detail::ReadWholeFile(pdfPath, impl->pdf) || impl->pdf.empty() ||
          impl->pdf.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        SetError(error, "cannot read the converted PDF");
        return false;
      }
      return true;
    };
    if (!detail::RunConversion(resolved, "pdf:impress_pdf_Export", outDir, {input}, temp.path(),
                               error, notOpened, readPdf)) {
      return nullptr;
    }
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
  const auto index = static_cast<std::size_t>(n - 1);
  const bool ownSize = width == DefaultPixels(size->width) && height == DefaultPixels(size->height);
  std::vector<unsigned char> jpeg;
  RenderAhead* ahead = nullptr;
  bool startAhead = false;
  {
    std::lock_guard lock(impl_->mutex);
    // Exports at the pages' own sizes, the converter's, go page after page: the pages after
    // the first one are rendered meanwhile.
    if (ownSize) {
      startAhead = !impl_->aheadTried;
      impl_->aheadTried = true;
      ahead = impl_->ahead.get();
    }
  }
  if (!ahead || !ahead->Take(index, jpeg)) {
    std::lock_guard lock(impl_->mutex);
    if (!RenderJpeg(*impl_->document, n - 1, *size, width, height, jpeg, error)) return false;
    // The threads start only once a page has been rendered here: poppler builds its
    // process-wide colour-management state in its first renders, unguarded, and first renders
    // on several threads at once corrupt the heap.
    if (startAhead) {
      const int cores = static_cast<int>(std::thread::hardware_concurrency());
      const int threads = std::min({cores - 1, kAheadThreads, PageCount() - n});
      if (threads > 0)
        impl_->ahead = std::make_unique<RenderAhead>(impl_->pdf, impl_->sizes, threads, index + 1);
    }
  }
  if (!detail::WriteWholeFile(
          path, std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()))) {
    SetError(error, "cannot write " + path);
    return false;
  }
  return true;
}

}  // namespace office
