#include "ui/Picture.h"

// jpeglib.h needs FILE and size_t declared before it.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>
// clang-format on

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <future>
#include <list>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "ui/Types.h"

namespace ui {

// ---------------------------------------------------------------- JPEG check

namespace {

struct JpegErrors {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  bool ranOut;
};

extern "C" void OnCheckError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// Warnings leave the picture decodable, as the decoder treats them, except the one that says
// the data ended early: the decoder then goes on as if the image ended there.
extern "C" void OnCheckMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
    reinterpret_cast<JpegErrors*>(cinfo->err)->ranOut = true;
}

extern "C" void OnCheckOutput(j_common_ptr) {}

// From the start of a scan's entropy-coded data: the first marker after it other than the
// restart markers, or -1 when the data ends first. 0xFF 0x00 is a stuffed data byte; 0xFF may
// repeat as fill before a marker.
int MarkerAfterScan(const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    p = static_cast<const unsigned char*>(std::memchr(p, 0xFF, static_cast<std::size_t>(end - p)));
    if (!p) return -1;
    ++p;
    while (p < end && *p == 0xFF) ++p;
    if (p == end) return -1;
    const unsigned char code = *p++;
    if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) continue;
    return code;
  }
  return -1;
}

constexpr int kEndOfImage = 0xD9;

// Whether Qt's reader may allocate the full-size picture: it refuses pictures above its
// allocation limit, and so did the full-size decode this check stands in for.
bool WithinAllocationLimit(QSize size, int components) {
  const qint64 limitMb = QImageReader::allocationLimit();
  if (limitMb <= 0) return true;
  const qint64 depth = components == 1 ? 8 : 32;
  const qint64 bytesPerLine = ((size.width() * depth + 31) >> 5) << 2;
  return bytesPerLine * size.height() <= (limitMb << 20);
}

// Only trivially destructible locals live here, so leaving it by longjmp skips no destructor.
bool RunJpegCheck(const unsigned char* data, unsigned long length, JpegCheck* out) {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnCheckError;
  errors.base.emit_message = OnCheckMessage;
  errors.base.output_message = OnCheckOutput;
  errors.ranOut = false;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, length);
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK || errors.ranOut) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_calc_output_dimensions(&cinfo);
  out->size = QSize(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
  out->components = cinfo.output_components;

  // The smallest picture the decoder makes, the cheapest way: what is checked here is that the
  // data decodes, not what it looks like.
  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  cinfo.dct_method = JDCT_IFAST;
  cinfo.do_fancy_upsampling = FALSE;
  // A file of several scans is read to its end here (every scan goes into the coefficients);
  // a file of one scan is read as its lines are asked for.
  jpeg_start_decompress(&cinfo);
  bool complete = !errors.ranOut;
  if (complete && !jpeg_has_multiple_scans(&cinfo)) {
    // One scan: its data must reach the end-of-image marker. Decoding it all at 1/8 would
    // find the same, but only the entropy decoder can stop in it, and it stops only with a
    // warning; so the data is walked for its markers instead.
    const int marker = MarkerAfterScan(cinfo.src->next_input_byte,
                                       cinfo.src->next_input_byte + cinfo.src->bytes_in_buffer);
    if (marker == -1) {
      complete = false;
    } else if (marker != kEndOfImage) {
      // More markers after the scan (comments, or a second frame): the decoder reads them at
      // the end, and may refuse them, so it decides.
      JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(
          reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
          cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
      while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, row, 1);
      jpeg_finish_decompress(&cinfo);
      complete = !errors.ranOut;
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return complete;
}

}  // namespace

JpegCheck CheckJpeg(const QByteArray& bytes) {
  JpegCheck check;
  if (bytes.isEmpty()) return check;
  check.decodes = RunJpegCheck(reinterpret_cast<const unsigned char*>(bytes.constData()),
                               static_cast<unsigned long>(bytes.size()), &check) &&
                  WithinAllocationLimit(check.size, check.components);
  return check;
}

// ---------------------------------------------------------------- pictures

struct Picture::Source {
  enum class Kind { Pixels, Encoded, Svg };
  Kind kind = Kind::Pixels;
  qint64 key = 0;
  QSize size;           // full size, turned as shown
  QImage pixels;        // Pixels
  QByteArray bytes;     // Encoded, Svg: the file as read
  QByteArray format;    // Encoded: the reader's name of the format
  bool jpeg = false;    // Encoded: decoded at a 1/8 step of its size when drawn smaller
  bool turned = false;  // Encoded: stored a quarter turn away from how it shows (EXIF)
  // Svg: a rendering at `size` under way or made (RenderAhead), for the first one to need it,
  // and whether all its pixels are opaque (found while they are at hand).
  mutable std::mutex aheadMutex;
  mutable std::future<std::pair<QImage, bool>> ahead;
};

namespace {

qint64 NextKey() {
  static std::atomic<qint64> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

// The last pictures decoded at their full size, most recent first, within a budget of bytes.
class FullSizeCache {
 public:
  static FullSizeCache& Instance() {
    static FullSizeCache cache;
    return cache;
  }

  QImage Find(qint64 key) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->first == key) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->second;
      }
    return {};
  }

  void Add(qint64 key, const QImage& image) {
    const qint64 size = image.sizeInBytes();
    if (size > kBudget) return;
    std::lock_guard lock(mutex_);
    entries_.emplace_front(key, image);
    bytes_ += size;
    while (bytes_ > kBudget) {
      bytes_ -= entries_.back().second.sizeInBytes();
      entries_.pop_back();
    }
  }

 private:
  // About five pages of 1920 x 1080.
  static constexpr qint64 kBudget = qint64{40} << 20;
  std::mutex mutex_;
  std::list<std::pair<qint64, QImage>> entries_;
  qint64 bytes_ = 0;
};

