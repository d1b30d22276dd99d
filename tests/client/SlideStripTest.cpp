// The slide strip: thumbnails from the slide folder in listing order, which is name order.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPointer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "rtl/Exception.h"
#include "ui/Application.h"

namespace {

using clienttest::StdoutCapture;
using clienttest::WindowTest;
namespace fs = std::filesystem;

// One entry of a slide folder: a picture of `size` (null: a text file), or a subfolder.
struct Entry {
  std::string name;
  QSize size;
  const char* format = nullptr;
  bool page = false;  // becomes a thumbnail
  bool folder = false;
};

Entry Page(std::string name, int width, int height, const char* format) {
  return {std::move(name), QSize(width, height), format, true, false};
}
// A picture whose name the strip does not take.
Entry Skipped(std::string name, int width, int height, const char* format) {
  return {std::move(name), QSize(width, height), format, false, false};
}
Entry TextFile(std::string name) {
  return {std::move(name), QSize(), nullptr, false, false};
}
Entry Subfolder(std::string name) {
  return {std::move(name), QSize(), nullptr, false, true};
}

// Makes the entries last first, as a converter that writes its last page first: the strip
// must follow the names, not the order in which the files came.
void MakeFolder(const fs::path& dir, const std::vector<Entry>& entries) {
  fs::create_directories(dir);
  for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
    const fs::path path = dir / e->name;
    if (e->folder) {
      fs::create_directory(path);
      QImage(8, 8, QImage::Format_RGB32)
          .save(QString::fromStdString((path / "h.png").string()), "PNG");
    } else if (e->format) {
      QImage image(e->size, QImage::Format_RGB32);
      image.fill(Qt::darkCyan);
      ASSERT_TRUE(image.save(QString::fromStdString(path.string()), e->format)) << e->name;
    } else {
      std::ofstream(path) << "not a picture";
    }
  }
}

struct Thumb {
  float x;
  long long tag;
  QSize picture;
};

// What the strip must hold when the folder lists `entries` in their order (subfolders are not
// listed and take no place).
std::vector<Thumb> ExpectedStrip(const std::vector<Entry>& entries) {
  std::vector<Thumb> strip;
  std::size_t i = 0;
  for (const Entry& e : entries) {
    if (e.folder) continue;
    if (e.page)
      strip.push_back(
          {90.0f * static_cast<float>(i), static_cast<long long>(strip.size() + 1), e.size});
    ++i;
  }
  return strip;
}

// The pages a converter writes, named `name(n)` for n = 1..count, each of a size of its own
// so that a thumbnail shows which page it holds.
std::vector<Entry> Pages(int first, int count, std::string (*name)(int)) {
  std::vector<Entry> pages;
  for (int n = first; n < first + count; ++n) pages.push_back(Page(name(n), 10 + n, 7, "JPG"));
  return pages;
}
std::string PictureName(int n) {  // the PowerPoint road's names, from 1
  char name[32];
  std::snprintf(name, sizeof name, "Picture%03d.jpg", n);
  return name;
}
std::string PagesnapName(int n) {  // Pagesnap's names, from 0
  char name[32];
  std::snprintf(name, sizeof name, "Image%04d.jpg", n);
  return name;
}
template <typename... Lists>
std::vector<Entry> Join(Lists... lists) {
  std::vector<Entry> all;
  (all.insert(all.end(), lists.begin(), lists.end()), ...);
  return all;
}

