// The document import end to end: a stand-in converter in toimg/, the board peer's file server
// and board connection on loopback.

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "LibreOffice.h"
#include "MainForm.h"
#include "board_peer/BoardPeer.h"

namespace {

using namespace std::chrono_literals;
using clienttest::Commands;
using clienttest::WindowTest;
namespace fs = std::filesystem;

class Import : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    clienttest::ResetConnectState();
    fs::create_directory("toimg");
    fs::copy_file(VM_FAKE_SLIDEPRESS, "toimg/Slidepress");
    fs::create_directory("img_default");
    fs::create_directory("pages");
    board_ = clienttest::StartBoard("Import");
    form_ = MakeWindow();
    form_->timer_find->SetEnabled(false);
    set_ = form_->FrameSetting;
    // Connect from the overlay, as the user does.
    set_->edit_ip->SetText(QString::fromStdString(board_->Host()));
    set_->timer_connectTimer(nullptr);
    ASSERT_TRUE(board_->WaitForTexts(2, 5s));
    ASSERT_TRUE(set_->layout_exp->Enabled());
  }
  void TearDown() override {
    ui::SetFileDialogHook({});
    form_.reset();
    board_.reset();
    clienttest::ResetConnectState();
    WindowTest::TearDown();
  }
  // The converter's plan: the status it writes and the page files it copies into out.
  void Plan(const std::string& status, const std::vector<std::string>& pages) {
    std::ofstream plan("toimg/plan");
    plan << status << '\n';
    for (const std::string& page : pages) {
      const fs::path source = dir_ / "pages" / page;
      if (page.ends_with(".pdf"))
        std::ofstream(source) << "%PDF";
      else
        clienttest::WritePicture(source,
                                 page.ends_with("png") || page.ends_with("PNG") ? "PNG" : "JPG");
      plan << source.string() << '\n';
    }
  }
  // Picks `name` in the file dialog (nullopt: cancel) through the add button.
  void Pick(std::optional<QString> name) {
    ui::SetFileDialogHook([name](const ui::OpenDialog& dialog) {
      EXPECT_EQ(dialog.Filter(), QStringLiteral("PPT(*.ppt,*.pptx)|*.ppt;*.pptx"));
      return name;
    });
    set_->add_picClick(nullptr);
  }
  std::vector<std::string> ConverterArgs() {
    std::ifstream in("toimg/args");
    std::vector<std::string> args;
    for (std::string line; std::getline(in, line);) args.push_back(line);
    return args;
  }
  bool Finished() { return set_->txt_status->GetText() == QStringLiteral("PPT upload finish"); }
  std::string DeviceId() const { return form_->device_id; }

  std::unique_ptr<board_peer::BoardPeer> board_;
  std::unique_ptr<TFormMain> form_;
  TFrameSetting* set_ = nullptr;
};