QImage Decode(const QByteArray& bytes, const QByteArray& format, QSize scaledSize) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  reader.setAutoTransform(true);
  if (scaledSize.isValid()) reader.setScaledSize(scaledSize);
  return reader.read();
}

// A transparent canvas for a picture to be drawn on. An ordinary image: huge pages were tried
// for full-screen canvases, but a first write to one then clears 2 MiB at once, which made the
// window's first frame twice as slow where fresh memory is dear.
QImage TransparentCanvas(QSize size) {
  QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
  if (!canvas.isNull()) canvas.fill(Qt::transparent);
  return canvas;
}

QImage RenderSvg(const QByteArray& bytes, QSize size) {
  QSvgRenderer svg(bytes);
  QImage image = TransparentCanvas(size);
  if (image.isNull()) return image;
  QPainter painter(&image);
  svg.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return image;
}

bool OnlyOpaquePixels(const QImage& image) {
  if (!image.hasAlphaChannel()) return true;
  if (image.format() != QImage::Format_ARGB32_Premultiplied &&
      image.format() != QImage::Format_ARGB32)
    return false;  // not worked out here
  const int width = image.width(), height = image.height();
  for (int y = 0; y < height; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < width; ++x)
      if (qAlpha(line[x]) != 0xFF) return false;
  }
  return true;
}

// QPixmap::fromImage keeps an image with an alpha channel that has only opaque pixels as RGB32;
// for these two formats the pixels stay as they are.
QImage ForScreen(QImage image, bool opaque) {
  if (opaque && (image.format() == QImage::Format_ARGB32_Premultiplied ||
                 image.format() == QImage::Format_ARGB32))
    image.reinterpretAsFormat(QImage::Format_RGB32);
  return image;
}

// An SVG picture at its own size: the rendering made ahead when there is one (`opaque` then
// tells whether its pixels are all opaque, when asked), else a new one.
QImage RenderSvgAtOwnSize(const QByteArray& bytes, QSize size, std::mutex& aheadMutex,
                          std::future<std::pair<QImage, bool>>& ahead,
                          std::optional<bool>* opaque = nullptr) {
  std::unique_lock lock(aheadMutex);
  if (ahead.valid()) {
    std::future<std::pair<QImage, bool>> made = std::move(ahead);
    lock.unlock();
    auto [image, allOpaque] = made.get();
    if (opaque) *opaque = allOpaque;
    return image;
  }
  lock.unlock();
  return RenderSvg(bytes, size);
}

bool IsJpeg(const QByteArray& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xD8;
}

}  // namespace

Picture::Picture(const QImage& image) {
  if (image.isNull()) return;
  auto source = std::make_shared<Source>();
  source->kind = Source::Kind::Pixels;
  source->key = NextKey();
  source->size = image.size();
  source->pixels = image;
  source_ = std::move(source);
}

