// The main window: start-up, device identity, the stop sequence, the mode switch and the
// settings overlay.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <filesystem>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "PixelCompare.h"
#include "board_peer/BoardPeer.h"

namespace {

using clienttest::WindowTest;
namespace fs = std::filesystem;

// ---------------------------------------------------------------- device identity

using MainFormImei = WindowTest;

TEST_F(MainFormImei, ExistingFileGivesAtMostItsFirstLineOfEightCharactersAndStaysUnchanged) {
  struct Case {
    std::string file, id;
  };
  const Case cases[] = {
      {"abcdefghij\n", "abcdefgh"},     // ten letters: the first eight
      {"12\r\n", "12\n"},               // CR LF comes in as one line feed
      {"1234567\r\nxyz", "1234567\n"},  // the line end counts as one of the eight
      {"ab\ncd", "ab\n"},               // reading stops after the line end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    WriteFile("imei", c.file);
    auto form = MakeWindow();
    EXPECT_EQ(form->device_id, c.id);
    form.reset();
    EXPECT_EQ(ReadFile("imei"), c.file);
  }
}

TEST_F(MainFormImei, MissingFileGetsEightDigitsOneToEightWithoutLineEndReadBackNextStart) {
  ASSERT_FALSE(fs::exists("imei"));
  auto form = MakeWindow();
  const std::string id = form->device_id;
  ASSERT_EQ(id.size(), 8u);
  EXPECT_TRUE(std::all_of(id.begin(), id.end(), [](char ch) { return ch >= '1' && ch <= '8'; }))
      << id;
  form.reset();
  EXPECT_EQ(ReadFile("imei"), id);  // exactly the 8 bytes
  auto again = MakeWindow();
  EXPECT_EQ(again->device_id, id);
}

TEST_F(MainFormImei, EmptyFileIsReplacedByANewIdentity) {
  WriteFile("imei", "");
  auto form = MakeWindow();
  ASSERT_EQ(form->device_id.size(), 8u);
  form.reset();
  EXPECT_EQ(ReadFile("imei").size(), 8u);
}

TEST_F(MainFormImei, IdentityThatCannotBeStoredIsKeptForTheRun) {
  fs::create_directory("imei");  // neither readable as a file nor writable
  auto form = MakeWindow();
  EXPECT_EQ(form->device_id.size(), 8u);
  EXPECT_TRUE(fs::is_directory("imei"));
}

// ---------------------------------------------------------------- start state

using MainFormStart = WindowTest;

TEST_F(MainFormStart, StartsInBoardModeWithBadgeAndOverlayHiddenAndSwitchAndClearDisabled) {
  auto form = MakeWindow();
  EXPECT_TRUE(form->layout_con->Visible());
  EXPECT_TRUE(form->FrameManager->Visible());
  EXPECT_FALSE(form->layout_storm->Visible());
  EXPECT_FALSE(form->FrameStorm->Visible());
  EXPECT_FALSE(form->img_connect_info->Visible());
  EXPECT_FALSE(form->shade_set->Visible());
  EXPECT_FALSE(form->paintbox_shade->Visible());
  EXPECT_FALSE(form->img_sw_con->Enabled());
  EXPECT_FALSE(form->img_clear->Enabled());
  EXPECT_TRUE(form->img_sw_storm->Enabled());

  EXPECT_TRUE(form->flg_run);
  EXPECT_EQ(form->img_path, "./img_default");
  EXPECT_EQ(form->count_image, 0);
  EXPECT_EQ(form->count_server(), 0);
  EXPECT_TRUE(form->bitmap_list.empty());
  EXPECT_EQ(form->scroll_view->Content()->ChildrenCount(), 0);
  EXPECT_TRUE(form->server_list.Entries().empty());

  // What the description starts by itself, and the timers in their design state.
  EXPECT_TRUE(form->udp->Active());
  EXPECT_EQ(form->udp->DefaultPort(), 3395);
  EXPECT_TRUE(form->thread_receive->Active());
  EXPECT_FALSE(form->tcp->Connected());
  EXPECT_TRUE(form->timer_find->Enabled());
  EXPECT_EQ(form->timer_find->Interval(), 100);
  EXPECT_FALSE(form->timer_clear->Enabled());
  ASSERT_NE(form->tcp_thread, nullptr);
  EXPECT_FALSE(form->tcp_thread->Terminated());

  // The settings overlay opens on General.
  EXPECT_TRUE(form->FrameSetting->layout_gen_view->Visible());
  EXPECT_TRUE(form->FrameSetting->img_bg_general->Visible());
  EXPECT_FALSE(form->FrameSetting->layout_list_view->Visible());
  EXPECT_FALSE(form->FrameSetting->layout_exp_view->Visible());
  EXPECT_EQ(form->FrameSetting->txt_name->GetText(), QStringLiteral("General"));
  EXPECT_FALSE(form->FrameSetting->layout_exp->Enabled());
  EXPECT_FALSE(form->FrameSetting->layout_exp->HitTest());
}

TEST_F(MainFormStart, ClicksOnTheDisabledSwitchAndClearButtonDoNothing) {
  auto form = MakeWindow();
  Click(*form, form->img_sw_con);
  EXPECT_TRUE(form->layout_con->Visible());
  EXPECT_FALSE(form->layout_storm->Visible());
  Click(*form, form->img_clear);
  EXPECT_FALSE(form->timer_clear->Enabled());
  EXPECT_TRUE(dialogs_.empty());
}

TEST_F(MainFormStart, ScreenScaleIsAskedForTheWindowCentre) {
  class Recording : public ui::ScreenMetrics {
   public:
    double DpiScale(QPoint point) const override {
      asked.push_back(point);
      return 1.0;
    }
    QSize PrimaryScreenSize() const override { return {1920, 1080}; }
    mutable std::vector<QPoint> asked;
  };
  auto metrics = std::make_shared<Recording>();
  ui::SetScreenMetrics(metrics);
  TFormMain form(nullptr, {"127.0.0.1", 0});  // the listener as in MakeWindow
  const QRect b = form.WindowBounds();
  ASSERT_EQ(metrics->asked.size(), 2u);  // both calls of GetScreenScale
  for (const QPoint& p : metrics->asked)
    EXPECT_EQ(p, QPoint(b.left() + b.width() / 2, b.top() + b.height() / 2));
}

TEST_F(MainFormStart, EveryActivationMakesTheWindowFullScreen) {
  auto form = MakeWindow();
  for (int i = 0; i < 2; ++i) {
    form->SetFullScreen(false);
    form->DispatchActivate();
    EXPECT_TRUE(form->FullScreen());
  }
}

// ---------------------------------------------------------------- stop sequence

using MainFormStop = WindowTest;

// Runs the event loop until the window's closing ends it; false when it had to be ended by
// the time limit instead.
bool RunUntilQuit(const std::function<void()>& action) {
  bool timedOut = false;
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [&] {
    timedOut = true;
    QCoreApplication::quit();
  });
  limit.start(5000);
  QTimer::singleShot(0, action);
  QApplication::exec();
  return !timedOut;
}

