// What the form paints: order, dimming of disabled controls, clipping, scaling, pictures.

#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <set>
#include <vector>

#include "PaintCounter.h"
#include "PixelCompare.h"
#include "QtEnvironment.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace {

::testing::AssertionResult Near(QRgb actual, QColor expected, int tolerance = 3) {
  const QColor a = QColor::fromRgb(actual);
  if (std::abs(a.red() - expected.red()) <= tolerance &&
      std::abs(a.green() - expected.green()) <= tolerance &&
      std::abs(a.blue() - expected.blue()) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "pixel " << a.name().toStdString() << " expected " << expected.name().toStdString();
}

ui::Rectangle* Box(QObject* owner, ui::Control* parent, QRectF r, ui::AlphaColor fill) {
  auto* box = new ui::Rectangle(owner);
  box->SetBounds(float(r.x()), float(r.y()), float(r.width()), float(r.height()));
  box->SetFillColor(fill);
  box->SetStrokeVisible(false);
  box->SetParent(parent);
  return box;
}

class UiPaint : public ::testing::Test {
 protected:
  void SetUp() override { form.SetClientSize(100, 100); }
  QImage Shot() { return form.Render(QSize(100, 100)); }
  ui::Form form;
};

TEST_F(UiPaint, LaterSiblingsDrawAboveEarlierOnes) {
  auto* red = Box(&form, &form, {10, 10, 50, 50}, 0xFFFF0000);
  Box(&form, &form, {30, 30, 50, 50}, 0xFF0000FF);
  EXPECT_TRUE(Near(Shot().pixel(40, 40), Qt::blue));
  red->BringToFront();
  EXPECT_TRUE(Near(Shot().pixel(40, 40), Qt::red));
  EXPECT_TRUE(Near(Shot().pixel(95, 95), Qt::white));
}

TEST_F(UiPaint, DisabledControlDrawsAtSixTenthsOfItsOpacityWithItsChildren) {
  auto* parent = Box(&form, &form, {0, 0, 60, 60}, 0xFF000000);
  Box(&form, parent, {10, 10, 20, 20}, 0xFFFF0000);
  QImage enabled = Shot();
  EXPECT_TRUE(Near(enabled.pixel(50, 50), Qt::black));
  EXPECT_TRUE(Near(enabled.pixel(15, 15), Qt::red));

  parent->SetEnabled(false);
  QImage disabled = Shot();
  EXPECT_TRUE(Near(disabled.pixel(50, 50), QColor(102, 102, 102)));  // 0.6 black over white
  // The child is dimmed with it: 0.6 red over the dimmed parent.
  EXPECT_TRUE(Near(disabled.pixel(15, 15), QColor(194, 41, 41)));
  EXPECT_TRUE(Near(disabled.pixel(80, 80), Qt::white));

  // Opacity multiplies down the tree; the dimming applies once for a disabled subtree.
  parent->SetOpacity(0.5f);
  EXPECT_TRUE(Near(Shot().pixel(50, 50), QColor(178, 178, 178)));  // 0.3 black
}

TEST_F(UiPaint, ClippingParentHidesWhatLiesOutsideIt) {
  auto* clip = Box(&form, &form, {0, 0, 40, 40}, 0xFFFFFFFF);
  Box(&form, clip, {20, 20, 60, 60}, 0xFF00FF00);
  EXPECT_TRUE(Near(Shot().pixel(60, 60), Qt::green));
  clip->SetClipChildren(true);
  EXPECT_TRUE(Near(Shot().pixel(60, 60), Qt::white));
  EXPECT_TRUE(Near(Shot().pixel(30, 30), Qt::green));
}

TEST_F(UiPaint, ScaleEnlargesTheSubtree) {
  auto* panel = new ui::Layout(&form);
  panel->SetBounds(0, 0, 50, 50);
  panel->SetParent(&form);
  Box(&form, panel, {20, 20, 10, 10}, 0xFF0000FF);
  panel->SetScale(2, 2);
  const QImage img = Shot();
  EXPECT_TRUE(Near(img.pixel(45, 45), Qt::blue));
  EXPECT_TRUE(Near(img.pixel(58, 58), Qt::blue));
  EXPECT_TRUE(Near(img.pixel(62, 62), Qt::white));
}

TEST_F(UiPaint, ImageFitKeepsTheAspectRatioAndStretchFillsTheBox) {
  auto* image = new ui::Image(&form);
  image->SetBounds(0, 0, 40, 40);
  image->LoadFromFile(":/ui-test/blue_wide.png");  // 20 x 10
  image->SetParent(&form);
  QImage fit = Shot();
  EXPECT_TRUE(Near(fit.pixel(20, 5), Qt::white));  // above the fitted 40 x 20 picture
  EXPECT_TRUE(Near(fit.pixel(20, 20), Qt::blue));
  image->SetWrapMode(ui::WrapMode::Stretch);
  EXPECT_TRUE(Near(Shot().pixel(20, 5), Qt::blue));
}

TEST_F(UiPaint, RenderScalesFormUnitsByTheDevicePixelRatio) {
  Box(&form, &form, {50, 0, 50, 100}, 0xFF0000FF);
  const QImage img = form.Render(QSize(400, 200), 2.0);  // 200 x 100 form units
  EXPECT_EQ(img.size(), QSize(400, 200));
  EXPECT_EQ(form.Width(), 200);
  EXPECT_TRUE(Near(img.pixel(90, 100), Qt::white));
  EXPECT_TRUE(Near(img.pixel(110, 100), Qt::blue));
  EXPECT_TRUE(Near(img.pixel(210, 100), Qt::white));
}

TEST_F(UiPaint, TextIsDrawnInItsColour) {
  auto* text = new ui::Text(&form);
  text->SetBounds(0, 0, 100, 100);
  text->SetText(QStringLiteral("\u2588\u2588\u2588"));
  text->SetFontSize(40);
  text->SetFontColor(0xFFFF0000);
  text->SetParent(&form);
  const QImage img = Shot();
  int red = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x)
      if (Near(img.pixel(x, y), Qt::red, 30)) ++red;
  EXPECT_GT(red, 200);
}