void ExpectStrip(TFormMain& form, const std::vector<Thumb>& expected) {
  ui::Control* content = form.scroll_view->Content();
  ASSERT_EQ(content->ChildrenCount(), static_cast<int>(expected.size()));
  ASSERT_EQ(form.bitmap_list.size(), expected.size());
  for (std::size_t n = 0; n < expected.size(); ++n) {
    SCOPED_TRACE(n);
    auto* thumb = qobject_cast<ui::Image*>(content->Child(static_cast<int>(n)));
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->Owner(), &form);
    EXPECT_FLOAT_EQ(thumb->X(), expected[n].x);
    EXPECT_FLOAT_EQ(thumb->Y(), 0);
    EXPECT_FLOAT_EQ(thumb->Width(), 80);
    EXPECT_FLOAT_EQ(thumb->Height(), 45);
    EXPECT_EQ(thumb->Tag(), expected[n].tag);
    EXPECT_TRUE(thumb->Enabled());
    EXPECT_TRUE(thumb->OnMouseDown && thumb->OnMouseMove && thumb->OnMouseUp);
    EXPECT_EQ(form.bitmap_list[n], &thumb->GetPicture());
    EXPECT_EQ(thumb->Bitmap().size(), expected[n].picture);  // decoded at full size
  }
}

using SlideStrip = WindowTest;

TEST_F(SlideStrip, PagesFollowTheListingWithTheirPlaceAndNumber) {
  struct Case {
    const char* what;
    std::vector<Entry> entries;
  };
  const Case cases[] = {
      {"two pages around a text file",
       {Page("a.png", 11, 7, "PNG"), TextFile("b-notes.txt"), Page("c.jpg", 13, 9, "JPG")}},
      {"the name rule: lower case, no dot needed, subfolders not listed",
       {Page("a.png", 11, 7, "PNG"), Skipped("d.Jpg", 13, 7, "JPG"), Page("e.jpeg", 14, 7, "JPG"),
        Skipped("f.jpe", 16, 7, "JPG"), Subfolder("g.png"), Page("scanjpg", 17, 7, "JPG"),
        Page("scanpng", 15, 7, "PNG"), Skipped("X.PNG", 12, 7, "PNG")}},
      {"names in the listing's order, whatever their letter case",
       {Page("A.jpg", 11, 7, "JPG"), Page("a.png", 12, 7, "PNG"), Page("b.jpg", 13, 7, "JPG")}},
      {"a presentation of 12 slides: page n is slide n", Pages(1, 12, PictureName)},
      {"a Word document through Pagesnap: page n is image n",
       Join(Pages(0, 3, PagesnapName), std::vector<Entry>{TextFile("temp.pdf")})},
      {"a workbook through Pagesnap: the sheets' PDFs first, then the images of all sheets",
       Join(std::vector<Entry>{TextFile("1.pdf"), TextFile("2.pdf")}, Pages(0, 11, PagesnapName))},
      {"no pages", {TextFile("notes.txt"), TextFile("readme")}},
      {"an empty folder", {}},
  };
  auto form = MakeWindow();
  form->timer_find->SetEnabled(false);
  int folder = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = dir_ / ("slides" + std::to_string(folder++));
    MakeFolder(dir, c.entries);
    form->img_path = dir.string();
    StdoutCapture out;
    form->SetLayoutValue();
    EXPECT_EQ(out.Lines(dir.string()), 1);
    ExpectStrip(*form, ExpectedStrip(c.entries));
  }
}

TEST_F(SlideStrip, RebuildGivesTheSameStripAgainAllEnabledAndForgetsPlacedThumbnails) {
  const std::vector<Entry> entries = {Page("one.png", 10, 5, "PNG"),
                                      Page("three.png", 30, 5, "PNG"),
                                      Page("two.jpg", 20, 5, "JPG")};
  MakeFolder("img_default", entries);
  auto form = MakeWindow();
  form->timer_find->SetEnabled(false);
  form->SetLayoutValue();
  const auto expected = ExpectedStrip(entries);
  ExpectStrip(*form, expected);

  // A page placed from the strip: its thumbnail disabled and named by the board view.
  auto* placed = qobject_cast<ui::Image*>(form->scroll_view->Content()->Child(1));
  placed->SetEnabled(false);
  form->FrameManager->list_img_show.push_back(placed);
  QPointer<ui::Image> old(placed);

  form->SetLayoutValue();
  ExpectStrip(*form, expected);
  EXPECT_TRUE(form->FrameManager->list_img_show.empty());
  EXPECT_TRUE(old.isNull());  // the old thumbnails are gone
}

