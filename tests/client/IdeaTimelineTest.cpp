// The idea timeline and the idea entry: cards on the line, the card buttons, edit and delete,
// the reset, and every idea message on the wire of a board peer.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTextCursor>
#include <QWindow>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "FrameStorm.h"
#include "MainForm.h"
#include "PaintCounter.h"
#include "TextRoom.h"
#include "board_peer/BoardPeer.h"

namespace {

using namespace std::chrono_literals;
using clienttest::ResetConnectState;
using clienttest::WindowTest;
using Json = nlohmann::ordered_json;

constexpr ui::AlphaColor kBlue = 0xFF54B3FC;
constexpr ui::AlphaColor kGreen = 0xFF44FD7C;
constexpr ui::AlphaColor kOrange = 0xFFFF924D;

std::tm TimeOfDay(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 4;
  t.tm_mday = 17;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

class IdeaTimeline : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ResetConnectState();
    SetClock(9, 5, 7);
    board_ = clienttest::StartBoard();
    ASSERT_TRUE(board_->Running());
  }
  void TearDown() override {
    SetLocalClock({});
    board_.reset();
    ResetConnectState();
    WindowTest::TearDown();
  }

  void SetClock(int hour, int minute, int second) {
    SetLocalClock([=] { return TimeOfDay(hour, minute, second); });
  }

  // A window in idea mode, shown, connected to the board with the handshake on the wire.
  std::unique_ptr<TFormMain> IdeaWindow(bool connect = true, QSize screen = {960, 540}) {
    auto form = MakeWindow(screen);
    form->timer_find->SetEnabled(false);
    form->Show();
    form->Widget()->activateWindow();
    form->img_sw_con_click(nullptr);
    if (connect) {
      EXPECT_TRUE(form->tcp_thread->tcp_connect(board_->Host()));
      EXPECT_TRUE(board_->WaitForTexts(1, 5s));
    }
    return form;
  }

  // Types an idea and a name and clicks the send image, as the user does.
  void Post(TFormMain& form, const QString& user, const QString& text) {
    form.edit_from->SetText(user);
    form.memo_txt->SetText(text);
    Click(form, form.img_send);
  }

  // The messages after the handshake, once `n` of them arrived.
  std::vector<Json> Messages(std::size_t n) {
    EXPECT_TRUE(board_->WaitForTexts(n + 1, 5s));
    std::vector<Json> messages;
    const auto texts = board_->Texts();
    for (std::size_t i = 1; i < texts.size(); ++i) {
      EXPECT_TRUE(texts[i].is_json) << texts[i].raw;
      messages.push_back(texts[i].json["phone"]["message"]);
    }
    EXPECT_EQ(messages.size(), n);
    return messages;
  }

  static std::vector<ui::CalloutRectangle*> Cards(const TFormMain& form) {
    std::vector<ui::CalloutRectangle*> cards;
    for (ui::Control* c : form.FrameStorm->scroll_timeline->Content()->Children())
      if (auto* card = qobject_cast<ui::CalloutRectangle*>(c)) cards.push_back(card);
    return cards;
  }
  static ui::CalloutRectangle* CardNumber(const TFormMain& form, int number) {
    for (ui::CalloutRectangle* card : Cards(form))
      if (card->Tag() == number) return card;
    return nullptr;
  }
  static ui::Text* Body(ui::Control* card) { return qobject_cast<ui::Text*>(card->Child(0)); }
  static ui::Text* Caption(ui::Control* card) { return qobject_cast<ui::Text*>(card->Child(1)); }

  // The reset of the settings overlay's connect: the timeline's InitValue, then what the main
  // window's full clear does to the timeline and the idea boxes.
  static void ResetTimeline(TFormMain& form) {
    form.FrameStorm->InitValue();
    form.FrameStorm->count_idea = 0;
    form.FrameStorm->scroll_timeline->Content()->DeleteChildren();
    form.edit_from->SetText(QString());
    form.memo_txt->SetText(QString());
  }

  static bool HasFocus(ui::NativeControl* control) {
    return control->Widget()->window()->focusWidget() == control->Widget();
  }

