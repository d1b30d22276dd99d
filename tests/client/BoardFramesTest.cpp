// Frames from a board peer through the window's receive loop, and the four board clears.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "board_peer/BoardPeer.h"
#include "board_peer/Wire.h"
#include "protocol/BoardFrame.h"

namespace {

using namespace std::chrono_literals;
using clienttest::Commands;
using clienttest::CountOf;
using clienttest::WindowTest;
namespace fs = std::filesystem;

class BoardFrames : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    clienttest::ResetConnectState();
    board_ = clienttest::StartBoard();
    form_ = MakeWindow();
    form_->timer_find->SetEnabled(false);
    ASSERT_TRUE(form_->tcp_thread->tcp_connect(board_->Host()));
    ASSERT_TRUE(board_->WaitForTexts(1, 5s));  // the handshake
  }
  void TearDown() override {
    form_.reset();  // before the board, so the supervisor does not reconnect
    board_.reset();
    clienttest::ResetConnectState();
    WindowTest::TearDown();
  }
  int Clears() const { return CountOf(Commands(*board_), "clear"); }
  // Generous: a passing run waits only as long as the clears take, and on a loaded machine
  // (sanitizer builds side by side) the first frames have taken over 5 s.
  bool WaitForClears(int n) {
    return PumpUntil([&] { return Clears() >= n; }, 20s) && Clears() == n;
  }
  // Two pages placed on the board view (after img_grid, img_select and the delete strip).
  void PlacePages(int n) {
    for (int i = 0; i < n; ++i) {
      auto* page = new ui::Image(form_->FrameManager);
      page->SetParent(form_->FrameManager->img_bg);
    }
  }

  std::unique_ptr<board_peer::BoardPeer> board_;
  std::unique_ptr<TFormMain> form_;
};

// One frame with an arbitrary 16-bit length field.
std::string RawFrame(std::uint16_t length, const std::string& payload) {
  std::string bytes = {'\x01',
                       '\x02',
                       '\x03',
                       '\x04',
                       static_cast<char>(length & 0xFF),
                       static_cast<char>(length >> 8)};
  return bytes + payload;
}

TEST_F(BoardFrames, FramesAreReadByTheirLengthWhateverTheSegmentation) {
  // Length 0, free header bytes, the words in capitals, "1_reset" among other characters.
  const std::string stream =
      board_peer::MakeFrame("") + board_peer::MakeFrame("ab1_resetcd", {0xFF, 0x00, 0x7F, 0x80}) +
      board_peer::MakeFrame("1_RESET TOSMALL") + board_peer::MakeFrame("{\"1_reset\":1}");
  struct Case {
    const char* what;
    std::vector<std::size_t> cuts;  // segment ends
  };
  const Case cases[] = {
      {"one segment", {}},
      {"split inside a header", {3, 8}},
      {"split inside payloads", {10, 25, 30}},
      {"byte by byte", {}},
  };
  int expected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::size_t> cuts = c.cuts;
    if (std::string(c.what) == "byte by byte")
      for (std::size_t i = 1; i < stream.size(); ++i) cuts.push_back(i);
    cuts.push_back(stream.size());
    std::size_t from = 0;
    for (std::size_t to : cuts) {
      ASSERT_TRUE(board_->SendRaw(stream.substr(from, to - from)));
      from = to;
      std::this_thread::sleep_for(2ms);
    }
    expected += 2;
    EXPECT_TRUE(WaitForClears(expected)) << Clears();
  }
  Pump(200ms);
  EXPECT_EQ(Clears(), expected);
  EXPECT_TRUE(dialogs_.empty());
}

TEST_F(BoardFrames, AReadTimeOutBetweenHeaderAndPayloadLosesNoFrame) {
  form_->tcp->SetReadTimeout(100);
  // One whole frame first, so that the loop's next read starts with the short time-out.
  ASSERT_TRUE(board_->SendFrame("1_reset"));
  ASSERT_TRUE(WaitForClears(1));
  const std::string frame = board_peer::MakeFrame("1_reset");
  ASSERT_TRUE(board_->SendRaw(frame.substr(0, protocol::kFrameHeaderSize)));
  // The payload comes only after several read time-outs have passed.
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(board_->SendRaw(frame.substr(protocol::kFrameHeaderSize) + frame));
  EXPECT_TRUE(WaitForClears(3)) << Clears();
}

