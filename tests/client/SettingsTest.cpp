// The settings overlay: pages, the board list, typed boards and the connect to a board peer on
// loopback, the close button and "Close the Program".

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <chrono>
#include <memory>
#include <string>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "board_peer/BoardPeer.h"

namespace {

using namespace std::chrono_literals;
using clienttest::Commands;
using clienttest::WindowTest;

class Settings : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    clienttest::ResetConnectState();
    form_ = MakeWindow();
    form_->timer_find->SetEnabled(false);
    set_ = form_->FrameSetting;
    form_->img_set_click(nullptr);
  }
  void TearDown() override {
    form_.reset();
    clienttest::ResetConnectState();
    WindowTest::TearDown();
  }
  // A key typed into the address box through its text widget, as the keyboard gives it.
  void Type(int key, const QString& text = {}) {
    QLineEdit* line = set_->edit_ip->LineEdit();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(line, &press);
  }
  void TypeText(const QString& text) {
    for (QChar c : text) Type(c.unicode(), QString(c));
  }
  ui::ListBoxItem* Row(int i) { return set_->list_device->ItemByIndex(i); }
  void ClickRow(int i) { set_->list_deviceItemClick(set_->list_device, SelectRow(i)); }
  ui::ListBoxItem* SelectRow(int i) {
    set_->list_device->SetItemIndex(i);
    return Row(i);
  }
  // Clicks connect and runs the connect's tick.
  void Connect() {
    Click(*form_, set_->img_connect);
    ASSERT_TRUE(PumpUntil([&] { return !set_->timer_connect->Enabled(); }, 10s));
  }
  QImage Icon(int row) { return qobject_cast<ui::Image*>(Row(row)->Child(4))->Bitmap(); }
  QImage LinkIcon(bool linked) { return set_->list_icon->Bitmap(QSize(48, 48), linked ? 1 : 0); }

  std::unique_ptr<TFormMain> form_;
  TFrameSetting* set_ = nullptr;
};

TEST_F(Settings, PagesShowOneAtATimeWithTheirTitle) {
  EXPECT_TRUE(set_->layout_gen_view->Visible());
  EXPECT_TRUE(set_->img_bg_general->Visible());
  Click(*form_, set_->layout_list);
  EXPECT_EQ(set_->txt_name->GetText(), QStringLiteral("Connection"));
  EXPECT_TRUE(set_->layout_list_view->Visible());
  EXPECT_TRUE(set_->img_bg_list->Visible());
  EXPECT_FALSE(set_->layout_gen_view->Visible());
  EXPECT_FALSE(set_->img_bg_general->Visible());
  // Before a connect the Import PPT button takes no click.
  Click(*form_, set_->layout_exp);
  EXPECT_TRUE(set_->layout_list_view->Visible());
  EXPECT_FALSE(set_->layout_exp_view->Visible());
  Click(*form_, set_->txt_general);
  EXPECT_EQ(set_->txt_name->GetText(), QStringLiteral("General"));
  EXPECT_TRUE(set_->layout_gen_view->Visible());
  EXPECT_FALSE(set_->layout_list_view->Visible());
}

