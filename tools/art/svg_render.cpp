#include "svg_render.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>

namespace art {

RasterFormat FormatForPath(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("png")) return RasterFormat::kPng;
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return RasterFormat::kJpeg;
  return RasterFormat::kUnknown;
}

QSize DeclaredSize(const QString& svg_path) {
  QSvgRenderer renderer(svg_path);
  if (!renderer.isValid()) return {};
  return renderer.defaultSize();
}

QImage RenderSvg(const QString& svg_path, QSize size, QString* error) {
  if (!QFileInfo(svg_path).isFile()) {
    if (error) *error = QStringLiteral("cannot read %1").arg(svg_path);
    return {};
  }
  QSvgRenderer renderer(svg_path);
  if (!renderer.isValid()) {
    if (error) *error = QStringLiteral("not a valid SVG document: %1").arg(svg_path);
    return {};
  }
  // Guard against absurd sizes: a typo must not try to allocate gigabytes.
  constexpr int kMaxSide = 16384;
  if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxSide ||
      size.height() > kMaxSide) {
    if (error) *error = QStringLiteral("invalid size %1 x %2").arg(size.width()).arg(size.height());
    return {};
  }
  renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) {
    if (error)
      *error = QStringLiteral("out of memory for %1 x %2").arg(size.width()).arg(size.height());
    return {};
  }
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  painter.end();
  return image;
}

bool WriteRaster(const QImage& image, const QString& out_path, int quality, QString* error) {
  const RasterFormat format = FormatForPath(out_path);
  if (format == RasterFormat::kUnknown) {
    if (error)
      *error = QStringLiteral("unknown output format (use .png, .jpg or .jpeg): %1").arg(out_path);
    return false;
  }
  if (image.isNull()) {
    if (error) *error = QStringLiteral("nothing to write");
    return false;
  }
  QImageWriter writer(out_path, format == RasterFormat::kPng ? "png" : "jpeg");
  bool ok = false;
  if (format == RasterFormat::kJpeg) {
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    writer.setQuality(std::clamp(quality, 0, 100));
    ok = writer.write(flat);
  } else {
    ok = writer.write(image.convertToFormat(QImage::Format_ARGB32));
  }
  if (!ok && error)
    *error = QStringLiteral("cannot write %1: %2").arg(out_path, writer.errorString());
  return ok;
}

}  // namespace art