TEST_F(MainFormStop, EscapeBeforeAnyBoardEndsTheProgramWhateverModifiersAreHeld) {
  const ui::ShiftState states[] = {
      {}, ui::ssShift, ui::ssCtrl, ui::ssAlt, ui::ssShift | ui::ssCtrl | ui::ssAlt};
  for (ui::ShiftState shift : states) {
    SCOPED_TRACE(static_cast<int>(shift));
    auto form = MakeWindow();
    form->Show();
    const bool ended = RunUntilQuit([&] {
      quint16 key = ui::vk::Escape;
      QChar ch(27);
      form->DispatchKeyDown(key, ch, shift);
    });
    EXPECT_TRUE(ended);
    EXPECT_FALSE(form->IsShown());
    EXPECT_FALSE(form->flg_run);
    EXPECT_TRUE(form->thread_receive->Stopped());
    EXPECT_FALSE(form->tcp->Connected());
    // The supervisor is left running until the window goes.
    EXPECT_FALSE(form->tcp_thread->Terminated());
    EXPECT_TRUE(dialogs_.empty());
    form.reset();  // joins the threads; must not hang
  }
}

TEST_F(MainFormStop, EscapeFromTheKeyboardWithShiftEndsTheProgram) {
  auto form = MakeWindow();
  form->Show();
  const bool ended = RunUntilQuit([&] {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::ShiftModifier);
    QApplication::sendEvent(form->Widget(), &press);
  });
  EXPECT_TRUE(ended);
  EXPECT_FALSE(form->flg_run);
}