TEST_F(BoardFrames, TosmallClosesTheEnlargedPageUnlessTheUserShrankIt) {
  auto* manager = form_->FrameManager;
  manager->pb_show->Show();
  manager->flg_shrink = false;
  ASSERT_TRUE(board_->SendFrame("tosmall"));
  EXPECT_TRUE(PumpUntil([&] { return !manager->pb_show->Visible(); }, 5s));

  manager->pb_show->Show();
  manager->flg_shrink = true;
  ASSERT_TRUE(board_->SendFrame("tosmall"));
  EXPECT_TRUE(PumpUntil([&] { return !manager->flg_shrink; }, 5s));
  Pump(100ms);
  EXPECT_TRUE(manager->pb_show->Visible());
  ASSERT_TRUE(board_->SendFrame("tosmall"));
  EXPECT_TRUE(PumpUntil([&] { return !manager->pb_show->Visible(); }, 5s));

  // Both words: only "tosmall" counts. The reset afterwards proves the frame was handled.
  manager->pb_show->Show();
  PlacePages(2);
  ASSERT_TRUE(board_->SendFrame("x1_reset tosmall"));
  ASSERT_TRUE(board_->SendFrame("1_reset"));
  EXPECT_TRUE(WaitForClears(1));
  EXPECT_EQ(board_->TextCount(), 2u);  // the handshake and the one "clear"
}

TEST_F(BoardFrames, ANegativeLengthIsTheUnsignedSizeOfALargeFrame) {
  // 40000 bytes: 0x9C40, negative as a signed 16-bit number.
  const std::string large = std::string(40000 - 7, 'x') + "1_reset";
  ASSERT_TRUE(board_->SendRaw(RawFrame(40000, large) + board_peer::MakeFrame("tosmall")));
  form_->FrameManager->pb_show->Show();
  EXPECT_TRUE(WaitForClears(1));
  EXPECT_TRUE(PumpUntil([&] { return !form_->FrameManager->pb_show->Visible(); }, 5s));
  ASSERT_TRUE(board_->SendFrame("1_reset"));
  EXPECT_TRUE(WaitForClears(2));
}

TEST_F(BoardFrames, ResetFromTheBoardClearsTheViewAndReenablesTheThumbnails) {
  fs::create_directory("img_default");
  for (int i = 1; i <= 3; ++i)
    clienttest::WritePicture("img_default/p" + std::to_string(i) + ".png");
  form_->SetLayoutValue();
  ui::Control* strip = form_->scroll_view->Content();
  ASSERT_EQ(strip->ChildrenCount(), 3);
  strip->Child(0)->SetEnabled(false);
  strip->Child(2)->SetEnabled(false);
  form_->FrameManager->pb_show->Show();
  PlacePages(2);
  form_->count_image = 7;

  ASSERT_TRUE(board_->SendFrame("1_reset"));
  ASSERT_TRUE(WaitForClears(1));
  EXPECT_EQ(form_->FrameManager->img_bg->ChildrenCount(), 2);
  EXPECT_FALSE(form_->FrameManager->pb_show->Visible());
  for (ui::Control* thumb : strip->Children()) EXPECT_TRUE(thumb->Enabled());
  EXPECT_TRUE(form_->img_clear->Enabled());
  EXPECT_EQ(form_->count_image, 7);  // the serial goes on
}

// ---------------------------------------------------------------- the clears side by side