Picture Picture::FromFile(const QString& file, QSize svgSize) {
  const auto failed = [&file] {
    return Error(QStringLiteral("Loading bitmap failed (%1)").arg(QFileInfo(file).fileName()));
  };
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) throw failed();
  auto source = std::make_shared<Source>();
  source->bytes = in.readAll();
  in.close();
  source->key = NextKey();

  if (file.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
    QSvgRenderer svg(source->bytes);
    if (!svg.isValid()) throw failed();
    source->kind = Source::Kind::Svg;
    source->size = svgSize.isEmpty() ? svg.defaultSize() : svgSize;
    if (source->size.isEmpty()) throw failed();
    return Picture(std::move(source));
  }

  source->kind = Source::Kind::Encoded;
  QBuffer buffer(&source->bytes);
  buffer.open(QIODevice::ReadOnly);
  if (IsJpeg(source->bytes)) {
    const JpegCheck check = CheckJpeg(source->bytes);
    if (!check.decodes) throw failed();
    QImageReader reader(&buffer, "jpeg");
    source->turned = (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
    source->size = source->turned ? check.size.transposed() : check.size;
    source->format = "jpeg";
    source->jpeg = true;
  } else {
    // Other formats have no cheaper way to tell that they decode than decoding.
    QImageReader reader(&buffer, QFileInfo(file).suffix().toLower().toLatin1());
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) throw failed();
    source->size = image.size();
    source->format = reader.format();
  }
  buffer.close();
  return Picture(std::move(source));
}

QSize Picture::Size() const {
  return source_ ? source_->size : QSize();
}

qint64 Picture::Key() const {
  return source_ ? source_->key : 0;
}

void Picture::RenderAhead() const {
  if (!source_ || source_->kind != Source::Kind::Svg) return;
  std::lock_guard lock(source_->aheadMutex);
  if (source_->ahead.valid()) return;
  try {
    // What it needs by value: the source holds the rendering, so it cannot be held by it.
    source_->ahead = std::async(std::launch::async, [bytes = source_->bytes, size = source_->size] {
      QImage image = RenderSvg(bytes, size);
      const bool opaque = OnlyOpaquePixels(image);
      return std::make_pair(std::move(image), opaque);
    });
  } catch (const std::system_error&) {
    // No thread for it: it is rendered when it is needed.
  }
}

QImage Picture::ToImage() const {
  if (!source_) return {};
  const Source& s = *source_;
  switch (s.kind) {
    case Source::Kind::Pixels:
      return s.pixels;
    case Source::Kind::Svg:
      return RenderSvgAtOwnSize(s.bytes, s.size, s.aheadMutex, s.ahead);
    case Source::Kind::Encoded:
      break;
  }
  FullSizeCache& cache = FullSizeCache::Instance();
  QImage image = cache.Find(s.key);
  if (image.isNull()) {
    image = Decode(s.bytes, s.format, {});
    if (!image.isNull()) cache.Add(s.key, image);
  }
  return image;
}

QImage Picture::Scaled(QSize size) const {
  if (!source_ || size.isEmpty()) return {};
  const Source& s = *source_;
  QImage image;
  switch (s.kind) {
    case Source::Kind::Pixels:
      image = s.pixels;
      break;
    case Source::Kind::Svg:
      image = RenderSvgAtOwnSize(s.bytes, s.size, s.aheadMutex, s.ahead);
      break;
    case Source::Kind::Encoded:
      if (s.jpeg && (size.width() < s.size.width() || size.height() < s.size.height()))
        // The decoder scales by the smallest 1/8 step that is still at least `size`, then
        // the reader scales smoothly the rest of the way.
        return Decode(s.bytes, s.format, s.turned ? size.transposed() : size);
      // At full size or above the picture is wanted whole anyway; a PNG has no cheaper road.
      image = s.jpeg ? ToImage() : Decode(s.bytes, s.format, {});
      break;
  }
  return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage Picture::ScaledForScreen(QSize size) const {
  if (source_ && source_->kind == Source::Kind::Svg && size == source_->size) {
    const Source& s = *source_;
    std::optional<bool> opaque;
    QImage image = RenderSvgAtOwnSize(s.bytes, s.size, s.aheadMutex, s.ahead, &opaque);
    if (!opaque) opaque = OnlyOpaquePixels(image);
    return ForScreen(std::move(image), *opaque);
  }
  QImage image = Scaled(size);
  const bool opaque = OnlyOpaquePixels(image);
  return ForScreen(std::move(image), opaque);
}

QImage LoadPicture(const QString& file, QSize svgSize) {
  return Picture::FromFile(file, svgSize).ToImage();
}

}  // namespace ui
