// Pictures kept as their files: which files count as decoding, the full-size picture on demand,
// and drawing at a smaller size against scaling the full-size picture.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "PixelCompare.h"
#include "ui/Controls.h"
#include "ui/Picture.h"

namespace {

// A page with gradients, shapes and text, so a JPEG of it carries detail like a real slide.
QImage DetailedPage(QSize size, int seed = 1) {
  QImage page(size, QImage::Format_RGB32);
  QPainter p(&page);
  QLinearGradient gradient(0, 0, size.width(), size.height());
  gradient.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 120, 230));
  gradient.setColorAt(1, QColor::fromHsv((seed * 53 + 120) % 360, 200, 90));
  p.fillRect(page.rect(), gradient);
  QRandomGenerator random(static_cast<quint32>(seed));
  for (int i = 0; i < 40; ++i) {
    p.setBrush(QColor::fromRgb(random.generate()));
    p.drawEllipse(random.bounded(size.width()), random.bounded(size.height()),
                  10 + random.bounded(size.width() / 5), 10 + random.bounded(size.height() / 5));
  }
  QFont font = p.font();
  font.setPixelSize(std::max(8, size.height() / 12));
  p.setFont(font);
  p.setPen(Qt::white);
  for (int line = 0; line < 6; ++line)
    p.drawText(size.width() / 16, (line + 2) * size.height() / 9,
               QStringLiteral("Slide %1, line %2 of its text").arg(seed).arg(line + 1));
  return page;
}

QByteArray Encode(const QImage& image, const char* format, bool progressive = false) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (qstrcmp(format, "jpeg") == 0) writer.setQuality(90);
  writer.setProgressiveScanWrite(progressive);
  EXPECT_TRUE(writer.write(image)) << format;
  return bytes;
}

QByteArray Jpeg(QSize size = {320, 180}) {
  return Encode(DetailedPage(size), "jpeg");
}

// The position of a marker in a JPEG, -1 when it has none.
qsizetype MarkerAt(const QByteArray& jpeg, unsigned char code) {
  for (qsizetype i = 2; i + 1 < jpeg.size(); ++i)
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF &&
        static_cast<unsigned char>(jpeg[i + 1]) == code)
      return i;
  return -1;
}

// An EXIF block whose orientation says the stored picture shows turned a quarter clockwise.
QByteArray TurnedQuarter(const QByteArray& jpeg) {
  static const unsigned char app1[] = {
      0xFF, 0xE1, 0x00, 0x22, 'E',  'x',  'i',  'f',  0,    0,  // marker, length 34
      'I',  'I',  0x2A, 0x00, 0x08, 0x00, 0x00, 0x00,           // TIFF header, IFD at 8
      0x01, 0x00,                                               // one entry:
      0x12, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,  // orientation 6
      0x00, 0x00, 0x00, 0x00};                                                 // no next IFD
  return jpeg.left(2) + QByteArray(reinterpret_cast<const char*>(app1), sizeof app1) + jpeg.mid(2);
}

// A valid JPEG whose frame header claims `size` pixels.
QByteArray ClaimingSize(QByteArray jpeg, QSize size) {
  const qsizetype sof = MarkerAt(jpeg, 0xC0);
  EXPECT_GT(sof, 0);
  jpeg[sof + 5] = static_cast<char>(size.height() >> 8);
  jpeg[sof + 6] = static_cast<char>(size.height() & 0xFF);
  jpeg[sof + 7] = static_cast<char>(size.width() >> 8);
  jpeg[sof + 8] = static_cast<char>(size.width() & 0xFF);
  return jpeg;
}

class UiPicture : public ::testing::Test {
 protected:
  QString Write(const QString& name, const QByteArray& bytes) {
    const QString path = dir_.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
  }
  QTemporaryDir dir_;
};

