#pragma once
// The pictures the image controls show. A picture file stays as its encoded bytes and is decoded
// when it is drawn, at about the size it is drawn (a JPEG by the decoder's own 1/8 to 8/8
// scaling), so a strip of many full-size pages costs what their files cost, not their pixels.
// Its full-size pixels are still there for whoever asks for them.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <memory>

namespace ui {

class Picture {
 public:
  Picture() = default;
  // Pixels as they are (a null image gives a null picture).
  explicit Picture(const QImage& image);

  // Reads a picture file: PNG, JPEG, ... or SVG (drawn at `svgSize` pixels, or its own size when
  // empty). The whole file is read and checked now, so a file that does not decode fails here
  // and not when it is first drawn. Raises ui::Error "Loading bitmap failed (<file>)".
  static Picture FromFile(const QString& file, QSize svgSize = {});

  bool IsNull() const { return !source_; }
  // The full size in pixels, known without decoding.
  QSize Size() const;
  // The picture at its full size; a file is decoded for the call (the last few decoded at full
  // size are kept).
  QImage ToImage() const;
  // The picture scaled to `size` pixels (aspect not kept, smooth): what scaling the full-size
  // picture gives, though a JPEG is decoded at the nearest larger 1/8 step of its size first.
  QImage Scaled(QSize size) const;
  // The same pixels in the form a pixmap keeps them: a picture with an alpha channel but only
  // opaque pixels comes without one (what QPixmap::fromImage would find out by scanning them).
  QImage ScaledForScreen(QSize size) const;
  // The same for copies of one picture, different for any other picture.
  qint64 Key() const;
  // An SVG picture begins rendering at its own size on a thread of its own; the first ToImage or
  // Scaled after it takes that rendering instead of making its own (the same pixels). Nothing
  // for other pictures, or when one is under way already.
  void RenderAhead() const;

 private:
  struct Source;
  explicit Picture(std::shared_ptr<const Source> source) : source_(std::move(source)) {}
  std::shared_ptr<const Source> source_;
};

// What a JPEG file's check found: whether it decodes, and its size in pixels as stored (before
// any turn its EXIF data asks for). A JPEG decodes when the decoder takes all of it without an
// error and its data does not end before the end-of-image marker: a file cut short decodes only
// as far as it goes, so it does not count as one that decodes.
struct JpegCheck {
  bool decodes = false;
  QSize size;
  int components = 0;  // of the decoded pixels: 1 grey, 3 colour, 4 CMYK
};
JpegCheck CheckJpeg(const QByteArray& bytes);

// Loads a picture file and decodes it at its full size (see Picture::FromFile).
QImage LoadPicture(const QString& file, QSize svgSize = {});

}  // namespace ui