  static void Key(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers mods, const QString& text) {
    QKeyEvent e(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(widget, &e);
  }

  std::unique_ptr<board_peer::BoardPeer> board_;
};

// ---------------------------------------------------------------- cards on the line

TEST_F(IdeaTimeline, CardsAlternateBelowAndAboveTheLineInColourPairsAndAreNumberedFromOne) {
  auto form = IdeaWindow();
  struct Case {
    float x, y;
    ui::CalloutPosition pointer;
    ui::AlphaColor fill;
    float caption_y;
    ui::Bounds body_margins;
  };
  const ui::Bounds below{0, 10, 0, 0}, above{0, 0, 0, 10};
  const Case cases[] = {
      {0, 255, ui::CalloutPosition::Top, kBlue, 80, below},
      {100, 125, ui::CalloutPosition::Bottom, kBlue, -10, above},
      {200, 255, ui::CalloutPosition::Top, kGreen, 80, below},
      {300, 125, ui::CalloutPosition::Bottom, kGreen, -10, above},
      {400, 255, ui::CalloutPosition::Top, kBlue, 80, below},
      {500, 125, ui::CalloutPosition::Bottom, kBlue, -10, above},
  };
  for (int i = 0; i < 6; ++i)
    Post(*form, QStringLiteral("Group %1").arg(i), QString("idea %1").arg(i));

  const auto cards = Cards(*form);
  ASSERT_EQ(cards.size(), 6u);
  EXPECT_EQ(form->FrameStorm->count_idea, 6);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i + 1);
    const Case& c = cases[i];
    ui::CalloutRectangle* card = cards[static_cast<std::size_t>(i)];
    EXPECT_EQ(card->Tag(), i + 1);
    EXPECT_EQ(card->Position(), QPointF(c.x, c.y));
    EXPECT_EQ(card->Width(), 120);
    EXPECT_EQ(card->Height(), 80);
    EXPECT_EQ(card->GetCalloutPosition(), c.pointer);
    EXPECT_EQ(card->CalloutOffset(), 5);
    EXPECT_EQ(card->CalloutWidth(), 7);
    EXPECT_EQ(card->FillColor(), c.fill);
    EXPECT_EQ(card->OutlinedSides(), ui::Sides());  // no outline, as the template
    ASSERT_EQ(card->ChildrenCount(), 2);
    EXPECT_EQ(Body(card)->GetText(), QString("idea %1").arg(i));
    EXPECT_FALSE(Body(card)->Enabled());
    EXPECT_EQ(Body(card)->Margins(), c.body_margins);
    EXPECT_EQ(Caption(card)->GetText(), QString("Group %1 // 09:05").arg(i));
    EXPECT_EQ(Caption(card)->Position(), QPointF(0, c.caption_y));
  }
  // The body sits in the card clear of the pointer: centred in what the margin leaves.
  EXPECT_EQ(Body(cards[0])->BoundsInParent(), QRectF(10, 12.5f, 100, 65));
  EXPECT_EQ(Body(cards[1])->BoundsInParent(), QRectF(10, 2.5f, 100, 65));

  // Six cards fit the box; later ones scroll it to the newest.
  EXPECT_EQ(form->FrameStorm->scroll_timeline->ScrollX(), 0);
  for (int i = 6; i < 12; ++i) Post(*form, "g", "more");
  EXPECT_EQ(form->FrameStorm->scroll_timeline->ScrollX(), 1220 - 960);
}

// The longest idea and name a card can get show whole on it: the body keeps its size 10 while
// the idea fits and takes a smaller size only when it does not; the caption keeps its 7; an
// edit that makes the text longer, or shorter, is fitted again.
TEST_F(IdeaTimeline, TheWholeIdeaAndCaptionShowOnTheCard) {
  auto form = IdeaWindow();
  const auto shows_whole = [](const ui::Text* text) {
    ui::TextSettings s = text->Settings();
    s.size = text->PaintedFontSize();
    const QSizeF room =
        qttest::TextRoom(ui::MakeFont(s), text->GetText(), text->Width(), s.wordWrap);
    return room.width() <= text->Width() && room.height() <= text->Height();
  };
  // 90 characters each, the most the idea box takes.
  const QString words = QStringLiteral(
      "Measure the water temperature every morning and write it down in the shared table, please!");
  const QString capitals = QStringLiteral(
      "MEASURE THE WATER TEMPERATURE EVERY MORNING AND WRITE IT IN THE SHARED TABLE, GROUP THREE!");
  struct Case {
    QString user, text;
    bool body_shrinks;
  };
  const Case cases[] = {
      {"Ann", "short idea", false},
      {"Group 3", words, true},
      {"WWWWWWWWW", capitals, true},         // 9 wide characters, the most the name box takes
      {"g", QString(90, QChar('W')), true},  // one word longer than a line
  };
  for (const Case& c : cases) Post(*form, c.user, c.text);
  const auto cards = Cards(*form);
  ASSERT_EQ(cards.size(), std::size(cases));
  for (std::size_t i = 0; i < cards.size(); ++i) {
    SCOPED_TRACE(cases[i].text.toStdString());
    const ui::Text* body = Body(cards[i]);
    const ui::Text* caption = Caption(cards[i]);
    EXPECT_EQ(body->GetText(), cases[i].text);
    EXPECT_TRUE(shows_whole(body)) << "at " << body->PaintedFontSize();
    EXPECT_TRUE(shows_whole(caption)) << "at " << caption->PaintedFontSize();
    EXPECT_EQ(body->PaintedFontSize() < 10, cases[i].body_shrinks) << body->PaintedFontSize();
    EXPECT_EQ(caption->PaintedFontSize(), 7);  // the longest name still fits
    EXPECT_EQ(body->Settings().size, 10);
    EXPECT_EQ(caption->Settings().size, 7);
  }

  // Edited to the long text and back.
  ui::CalloutRectangle* card = cards[0];
  for (const QString& text : {words, QStringLiteral("short again")}) {
    Click(*form, card);
    if (!form->FrameStorm->EditButton()->Visible()) Click(*form, card);  // a second click hid them
    Click(*form, form->FrameStorm->EditButton());
    Post(*form, "Ann", text);
    EXPECT_EQ(Body(card)->GetText(), text);
    EXPECT_TRUE(shows_whole(Body(card)));
  }
  EXPECT_EQ(Body(card)->PaintedFontSize(), 10);
}

