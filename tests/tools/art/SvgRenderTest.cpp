#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "GuiApp.h"
#include "svg_render.h"

namespace {

// Left half opaque red, right half left empty.
constexpr char kHalfRed[] =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10" viewBox="0 0 20 10">)"
    R"(<rect x="0" y="0" width="10" height="10" fill="#FF0000"/></svg>)";

class SvgRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { art_test::EnsureGuiApp(); }

  QString Write(const QString& name, const QByteArray& content) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
  }

  QTemporaryDir dir_;
};

TEST(SvgRenderFormat, FollowsTheEndingInAnyCase) {
  struct Case {
    const char* path;
    art::RasterFormat format;
  };
  const Case cases[] = {
      {"a.png", art::RasterFormat::kPng},         {"dir/A.PNG", art::RasterFormat::kPng},
      {"b.jpg", art::RasterFormat::kJpeg},        {"b.Jpeg", art::RasterFormat::kJpeg},
      {"c.gif", art::RasterFormat::kUnknown},     {"png", art::RasterFormat::kUnknown},
      {"x.png.svg", art::RasterFormat::kUnknown}, {"", art::RasterFormat::kUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(art::FormatForPath(QString::fromUtf8(c.path)), c.format) << c.path;
  }
}

TEST_F(SvgRender, FillsExactlyTheRequestedSizeAndKeepsTransparency) {
  const QString svg = Write("half.svg", kHalfRed);
  EXPECT_EQ(art::DeclaredSize(svg), QSize(20, 10));
  // Proportional and distorted sizes: the viewBox is stretched over the whole image.
  for (const QSize size : {QSize(40, 20), QSize(7, 30), QSize(2, 1)}) {
    QString error;
    const QImage image = art::RenderSvg(svg, size, &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_EQ(image.size(), size);
    EXPECT_EQ(QColor(image.pixel(0, size.height() - 1)).red(), 255);
    if (size.width() > 1) {
      EXPECT_EQ(qAlpha(image.pixel(size.width() - 1, 0)), 0) << size.width();
    }
  }
}

TEST_F(SvgRender, RefusesBadInput) {
  const QString good = Write("half.svg", kHalfRed);
  const QString broken = Write("broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect");
  const QString text = Write("notes.svg", "just some words");
  struct Case {
    QString path;
    QSize size;
  };
  const Case cases[] = {
      {dir_.filePath("missing.svg"), QSize(10, 10)},
      {broken, QSize(10, 10)},
      {text, QSize(10, 10)},
      {good, QSize(0, 10)},
      {good, QSize(10, -1)},
      {good, QSize(100000, 10)},
  };
  for (const Case& c : cases) {
    QString error;
    EXPECT_TRUE(art::RenderSvg(c.path, c.size, &error).isNull()) << c.path.toStdString();
    EXPECT_FALSE(error.isEmpty()) << c.path.toStdString();
  }
  EXPECT_TRUE(art::DeclaredSize(broken).isEmpty());
}

TEST_F(SvgRender, PngKeepsAlphaAndJpegLiesOnWhite) {
  const QImage image = art::RenderSvg(Write("half.svg", kHalfRed), QSize(40, 20), nullptr);
  QString error;
  const QString png = dir_.filePath("out.png");
  const QString jpg = dir_.filePath("out.JPG");
  ASSERT_TRUE(art::WriteRaster(image, png, 90, &error)) << error.toStdString();
  ASSERT_TRUE(art::WriteRaster(image, jpg, 90, &error)) << error.toStdString();

  const QImage png_back(png);
  ASSERT_EQ(png_back.size(), QSize(40, 20));
  EXPECT_EQ(qAlpha(png_back.pixel(35, 10)), 0);
  EXPECT_EQ(QColor(png_back.pixel(5, 10)).red(), 255);

  const QImage jpg_back(jpg, "jpeg");
  ASSERT_EQ(jpg_back.size(), QSize(40, 20));
  const QColor empty(jpg_back.pixel(35, 10));
  EXPECT_GT(empty.lightness(), 245);  // white, not black, where the SVG drew nothing
  const QColor red(jpg_back.pixel(3, 10));
  EXPECT_GT(red.red(), 200);
  EXPECT_LT(red.green(), 60);
}

TEST_F(SvgRender, WriteRefusesUnknownEndingAndNullImage) {
  const QImage image = art::RenderSvg(Write("half.svg", kHalfRed), QSize(4, 2), nullptr);
  QString error;
  EXPECT_FALSE(art::WriteRaster(image, dir_.filePath("out.bmp"), 90, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(QFile::exists(dir_.filePath("out.bmp")));
  error.clear();
  EXPECT_FALSE(art::WriteRaster(QImage(), dir_.filePath("out.png"), 90, &error));
  EXPECT_FALSE(error.isEmpty());
}

// The program as the build runs it: argument vectors only, bounded waits.
class RenderArtTool : public SvgRender {
 protected:
  int Run(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(VM_RENDER_ART), args);
    if (!process.waitForFinished(30000)) {
      process.kill();
      process.waitForFinished(5000);
      return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
};

TEST_F(RenderArtTool, RendersAtTheDeclaredOrTheGivenSize) {
  const QString svg = Write("half.svg", kHalfRed);
  const QString own = dir_.filePath("own.png");
  const QString given = dir_.filePath("given.jpg");
  ASSERT_EQ(Run({svg, own}), 0);
  EXPECT_EQ(QImage(own).size(), QSize(20, 10));
  ASSERT_EQ(Run({svg, given, "64", "48", "--quality", "80"}), 0);
  EXPECT_EQ(QImage(given, "jpeg").size(), QSize(64, 48));
}

TEST_F(RenderArtTool, ReportsUsageAndFailures) {
  const QString svg = Write("half.svg", kHalfRed);
  const QString out = dir_.filePath("out.png");
  struct Case {
    QStringList args;
    int code;
  };
  const Case cases[] = {
      {{}, 2},
      {{svg}, 2},
      {{svg, out, "10"}, 2},
      {{svg, out, "ten", "10"}, 2},
      {{svg, dir_.filePath("out.gif")}, 2},
      {{svg, out, "--quality", "101"}, 2},
      {{svg, out, "--quality"}, 2},
      {{dir_.filePath("missing.svg"), out}, 1},
      {{svg, out, "0", "10"}, 1},
      {{svg, dir_.filePath("no/such/dir/out.png")}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), c.code) << c.args.join(' ').toStdString();
  }
  EXPECT_FALSE(QFile::exists(out));
}

}  // namespace