// In the window, what lies under a child that covers the whole window opaquely is not drawn at
// all; anything that lets it show through keeps it drawn, and the picture is the same either way.
TEST_F(UiPaint, WhatAnOpaqueFullWindowChildCoversIsNotDrawn) {
  struct Case {
    const char* what;
    std::function<void(ui::Rectangle&)> make;
    bool drawnBeneath;
  };
  const Case cases[] = {
      {"opaque, the whole window", [](ui::Rectangle&) {}, false},
      {"opaque, larger than the window", [](ui::Rectangle& r) { r.SetBounds(-5, -5, 110, 110); },
       false},
      {"scaled up to the whole window",
       [](ui::Rectangle& r) {
         r.SetBounds(0, 0, 50, 50);
         r.SetScale(2, 2);
       },
       false},
      {"an outline",
       [](ui::Rectangle& r) {
         r.SetStrokeVisible(true);
         r.SetStrokeColor(0xFF000000);
       },
       true},
      {"translucent fill", [](ui::Rectangle& r) { r.SetFillColor(0x80FF0000); }, true},
      {"no fill", [](ui::Rectangle& r) { r.SetFillVisible(false); }, true},
      {"rounded corners", [](ui::Rectangle& r) { r.SetRadii(4, 4); }, true},
      {"smaller than the window", [](ui::Rectangle& r) { r.SetBounds(0, 0, 100, 99); }, true},
      {"half transparent", [](ui::Rectangle& r) { r.SetOpacity(0.5f); }, true},
      {"disabled, so dimmed", [](ui::Rectangle& r) { r.SetEnabled(false); }, true},
      {"hidden", [](ui::Rectangle& r) { r.Hide(); }, true},
  };
  // The window with something beneath the cover; with the cover inside a layout (which covers
  // nothing) everything is drawn, as before, for the picture to compare with.
  const auto shoot = [](const Case& c, bool wrapped, int* paints) {
    ui::Form window;
    window.SetClientSize(100, 100);
    auto* beneath = new ui::PaintBox(&window);
    beneath->SetBounds(0, 0, 100, 100);
    beneath->OnPaint = [paints](QPainter& p, QRectF r) {
      ++*paints;
      p.fillRect(r, Qt::blue);
    };
    beneath->SetParent(&window);
    ui::Control* parent = &window;
    if (wrapped) {
      parent = new ui::Layout(&window);
      parent->SetBounds(0, 0, 100, 100);
      parent->SetParent(&window);
    }
    auto* cover = Box(&window, parent, {0, 0, 100, 100}, 0xFFFF0000);
    c.make(*cover);
    return window.Render(QSize(100, 100));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int paints = 0, drawnAnyway = 0;
    const QImage shot = shoot(c, false, &paints);
    EXPECT_EQ(paints > 0, c.drawnBeneath);
    EXPECT_EQ(shot, shoot(c, true, &drawnAnyway));
    EXPECT_EQ(drawnAnyway, 1);
  }
}