TEST_F(IdeaTimeline, BoardGetsTheInfoOnceBeforeTheFirstAddThenEachAddWithItsNumber) {
  auto form = IdeaWindow();
  m_PCname = "studio-pc";
  m_LocalIP = "127.0.0.1";
  Post(*form, "Ann", "Solar panels on the roof");
  SetClock(19, 3, 5);
  Post(*form, "Bo", "a/b \"quoted\"");
  Post(*form, "", "   ");  // blanks are an idea; an empty name an empty user

  const auto messages = Messages(4);
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0].dump(),
            R"({"msgId":4,"msgType":2,"msg":{"name":"studio-pc","ip":"127.0.0.1"}})");
  EXPECT_EQ(messages[1].dump(),
            R"({"msgId":2,"msgType":2,"msg":{"action":"add","user":"Ann","time":"09:05",)"
            R"("text":"Solar panels on the roof","id":1}})");
  EXPECT_EQ(messages[2]["msg"], Json::parse(R"({"action":"add","user":"Bo","time":"19:03",)"
                                            R"("text":"a/b \"quoted\"","id":2})"));
  EXPECT_EQ(messages[3]["msg"], Json::parse(R"({"action":"add","user":"","time":"19:03",)"
                                            R"("text":"   ","id":3})"));
  EXPECT_EQ(Caption(CardNumber(*form, 3))->GetText(), " // 19:03");
  const auto ideas = board_->State().ideas;
  ASSERT_EQ(ideas.size(), 3u);
  EXPECT_EQ(ideas.at(1).text, "Solar panels on the roof");
  m_PCname.clear();
  m_LocalIP.clear();
}

TEST_F(IdeaTimeline, TimeOfDayHasTwoDigitFieldsOnTheIdeaAndOnTheClock) {
  struct Case {
    int h, m, s;
    const char* stamp;
    const char* clock;
  };
  const Case cases[] = {
      {19, 3, 5, "19:03", "19:03:05"},
      {9, 5, 0, "09:05", "09:05:00"},
      {0, 0, 59, "00:00", "00:00:59"},
      {23, 59, 9, "23:59", "23:59:09"},
  };
  auto form = IdeaWindow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stamp);
    SetClock(c.h, c.m, c.s);
    // The clock ticks by itself every 100 ms.
    EXPECT_TRUE(PumpUntil([&] { return form->FrameStorm->txt_time->GetText() == c.clock; }, 2s))
        << form->FrameStorm->txt_time->GetText().toStdString();
    Post(*form, "Cy", "x");
    EXPECT_EQ(Caption(Cards(*form).back())->GetText(), QString("Cy // ") + c.stamp);
  }
  const auto messages = Messages(1 + std::size(cases));
  for (std::size_t i = 0; i < std::size(cases) && i + 1 < messages.size(); ++i)
    EXPECT_EQ(messages[i + 1]["msg"]["time"], cases[i].stamp);
}

