// What the user sees of the slide pages: the strip, placed pages and the enlarged view, drawn
// from the pages' files, against the same window drawn from full-size decodes of those files
// scaled the old way (each picture decoded whole, then smoothly scaled to the size it shows at).
// Pages that are drawn smaller than their files are JPEGs decoded at a 1/8 step of their size,
// which is the one tolerated difference: per colour channel over a page, a mean of at most 3
// levels of 255 and at most 2 % of values more than 24 levels apart; everything else on the
// screen, and pages shown at their file's size, are identical.
// With VM_SCREENSHOT_DIR set, the pictures go there as PNGs too.

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BoardViewFixture.h"
#include "PixelCompare.h"
#include "SamplePage.h"
#include "rtl/Files.h"

namespace {

using clienttest::BoardViewTest;
namespace fs = std::filesystem;

constexpr int kPages = 12;

struct Screen {
  const char* name;
  QSize size;
};
void PrintTo(const Screen& screen, std::ostream* out) {
  *out << screen.name;
}

class PagePictures : public BoardViewTest, public ::testing::WithParamInterface<Screen> {
 protected:
  void SetUp() override {
    BoardViewTest::SetUp();
    const fs::path slides = dir_ / "slides";
    fs::create_directories(slides);
    for (int i = 1; i <= kPages; ++i)
      ASSERT_TRUE(vmtest::SamplePage(i).save(
          QString::fromStdString(
              (slides / ("Picture" + std::to_string(100 + i) + ".jpg")).string()),
          "JPG", 90));
    OpenWindow(0, true, GetParam().size);
    form_->img_path = slides.string();
    form_->SetLayoutValue();
    ASSERT_EQ(form_->scroll_view->Content()->ChildrenCount(), kPages);
    // The pictures of old: each file decoded whole. Strip page n is the n-th file listed.
    const std::vector<std::u16string> files = rtl::ListFiles(slides.u16string());
    ASSERT_EQ(files.size(), static_cast<std::size_t>(kPages));
    for (int i = 0; i < kPages; ++i) {
      QImageReader reader(QString::fromStdU16String(files[static_cast<std::size_t>(i)]));
      reader.setAutoTransform(true);
      oldFor_[Thumb(i)->GetPicture().Key()] = ui::Picture(reader.read());
    }
    ASSERT_EQ(oldFor_.size(), static_cast<std::size_t>(kPages));
  }

  // The window as drawn now, and as drawn with every page picture replaced by its full-size
  // decode; the pictures are put back afterwards.
  std::pair<QImage, QImage> Shots(const char* what) {
    const QImage now = form_->Render(GetParam().size);
    std::vector<std::pair<ui::Image*, ui::Picture>> swapped;
    for (ui::Image* image : form_->findChildren<ui::Image*>()) {
      const auto old = oldFor_.find(image->GetPicture().Key());
      if (old == oldFor_.end()) continue;
      swapped.emplace_back(image, image->GetPicture());
      image->SetPicture(old->second);
    }
    const QImage before = form_->Render(GetParam().size);
    for (auto& [image, picture] : swapped) image->SetPicture(picture);
    if (const char* dir = std::getenv("VM_SCREENSHOT_DIR")) {
      const std::string stem = std::string(dir) + "/pages-" + GetParam().name + "-" + what;
      now.save(QString::fromStdString(stem + "-now.png"));
      before.save(QString::fromStdString(stem + "-full-size-decode.png"));
    }
    return {now, before};
  }

  // Where a control shows on the screen, in pixels, within `clip` when given.
  static QRect OnScreen(const ui::Control* c, const ui::Control* clip = nullptr) {
    QRectF r = c->LocalToForm().mapRect(c->LocalRect());
    if (clip) r = r.intersected(clip->LocalToForm().mapRect(clip->LocalRect()));
    return r.toAlignedRect();
  }

  struct Page {
    QRect onScreen;
    bool exact;  // shown at its file's full size or above: no decoder scaling
  };

  // Each page within the tolerance; the screen outside the pages identical.
  static void ExpectSame(const QImage& now, const QImage& before, const std::vector<Page>& pages) {
    ASSERT_EQ(now.size(), before.size());
    QImage rest = now.convertToFormat(QImage::Format_RGB32);
    QImage restBefore = before.convertToFormat(QImage::Format_RGB32);
    for (const Page& page : pages) {
      const QRect& r = page.onScreen;
      SCOPED_TRACE(testing::Message()
                   << "page at " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height());
      const qttest::PixelDifference d = qttest::Compare(now, before, r);
      if (page.exact) {
        EXPECT_EQ(d.max, 0) << d.Describe();
      } else {
        EXPECT_LE(d.mean, 3.0) << d.Describe();
        EXPECT_LE(d.outliers, 0.02) << d.Describe();
      }
      QPainter(&rest).fillRect(r, Qt::black);
      QPainter(&restBefore).fillRect(r, Qt::black);
    }
    const qttest::PixelDifference d = qttest::Compare(rest, restBefore);
    EXPECT_EQ(d.max, 0) << "outside the pages: " << d.Describe();
  }

  std::vector<Page> StripPages() const {
    std::vector<Page> pages;
    for (int i = 0; i < kPages; ++i) {
      const QRect r = OnScreen(Thumb(i), form_->scroll_view);
      if (!r.isEmpty()) pages.push_back({r, false});
    }
    return pages;
  }

  std::map<qint64, ui::Picture> oldFor_;
};

TEST_P(PagePictures, StripAndPlacedPagesLookAsTheFullSizeDecodeScaled) {
  ClickThumb(0);
  ClickThumb(4);
  Placed(0)->SetPosition(143.5f, 170);  // beside the second, not under it
  Received();
  const auto [now, before] = Shots("board");
  // Where the pages are once the window has its screen's size (rendering gives it that).
  std::vector<Page> pages = StripPages();
  ASSERT_GE(pages.size(), 9u);
  for (int i = 0; i < 2; ++i) pages.push_back({OnScreen(Placed(i)->Child(0)), false});
  ExpectSame(now, before, pages);
}

TEST_P(PagePictures, TheEnlargedPageLooksAsTheFullSizeDecodeScaled) {
  ClickThumb(2);
  const QPointF p = At(Placed(0), {50, 50});
  Press(p);
  Release(p);
  ASSERT_TRUE(View().pb_show->Visible());
  View().img_right_click(View().img_right);  // on to the next page, and the slide to its end
  View().anime_img->ProcessAt(1.0);
  Received();
  EXPECT_EQ(View().img_mid->GetPicture().Key(), Thumb(3)->GetPicture().Key());
  EXPECT_EQ(View().img_bottom->GetPicture().Key(), Thumb(3)->GetPicture().Key());

  const auto [now, before] = Shots("enlarged");
  std::vector<Page> pages = StripPages();
  const QRect enlarged = OnScreen(View().img_mid, View().rect_clip);
  // At 3840 x 2160 the enlarged page shows at its file's size, 1920 x 1080.
  pages.push_back({enlarged, enlarged.size() == QSize(1920, 1080)});
  ExpectSame(now, before, pages);
}

INSTANTIATE_TEST_SUITE_P(Screens, PagePictures,
                         ::testing::Values(Screen{"1920x1080", {1920, 1080}},
                                           Screen{"3840x2160", {3840, 2160}}),
                         [](const auto& screen) { return std::string(screen.param.name); });

}  // namespace
