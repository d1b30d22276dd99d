// Checks of the artwork itself: sizes as documented, and the geometry that the board
// view relies on.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include "GuiApp.h"
#include "rtl/Files.h"
#include "svg_render.h"

namespace {

const QString kArtDir = QStringLiteral(VM_ART_DIR);
const QString kSampleDir = QStringLiteral(VM_SAMPLE_DIR);
const QString kSamplePngDir = QStringLiteral(VM_SAMPLE_PNG_DIR);

class Artwork : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { art_test::EnsureGuiApp(); }

  static QImage Render(const QString& name, QSize size) {
    QString error;
    QImage image = art::RenderSvg(kArtDir + '/' + name, size, &error);
    EXPECT_FALSE(image.isNull()) << name.toStdString() << ": " << error.toStdString();
    return image;
  }

  // Pixel sizes the manifest gives for each artwork file.
  static QMap<QString, QSize> ManifestSizes() {
    QFile file(kArtDir + "/MANIFEST.md");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression row(
        QStringLiteral(R"(^\|\s*`([\w-]+\.svg)`\s*\|\s*(\d+) × (\d+)\s*\|)"),
        QRegularExpression::MultilineOption);
    QMap<QString, QSize> sizes;
    for (auto it = row.globalMatch(text); it.hasNext();) {
      const auto m = it.next();
      EXPECT_FALSE(sizes.contains(m.captured(1)))
          << "listed twice: " << m.captured(1).toStdString();
      sizes.insert(m.captured(1), QSize(m.captured(2).toInt(), m.captured(3).toInt()));
    }
    return sizes;
  }
};

TEST_F(Artwork, EveryFileIsListedWithTheSizeItDeclares) {
  const QMap<QString, QSize> listed = ManifestSizes();
  const QStringList files = QDir(kArtDir).entryList({"*.svg"}, QDir::Files);
  ASSERT_FALSE(files.isEmpty());
  for (const QString& name : files) {
    ASSERT_TRUE(listed.contains(name)) << "not in MANIFEST.md: " << name.toStdString();
    const QSize declared = art::DeclaredSize(kArtDir + '/' + name);
    EXPECT_EQ(declared, listed.value(name)) << name.toStdString();
    const QImage image = Render(name, declared);
    EXPECT_FALSE(image.isNull());
  }
  for (auto it = listed.cbegin(); it != listed.cend(); ++it) {
    EXPECT_TRUE(files.contains(it.key())) << "listed but missing: " << it.key().toStdString();
  }
}

TEST_F(Artwork, EveryPictureOfTheDescriptionsHasItsFile) {
  // The names the window descriptions load; renaming one breaks them.
  const char* const required[] = {
      "img_bg_top.svg",        "bar_panel.svg",         "img_sw_con.svg",   "img_sw_storm.svg",
      "btn_settings.svg",      "img_send.svg",          "img_clear.svg",    "cell_highlight.svg",
      "img_connect_info.svg",  "badge_board.svg",       "badge_signal.svg", "manager_img_bg.svg",
      "img_grid.svg",          "img_del_panel.svg",     "img_del_ic.svg",   "img_shadow_tmp.svg",
      "manager_img_close.svg", "img_zoom.svg",          "img_left.svg",     "img_right.svg",
      "storm_img_bg.svg",      "btn_edit.svg",          "btn_delete.svg",   "img_leftbar.svg",
      "page_mark.svg",         "img_general.svg",       "img_list.svg",     "img_exp.svg",
      "setting_img_bg.svg",    "setting_img_close.svg", "img_finish.svg",   "img_connect.svg",
      "link_off.svg",          "link_on.svg",           "img_add.svg",
  };
  for (const char* name : required) {
    EXPECT_TRUE(QFile::exists(kArtDir + '/' + name)) << name;
  }
}

// The grid picture at its pixel size (2 px per design unit): each of the 7 x 5 cells is drawn
// where the board grid puts it, (27 + 130c, 35 + 75r) on the board minus the picture's
// position (22, 30), and the 5-unit gaps between cells stay empty.
TEST_F(Artwork, GridCellsLieOnTheBoardGrid) {
  const QImage grid = Render("img_grid.svg", QSize(1832, 762));
  ASSERT_FALSE(grid.isNull());
  const auto alpha_at = [&](double ux, double uy) {
    return qAlpha(grid.pixel(static_cast<int>(ux * 2), static_cast<int>(uy * 2)));
  };
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 7; ++c) {
      const double left = 27 + 130 * c - 22;
      const double top = 35 + 75 * r - 30;
      SCOPED_TRACE(testing::Message() << "cell " << c << "," << r);
      EXPECT_GT(alpha_at(left + 62.5, top + 35), 100);   // inside
      EXPECT_GT(alpha_at(left + 62.5, top + 0.5), 100);  // top edge
      EXPECT_GT(alpha_at(left + 124.5, top + 35), 100);  // right edge
      EXPECT_EQ(alpha_at(left + 62.5, top - 2.5), 0);    // gap above (or margin)
      EXPECT_EQ(alpha_at(left - 2.5, top + 35), 0);      // gap to the left (or margin)
      EXPECT_EQ(alpha_at(left + 127.5, top + 35), 0);    // gap to the right
      EXPECT_EQ(alpha_at(left + 62.5, top + 72.5), 0);   // gap below
    }
  }
}