// The clock ticks in both modes, but in board mode the timeline is hidden: its ticks paint
// nothing, so the idle window is not drawn again every second. In idea mode each new second
// shows, and is painted, also through the settings overlay's dimmed back.
TEST_F(IdeaTimeline, TheClockRepaintsTheWindowOnlyWhereItShows) {
  int second = 0;
  SetLocalClock([&] { return TimeOfDay(10, 0, ++second % 60); });  // a new second every tick
  auto form = MakeWindow();
  form->timer_find->SetEnabled(false);
  qttest::PaintCounter counter;
  int& paints = counter.paints;
  form->Widget()->installEventFilter(&counter);
  form->Show();
  ASSERT_TRUE(PumpUntil([&] { return paints > 0; }));
  struct Case {
    const char* what;
    std::function<void()> set;
    bool repaints;
  };
  const Case cases[] = {
      {"board mode", [] {}, false},
      {"idea mode", [&] { form->img_sw_con_click(nullptr); }, true},
      {"idea mode, settings shown", [&] { form->img_set_click(nullptr); }, true},
      {"board mode, settings shown", [&] { form->img_sw_storm_click(nullptr); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.set();
    const auto wait_ticks = [&](int n) {
      const QString start = form->FrameStorm->txt_time->GetText();
      int changes = 0;
      QString last = start;
      return PumpUntil([&] {
        const QString now = form->FrameStorm->txt_time->GetText();
        if (now != last) ++changes;
        last = now;
        return changes >= n;
      });
    };
    ASSERT_TRUE(wait_ticks(1));  // what the change itself painted is done
    paints = 0;
    ASSERT_TRUE(wait_ticks(4));
    if (c.repaints)
      EXPECT_GE(paints, 3);
    else
      EXPECT_EQ(paints, 0);
  }
  form->Widget()->removeEventFilter(&counter);
}

// ---------------------------------------------------------------- idea entry

TEST_F(IdeaTimeline, EmptyIdeaShowsTheMessageAndAddsAndSendsNothing) {
  auto form = IdeaWindow();
  form->edit_from->SetText("Ann");
  Click(*form, form->img_send);
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0], "Please enter an idea");
  EXPECT_TRUE(Cards(*form).empty());
  EXPECT_EQ(form->FrameStorm->count_idea, 0);
  EXPECT_TRUE(HasFocus(form->memo_txt));
  EXPECT_EQ(form->edit_from->GetText(), "Ann");

  // The next real idea is the first the board hears of: info, then add 1.
  Post(*form, "Ann", "late idea");
  const auto messages = Messages(2);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0]["msgId"], 4);
  EXPECT_EQ(messages[1]["msg"]["id"], 1);
  EXPECT_EQ(dialogs_.size(), 1u);
}

TEST_F(IdeaTimeline, SendingEmptiesTheIdeaBoxKeepsTheNameAndFocusesTheIdeaBox) {
  auto form = IdeaWindow();
  Post(*form, "Ann", "first");
  EXPECT_EQ(form->memo_txt->GetText(), "");
  EXPECT_EQ(form->edit_from->GetText(), "Ann");
  EXPECT_TRUE(HasFocus(form->memo_txt));
  EXPECT_TRUE(dialogs_.empty());
}

TEST_F(IdeaTimeline, EnterInTheNameBoxSendsWhateverModifiersAreHeldOtherKeysDoNot) {
  auto form = IdeaWindow();
  const Qt::KeyboardModifiers states[] = {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier,
                                          Qt::ShiftModifier | Qt::ControlModifier};
  int n = 0;
  for (Qt::KeyboardModifiers mods : states) {
    SCOPED_TRACE(static_cast<int>(mods));
    form->memo_txt->SetText(QString("idea %1").arg(n));
    form->edit_from->SetFocus();
    Key(form->edit_from->Widget(), Qt::Key_Return, mods, "\r");
    ++n;
    EXPECT_EQ(form->FrameStorm->count_idea, n);
    EXPECT_EQ(form->memo_txt->GetText(), "");
  }
  form->memo_txt->SetText("not yet");
  Key(form->edit_from->Widget(), Qt::Key_A, Qt::NoModifier, "a");
  Key(form->edit_from->Widget(), Qt::Key_Tab, Qt::NoModifier, "\t");
  EXPECT_EQ(form->FrameStorm->count_idea, n);
  EXPECT_EQ(form->memo_txt->GetText(), "not yet");
  EXPECT_EQ(Messages(1 + std::size(states)).size(), 1 + std::size(states));
}

