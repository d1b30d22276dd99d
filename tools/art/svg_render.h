// Renders our SVG artwork and sample pages to raster files of a chosen pixel size.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace art {

// Raster formats the tool writes, chosen by the output file's ending.
enum class RasterFormat { kPng, kJpeg, kUnknown };

// ".png" -> kPng; ".jpg" / ".jpeg" -> kJpeg (any letter case); anything else kUnknown.
RasterFormat FormatForPath(const QString& path);

// The size the SVG declares (its width and height), or an empty size when the file
// cannot be read or is not a valid SVG document.
QSize DeclaredSize(const QString& svg_path);

// Renders the whole document stretched onto exactly `size` pixels (the viewBox fills the
// image). Transparent background; returns a null image and sets `error` on failure.
QImage RenderSvg(const QString& svg_path, QSize size, QString* error);

// Writes `image` to `out_path` in the format its ending names. JPEG has no alpha, so the
// image is laid on white first. `quality` 0..100 applies to JPEG only.
bool WriteRaster(const QImage& image, const QString& out_path, int quality, QString* error);

}  // namespace art