// A placed page is 155 x 100 and fits the frame picture into it (16:9, so y 6.40625..93.59375).
// Its own picture covers (15, 15)-(140, 85) of the page; the frame must be solid under it
// (narrower pages show it beside them) and leave clear what lies 3 units or more outside,
// where the neighbouring cells' pictures begin 5 units away.
TEST_F(Artwork, FramePictureHugsThePagePicture) {
  const QImage frame = Render("img_shadow_tmp.svg", QSize(1152, 648));
  ASSERT_FALSE(frame.isNull());
  const double px_per_unit = 1152.0 / 155.0;
  const double top = (100.0 - 155.0 * 648.0 / 1152.0) / 2.0;
  const auto alpha_at = [&](double page_x, double page_y) {
    return qAlpha(frame.pixel(static_cast<int>(page_x * px_per_unit),
                              static_cast<int>((page_y - top) * px_per_unit)));
  };
  for (const auto& [x, y] : std::initializer_list<std::pair<double, double>>{
           {15.5, 15.5}, {139.5, 15.5}, {15.5, 84.5}, {139.5, 84.5}, {77.5, 50}}) {
    EXPECT_EQ(alpha_at(x, y), 255) << x << "," << y;
  }
  for (const auto& [x, y] : std::initializer_list<std::pair<double, double>>{
           {11.9, 50}, {143.1, 50}, {77.5, 11.9}, {77.5, 88.1}, {2, 10}, {153, 90}}) {
    EXPECT_EQ(alpha_at(x, y), 0) << x << "," << y;
  }
}

TEST_F(Artwork, SamplePagesAreSlidesThatSayTheirNumber) {
  const QStringList files = QDir(kSampleDir).entryList({"*.svg"}, QDir::Files);
  ASSERT_GE(files.size(), 5);
  QSet<int> numbers;
  static const QRegularExpression page_no(QStringLiteral(R"(Page (\d+) of (\d+))"));
  for (const QString& name : files) {
    SCOPED_TRACE(name.toStdString());
    const QString path = kSampleDir + '/' + name;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto m = page_no.match(QString::fromUtf8(file.readAll()));
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(m.captured(2).toInt(), files.size());
    numbers.insert(m.captured(1).toInt());

    const QSize size = art::DeclaredSize(path);
    EXPECT_EQ(size, QSize(1280, 720));
    QString error;
    const QImage image = art::RenderSvg(path, size, &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    // Opaque everywhere (a slide, not a cut-out) and not a flat colour.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 16) {
      for (int x = 0; x < image.width(); x += 16) {
        ASSERT_EQ(qAlpha(image.pixel(x, y)), 255) << x << "," << y;
        colours.insert(image.pixel(x, y));
      }
    }
    EXPECT_GT(colours.size(), 8);
  }
  EXPECT_EQ(numbers.size(), files.size());  // every page number once
}

// The strip shows img_default's pages in the order the folder lists them: the lesson must read
// in order, in the sources and in what the build renders from them.
TEST_F(Artwork, SamplePagesListInLessonOrder) {
  static const QRegularExpression page_no(QStringLiteral(R"(Page (\d+) of (\d+))"));
  QStringList svgNames;
  int expected = 1;
  for (const std::u16string& path : rtl::ListFiles(kSampleDir.toStdU16String())) {
    const QString file = QString::fromStdU16String(path);
    SCOPED_TRACE(file.toStdString());
    QFile svg(file);
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const auto m = page_no.match(QString::fromUtf8(svg.readAll()));
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(m.captured(1).toInt(), expected++);
    svgNames.push_back(QFileInfo(file).completeBaseName());
  }
  ASSERT_GE(svgNames.size(), 5);

  QStringList pngNames;
  for (const std::u16string& path : rtl::ListFiles(kSamplePngDir.toStdU16String()))
    pngNames.push_back(QFileInfo(QString::fromStdU16String(path)).completeBaseName());
  EXPECT_EQ(pngNames, svgNames);
}

}  // namespace