TEST_F(IdeaTimeline, EnterInTheIdeaBoxTakesTheLineBreakOutAndMovesToTheNameBox) {
  auto form = IdeaWindow();
  struct Case {
    const char* typed;
    int cursor;  // where Enter is pressed
    const char* left;
  };
  const Case cases[] = {
      {"solar roof", 10, "solar roof"},  // at the end
      {"solar roof", 5, "solar roof"},   // inside: no character is lost
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    form->memo_txt->SetText(c.typed);
    form->memo_txt->SetFocus();
    QTextCursor cursor = form->memo_txt->TextEdit()->textCursor();
    cursor.setPosition(c.cursor);
    form->memo_txt->TextEdit()->setTextCursor(cursor);
    Key(form->memo_txt->Widget(), Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(form->memo_txt->GetText(), c.left);
    EXPECT_TRUE(HasFocus(form->edit_from));
    EXPECT_EQ(form->edit_from->SelLength(), 0);
    Pump(20ms);  // the focus change reports nothing more
    EXPECT_EQ(form->memo_txt->GetText(), c.left);
  }
  EXPECT_EQ(form->FrameStorm->count_idea, 0);  // Enter in the idea box never sends
  EXPECT_TRUE(dialogs_.empty());

  // A text with line breaks (pasted) loses only its breaks, also when the handler runs twice.
  form->memo_txt->SetText("one\r\ntwo\r\n");
  form->memo_txt_onchange(form->memo_txt);
  form->memo_txt_onchange(form->memo_txt);
  EXPECT_EQ(form->memo_txt->GetText(), "onetwo");
  EXPECT_TRUE(HasFocus(form->edit_from));
}

// ---------------------------------------------------------------- keyboard focus

// Clicks and keys through the window, as the window system delivers them.
TEST_F(IdeaTimeline, ClicksBesideTheTextBoxesLeaveTheFocusInTheIdeaBoxAClickIntoTheNameBoxMovesIt) {
  std::filesystem::create_directories(dir_ / "img_default");
  QImage page(64, 36, QImage::Format_RGB32);
  page.fill(Qt::darkCyan);
  ASSERT_TRUE(page.save(QString::fromStdString((dir_ / "img_default" / "p1.png").string())));
  // The window covers its screen, so every control lies inside it.
  auto form = IdeaWindow(true, QGuiApplication::primaryScreen()->size());
  form->ReLoadView();  // what a connect does: the strip, the clear button, the mode switch
  QWindow* window = form->Widget()->windowHandle();
  auto type = [&](const char* text) {
    for (const char* c = text; *c; ++c) QTest::keyClick(window, *c);
  };
  auto click = [&](ui::Control* c, QPointF local) {
    QTest::mouseClick(window, Qt::LeftButton, {}, c->LocalToForm().map(local).toPoint());
    Pump(20ms);  // a change report would come from the event loop
  };
  auto centre = [](ui::Control* c) { return QPointF(c->Width() / 2, c->Height() / 2); };
  Post(*form, "Ann", "Solar roof");
  ASSERT_EQ(Cards(*form).size(), 1u);
  int changes = 0;
  const ui::NotifyEvent report = form->memo_txt->OnChange;
  form->memo_txt->OnChange = [&](QObject* sender) {
    ++changes;
    report(sender);
  };
  ASSERT_TRUE(HasFocus(form->memo_txt));
  type("Wind");

  TFrameStorm& storm = *form->FrameStorm;
  ui::Control* card = CardNumber(*form, 1);
  ui::Control* thumb = form->scroll_view->Content()->Child(0);
  ASSERT_NE(thumb, nullptr);
  auto buttons_shown = [&] { return storm.EditButton() && storm.EditButton()->Visible(); };
  struct Step {
    const char* what;
    ui::Control* control;
    QPointF local;
    std::function<bool()> done;  // the click did its work
  };
  const Step steps[] = {
      {"a card", card, centre(card), buttons_shown},
      {"the clock", storm.txt_time, centre(storm.txt_time), buttons_shown},
      {"the timeline", storm.scroll_timeline, {480, 100}, buttons_shown},
      {"the bar beside the boxes", form->img_panel_storm, {690, 80}, buttons_shown},
      {"the card again", card, centre(card), [&] { return !buttons_shown(); }},
      {"the mode switch to the board", form->img_sw_storm, centre(form->img_sw_storm),
       [&] { return form->layout_con->Visible(); }},
      {"a thumbnail", thumb, {32, 18}, [&] { return !thumb->Enabled(); }},  // placed
      {"the clear button", form->img_clear, centre(form->img_clear),
       [&] { return thumb->Enabled(); }},
      {"the strip's bar", form->img_panel_con, {700, 80}, [&] { return thumb->Enabled(); }},
      {"the mode switch to the ideas", form->img_sw_con, centre(form->img_sw_con),
       [&] { return form->layout_storm->Visible(); }},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    click(s.control, s.local);
    EXPECT_TRUE(PumpUntil(s.done, 5s));
    EXPECT_TRUE(form->memo_txt->IsFocused());
    EXPECT_EQ(changes, 0);
  }
  EXPECT_TRUE(HasFocus(form->memo_txt));
  type("Z");
  EXPECT_EQ(form->memo_txt->GetText().toStdString(), "WindZ");
  EXPECT_EQ(form->edit_from->GetText().toStdString(), "Ann");

  click(form->edit_from, centre(form->edit_from));
  EXPECT_EQ(changes, 1);  // the idea box left with a new text
  EXPECT_TRUE(HasFocus(form->edit_from));
  EXPECT_EQ(form->memo_txt->GetText().toStdString(), "WindZ");
}

// ---------------------------------------------------------------- card buttons

TEST_F(IdeaTimeline, CardClickShowsTheButtonsBesideItSecondClickHidesThemOtherCardMovesThem) {
  auto form = IdeaWindow();
  for (int i = 0; i < 3; ++i) Post(*form, "u", "t");
  TFrameStorm& storm = *form->FrameStorm;
  EXPECT_EQ(storm.EditButton(), nullptr);  // made at the first card click

  struct Step {
    int card;  // clicked
    bool shown;
    QPointF edit;  // where the edit button stands when shown
    int click_tag;
  };
  const Step steps[] = {
      {1, true, {130, 267}, 1},    // odd, below the line: 12 lower than the card's top
      {2, true, {230, 125}, 2},    // even, above: level with its top
      {2, false, {230, 125}, -1},  // the same card again hides them
      {3, true, {330, 267}, 3},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.card);
    Click(*form, CardNumber(*form, s.card));
    ui::Image* edit = storm.EditButton();
    ui::Image* del = storm.DeleteButton();
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(del, nullptr);
    EXPECT_EQ(edit->Visible(), s.shown);
    EXPECT_EQ(del->Visible(), s.shown);
    EXPECT_EQ(edit->Position(), s.edit);
    EXPECT_EQ(del->Position(), s.edit + QPointF(0, 31));
    EXPECT_EQ(edit->Width(), 26);
    EXPECT_EQ(edit->Height(), 26);
    EXPECT_EQ(storm.ClickTag(), s.click_tag);
    EXPECT_EQ(storm.SelectedCard(), CardNumber(*form, s.card));
    // In the scroll box, in front of the cards.
    EXPECT_EQ(edit->ParentControl(), storm.scroll_timeline->Content());
    EXPECT_EQ(del->Index(), storm.scroll_timeline->Content()->ChildrenCount() - 1);
  }
  EXPECT_FALSE(storm.EditButton()->Bitmap().isNull());
  EXPECT_NE(storm.EditButton()->Bitmap(), storm.DeleteButton()->Bitmap());
  // Clicks made no messages: only info and three adds.
  EXPECT_EQ(Messages(4).size(), 4u);
}