// A text box that an overlay covers takes no input (its widget is hidden), but the window still
// shows it beneath the overlay, dimmed as the overlay dims everything it covers: the picture is
// the uncovered one with the overlay's colour laid over it. Also in a scaled, disabled parent.
TEST(UiPaintTextBoxes, ACoveredTextBoxShowsBeneathTheOverlay) {
  struct Case {
    const char* what;
    float scale;
    bool enabled;
  };
  const Case cases[] = {{"plain", 1.0f, true}, {"scaled", 1.5f, true}, {"disabled", 1.0f, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui::Form form;
    form.SetClientSize(300, 200);
    auto* bar = new ui::Layout(&form);
    bar->SetBounds(0, 100, 200, 60);
    bar->SetScale(c.scale, c.scale);
    bar->SetEnabled(c.enabled);
    bar->SetParent(&form);
    auto* memo = new ui::Memo(&form);
    memo->SetBounds(10, 5, 150, 40);
    memo->SetFontSize(20);
    memo->SetText(QStringLiteral("\u2588\u2588 idea"));
    memo->SetParent(bar);
    auto* edit = new ui::Edit(&form);
    edit->SetBounds(165, 5, 30, 20);
    edit->SetText(QStringLiteral("\u2588\u2588"));
    edit->SetParent(bar);
    auto* shade = Box(&form, &form, {0, 0, 300, 200}, 0x80000000);
    shade->Hide();
    const QImage uncovered = form.Render(QSize(300, 200));
    shade->Show();
    const QImage covered = form.Render(QSize(300, 200));
    EXPECT_TRUE(memo->Widget()->isHidden());  // it takes no input
    EXPECT_TRUE(edit->Widget()->isHidden());

    QImage expected = uncovered;
    {
      QPainter p(&expected);
      p.fillRect(expected.rect(), QColor(0, 0, 0, 0x80));
    }
    for (ui::NativeControl* box :
         {static_cast<ui::NativeControl*>(memo), static_cast<ui::NativeControl*>(edit)}) {
      const QRect area = box->Widget()->geometry();
      const qttest::PixelDifference d = qttest::Compare(covered, expected, area);
      EXPECT_LT(d.mean, 2.0) << d.Describe();
      // Not the window beneath: the uncovered box differs from the bare, dimmed background.
      QImage bare(area.size(), QImage::Format_ARGB32_Premultiplied);
      bare.fill(covered.pixel(5, 5));
      EXPECT_GT(qttest::Compare(covered.copy(area), bare).mean, 10.0);
    }
  }
}

// A covered text box whose text changes (a reset empties it) is painted again with its new text.
TEST(UiPaintTextBoxes, ACoveredTextBoxIsRepaintedWhenItsTextChanges) {
  ui::Form form;
  form.SetClientSize(300, 100);
  auto* memo = new ui::Memo(&form);
  memo->SetBounds(10, 10, 150, 40);
  memo->SetText(QStringLiteral("an idea"));
  memo->SetParent(&form);
  auto* edit = new ui::Edit(&form);
  edit->SetBounds(170, 10, 100, 22);
  edit->SetText(QStringLiteral("a name"));
  edit->SetParent(&form);
  Box(&form, &form, {0, 0, 300, 100}, 0x80000000);
  qttest::PaintCounter counter;
  int& paints = counter.paints;
  form.Widget()->installEventFilter(&counter);
  form.Show();
  ASSERT_TRUE(uitest::PumpUntil([&] { return paints > 0; }));
  ASSERT_TRUE(memo->Widget()->isHidden());
  for (const auto& change : std::vector<std::function<void()>>{[&] { memo->SetText(QString()); },
                                                               [&] { edit->SetText(QString()); }}) {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    paints = 0;
    change();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    EXPECT_GT(paints, 0);
  }
  form.Widget()->removeEventFilter(&counter);
}

// The pictures a window's first paint would make (scaled, rendered, decoded) are made when it is
// shown, side by side, and only those it would draw: the picture is the one the paint makes.
TEST(UiPaintAhead, WhatTheFirstPaintWouldMakeIsMadeWhenTheWindowShows) {
  QTemporaryDir dir;
  const auto write = [&dir](const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
  };
  const QString opaque = write("opaque.svg",
                               "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20'>"
                               "<rect width='40' height='20' fill='#2A3546'/>"
                               "<circle cx='20' cy='10' r='8' fill='#E5484D'/></svg>");
  const QString translucent =
      write("translucent.svg",
            "<svg xmlns='http://www.w3.org/2000/svg' width='30' height='30'>"
            "<circle cx='15' cy='15' r='12' fill='#1A7BD9' "
            "fill-opacity='0.6'/></svg>");
  const auto image = [](ui::Form& form, ui::Control* parent, QRectF r, const QString& file,
                        QSize svgSize, ui::WrapMode mode) {
    auto* i = new ui::Image(&form);
    i->SetBounds(float(r.x()), float(r.y()), float(r.width()), float(r.height()));
    i->LoadFromFile(file, svgSize);
    i->SetWrapMode(mode);
    i->SetParent(parent);
    return i;
  };
  // A window of 200 x 100 units; `shown` gets the sizes in pixels of what its paint would make.
  const auto build = [&](ui::Form& form) {
    form.SetClientSize(200, 100);
    auto* panel = new ui::Layout(&form);
    panel->SetBounds(0, 0, 100, 50);
    panel->SetScale(2, 2);
    panel->SetParent(&form);
    image(form, panel, {0, 0, 100, 50}, opaque, {200, 100}, ui::WrapMode::Stretch);  // drawn
    image(form, panel, {10, 10, 30, 20}, translucent, {}, ui::WrapMode::Fit)  // drawn, fitted
        ->SetOpacity(0.5f);
    image(form, panel, {50, 10, 20, 10}, QStringLiteral(":/ui-test/blue_wide.png"), {},
          ui::WrapMode::Stretch)
        ->SetEnabled(false);  // drawn, dimmed
    image(form, panel, {0, 0, 10, 10}, opaque, {}, ui::WrapMode::Stretch)->Hide();
    auto* hidden = new ui::Layout(&form);
    hidden->SetBounds(0, 0, 50, 50);
    hidden->SetParent(panel);
    hidden->Hide();
    image(form, hidden, {0, 0, 11, 11}, opaque, {}, ui::WrapMode::Stretch);
    auto* clip = new ui::Layout(&form);
    clip->SetBounds(70, 30, 20, 10);
    clip->SetClipChildren(true);
    clip->SetParent(panel);
    image(form, clip, {0, 0, 12, 12}, translucent, {}, ui::WrapMode::Stretch);     // drawn
    image(form, clip, {40, 40, 13, 13}, translucent, {}, ui::WrapMode::Stretch);   // clipped away
    image(form, panel, {80, 0, 10, 10}, translucent, {}, ui::WrapMode::Original);  // not scaled
  };
  const auto made = [](ui::Form& form) {
    std::vector<ui::PaintWork> work;
    form.CollectPaintWork(QTransform(), std::nullopt, 1.0, 1.0, work);
    std::multiset<qint64> pixels;
    for (const ui::PaintWork& w : work) pixels.insert(w.pixels);
    return pixels;
  };

  ui::Form shown;
  build(shown);
  EXPECT_EQ(made(shown), (std::multiset<qint64>{200 * 100, 40 * 40, 40 * 20, 24 * 24}));
  shown.Show();
  EXPECT_TRUE(made(shown).empty());  // made when it showed
  const QImage painted = shown.Widget()->grab().toImage();

  ui::Form drawnWhenPainted;
  build(drawnWhenPainted);
  EXPECT_EQ(painted.convertToFormat(QImage::Format_RGB32),
            drawnWhenPainted.Render(QSize(200, 100)).convertToFormat(QImage::Format_RGB32));

  // Beneath a child that covers the whole window opaquely nothing is drawn, so nothing is made.
  ui::Form covered;
  build(covered);
  Box(&covered, &covered, {0, 0, 200, 100}, 0xFF808080);
  EXPECT_TRUE(made(covered).empty());
}

}  // namespace
