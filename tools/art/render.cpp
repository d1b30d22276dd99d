// render-art: renders one SVG file to a PNG or JPEG of a given pixel size.
//
//   render-art <in.svg> <out.png|out.jpg> [<width> <height>] [--quality <0-100>]
//
// Without a size the SVG's own width and height are used.
#include <QGuiApplication>
#include <QStringList>
#include <cstdio>

#include "svg_render.h"

namespace {

int Usage() {
  std::fputs(
      "usage: render-art <in.svg> <out.png|out.jpg|out.jpeg> [<width> <height>] "
      "[--quality <0-100>]\n",
      stderr);
  return 2;
}

// Build logs should show real problems only; Qt's note about an unset XDG_RUNTIME_DIR
// on build machines is not one.
void FilterMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  if (text.startsWith(QLatin1String("QStandardPaths:"))) return;
  std::fprintf(stderr, "render-art: %s\n", qPrintable(text));
}

bool ParseInt(const QString& text, int* value) {
  bool ok = false;
  *value = text.toInt(&ok);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  // Runs at build time on machines without a display; text still needs the font database.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(FilterMessages);
  QGuiApplication app(argc, argv);

  QStringList args = app.arguments();
  args.removeFirst();
  int quality = 92;
  const qsizetype q = args.indexOf(QStringLiteral("--quality"));
  if (q >= 0) {
    if (q + 1 >= args.size() || !ParseInt(args[q + 1], &quality) || quality < 0 || quality > 100)
      return Usage();
    args.remove(q, 2);
  }
  if (args.size() != 2 && args.size() != 4) return Usage();

  const QString in = args[0];
  const QString out = args[1];
  if (art::FormatForPath(out) == art::RasterFormat::kUnknown) return Usage();

  QSize size;
  if (args.size() == 4) {
    int w = 0;
    int h = 0;
    if (!ParseInt(args[2], &w) || !ParseInt(args[3], &h)) return Usage();
    size = QSize(w, h);
  } else {
    size = art::DeclaredSize(in);
  }

  QString error;
  const QImage image = art::RenderSvg(in, size, &error);
  if (image.isNull() || !art::WriteRaster(image, out, quality, &error)) {
    std::fprintf(stderr, "render-art: %s\n", qPrintable(error));
    return 1;
  }
  return 0;
}