// ---------------------------------------------------------------- edit and delete

TEST_F(IdeaTimeline, EditRoundTripUpdatesTheCardInPlaceAndSendsEditWithItsNumber) {
  auto form = IdeaWindow();
  Post(*form, "Ann", "first");
  Post(*form, "Bo", "second idea");
  TFrameStorm& storm = *form->FrameStorm;
  ui::CalloutRectangle* card = CardNumber(*form, 2);
  const QPointF place = card->Position();

  Click(*form, card);
  form->memo_txt->SetText("typed before");
  Click(*form, storm.EditButton());
  EXPECT_TRUE(storm.Editing());
  EXPECT_EQ(card->FillColor(), kOrange);
  EXPECT_EQ(form->memo_txt->GetText(), "second idea");  // the memo's text is replaced
  EXPECT_FALSE(storm.EditButton()->Visible());
  EXPECT_FALSE(storm.DeleteButton()->Visible());

  // While editing: card clicks do nothing, an empty idea box only shows the message.
  Click(*form, CardNumber(*form, 1));
  EXPECT_FALSE(storm.EditButton()->Visible());
  EXPECT_EQ(storm.SelectedCard(), card);
  form->memo_txt->SetText("");
  Click(*form, form->img_send);
  EXPECT_EQ(dialogs_, std::vector<QString>{"Please enter an idea"});
  EXPECT_TRUE(storm.Editing());

  SetClock(14, 7, 32);
  Post(*form, "Cy", "second, better");
  EXPECT_FALSE(storm.Editing());
  EXPECT_EQ(card->FillColor(), kBlue);
  EXPECT_EQ(Body(card)->GetText(), "second, better");
  EXPECT_EQ(Caption(card)->GetText(), "Cy // 14:07");
  EXPECT_EQ(card->Position(), place);
  EXPECT_EQ(storm.count_idea, 2);
  EXPECT_EQ(Cards(*form).size(), 2u);
  EXPECT_EQ(form->memo_txt->GetText(), "");

  // The next new card goes where the alternation says: card 3, below, green.
  Post(*form, "Dee", "third");
  ui::CalloutRectangle* third = CardNumber(*form, 3);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->Position(), QPointF(200, 255));
  EXPECT_EQ(third->FillColor(), kGreen);

  const auto messages = Messages(5);
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[3].dump(),
            R"({"msgId":2,"msgType":2,"msg":{"action":"edit","user":"Cy","time":"14:07",)"
            R"("text":"second, better","id":2}})");
  EXPECT_EQ(messages[4]["msg"]["action"], "add");
  EXPECT_EQ(messages[4]["msg"]["id"], 3);
  EXPECT_EQ(board_->State().ideas.at(2).text, "second, better");
}