// Whether a file decodes is settled when it is read, by reading all of it: the header alone
// would pass a file cut short, which then shows grey where its data ends. Such a file now fails;
// Qt's reader alone takes it (the last column), as the full-size decode of old did.
TEST_F(UiPicture, WhetherAFileDecodesIsSettledWhenItIsRead) {
  const QByteArray jpeg = Jpeg();
  const QByteArray progressive = Encode(DetailedPage({320, 180}), "jpeg", true);
  const QByteArray png = Encode(DetailedPage({64, 36}), "png");
  QByteArray damaged = jpeg;  // zeros in the middle of the data: no marker, bad codes
  for (qsizetype i = jpeg.size() / 2; i < jpeg.size() / 2 + 64; ++i) damaged[i] = 0;
  const qsizetype eoi = jpeg.size() - 2;
  ASSERT_EQ(MarkerAt(jpeg, 0xD9), eoi);
  const QByteArray comment("\xFF\xFE\x00\x06note", 8);

  struct Case {
    const char* what;
    const char* name;
    QByteArray bytes;
    bool decodes;
    bool qtAlone;  // whether QImageReader by itself returns a picture
  };
  const Case cases[] = {
      {"a JPEG", "a.jpg", jpeg, true, true},
      {"a progressive JPEG", "b.jpg", progressive, true, true},
      {"a grey JPEG", "c.jpg",
       Encode(DetailedPage({64, 36}).convertToFormat(QImage::Format_Grayscale8), "jpeg"), true,
       true},
      {"a JPEG with a comment after its data", "d.jpg", jpeg.left(eoi) + comment + jpeg.mid(eoi),
       true, true},
      {"a JPEG with bytes after its end", "e.jpg", jpeg + "trailing", true, true},
      {"a JPEG with damaged data inside", "f.jpg", damaged, true, true},
      {"a JPEG named .png", "g.png", jpeg, true, true},
      {"a PNG", "h.png", png, true, true},
      {"a PNG without a dot", "scanpng", png, true, true},
      {"zero bytes", "i.jpg", QByteArray(), false, false},
      {"zero bytes, PNG", "i.png", QByteArray(), false, false},
      {"not a picture", "j.jpg", "not a picture", false, false},
      {"not a picture, PNG", "j.png", "not a picture", false, false},
      {"a JPEG cut in its header", "k.jpg", jpeg.left(100), false, false},
      {"a JPEG cut in its data", "l.jpg", jpeg.left(jpeg.size() / 2), false, true},
      {"a JPEG without its end marker", "m.jpg", jpeg.left(eoi), false, true},
      {"a progressive JPEG cut in a later scan", "n.jpg",
       progressive.left(progressive.size() * 4 / 5), false, true},
      {"a JPEG cut in a comment after its data", "o.jpg", jpeg.left(eoi) + comment.left(5), false,
       true},
      {"a PNG cut short", "p.png", png.left(png.size() - 20), false, false},
      {"a JPEG larger than the reader may allocate", "q.jpg", ClaimingSize(jpeg, {20000, 20000}),
       false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString file = Write(QString::fromLatin1(c.name), c.bytes);
    QImageReader reader(file);
    reader.setAutoTransform(true);
    EXPECT_EQ(!reader.read().isNull(), c.qtAlone);
    if (!c.decodes) {
      try {
        ui::Picture::FromFile(file);
        ADD_FAILURE() << "read without an error";
      } catch (const ui::Error& e) {
        EXPECT_EQ(QString::fromStdU16String(e.Message()),
                  QStringLiteral("Loading bitmap failed (%1)").arg(QString::fromLatin1(c.name)));
      }
      continue;
    }
    const ui::Picture picture = ui::Picture::FromFile(file);
    QImageReader again(file);
    again.setAutoTransform(true);
    const QImage full = again.read();
    EXPECT_EQ(picture.Size(), full.size());
    EXPECT_EQ(picture.ToImage(), full);
  }
}

TEST_F(UiPicture, ThePictureStaysWhenItsFileIsGone) {
  const QString file = Write(QStringLiteral("page.jpg"), Jpeg());
  const ui::Picture picture = ui::Picture::FromFile(file);
  const QImage before = ui::LoadPicture(file);
  ASSERT_TRUE(QFile::remove(file));
  EXPECT_EQ(picture.ToImage(), before);
  EXPECT_FALSE(picture.Scaled({80, 45}).isNull());
}

TEST_F(UiPicture, CopiesShareOnePicture) {
  const QString file = Write(QStringLiteral("page.jpg"), Jpeg());
  ui::Image a(nullptr), b(nullptr);
  a.LoadFromFile(file);
  b.SetPicture(a.GetPicture());
  EXPECT_EQ(b.GetPicture().Key(), a.GetPicture().Key());
  EXPECT_EQ(b.Bitmap(), a.Bitmap());
  ui::Image c(nullptr);
  c.LoadFromFile(file);  // the same file read again is another picture
  EXPECT_NE(c.GetPicture().Key(), a.GetPicture().Key());
  EXPECT_EQ(ui::Picture().Key(), 0);
}

// Drawn smaller than its file, a JPEG is decoded at a 1/8 step of its size; the rest of the way
// it is scaled as the full-size picture was. Tolerance for that decoder step, per colour channel
// over the picture: mean difference at most 3 levels of 255, at most 2 % of values more than
// 24 levels apart. At full size and above, and for every other kind of picture: no difference.
TEST_F(UiPicture, DrawingSmallerMatchesScalingTheFullSizePicture) {
  const QString jpegFile = Write(QStringLiteral("page.jpg"), Jpeg({1920, 1080}));
  const QString turnedFile = Write(QStringLiteral("turned.jpg"), TurnedQuarter(Jpeg({1920, 1080})));
  const QString pngFile =
      Write(QStringLiteral("page.png"), Encode(DetailedPage({960, 540}), "png"));

  struct Case {
    const char* what;
    ui::Picture picture;
    QSize shownSize;
    bool exact;
  };
  const QSize strip1080(160, 90), placed1080(250, 140), enlarged1080(960, 540);
  const QSize strip2160(320, 180), placed2160(500, 280), enlarged2160(1920, 1080);
  const ui::Picture jpeg = ui::Picture::FromFile(jpegFile);
  const ui::Picture turned = ui::Picture::FromFile(turnedFile);
  ASSERT_EQ(turned.Size(), QSize(1080, 1920));
  const std::vector<Case> cases = {
      {"JPEG, strip page at 1080", jpeg, strip1080, false},
      {"JPEG, placed page at 1080", jpeg, placed1080, false},
      {"JPEG, enlarged page at 1080", jpeg, enlarged1080, false},
      {"JPEG, strip page at 2160", jpeg, strip2160, false},
      {"JPEG, placed page at 2160", jpeg, placed2160, false},
      {"JPEG, enlarged page at 2160", jpeg, enlarged2160, true},
      {"JPEG, larger than its file", jpeg, {2400, 1350}, true},
      {"JPEG, not in its own aspect", jpeg, {300, 60}, false},
      {"turned JPEG", turned, {90, 160}, false},
      {"PNG", ui::Picture::FromFile(pngFile), strip1080, true},
      {"SVG",
       ui::Picture::FromFile(QStringLiteral(":/ui-test/green.svg"), {200, 120}),
       {50, 30},
       true},
      {"pixels", ui::Picture(DetailedPage({400, 225})), strip1080, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QImage reference =
        c.picture.ToImage().scaled(c.shownSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage drawn = c.picture.Scaled(c.shownSize);
    ASSERT_EQ(drawn.size(), c.shownSize);
    const qttest::PixelDifference d = qttest::Compare(drawn, reference);
    if (c.exact) {
      EXPECT_EQ(d.max, 0) << d.Describe();
      continue;
    }
    EXPECT_LE(d.mean, 3.0) << d.Describe();
    EXPECT_LE(d.outliers, 0.02) << d.Describe();
  }
}

// A full-screen SVG is drawn on a canvas of its own making (mapped pages, zero from the start):
// the picture must be the one an ordinary transparent image gives.
TEST_F(UiPicture, ALargeSvgIsDrawnAsOnAnOrdinaryCanvas) {
  const QByteArray svg(
      "<svg xmlns='http://www.w3.org/2000/svg' width='96' height='54' viewBox='0 0 96 54'>"
      "<rect x='4' y='4' width='60' height='30' rx='6' fill='#1A7BD9' fill-opacity='0.6'/>"
      "<circle cx='70' cy='30' r='18' fill='none' stroke='#E5484D' stroke-width='3'/></svg>");
  const QString file = Write(QStringLiteral("art.svg"), svg);
  for (const QSize size : {QSize(1920, 1080), QSize(3840, 2160), QSize(96, 54)}) {
    SCOPED_TRACE(size.width());
    QImage reference(size, QImage::Format_ARGB32_Premultiplied);
    reference.fill(Qt::transparent);
    {
      QSvgRenderer renderer(svg);
      QPainter p(&reference);
      renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    const ui::Picture picture = ui::Picture::FromFile(file, size);
    EXPECT_EQ(picture.ToImage(), reference);
    EXPECT_EQ(picture.Scaled(size / 2),
              reference.scaled(size / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  }
}

// A picture rendered ahead on another thread is the one rendering it when it is needed gives,
// taken once: the next use renders anew. In the form a pixmap keeps it, it has no alpha channel
// exactly when all its pixels are opaque, wherever the one that is not lies.
TEST_F(UiPicture, APictureMadeAheadIsTheOneMadeWhenNeeded) {
  const QByteArray opaqueSvg(
      "<svg xmlns='http://www.w3.org/2000/svg' width='96' height='54' viewBox='0 0 96 54'>"
      "<rect width='96' height='54' fill='#2A3546'/>"
      "<rect x='8' y='6' width='70' height='30' rx='6' fill='#1A7BD9' fill-opacity='0.6'/></svg>");
  const QByteArray translucentSvg(
      "<svg xmlns='http://www.w3.org/2000/svg' width='96' height='54' viewBox='0 0 96 54'>"
      "<rect x='8' y='6' width='70' height='30' rx='6' fill='#1A7BD9' fill-opacity='0.6'/></svg>");
  const QString opaqueFile = Write(QStringLiteral("opaque.svg"), opaqueSvg);
  const QString translucentFile = Write(QStringLiteral("translucent.svg"), translucentSvg);
  const QSize size(192, 108);

  for (const QString& file : {opaqueFile, translucentFile}) {
    SCOPED_TRACE(file.toStdString());
    const QImage reference = ui::Picture::FromFile(file, size).ToImage();
    const ui::Picture ahead = ui::Picture::FromFile(file, size);
    ahead.RenderAhead();
    ahead.RenderAhead();  // one under way already
    EXPECT_EQ(ahead.ToImage(), reference);
    EXPECT_EQ(ahead.ToImage(), reference);  // rendered anew
    const ui::Picture scaled = ui::Picture::FromFile(file, size);
    scaled.RenderAhead();
    EXPECT_EQ(scaled.Scaled(size / 2),
              reference.scaled(size / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  }

  // One pixel not opaque, in each corner, and none.
  const auto page = [](QPoint clear) {
    QImage image(7, 5, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0x40, 0x80, 0xC0));
    if (clear.x() >= 0) image.setPixel(clear, qRgba(0x20, 0x40, 0x60, 0x80));
    return image;
  };
  struct Case {
    const char* what;
    ui::Picture picture;
    QSize size;
    bool opaque;
  };
  ui::Picture opaqueAhead = ui::Picture::FromFile(opaqueFile, size);
  opaqueAhead.RenderAhead();
  ui::Picture translucentAhead = ui::Picture::FromFile(translucentFile, size);
  translucentAhead.RenderAhead();
  const std::vector<Case> cases = {
      {"opaque SVG made ahead", opaqueAhead, size, true},
      {"translucent SVG made ahead", translucentAhead, size, false},
      {"opaque SVG", ui::Picture::FromFile(opaqueFile, size), size, true},
      {"opaque SVG, smaller", ui::Picture::FromFile(opaqueFile, size), size / 2, true},
      {"translucent SVG", ui::Picture::FromFile(translucentFile, size), size, false},
      {"opaque pixels", ui::Picture(page({-1, -1})), {7, 5}, true},
      {"first pixel not opaque", ui::Picture(page({0, 0})), {7, 5}, false},
      {"end of the first line not opaque", ui::Picture(page({6, 0})), {7, 5}, false},
      {"start of the last line not opaque", ui::Picture(page({0, 4})), {7, 5}, false},
      {"last pixel not opaque", ui::Picture(page({6, 4})), {7, 5}, false},
      {"no alpha channel", ui::Picture(QImage(7, 5, QImage::Format_RGB32)), {7, 5}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QImage made = c.picture.ScaledForScreen(c.size);
    const QImage plain = c.picture.Scaled(c.size);
    EXPECT_EQ(made.hasAlphaChannel(), !c.opaque);
    EXPECT_EQ(made.convertToFormat(QImage::Format_ARGB32_Premultiplied),
              plain.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    // What a pixmap would have made of it.
    EXPECT_EQ(QPixmap::fromImage(made).toImage(), QPixmap::fromImage(plain).toImage());
  }
}

}  // namespace