TEST_F(Settings, BoardListShowsTheTableAndARowClickFillsTheBoxes) {
  ASSERT_NE(form_->server_list.Append({"127.9.0.1", "One", false}), -1);
  ASSERT_NE(form_->server_list.Append({"127.9.0.2", "Two", true}), -1);
  set_->layout_list_click(nullptr);
  ASSERT_EQ(set_->list_device->Count(), 2);
  EXPECT_FALSE(set_->img_connect->Enabled());
  auto text = [&](int row, int child) {
    return qobject_cast<ui::Text*>(Row(row)->Child(child))->GetText();
  };
  EXPECT_EQ(text(0, 2), QStringLiteral("One"));
  EXPECT_EQ(text(1, 3), QStringLiteral("IP : 127.9.0.2"));
  EXPECT_EQ(Icon(0), LinkIcon(false));
  EXPECT_EQ(Icon(1), LinkIcon(true));

  auto fill = [&](int row) {
    return qobject_cast<ui::Rectangle*>(Row(row)->Child(1))->FillColor();
  };
  ClickRow(1);
  EXPECT_EQ(set_->edit_name->GetText(), QStringLiteral("Two"));
  EXPECT_EQ(set_->edit_ip->GetText(), QStringLiteral("127.9.0.2"));
  EXPECT_TRUE(set_->img_connect->Enabled());
  EXPECT_EQ(set_->UsedIndex(), 1);
  EXPECT_EQ(fill(1), 0xFF1C9DFFu);
  ClickRow(0);
  EXPECT_EQ(fill(1), 0xFFE5E5E5u);  // the first row's colours come back
  EXPECT_EQ(fill(0), 0xFF1C9DFFu);
  ClickRow(0);
  EXPECT_EQ(fill(0), 0xFF1C9DFFu);
  EXPECT_FALSE(set_->AddressTyped());

  // Back to the page: rebuilt, nothing highlighted, connect disabled, the boxes keep their texts.
  set_->layout_general_click(nullptr);
  set_->layout_list_click(nullptr);
  EXPECT_EQ(fill(0), 0xFFE5E5E5u);
  EXPECT_FALSE(set_->img_connect->Enabled());
  EXPECT_EQ(set_->edit_name->GetText(), QStringLiteral("One"));
}

// A long board name or typed address is cut short with an ellipsis before the link icon, which
// shows 24 x 24 in the middle of the row's right half; a short one shows as it is. The row keeps
// the whole texts, so a click still copies them into the boxes.
TEST_F(Settings, LongNamesAndAddressesInTheBoardListEndBeforeTheLinkIcon) {
  const std::string long_name = "Room 204 east wing, the big interactive board by the window";
  const std::string long_address =
      "board-204-east-wing.second-floor.classroom.school-district.example";
  ASSERT_NE(form_->server_list.Append({"127.9.0.1", "One", false}), -1);
  ASSERT_NE(form_->server_list.Append({long_address, long_name, true}), -1);
  set_->layout_list_click(nullptr);
  ASSERT_EQ(set_->list_device->Count(), 2);
  struct Case {
    int row, child;
    QString text;
    bool cut;
  };
  const Case cases[] = {
      {0, 2, "One", false},
      {0, 3, "IP : 127.9.0.1", false},
      {1, 2, QString::fromStdString(long_name), true},
      {1, 3, "IP : " + QString::fromStdString(long_address), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    const float row_width = Row(c.row)->Width();
    const float icon_left = row_width * 3 / 4 - 12;
    const auto* label = qobject_cast<ui::Text*>(Row(c.row)->Child(c.child));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->GetText(), c.text);
    EXPECT_EQ(label->X(), 100);
    const QString shown = label->ShownText();
    if (c.cut) {
      EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
      EXPECT_TRUE(c.text.startsWith(shown.chopped(1)));
    } else {
      EXPECT_EQ(shown, c.text);
    }
    // Leading-aligned: the shown text ends its advance right of the label's left edge.
    const float end =
        label->X() +
        static_cast<float>(QFontMetricsF(ui::MakeFont(label->Settings())).horizontalAdvance(shown));
    EXPECT_LT(end, icon_left);
  }
  ClickRow(1);
  EXPECT_EQ(set_->edit_name->GetText(), QString::fromStdString(long_name));
  EXPECT_EQ(set_->edit_ip->GetText(), QString::fromStdString(long_address));
}

TEST_F(Settings, KeysInTheAddressBoxDecideTheConnectButtonBeforeTheyTakeEffect) {
  set_->layout_list_click(nullptr);
  EXPECT_EQ(set_->list_device->Count(), 0);
  TypeText(QStringLiteral("1"));
  EXPECT_FALSE(set_->img_connect->Enabled());
  EXPECT_TRUE(set_->AddressTyped());
  TypeText(QStringLiteral("2"));
  EXPECT_TRUE(set_->img_connect->Enabled());
  EXPECT_EQ(set_->edit_ip->GetText(), QStringLiteral("12"));
  Type(Qt::Key_Backspace);
  Type(Qt::Key_Backspace);
  EXPECT_TRUE(set_->edit_ip->GetText().isEmpty());
  EXPECT_TRUE(set_->img_connect->Enabled());  // the box held "2" before the last key
  Type(Qt::Key_Left);
  EXPECT_FALSE(set_->img_connect->Enabled());
}