TEST_F(SlideStrip, MissingFolderShowsTheErrorAndLeavesTheStripEmpty) {
  MakeFolder("img_default", {Page("one.png", 10, 5, "PNG")});
  auto form = MakeWindow();
  form->timer_find->SetEnabled(false);
  form->SetLayoutValue();
  ASSERT_EQ(form->bitmap_list.size(), 1u);
  QPointer<ui::Control> old(form->scroll_view->Content()->Child(0));
  form->FrameManager->list_img_show.push_back(qobject_cast<ui::Image*>(old.data()));

  form->img_path = "./no_such_folder";
  StdoutCapture out;
  ui::Guarded([&] { form->SetLayoutValue(); });  // as when it escapes a handler
  EXPECT_EQ(out.Lines("./no_such_folder"), 1);
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0], QStringLiteral("The specified path was not found"));
  EXPECT_EQ(form->scroll_view->Content()->ChildrenCount(), 0);
  EXPECT_TRUE(form->bitmap_list.empty());
  EXPECT_TRUE(form->FrameManager->list_img_show.empty());
  EXPECT_TRUE(old.isNull());
}

// A JPEG with enough data that cutting it leaves its header whole.
std::string JpegBytes() {
  QImage image(320, 180, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, qRgb((x * 7 + y * 3) % 256, (x * y) % 256, (x ^ y) % 256));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "JPG", 90));
  return bytes.toStdString();
}

// The rebuild reads every file whole before its thumbnail is made, so a file that does not
// decode stops it there, whether its header is bad or its data ends early.
TEST_F(SlideStrip, AFileThatDoesNotDecodeStopsTheRebuildAfterTheEarlierPages) {
  const std::string jpeg = JpegBytes();
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"not a picture", "not a picture"},
      {"zero bytes", ""},
      {"a JPEG cut in its header", jpeg.substr(0, 120)},
      {"a JPEG cut in its data", jpeg.substr(0, jpeg.size() * 3 / 4)},
      {"a JPEG without its end marker", jpeg.substr(0, jpeg.size() - 2)},
  };
  auto form = MakeWindow();
  form->timer_find->SetEnabled(false);
  const auto windowImages = [&] {
    return form->findChildren<ui::Image*>(QString(), Qt::FindDirectChildrenOnly).size();
  };
  int folder = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Entry> entries;
    for (int i = 0; i < 6; ++i)
      entries.push_back(Page("p" + std::to_string(i) + (i % 2 ? ".png" : ".jpg"), 10 + i, 5,
                             i % 2 ? "PNG" : "JPG"));
    const fs::path dir = dir_ / ("slides" + std::to_string(folder++));
    MakeFolder(dir, entries);
    WriteFile(dir / "p3.png", c.bytes);  // in the middle of the names
    form->img_path = dir.string();
    // The window's images but the strip's thumbnails, which the rebuild replaces.
    const auto before = windowImages() - form->scroll_view->Content()->ChildrenCount();
    try {
      form->SetLayoutValue();
      ADD_FAILURE() << "the rebuild went through";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(QString::fromStdU16String(e.Message()),
                QStringLiteral("Loading bitmap failed (p3.png)"));
    }

    // The pages listed before the bad file stay; nothing after it is looked at.
    std::vector<Thumb> expected;
    for (const Thumb& t : ExpectedStrip(entries)) {
      if (t.picture.width() == 13) break;
      expected.push_back(t);
    }
    ExpectStrip(*form, expected);
    // The thumbnail of the bad file is not kept anywhere.
    EXPECT_EQ(windowImages(), before + static_cast<qsizetype>(expected.size()));
  }
}

}  // namespace