TEST_F(MainFormStop, OtherKeysDoNothing) {
  auto form = MakeWindow();
  form->Show();
  for (quint16 code :
       {quint16('A'), ui::vk::Return, ui::vk::Space, ui::vk::F1, quint16(26), quint16(28)}) {
    quint16 key = code;
    QChar ch;
    form->DispatchKeyDown(key, ch, ui::ssShift);
    EXPECT_EQ(key, code);
  }
  EXPECT_TRUE(form->IsShown());
  EXPECT_TRUE(form->flg_run);
  EXPECT_TRUE(form->thread_receive->Active());
  form->Close();
}

TEST_F(MainFormStop, CloseTheProgramInTheSettingsRunsTheSameStop) {
  auto form = MakeWindow();
  form->Show();
  form->img_set_click(nullptr);
  const bool ended = RunUntilQuit([&] { Click(*form, form->FrameSetting->img_finish); });
  EXPECT_TRUE(ended);
  EXPECT_FALSE(form->flg_run);
  EXPECT_TRUE(form->thread_receive->Stopped());
}

TEST_F(MainFormStop, EscapeWhileConnectedClosesTheConnectionAndTheWindowGoesCleanly) {
  ip_connect.Set("");
  flg_cnt = false;
  flg_recnt = false;
  auto board_owner = clienttest::StartBoard();
  ASSERT_TRUE(board_owner->Running());
  board_peer::BoardPeer& board = *board_owner;

  auto form = MakeWindow();
  form->Show();
  ASSERT_TRUE(form->tcp_thread->tcp_connect(board.Host()));
  ASSERT_TRUE(form->tcp->Connected());
  const bool ended = RunUntilQuit([&] {
    quint16 key = ui::vk::Escape;
    QChar ch;
    form->DispatchKeyDown(key, ch, {});
  });
  EXPECT_TRUE(ended);
  EXPECT_FALSE(form->tcp->Connected());
  form.reset();  // stops the supervisor, which would otherwise reconnect
  EXPECT_EQ(FormMain, nullptr);
  ip_connect.Set("");
  flg_cnt = false;
}

TEST_F(MainFormStop, FailedConnectShowsTheMessageDialog) {
  ip_connect.Set("");
  flg_cnt = false;
  flg_recnt = false;
  const std::string host = board_peer::BoardPeer::FreeLoopbackHost();
  ASSERT_FALSE(host.empty());
  auto form = MakeWindow();
  EXPECT_FALSE(form->tcp_thread->tcp_connect(host));  // nobody listens there
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0], QStringLiteral("Please check the network connection status"));
  form.reset();
  ip_connect.Set("");
}

// ---------------------------------------------------------------- modes and overlay

using MainFormModes = WindowTest;

struct Visibility {
  bool layout_con, layout_storm, frame_manager, frame_storm;
  friend bool operator==(const Visibility&, const Visibility&) = default;
};

Visibility ModeOf(const TFormMain& form) {
  return {form.layout_con->Visible(), form.layout_storm->Visible(), form.FrameManager->Visible(),
          form.FrameStorm->Visible()};
}