TEST_F(Import, ConvertsUploadsInStripOrderAndTellsTheBoard) {
  fs::create_directory("out");
  fs::create_directory("out/keep");
  clienttest::WritePicture("out/old.png");
  clienttest::WritePicture("out/keep/inner.png");
  std::ofstream("toimg/pdf_temp") << "success\r\n";  // an old status file goes first
  Plan("success", {"Picture001.jpg", "Picture002.jpg", "scanpng", "UPPER.PNG", "temp.pdf"});
  // A long path with blanks and quote marks reaches the converter whole.
  const std::string document = (dir_ / (std::string(180, 'd') + " \"quoted\" name.pptx")).string();
  Pick(QString::fromStdString(document));
  EXPECT_TRUE(set_->anime_load->Visible());
  EXPECT_EQ(set_->txt_status->GetText(), QStringLiteral("PPT is uploading ...")) << "at once";
  ASSERT_TRUE(PumpUntil([&] { return Finished(); }, 20s));
  ASSERT_TRUE(PumpUntil([&] { return Commands(*board_).size() == 3; }, 5s));
  EXPECT_EQ(Commands(*board_), (std::vector<std::string>{"reload", "uploadfinish", "clear"}));

  EXPECT_EQ(ConverterArgs(), (std::vector<std::string>{document, (dir_ / "out").string()}));
  EXPECT_FALSE(fs::exists("out/old.png"));
  EXPECT_TRUE(fs::exists("out/keep/inner.png"));
  EXPECT_TRUE(set_->openfile->FileName().isEmpty());
  EXPECT_FALSE(set_->anime_load->Visible());
  EXPECT_FALSE(set_->anime_load->Animating());
  EXPECT_TRUE(set_->ImportLoaded());
  EXPECT_EQ(form_->img_path, "./out");

  const auto requests = board_->HttpRequests();
  ASSERT_EQ(requests.size(), 2u);
  const auto& del = requests[0];
  EXPECT_EQ(del.method, "POST");
  EXPECT_EQ(del.version, "HTTP/1.0");
  EXPECT_EQ(del.path, "/fileServer/delFile_531864207_" + DeviceId());
  EXPECT_EQ(del.body, R"({"1":"all"})");
  EXPECT_FALSE(del.HasHeader("Content-Type"));
  EXPECT_EQ(del.Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(del.Header("Accept"),
            "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  const auto& up = requests[1];
  EXPECT_EQ(up.path, "/fileServer/uploadFile_531864207_" + DeviceId() + "_images");
  EXPECT_EQ(up.Header("Cookie"), board_->SessionCookie());  // set by the delete's reply
  ASSERT_TRUE(up.multipart_ok);

  // The n-th part is page n of the strip: the same listing of out, the same rule.
  ASSERT_EQ(form_->bitmap_list.size(), 3u);
  ASSERT_EQ(up.parts.size(), 3u);
  ASSERT_EQ(set_->list_img->Count(), 3);
  for (std::size_t n = 0; n < up.parts.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(up.parts[n].name, "picture");
    const std::string& name = up.parts[n].filename;
    EXPECT_TRUE(name == "Picture001.jpg" || name == "Picture002.jpg" || name == "scanpng") << name;
    const QImage page = ui::LoadPicture(QString::fromStdString("out/" + name));
    EXPECT_EQ(form_->bitmap_list[n]->ToImage(), page);
    if (name.ends_with(".jpg")) {
      EXPECT_EQ(up.parts[n].content_type, "image/jpeg");
    }
    bool binary = false;
    for (const auto& [header, value] : up.parts[n].headers)
      binary = binary || (header == "Content-Transfer-Encoding" && value == "binary");
    EXPECT_TRUE(binary);
  }
  EXPECT_TRUE(dialogs_.empty());

  // The page is rebuilt from what out holds whenever it opens.
  fs::remove("out/scanpng");
  set_->layout_exp_click(nullptr);
  EXPECT_EQ(set_->list_img->Count(), 2);
  EXPECT_TRUE(set_->layout_exp_view->Visible());
  EXPECT_EQ(set_->txt_name->GetText(), QStringLiteral("Import PPT"));
}

// Page n of the strip and of the Import PPT list, and part n of the upload, are the converter's
// page n, though the stand-in writes the pages last first.
TEST_F(Import, PageNAndPartNAreTheConvertersPageNWhateverOrderItWritesThemIn) {
  struct Case {
    const char* what;
    std::vector<std::string> files;  // as the folder must list them
  };
  const auto numbered = [](const char* format, int first, int count) {
    std::vector<std::string> names;
    for (int n = first; n < first + count; ++n)
      names.push_back(QString::asprintf(format, n).toStdString());
    return names;
  };
  std::vector<std::string> workbook = {"1.pdf", "2.pdf"};
  for (const std::string& name : numbered("Image%04d.jpg", 0, 7)) workbook.push_back(name);
  std::vector<std::string> document = numbered("Image%04d.jpg", 0, 3);
  document.push_back("temp.pdf");
  const Case cases[] = {
      {"a presentation of 12 slides", numbered("Picture%03d.jpg", 1, 12)},
      {"a Word document through Pagesnap", document},
      {"a workbook of two sheets through Pagesnap", workbook},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each page a picture of a size of its own, copied into out last first.
    std::vector<std::string> pages;
    {
      std::ofstream plan("toimg/plan");
      plan << "success\n";
      for (auto file = c.files.rbegin(); file != c.files.rend(); ++file) {
        const fs::path source = dir_ / "pages" / *file;
        if (file->ends_with(".pdf")) {
          std::ofstream(source) << "%PDF";
        } else {
          const int width = 20 + static_cast<int>(c.files.rend() - file);
          QImage page(width, 10, QImage::Format_RGB32);
          page.fill(QColor::fromHsv(width * 9 % 360, 200, 200));
          ASSERT_TRUE(page.save(QString::fromStdString(source.string()), "JPG"));
        }
        plan << source.string() << '\n';
      }
      for (const std::string& file : c.files)
        if (!file.ends_with(".pdf")) pages.push_back(file);
    }
    Pick(QStringLiteral("/x.pptx"));
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }, 20s));

    const auto requests = board_->HttpRequests();
    ASSERT_FALSE(requests.empty());
    const auto& parts = requests.back().parts;
    ASSERT_EQ(parts.size(), pages.size());
    ASSERT_EQ(form_->bitmap_list.size(), pages.size());
    ASSERT_EQ(set_->list_img->Count(), static_cast<int>(pages.size()));
    for (std::size_t n = 0; n < pages.size(); ++n) {
      SCOPED_TRACE(pages[n]);
      const std::string bytes = ReadFile(dir_ / "pages" / pages[n]);
      EXPECT_EQ(parts[n].filename, pages[n]);
      EXPECT_TRUE(parts[n].content == bytes) << "part " << n << " carries another file";
      // The pages differ in width: a wrong page shows as a wrong width.
      const QImage page = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                                           static_cast<int>(bytes.size()));
      EXPECT_EQ(form_->bitmap_list[n]->Size().width(), page.width());
      EXPECT_EQ(form_->bitmap_list[n]->ToImage(), page);
      // An item's first child is its style object; the picture follows it.
      ui::ListBoxItem* item = set_->list_img->ItemByIndex(static_cast<int>(n));
      ASSERT_EQ(item->ChildrenCount(), 2);
      auto* listed = qobject_cast<ui::Image*>(item->Child(1));
      ASSERT_NE(listed, nullptr);
      EXPECT_EQ(listed->Bitmap().width(), page.width());
      EXPECT_EQ(listed->Bitmap(), page);
    }
  }
}