TEST_F(IdeaTimeline, DeleteDetachesTheCardLeavesAGapAndSendsDeleteWithItsNumber) {
  auto form = IdeaWindow();
  for (int i = 1; i <= 3; ++i) Post(*form, "u", QString("idea %1").arg(i));
  TFrameStorm& storm = *form->FrameStorm;
  QPointer<ui::CalloutRectangle> second = CardNumber(*form, 2);

  Click(*form, second);
  Click(*form, storm.DeleteButton());
  EXPECT_FALSE(storm.EditButton()->Visible());
  EXPECT_FALSE(storm.DeleteButton()->Visible());
  ASSERT_FALSE(second.isNull());  // detached, not destroyed
  EXPECT_EQ(second->ParentControl(), nullptr);
  EXPECT_FALSE(second->HitTest());
  EXPECT_EQ(second->Owner(), storm.scroll_timeline);
  EXPECT_EQ(Cards(*form).size(), 2u);
  EXPECT_EQ(storm.count_idea, 3);

  Post(*form, "u", "idea 4");
  ui::CalloutRectangle* fourth = CardNumber(*form, 4);
  ASSERT_NE(fourth, nullptr);
  EXPECT_EQ(fourth->Position(), QPointF(300, 125));
  EXPECT_EQ(CardNumber(*form, 3)->Position(), QPointF(200, 255));  // nothing closes the gap

  const auto messages = Messages(6);
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(messages[4].dump(),
            R"({"msgId":2,"msgType":2,"msg":{"action":"delete","user":"","time":"","text":"",)"
            R"("id":2}})");
  EXPECT_EQ(messages[5]["msg"]["id"], 4);
  EXPECT_EQ(board_->State().ideas.count(2), 0u);

  // A reset destroys what is attached only; the deleted card lives on with the scroll box.
  ResetTimeline(*form);
  EXPECT_FALSE(second.isNull());
  EXPECT_TRUE(Cards(*form).empty());
}

TEST_F(IdeaTimeline, ACardAddedWhileTheButtonsShowLeavesThemWithTheSelectedCard) {
  auto form = IdeaWindow();
  Post(*form, "u", "one");
  Post(*form, "u", "two");
  TFrameStorm& storm = *form->FrameStorm;
  Click(*form, CardNumber(*form, 1));
  Post(*form, "u", "three");
  EXPECT_TRUE(storm.EditButton()->Visible());
  EXPECT_EQ(storm.EditButton()->Position(), QPointF(130, 267));
  EXPECT_EQ(storm.ClickTag(), 1);

  Click(*form, storm.EditButton());
  EXPECT_EQ(form->memo_txt->GetText(), "one");
  Post(*form, "v", "one, edited");
  EXPECT_EQ(Body(CardNumber(*form, 1))->GetText(), "one, edited");
  EXPECT_EQ(Body(CardNumber(*form, 3))->GetText(), "three");
  const auto messages = Messages(5);
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[4]["msg"]["action"], "edit");
  EXPECT_EQ(messages[4]["msg"]["id"], 1);
}

// ---------------------------------------------------------------- reset

