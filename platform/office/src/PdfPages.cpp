#include "office/PdfPages.h"

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "Jpeg.h"

namespace office {
namespace {

constexpr int kJpegQuality = 90;
// Larger pages are rendered smaller rather than allocated (about 1.2 GB of pixels).
constexpr double kMaxPixels = 400.0 * 1000 * 1000;
constexpr double kMaxSide = 32767;

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Page n (1-based) at `dpi` in 24-bit BGR, as the page is shown (its rotation applied); an
// invalid image, with `error` set, when it cannot be rendered.
poppler::image RenderPage(poppler::document& document, int n, double dpi, std::string* error) {
  std::unique_ptr<poppler::page> page(document.create_page(n - 1));
  if (!page) {
    SetError(error, "page " + std::to_string(n) + " cannot be read");
    return {};
  }
  poppler::rectf box = page->page_rect(poppler::crop_box);
  double width = box.width();
  double height = box.height();
  const auto o = page->orientation();
  if (o == poppler::page::landscape || o == poppler::page::seascape) std::swap(width, height);
  if (!(width > 0) || !(height > 0)) {
    SetError(error, "page " + std::to_string(n) + " has no size");
    return {};
  }
  double scale = dpi / 72.0;
  scale = std::min(
      {scale, kMaxSide / width, kMaxSide / height, std::sqrt(kMaxPixels / (width * height))});
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_bgr24);
  poppler::image img = renderer.render_page(page.get(), 72.0 * scale, 72.0 * scale);
  if (!img.is_valid() || img.format() != poppler::image::format_bgr24 || img.width() < 1 ||
      img.height() < 1) {
    SetError(error, "page " + std::to_string(n) + " cannot be rendered");
    return {};
  }
  return img;
}

}  // namespace

struct PdfPages::Impl {
  std::unique_ptr<poppler::document> document;
  mutable std::mutex mutex;  // a poppler document renders one page at a time
};

PdfPages::PdfPages(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PdfPages::~PdfPages() = default;

std::unique_ptr<PdfPages> PdfPages::Load(const std::string& path, std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->document.reset(poppler::document::load_from_file(path));
  if (!impl->document) {
    SetError(error, "cannot read the PDF " + path);
    return nullptr;
  }
  if (impl->document->is_locked()) {
    SetError(error, "the PDF " + path + " is locked");
    return nullptr;
  }
  return std::unique_ptr<PdfPages>(new PdfPages(std::move(impl)));
}

int PdfPages::PageCount() const {
  return impl_->document->pages();
}

bool PdfPages::ExportJpeg(int n, const std::string& path, double dpi, std::string* error) const {
  if (n < 1 || n > PageCount() || !(dpi > 0)) {
    SetError(error, "no page " + std::to_string(n));
    return false;
  }
  std::vector<unsigned char> jpeg;
  {
    std::lock_guard lock(impl_->mutex);
    const poppler::image img = RenderPage(*impl_->document, n, dpi, error);
    if (!img.is_valid()) return false;
    std::string why;
    if (!detail::EncodeJpegBgr(reinterpret_cast<const unsigned char*>(img.const_data()),
                               img.width(), img.height(), img.bytes_per_row(), kJpegQuality, jpeg,
                               why)) {
      SetError(error, why);
      return false;
    }
  }
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  bool ok = f != nullptr;
  if (ok) {
    ok = std::fwrite(jpeg.data(), 1, jpeg.size(), f) == jpeg.size();
    ok = (std::fclose(f) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
  }
  if (!ok) {
    SetError(error, "cannot write " + path);
    return false;
  }
  return true;
}

bool PdfPages::PageIsBlank(int n) const {
  if (n < 1 || n > PageCount()) return false;
  std::lock_guard lock(impl_->mutex);
  // At 72 dpi with antialiasing even a hairline or a full stop leaves a pixel that is not white.
  const poppler::image img = RenderPage(*impl_->document, n, 72, nullptr);
  if (!img.is_valid()) return false;
  const auto width = static_cast<std::size_t>(img.width()) * 3;
  for (int y = 0; y < img.height(); ++y) {
    const auto* row = reinterpret_cast<const unsigned char*>(img.const_data()) +
                      static_cast<std::ptrdiff_t>(y) * img.bytes_per_row();
    if (!std::all_of(row, row + width, [](unsigned char c) { return c == 0xFF; })) return false;
  }
  return true;
}

}  // namespace office