TEST_F(Import, AnErrorStatusEndsTheWaitAndAnEmptyOutUploadsAnEmptyForm) {
  Plan("error", {});
  Pick(QStringLiteral("/x.ppt"));
  ASSERT_TRUE(PumpUntil([&] { return Finished(); }, 20s));
  ASSERT_TRUE(PumpUntil([&] { return Commands(*board_).size() == 3; }, 5s));
  EXPECT_EQ(Commands(*board_), (std::vector<std::string>{"reload", "uploadfinish", "clear"}));
  const auto requests = board_->HttpRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[1].body.empty());
  EXPECT_EQ(requests[1].Header("Content-Length"), "0");
  EXPECT_EQ(form_->scroll_view->Content()->ChildrenCount(), 0);
}

TEST_F(Import, WithoutAStatusFileTheSpinnerStays) {
  Plan("none", {"Picture001.jpg"});
  Pick(QStringLiteral("/x.pptx"));
  ASSERT_TRUE(PumpUntil([&] { return fs::exists("out/Picture001.jpg"); }, 10s));
  Pump(300ms);
  EXPECT_TRUE(set_->timer_findfile->Enabled());
  EXPECT_TRUE(set_->anime_load->Animating());
  EXPECT_EQ(set_->txt_status->GetText(), QStringLiteral("PPT is uploading ..."));
  EXPECT_EQ(board_->HttpRequestCount(), 0u);
  EXPECT_FALSE(set_->ImportLoaded());
}

// While the import waits for the status file, what the window shows of the spinner turns:
// the indicator's pixels in the window's own backing store change clearly from tick to tick.
TEST_F(Import, TheSpinnerTurnsInTheWindowWhileTheConverterRuns) {
  form_->img_set_click(nullptr);
  set_->layout_exp_click(nullptr);
  form_->Show();
  ui::ActivityIndicator* spinner = set_->anime_load;
  QWidget* window = form_->Widget();
  auto shot = [&] {
    const QRect where = spinner->LocalToForm().mapRect(spinner->LocalRect()).toAlignedRect();
    return window->screen()
        ->grabWindow(window->winId(), where.x(), where.y(), where.width(), where.height())
        .toImage();
  };
  // Pixels of the two pictures that differ by more than rounding does.
  auto changed = [](const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y)
      for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
        const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
        if (std::max({std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                      std::abs(p.blue() - q.blue())}) > 40)
          ++n;
      }
    return n;
  };
  ASSERT_TRUE(PumpUntil([&] { return !shot().isNull(); }));
  const QImage idle = shot();
  Plan("none", {});
  Pick(QStringLiteral("/x.pptx"));
  ASSERT_TRUE(PumpUntil([&] { return changed(shot(), idle) > 0; })) << "the spinner shows";
  std::vector<QImage> shots{shot()};
  for (int tick = 1; tick <= 3; ++tick) {
    ASSERT_TRUE(PumpUntil([&] { return changed(shot(), shots.back()) > 0; })) << "tick " << tick;
    shots.push_back(shot());
  }
  EXPECT_GT(changed(shots[1], shots[3]), 0) << "not two pictures in turn";
  EXPECT_TRUE(set_->timer_findfile->Enabled());
  EXPECT_TRUE(spinner->Animating());
}