TEST_F(IdeaTimeline, ResetStartsAgainAtCardOneBelowTheLineWithInfoAndNewButtons) {
  auto form = IdeaWindow();
  for (int i = 0; i < 3; ++i) Post(*form, "u", "before");
  TFrameStorm& storm = *form->FrameStorm;
  Click(*form, CardNumber(*form, 2));
  QPointer<ui::Image> old_edit = storm.EditButton();
  Click(*form, old_edit);  // a reset ends an edit in progress too
  ASSERT_TRUE(storm.Editing());

  ResetTimeline(*form);
  EXPECT_FALSE(storm.Editing());
  EXPECT_EQ(storm.ClickTag(), -1);
  EXPECT_TRUE(old_edit.isNull());  // destroyed with the scroll box's content

  Post(*form, "Ann", "after");
  const auto cards = Cards(*form);
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0]->Tag(), 1);
  EXPECT_EQ(cards[0]->Position(), QPointF(0, 255));
  EXPECT_EQ(cards[0]->FillColor(), kBlue);
  EXPECT_EQ(Caption(cards[0])->Position(), QPointF(0, 80));
  EXPECT_EQ(Body(cards[0])->GetText(), "after");  // a new card, not an edit

  Click(*form, cards[0]);
  ASSERT_NE(storm.EditButton(), nullptr);
  EXPECT_TRUE(storm.EditButton()->Visible());
  EXPECT_EQ(storm.EditButton()->Position(), QPointF(130, 267));

  const auto messages = Messages(6);
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(messages[4]["msgId"], 4);  // the info again before the first card
  EXPECT_EQ(messages[5]["msg"]["action"], "add");
  EXPECT_EQ(messages[5]["msg"]["id"], 1);
}

TEST_F(IdeaTimeline, InitValueAloneResetsTheStateButKeepsCardsCounterAndBoxes) {
  auto form = IdeaWindow();
  Post(*form, "u", "one");
  TFrameStorm& storm = *form->FrameStorm;
  Click(*form, CardNumber(*form, 1));
  form->FrameStorm->InitValue();
  EXPECT_EQ(storm.ClickTag(), -1);
  EXPECT_EQ(storm.count_idea, 1);
  EXPECT_EQ(Cards(*form).size(), 1u);
  // The next card goes below the line again (number 2 at X 100).
  Post(*form, "u", "two");
  EXPECT_EQ(CardNumber(*form, 2)->Position(), QPointF(100, 255));
  // The buttons are made anew at the next click, never doubled.
  Click(*form, CardNumber(*form, 2));
  int images = 0;
  for (ui::Control* c : storm.scroll_timeline->Content()->Children())
    images += qobject_cast<ui::Image*>(c) != nullptr;
  EXPECT_EQ(images, 2);
}

// ---------------------------------------------------------------- failed sends

TEST_F(IdeaTimeline, FailedSendKeepsTheCardCountedAndTheIdeaBoxAsItWas) {
  auto form = IdeaWindow(/*connect=*/false);
  Post(*form, "Ann", "offline idea");
  ASSERT_EQ(dialogs_.size(), 1u);  // the error, shown by the UI layer
  EXPECT_NE(dialogs_[0], "Please enter an idea");
  ASSERT_EQ(Cards(*form).size(), 1u);
  EXPECT_EQ(form->FrameStorm->count_idea, 1);
  EXPECT_EQ(form->memo_txt->GetText(), "offline idea");

  // An edit that cannot be sent has still updated the card and left edit mode.
  Click(*form, CardNumber(*form, 1));
  Click(*form, form->FrameStorm->EditButton());
  Post(*form, "Bo", "changed");
  EXPECT_EQ(dialogs_.size(), 2u);
  EXPECT_FALSE(form->FrameStorm->Editing());
  ui::CalloutRectangle* card = CardNumber(*form, 1);
  EXPECT_EQ(card->FillColor(), kBlue);
  EXPECT_EQ(Body(card)->GetText(), "changed");
  EXPECT_EQ(Caption(card)->GetText(), "Bo // 09:05");

  // So has a delete: the card is out. The buttons were last shown beside this card, so the
  // first click counts as the second one on it and the next shows them again.
  Click(*form, card);
  EXPECT_FALSE(form->FrameStorm->DeleteButton()->Visible());
  Click(*form, card);
  Click(*form, form->FrameStorm->DeleteButton());
  EXPECT_EQ(dialogs_.size(), 3u);
  EXPECT_TRUE(Cards(*form).empty());
  EXPECT_EQ(board_->ConnectionCount(), 0u);
}

}  // namespace