TEST_F(Settings, ConnectToAListedBoardResetsTheViewsAndMarksItsRow) {
  auto board = clienttest::StartBoard("Listed");
  std::filesystem::create_directory("img_default");
  clienttest::WritePicture("img_default/a.png");
  ASSERT_NE(form_->server_list.Append({"127.9.0.1", "Other", true}), -1);
  ASSERT_NE(form_->server_list.Append({board->Host(), "Listed", false}), -1);
  form_->memo_txt->SetText(QStringLiteral("idea"));
  form_->FrameStorm->count_idea = 3;
  form_->count_image = 4;
  Click(*form_, set_->layout_list);
  ClickRow(1);
  Connect();

  ASSERT_TRUE(board->WaitForTexts(2, 5s));
  EXPECT_EQ(Commands(*board), std::vector<std::string>{"reload"});
  EXPECT_FALSE(form_->shade_set->Visible());
  EXPECT_TRUE(set_->layout_gen_view->Visible());
  EXPECT_EQ(form_->txt_name->GetText(), QStringLiteral("Listed"));
  EXPECT_EQ(form_->txt_ip->GetText(), QString::fromStdString(board->Host()));
  EXPECT_EQ(set_->ip_server, board->Host());
  EXPECT_TRUE(set_->layout_exp->Enabled());
  EXPECT_TRUE(set_->layout_exp->HitTest());
  EXPECT_TRUE(form_->img_sw_con->Enabled());
  EXPECT_EQ(form_->scroll_view->Content()->ChildrenCount(), 1);
  EXPECT_EQ(form_->img_path, "./img_default");
  EXPECT_TRUE(form_->memo_txt->GetText().isEmpty());
  EXPECT_EQ(form_->FrameStorm->count_idea, 0);
  EXPECT_EQ(form_->count_image, 0);
  EXPECT_TRUE(set_->edit_name->GetText().isEmpty());
  EXPECT_TRUE(set_->edit_ip->GetText().isEmpty());
  EXPECT_FALSE(form_->timer_find->Enabled());
  const auto known = form_->server_list.Entries();
  ASSERT_EQ(known.size(), 2u);  // nothing appended
  EXPECT_FALSE(known[0].flg_connect);
  EXPECT_TRUE(known[1].flg_connect);
  set_->layout_list_click(nullptr);
  EXPECT_EQ(Icon(0), LinkIcon(false));
  EXPECT_EQ(Icon(1), LinkIcon(true));
  EXPECT_TRUE(dialogs_.empty());
  form_.reset();
}

TEST_F(Settings, AnyKeyInTheAddressBoxMakesTheConnectAppendTheTypedBoard) {
  auto board = clienttest::StartBoard("Typed");
  std::filesystem::create_directory("img_default");
  ASSERT_NE(form_->server_list.Append({board->Host(), "Known", false}), -1);
  Click(*form_, set_->layout_list);
  ClickRow(0);
  Type(Qt::Key_Right);  // changes nothing in the text, still counts
  Connect();
  ASSERT_TRUE(board->WaitForTexts(2, 5s));
  const auto known = form_->server_list.Entries();
  ASSERT_EQ(known.size(), 2u);  // the same address a second time
  EXPECT_EQ(known[1].ip, board->Host());
  EXPECT_EQ(known[1].name, "Known");
  EXPECT_FALSE(known[0].flg_connect);
  EXPECT_TRUE(known[1].flg_connect);
  EXPECT_FALSE(set_->AddressTyped());
  form_.reset();
}