TEST_F(BoardFrames, TheFourClearsEachDoTheirShare) {
  fs::create_directory("img_default");
  for (int i = 1; i <= 2; ++i)
    clienttest::WritePicture("img_default/p" + std::to_string(i) + ".png");
  struct Case {
    const char* what;
    std::function<void(TFormMain&)> run;
    bool strip_destroyed;
    bool thumbs_enabled;
    bool ideas_emptied;
    bool serial_reset;
    bool clear_button_enabled;
    int clears;
  };
  const Case cases[] = {
      {"ClearValue", [](TFormMain& f) { f.ClearValue(); }, true, false, true, true, false, 0},
      {"clear_manager", [](TFormMain& f) { f.clear_manager(nullptr); }, false, true, false, false,
       true, 1},
      {"timer_clearTimer", [](TFormMain& f) { f.timer_clearTimer(nullptr); }, false, true, false,
       false, true, 1},
      {"DeleteAllImage", [](TFormMain& f) { f.DeleteAllImage(); }, false, false, false, false, true,
       0},
  };
  int clears = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TFormMain& f = *form_;
    f.SetLayoutValue();
    for (ui::Control* thumb : f.scroll_view->Content()->Children()) thumb->SetEnabled(false);
    PlacePages(2);
    f.FrameManager->pb_show->Show();
    auto* card = new ui::CalloutRectangle(f.FrameStorm->scroll_timeline);
    f.FrameStorm->scroll_timeline->AddObject(card);
    f.FrameStorm->count_idea = 4;
    f.memo_txt->SetText(QStringLiteral("idea"));
    f.edit_from->SetText(QStringLiteral("me"));
    f.count_image = 5;
    f.img_clear->SetEnabled(false);

    c.run(f);
    clears += c.clears;
    ASSERT_TRUE(PumpUntil([&] { return !f.timer_clear->Enabled(); }, 5s));
    ASSERT_TRUE(WaitForClears(clears));

    EXPECT_EQ(f.FrameManager->img_bg->ChildrenCount(), 2);  // img_grid and img_select only
    EXPECT_FALSE(f.FrameManager->pb_show->Visible());
    const int thumbs = f.scroll_view->Content()->ChildrenCount();
    EXPECT_EQ(thumbs, c.strip_destroyed ? 0 : 2);
    if (!c.strip_destroyed) {
      for (ui::Control* thumb : f.scroll_view->Content()->Children())
        EXPECT_EQ(thumb->Enabled(), c.thumbs_enabled);
    }
    EXPECT_EQ(f.FrameStorm->scroll_timeline->Content()->ChildrenCount() == 0, c.ideas_emptied);
    EXPECT_EQ(f.FrameStorm->count_idea == 0, c.ideas_emptied);
    EXPECT_EQ(f.memo_txt->GetText().isEmpty(), c.ideas_emptied);
    EXPECT_EQ(f.edit_from->GetText().isEmpty(), c.ideas_emptied);
    EXPECT_EQ(f.count_image == 0, c.serial_reset);
    EXPECT_EQ(f.img_clear->Enabled(), c.clear_button_enabled);
    if (c.strip_destroyed) {
      EXPECT_TRUE(f.bitmap_list.empty());
      EXPECT_TRUE(f.FrameManager->list_img_show.empty());
    }
    f.FrameStorm->scroll_timeline->Content()->DeleteChildren();
  }
}

TEST_F(BoardFrames, APendingClearGivesOneClearAndAnEmptyBoardStillSendsIt) {
  form_->clear_manager(nullptr);
  EXPECT_FALSE(form_->img_clear->Enabled());
  form_->clear_manager(nullptr);  // while pending: changes nothing
  ASSERT_TRUE(PumpUntil([&] { return form_->img_clear->Enabled(); }, 5s));
  EXPECT_TRUE(WaitForClears(1));
  // The first clear took the delete strip; the next one detaches nothing and still says it.
  EXPECT_EQ(form_->FrameManager->img_bg->ChildrenCount(), 2);
  form_->timer_clearTimer(nullptr);
  EXPECT_EQ(form_->FrameManager->img_bg->ChildrenCount(), 2);
  EXPECT_TRUE(WaitForClears(2));
}

TEST_F(BoardFrames, AFailedClearSendShowsTheErrorAfterTheClearIsDone) {
  form_->tcp->Disconnect();
  PlacePages(1);
  form_->img_clear->SetEnabled(false);
  ui::Guarded([&] { form_->timer_clearTimer(nullptr); });
  EXPECT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(form_->FrameManager->img_bg->ChildrenCount(), 2);
  EXPECT_TRUE(form_->img_clear->Enabled());
}

}  // namespace