TEST_F(MainFormModes, SwitchToIdeasAndBackRestoresTheStartState) {
  auto form = MakeWindow();
  const Visibility start = ModeOf(*form);
  EXPECT_EQ(start, (Visibility{true, false, true, false}));

  form->img_set_click(nullptr);  // the switch leaves the overlay alone
  form->img_sw_con_click(nullptr);
  EXPECT_EQ(ModeOf(*form), (Visibility{false, true, false, true}));
  EXPECT_TRUE(form->shade_set->Visible());
  form->CloseSetting();

  Click(*form, form->img_sw_storm);  // enabled from the start: a real click
  EXPECT_EQ(ModeOf(*form), start);
}

TEST_F(MainFormModes, BothSettingsButtonsOpenTheOverlayAndCloseSettingHidesIt) {
  auto form = MakeWindow();
  Click(*form, form->img_set_con);
  EXPECT_TRUE(form->shade_set->Visible());
  EXPECT_TRUE(form->FrameSetting->AbsoluteVisible());
  form->CloseSetting();
  EXPECT_FALSE(form->shade_set->Visible());

  form->img_sw_con_click(nullptr);
  Click(*form, form->img_set_storm);
  EXPECT_TRUE(form->shade_set->Visible());
  // Hidden whatever page it shows.
  form->FrameSetting->img_bg_general->Hide();
  form->FrameSetting->layout_gen_view->Hide();
  form->FrameSetting->layout_list_view->Show();
  form->CloseSetting();
  EXPECT_FALSE(form->shade_set->Visible());

  // The overlay's own close button hides it and brings General back.
  Click(*form, form->img_set_storm);
  Click(*form, form->FrameSetting->img_close);
  EXPECT_FALSE(form->shade_set->Visible());
  EXPECT_TRUE(form->FrameSetting->layout_gen_view->Visible());
  EXPECT_FALSE(form->FrameSetting->layout_list_view->Visible());
}

// In idea mode the idea and name boxes show through the settings overlay's dimmed back, as
// everything else beneath it does, while they take no input.
TEST_F(MainFormModes, TheIdeaBoxesShowDimmedUnderTheSettingsOverlay) {
  auto form = MakeWindow();
  form->img_sw_con_click(nullptr);
  form->memo_txt->SetText(QStringLiteral("An idea typed before the settings were opened"));
  form->edit_from->SetText(QStringLiteral("Group 3"));
  const QImage open = form->Render({960, 540});
  form->img_set_click(nullptr);
  const QImage covered = form->Render({960, 540});
  EXPECT_TRUE(form->memo_txt->Widget()->isHidden());
  EXPECT_TRUE(form->edit_from->Widget()->isHidden());

  QImage expected = open;  // what the overlay's back does to all it covers
  {
    QPainter p(&expected);
    p.fillRect(expected.rect(), QColor(0, 0, 0, 0x32));
  }
  for (ui::NativeControl* box : {static_cast<ui::NativeControl*>(form->memo_txt),
                                 static_cast<ui::NativeControl*>(form->edit_from)}) {
    const QRect area = box->Widget()->geometry();
    const qttest::PixelDifference d = qttest::Compare(covered, expected, area);
    EXPECT_LT(d.mean, 2.0) << box->Name().toStdString() << ": " << d.Describe();
  }
  form->CloseSetting();
  form->Flush();
  EXPECT_FALSE(form->memo_txt->Widget()->isHidden());
}

TEST_F(MainFormModes, InitValueHidesTheBadgeAndDisablesSwitchAndClearAgain) {
  auto form = MakeWindow();
  form->img_connect_info->Show();
  form->img_sw_con->SetEnabled(true);
  form->img_clear->SetEnabled(true);
  form->img_path = "./out";
  form->count_image = 7;
  form->InitValue();
  EXPECT_FALSE(form->img_connect_info->Visible());
  EXPECT_FALSE(form->img_sw_con->Enabled());
  EXPECT_FALSE(form->img_clear->Enabled());
  EXPECT_EQ(form->img_path, "./img_default");
  EXPECT_EQ(form->count_image, 0);
}

}  // namespace