TEST_F(Settings, AFailedConnectLeavesTheViewsEmptyAndTheTypedBoardInTheTable) {
  auto board = clienttest::StartBoard("Earlier");
  std::filesystem::create_directory("img_default");
  clienttest::WritePicture("img_default/a.png");
  ASSERT_NE(form_->server_list.Append({board->Host(), "Earlier", false}), -1);
  Click(*form_, set_->layout_list);
  ClickRow(0);
  Connect();
  ASSERT_TRUE(board->WaitForTexts(2, 5s));

  // The earlier board stays: had it gone, the supervisor's reconnect to it, once it has noticed,
  // would mark a reconnect pending, and a failed connect shows no dialog then.
  const std::string silent = board_peer::BoardPeer::FreeLoopbackHost();
  form_->img_set_click(nullptr);
  Click(*form_, set_->layout_list);
  set_->edit_name->SetText(QStringLiteral("Nobody"));
  TypeText(QString::fromStdString(silent));
  Connect();
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0], QStringLiteral("Please check the network connection status"));
  const auto known = form_->server_list.Entries();
  ASSERT_EQ(known.size(), 2u);
  EXPECT_EQ(known[1].ip, silent);
  EXPECT_EQ(known[1].name, "Nobody");
  EXPECT_FALSE(known[0].flg_connect);
  EXPECT_FALSE(known[1].flg_connect);
  EXPECT_FALSE(form_->img_connect_info->Visible());
  EXPECT_FALSE(form_->img_sw_con->Enabled());
  EXPECT_FALSE(form_->img_clear->Enabled());
  EXPECT_FALSE(set_->layout_exp->Enabled());
  EXPECT_EQ(form_->scroll_view->Content()->ChildrenCount(), 0);
  EXPECT_EQ(set_->ip_server, known[0].ip);  // the last successful connect's
  EXPECT_TRUE(set_->edit_ip->GetText().isEmpty());
}

TEST_F(Settings, AFullTableTakesNoTypedBoardButTheConnectStillGoesAhead) {
  for (int i = 0; i < protocol::BoardTable::kSize; ++i)
    ASSERT_NE(form_->server_list.Append({"127.9.1." + std::to_string(i), "B", false}), -1);
  auto board = clienttest::StartBoard("Typed");
  std::filesystem::create_directory("img_default");
  Click(*form_, set_->layout_list);
  TypeText(QString::fromStdString(board->Host()));
  Connect();
  ASSERT_TRUE(board->WaitForTexts(2, 5s));
  const auto known = form_->server_list.Entries();
  EXPECT_EQ(known.size(), 20u);
  for (const ServerInfo& s : known) EXPECT_FALSE(s.flg_connect);
  EXPECT_EQ(set_->ip_server, board->Host());
  form_.reset();
}

TEST_F(Settings, CloseButtonEmptiesTheBoxesAndTheOverlayOpensOnGeneral) {
  Click(*form_, set_->layout_list);
  set_->edit_name->SetText(QStringLiteral("n"));
  TypeText(QStringLiteral("12"));
  Click(*form_, set_->img_close);
  EXPECT_TRUE(set_->edit_name->GetText().isEmpty());
  EXPECT_TRUE(set_->edit_ip->GetText().isEmpty());
  EXPECT_FALSE(set_->AddressTyped());
  EXPECT_FALSE(form_->shade_set->Visible());
  EXPECT_TRUE(set_->layout_gen_view->Visible());
  EXPECT_EQ(set_->txt_name->GetText(), QStringLiteral("General"));
  EXPECT_TRUE(set_->img_connect->Enabled());  // keeps its state
}

TEST_F(Settings, CloseTheProgramEndsTheRunAndClosesTheConnection) {
  auto board = clienttest::StartBoard("Bye");
  ASSERT_TRUE(form_->tcp_thread->tcp_connect(board->Host()));
  ASSERT_TRUE(board->WaitForConnections(1, 5s));
  Click(*form_, set_->img_finish);
  EXPECT_FALSE(form_->flg_run);
  EXPECT_TRUE(board->WaitForClosed(1, 5s));
  EXPECT_TRUE(form_->thread_receive->Stopped());
  form_.reset();
}

}  // namespace
