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
    std::unique_ptr<poppler::page> page(impl_->document->create_page(n - 1));
    if (!page) {
      SetError(error, "page " + std::to_string(n) + " cannot be read");
      return false;
    }
    poppler::rectf box = page->page_rect(poppler::crop_box);
    double width = box.width();
    double height = box.height();
    const auto o = page->orientation();
    if (o == poppler::page::landscape || o == poppler::page::seascape) std::swap(width, height);
    if (!(width > 0) || !(height > 0)) {
      SetError(error, "page " + std::to_string(n) + " has no size");
      return false;
    }
    double scale = dpi / 72.0;
    scale = std::min(
        {scale, kMaxSide / width, kMaxSide / height, std::sqrt(kMaxPixels / (width * height))});
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_bgr24);
    const poppler::image img = renderer.render_page(page.get(), 72.0 * scale, 72.0 * scale);
    if (!img.is_valid() || img.format() != poppler::image::format_bgr24 || img.width() < 1 ||
        img.height() < 1) {
      SetError(error, "page " + std::to_string(n) + " cannot be rendered");
      return false;
    }
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

}  // namespace office