TEST_F(Import, ACancelOrAOneByteNameStartsNothing) {
  struct Case {
    const char* what;
    std::optional<QString> pick;
  };
  const Case cases[] = {{"cancel", std::nullopt}, {"one byte", QStringLiteral("a")}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pick(c.pick);
    EXPECT_TRUE(set_->openfile->FileName().isEmpty());
    EXPECT_FALSE(set_->timer_findfile->Enabled());
    EXPECT_FALSE(set_->anime_load->Visible());
    EXPECT_TRUE(set_->txt_status->GetText().isEmpty());
  }
  Pump(200ms);
  EXPECT_FALSE(fs::exists("toimg/args"));
  EXPECT_FALSE(fs::exists("out"));
}

TEST_F(Import, AFailedDeleteRequestIsShownAndUploadsNothing) {
  board_->SetHttpFailure(board_peer::HttpFailure::Status, 500, "delFile");
  Plan("success", {"Picture001.jpg"});
  Pick(QStringLiteral("/x.pptx"));
  ASSERT_TRUE(PumpUntil([&] { return !dialogs_.empty(); }, 20s));
  EXPECT_EQ(dialogs_.size(), 1u);
  EXPECT_TRUE(set_->ImportLoaded());
  EXPECT_FALSE(set_->timer_findfile->Enabled());
  EXPECT_EQ(form_->img_path, "./img_default");
  EXPECT_TRUE(set_->anime_load->Animating());
  EXPECT_EQ(set_->txt_status->GetText(), QStringLiteral("PPT is uploading ..."));
  Pump(100ms);
  EXPECT_EQ(board_->HttpRequestCount(), 1u);
  EXPECT_EQ(Commands(*board_), std::vector<std::string>{"reload"});
}

TEST_F(Import, AConnectFromTheOverlayEmptiesTheImportList) {
  Plan("success", {"Picture001.jpg"});
  Pick(QStringLiteral("/x.pptx"));
  ASSERT_TRUE(PumpUntil([&] { return Finished(); }, 20s));
  ASSERT_EQ(set_->list_img->Count(), 1);
  set_->edit_ip->SetText(QString::fromStdString(board_->Host()));
  set_->timer_connectTimer(nullptr);
  EXPECT_EQ(set_->list_img->Count(), 0);
  EXPECT_FALSE(set_->ImportLoaded());
  set_->layout_exp_click(nullptr);
  EXPECT_EQ(set_->list_img->Count(), 0);
}

#ifdef VM_REAL_SLIDEPRESS
TEST_F(Import, TheRealConverterTurnsAPresentationIntoUploadedPages) {
  VM_NEED_LIBREOFFICE();
  const vmtest::PrivateOfficeHome home(dir_);
  fs::remove("toimg/Slidepress");
  fs::copy_file(VM_REAL_SLIDEPRESS, "toimg/Slidepress");
  fs::copy_file(VM_SAMPLE_DECK, "deck.pptx");
  Pick(QString::fromStdString((dir_ / "deck.pptx").string()));
  ASSERT_TRUE(PumpUntil([&] { return Finished() || !dialogs_.empty(); }, 240s));
  ASSERT_TRUE(Finished()) << dialogs_.front().toStdString();
  const auto requests = board_->HttpRequests();
  ASSERT_EQ(requests.size(), 2u);
  std::vector<std::string> names;
  for (const auto& part : requests[1].parts) names.push_back(part.filename);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"Picture001.jpg", "Picture002.jpg", "Picture003.jpg"}));
  EXPECT_EQ(form_->scroll_view->Content()->ChildrenCount(), 3);
}
#endif

}  // namespace
