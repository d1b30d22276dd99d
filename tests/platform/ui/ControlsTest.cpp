// Behaviour of the individual controls and non-visual components.

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "PaintCounter.h"
#include "QtEnvironment.h"
#include "TextRoom.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace {

using namespace std::chrono_literals;

void Type(QWidget* w, const QString& text) {
  for (QChar ch : text) {
    const int key = ch == '\n' ? int(Qt::Key_Return) : int(ch.toUpper().unicode());
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, ch == '\n' ? QString("\r") : QString(ch));
    QApplication::sendEvent(w, &e);
  }
}

TEST(UiScrollBox, ScrollPositionStaysWithinTheContent) {
  ui::Form form;
  auto* box = new ui::HorzScrollBox(&form);
  box->SetSize(960, 540);
  box->SetParent(&form);
  box->ScrollBy(500);
  EXPECT_EQ(box->ScrollX(), 0);  // nothing to scroll yet
  for (int n = 0; n < 15; ++n) {
    auto* card = new ui::CalloutRectangle(box);
    card->SetBounds(100.0f * n, 255, 120, 80);
    card->SetParent(box);
  }
  EXPECT_EQ(box->ContentWidth(), 1520);
  struct Case {
    float by;
    float expected;
  };
  for (const Case& c : {Case{120, 120}, Case{1000, 560}, Case{-100, 460}, Case{-9999, 0}}) {
    box->ScrollBy(c.by);
    EXPECT_EQ(box->ScrollX(), c.expected) << c.by;
    EXPECT_EQ(box->Content()->X(), -c.expected);
  }
  box->SetScrollX(560);
  box->Content()->Child(14)->SetParent(nullptr);  // detaching shrinks the content
  box->Content()->Child(13)->SetParent(nullptr);
  EXPECT_EQ(box->ScrollX(), 360);
  // A point over the scrolled content reaches the card under it.
  auto* first = box->Content()->Child(4);  // x 400 .. 520 in the content
  EXPECT_EQ(form.ObjectAtPoint(QPointF(400 - 360 + 10, 260)), first);
}

// A text that shrinks to fit keeps its size while the text fits its box, and otherwise takes
// the largest whole size at which all of it shows, also for one long word and on one line.
TEST(UiText, ShrinkToFitShowsTheWholeTextAndShrinksOnlyAsFarAsNeeded) {
  // 90 characters each, as many as an idea holds.
  const QString words = QStringLiteral(
      "Measure the water temperature every morning and write it down in the shared table, please!");
  const QString capitals = QStringLiteral(
      "MEASURE THE WATER TEMPERATURE EVERY MORNING AND WRITE IT IN THE SHARED TABLE, GROUP THREE!");
  struct Case {
    const char* what;
    QString text;
    bool wrap;
    bool shrinks;
  };
  const Case cases[] = {
      {"short", QStringLiteral("idea"), true, false},
      {"90 characters of words", words, true, true},
      {"90 capitals", capitals, true, true},
      {"one word of 90 characters", QString(90, QChar('W')), true, true},
      {"one line", words.left(40), false, true},
  };
  ui::Form form;
  auto* text = new ui::Text(&form);
  text->SetBounds(0, 0, 100, 65);
  text->SetParent(&form);
  const auto room = [&](float size) {
    ui::TextSettings s = text->Settings();
    s.size = size;
    return qttest::TextRoom(ui::MakeFont(s), text->GetText(), 100, text->Settings().wordWrap);
  };
  const auto fits = [](QSizeF needed) { return needed.width() <= 100 && needed.height() <= 65; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui::TextSettings s = text->Settings();
    s.size = 10;
    s.wordWrap = c.wrap;
    text->SetSettings(s);
    text->SetShrinkToFit(false);
    text->SetText(c.text);
    EXPECT_EQ(text->PaintedFontSize(), 10);  // as before, when it does not shrink
    EXPECT_EQ(fits(room(10)), !c.shrinks);
    text->SetShrinkToFit(true);
    const float size = text->PaintedFontSize();
    EXPECT_TRUE(fits(room(size))) << "at " << size;
    if (c.shrinks) {
      EXPECT_LT(size, 10);
      EXPECT_FALSE(fits(room(size + 1))) << "it shrank further than needed: " << size;
    } else {
      EXPECT_EQ(size, 10);
    }
    EXPECT_EQ(text->Settings().size, 10);  // the text keeps its own size
  }
  // A larger box, or a shorter text, gives the size back.
  ui::TextSettings wrapped = text->Settings();
  wrapped.wordWrap = true;
  text->SetSettings(wrapped);
  text->SetText(words);
  EXPECT_LT(text->PaintedFontSize(), 10);
  text->SetSize(300, 200);
  EXPECT_EQ(text->PaintedFontSize(), 10);
  text->SetSize(100, 65);
  text->SetText(QStringLiteral("idea"));
  EXPECT_EQ(text->PaintedFontSize(), 10);
}

// An elided text is drawn on one line, cut with an ellipsis where it would run past its box; a
// text that fits is drawn as it is; the text itself stays whole.
TEST(UiText, ElidedTextEndsWithinItsBoxAndKeepsTheWholeText) {
  ui::Form form;
  auto* text = new ui::Text(&form);
  text->SetBounds(0, 0, 120, 20);
  text->SetParent(&form);
  text->SetElided(true);
  const QString long_text = QStringLiteral("A board name much longer than the box it is shown in");
  for (const QString& t : {QStringLiteral("Short"), long_text}) {
    SCOPED_TRACE(t.toStdString());
    text->SetText(t);
    const QString shown = text->ShownText();
    EXPECT_EQ(text->GetText(), t);
    const qreal width = QFontMetricsF(ui::MakeFont(text->Settings())).horizontalAdvance(shown);
    EXPECT_LE(width, 120);
    if (t == long_text) {
      EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
      EXPECT_TRUE(t.startsWith(shown.chopped(1)));
    } else {
      EXPECT_EQ(shown, t);
    }
  }
  text->SetElided(false);
  EXPECT_EQ(text->ShownText(), long_text);
}

TEST(UiEdit, MaxLengthPromptAndTyping) {
  ui::Form form;
  auto* edit = new ui::Edit(&form);
  edit->SetParent(&form);
  edit->SetMaxLength(9);
  edit->SetTextPrompt("Please input IP address");
  Type(edit->Widget(), "192.168.100.200");
  EXPECT_EQ(edit->GetText(), "192.168.1");
  EXPECT_EQ(edit->LineEdit()->placeholderText(), "Please input IP address");
  edit->SelectAll();
  EXPECT_EQ(edit->SelLength(), 9);
  edit->ResetSelection();
  EXPECT_EQ(edit->SelLength(), 0);
}

TEST(UiEdit, WidgetFollowsTheControlsPlaceVisibilityAndEnabledState) {
  ui::Form form;
  form.SetClientSize(960, 540);
  auto* panel = new ui::Layout(&form);
  panel->SetBounds(0, 0, 960, 540);
  panel->SetScale(2, 2);
  panel->SetParent(&form);
  auto* bar = new ui::Layout(&form);
  bar->SetBounds(0, 200, 480, 70);
  bar->SetParent(panel);
  auto* edit = new ui::Edit(&form);
  edit->SetBounds(10, 10, 120, 20);
  edit->SetParent(bar);
  form.Flush();
  QWidget* w = edit->Widget();
  EXPECT_EQ(w->parentWidget(), form.Widget());
  EXPECT_EQ(w->geometry(), QRect(20, 420, 240, 40));
  EXPECT_FALSE(w->isHidden());
  bar->Hide();
  form.Flush();
  EXPECT_TRUE(w->isHidden());
  bar->Show();
  bar->SetEnabled(false);
  form.Flush();
  EXPECT_FALSE(w->isHidden());
  EXPECT_FALSE(w->isEnabled());
  // An overlay drawn above it hides it; the framework would paint over it.
  auto* shade = new ui::Rectangle(&form);
  shade->SetBounds(0, 0, 960, 540);
  shade->SetParent(panel);
  form.Flush();
  EXPECT_TRUE(w->isHidden());
  delete shade;
  edit->SetParent(nullptr);  // detached: off the window
  form.Flush();
  EXPECT_TRUE(w->isHidden());
}

TEST(UiMemo, MaxLengthLineBreaksAndChangeOnEnter) {
  ui::Form form;
  auto* memo = new ui::Memo(&form);
  memo->SetParent(&form);
  memo->SetMaxLength(10);
  int changes = 0;
  memo->OnChange = [&](QObject* sender) {
    EXPECT_EQ(sender, memo);
    ++changes;
  };
  Type(memo->Widget(), "abc");
  EXPECT_EQ(changes, 0);  // typing alone raises no change
  Type(memo->Widget(), "\n");
  EXPECT_EQ(changes, 1);  // Enter put a line break in
  EXPECT_EQ(memo->GetText(), "abc\r\n");
  Type(memo->Widget(), "defghijklmn");
  EXPECT_EQ(memo->GetText(), "abc\r\ndefghi");  // 10 characters, the break counting one
  Type(memo->Widget(), "\n");
  EXPECT_EQ(changes, 1);  // full: Enter changed nothing

  memo->SelectAll();
  memo->DeleteSelection();
  EXPECT_EQ(memo->GetText(), "");
  memo->SetText("one\r\ntwo");
  EXPECT_EQ(memo->GetText(), "one\r\ntwo");
  memo->SetText("0123456789ABC");
  EXPECT_EQ(memo->GetText(), "0123456789");
  EXPECT_EQ(changes, 1);  // text set by code raises no change

  // Losing the focus after a change raises it once.
  memo->SetText("x");
  Type(memo->Widget(), "y");
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(memo->Widget(), &out);
  QApplication::sendEvent(memo->Widget(), &out);
  uitest::Pump(20ms);
  EXPECT_EQ(changes, 2);
}

TEST(UiListBox, ItemsInColumnsSelectionAndItemClick) {
  ui::Form form;
  form.SetClientSize(700, 400);
  auto* list = new ui::ListBox(&form);
  list->SetBounds(0, 0, 600, 300);
  list->SetColumns(6);
  list->SetParent(&form);
  for (int i = 0; i < 8; ++i) {
    auto* item = new ui::ListBoxItem(list);
    item->SetHeight(80);
    auto* image = new ui::Image(&form);
    image->SetAlign(ui::Align::Client);
    image->SetHitTest(false);  // the click goes through to the list
    image->SetParent(item);
    list->AddItem(item);
  }
  ASSERT_EQ(list->Count(), 8);
  EXPECT_EQ(list->ItemByIndex(7)->BoundsInParent(), QRectF(100, 80, 100, 80));
  // The item's style object comes first; what the application adds starts at index 1.
  ASSERT_EQ(list->ItemByIndex(0)->ChildrenCount(), 2);
  EXPECT_NE(qobject_cast<ui::Image*>(list->ItemByIndex(0)->Child(1)), nullptr);

  std::vector<int> clicked;
  list->OnItemClick = [&](QObject* sender, ui::ListBoxItem* item) {
    EXPECT_EQ(sender, list);
    clicked.push_back(item->Index());
  };
  form.DispatchMouseDown(ui::MouseButton::Left, {}, {150, 100});
  form.DispatchMouseUp(ui::MouseButton::Left, {}, {150, 100});
  EXPECT_EQ(clicked, std::vector<int>{7});
  EXPECT_EQ(list->ItemIndex(), 7);
  EXPECT_TRUE(list->ItemByIndex(7)->IsSelected());
  form.DispatchMouseDown(ui::MouseButton::Left, {}, {150, 250});  // below the last row
  form.DispatchMouseUp(ui::MouseButton::Left, {}, {150, 250});
  EXPECT_EQ(clicked.size(), 1u);

  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(list->ItemIndex(), -1);
}

TEST(UiTimer, TicksThroughTheEventLoopAndNotWhileItsHandlerRuns) {
  ui::Timer timer(nullptr);
  timer.SetInterval(5);
  int ticks = 0, nested = 0;
  bool inside = false;
  timer.OnTimer = [&](QObject* sender) {
    EXPECT_EQ(sender, &timer);
    if (inside) ++nested;
    inside = true;
    ++ticks;
    if (ticks == 1) uitest::Pump(50ms);  // like a modal dialog inside the handler
    inside = false;
  };
  EXPECT_EQ(ticks, 0);  // nothing before the event loop runs
  EXPECT_TRUE(uitest::PumpUntil([&] { return ticks >= 3; }));
  EXPECT_EQ(nested, 0);
  timer.SetEnabled(false);
  const int stopped = ticks;
  uitest::Pump(30ms);
  EXPECT_EQ(ticks, stopped);
}

TEST(UiTimer, HandlerMayStopItsOwnTimerForASingleShot) {
  ui::Timer timer(nullptr);
  timer.SetInterval(1);
  timer.SetEnabled(false);
  int ticks = 0;
  timer.OnTimer = [&](QObject*) {
    timer.SetEnabled(false);
    ++ticks;
  };
  timer.SetEnabled(true);
  EXPECT_TRUE(uitest::PumpUntil([&] { return ticks == 1; }));
  uitest::Pump(20ms);
  EXPECT_EQ(ticks, 1);
}

class UiAnimation : public ::testing::Test {
 protected:
  void SetUp() override {
    image = new ui::Image(&form);
    image->SetBounds(0, 0, 480, 270);
    image->SetParent(&form);
    anim = new ui::FloatAnimation(&form);
    anim->SetTarget(image);
    anim->SetPropertyName("Position.X");
    anim->SetStartValue(-480);
    anim->SetStopValue(0);
    anim->SetDuration(0.5f);
    anim->OnFinish = [this](QObject* sender) {
      EXPECT_EQ(sender, anim);
      ++finished;
      anim->SetEnabled(false);  // so the next page change starts it again
    };
  }
  ui::Form form;
  ui::Image* image;
  ui::FloatAnimation* anim;
  int finished = 0;
};

TEST_F(UiAnimation, FirstFrameAtOnceThenLinearToTheStopValueAndFinish) {
  anim->SetEnabled(true);
  EXPECT_EQ(image->X(), -480);  // applied at once
  EXPECT_TRUE(anim->Running());
  anim->ProcessAt(0.25);
  EXPECT_FLOAT_EQ(image->X(), -240);
  anim->ProcessAt(0.6);
  EXPECT_EQ(image->X(), 0);
  EXPECT_FALSE(anim->Running());
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(anim->Enabled());
}

TEST_F(UiAnimation, EnablingARunningAnimationDoesNotRestartIt) {
  anim->SetEnabled(true);
  anim->ProcessAt(0.25);
  anim->SetStartValue(480);
  anim->SetEnabled(true);
  EXPECT_FLOAT_EQ(image->X(), -240);
  EXPECT_EQ(finished, 0);
}

TEST_F(UiAnimation, DisablingARunningAnimationJumpsToTheEnd) {
  anim->OnFinish = [this](QObject*) { ++finished; };
  anim->SetEnabled(true);
  anim->SetEnabled(false);
  EXPECT_EQ(image->X(), 0);
  EXPECT_EQ(finished, 1);
}

TEST_F(UiAnimation, RunsByItselfInTheEventLoop) {
  anim->SetDuration(0.05f);
  anim->SetEnabled(true);
  EXPECT_TRUE(uitest::PumpUntil([&] { return finished == 1; }));
  EXPECT_EQ(image->X(), 0);
}

TEST(UiImage, AFileThatDoesNotDecodeRaisesAndKeepsTheOldPicture) {
  ui::Image image(nullptr);
  image.LoadFromFile(":/ui-test/red.png");
  EXPECT_EQ(image.Bitmap().size(), QSize(4, 4));
  for (const char* bad : {":/ui-test/broken.png", "/nonexistent/x.png", ":/ui-test/none.svg"}) {
    try {
      image.LoadFromFile(QString::fromLatin1(bad));
      ADD_FAILURE() << bad;
    } catch (const ui::Error& e) {
      EXPECT_TRUE(QString::fromStdU16String(e.Message()).startsWith("Loading bitmap failed"));
    }
    EXPECT_EQ(image.Bitmap().size(), QSize(4, 4)) << bad;
  }
  // A copy of the picture is independent of the original.
  ui::Image copy(nullptr);
  copy.SetPicture(image.GetPicture());
  QImage changed = image.Bitmap();
  changed.fill(Qt::black);
  image.SetBitmap(changed);
  EXPECT_EQ(QColor(copy.Bitmap().pixel(0, 0)), QColor(Qt::red));
  EXPECT_EQ(QColor(image.Bitmap().pixel(0, 0)), QColor(Qt::black));
}

TEST(UiImageList, PicturesAtTheRequestedSize) {
  ui::ImageList list(nullptr);
  list.Add("btn_edit", ":/ui-test/green.svg");
  list.Add("btn_delete", ":/ui-test/red.png");
  EXPECT_EQ(list.IndexOf("btn_delete"), 1);
  EXPECT_EQ(list.Bitmap(QSize(52, 52), 0).size(), QSize(52, 52));
  EXPECT_EQ(list.Bitmap(QSize(48, 48), 1).size(), QSize(48, 48));
  EXPECT_TRUE(list.Bitmap(QSize(48, 48), 2).isNull());
}

TEST(UiOpenDialog, FilterFileNameAndCloseEvent) {
  ui::OpenDialog dialog(nullptr);
  dialog.SetFilter("PPT(*.ppt,*.pptx)|*.ppt;*.pptx");
  EXPECT_EQ(dialog.QtFilter(), "PPT(*.ppt,*.pptx) (*.ppt *.pptx)");
  std::vector<QString> closedWith;
  dialog.OnClose = [&](QObject*) { closedWith.push_back(dialog.FileName()); };
  std::optional<QString> answer = "/home/u/deck.pptx";
  ui::SetFileDialogHook([&](const ui::OpenDialog& d) {
    EXPECT_EQ(&d, &dialog);
    return answer;
  });
  EXPECT_TRUE(dialog.Execute());
  dialog.SetFileName("");
  answer.reset();
  EXPECT_FALSE(dialog.Execute());
  ui::SetFileDialogHook({});
  EXPECT_EQ(closedWith, (std::vector<QString>{"/home/u/deck.pptx", ""}));
}

TEST(UiActivityIndicator, SpinsOnlyWhileAnimating) {
  ui::Form form;
  auto* spinner = new ui::ActivityIndicator(&form);
  spinner->SetBounds(0, 0, 18, 18);
  spinner->SetParent(&form);
  spinner->Start();
  const int phase = spinner->Phase();
  EXPECT_TRUE(uitest::PumpUntil([&] { return spinner->Phase() != phase; }));
  spinner->Stop();
  const int stopped = spinner->Phase();
  uitest::Pump(200ms);
  EXPECT_EQ(spinner->Phase(), stopped);
}

// Calls `seen` for every paint event of the watched widget.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(std::function<void()> seen) : seen_(std::move(seen)) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) seen_();
    return false;
  }

 private:
  std::function<void()> seen_;
};

// A tick reaches the screen: the window is painted again at each new phase, with nothing
// else in the form asking for it.
TEST(UiActivityIndicator, EachTickRepaintsTheWindow) {
  ui::Form form;
  form.SetClientSize(40, 40);
  auto* spinner = new ui::ActivityIndicator(&form);
  spinner->SetBounds(11, 11, 18, 18);
  spinner->SetParent(&form);
  std::set<int> paintedPhases;
  PaintWatch watch([&] { paintedPhases.insert(spinner->Phase()); });
  form.Widget()->installEventFilter(&watch);
  form.Show();
  ASSERT_TRUE(uitest::PumpUntil([&] { return !paintedPhases.empty(); }));
  spinner->Start();
  EXPECT_TRUE(uitest::PumpUntil([&] { return paintedPhases.size() >= 4; }));
  form.Widget()->removeEventFilter(&watch);
}

// Only a change that shows asks for a repaint: a change of a hidden control, of one inside a
// hidden parent or of one under an opaque control that covers the whole window paints nothing
// (an idle window whose hidden clock ticks stays idle), while hiding, showing or uncovering
// does repaint.
TEST(UiRepaint, ChangesThatShowNothingAskForNoRepaint) {
  ui::Form form;
  form.SetClientSize(200, 100);
  auto* page = new ui::Layout(&form);
  page->SetBounds(0, 0, 200, 100);
  page->SetParent(&form);
  auto* clock = new ui::Text(&form);
  clock->SetBounds(10, 10, 80, 20);
  clock->SetParent(page);
  auto* cover = new ui::Rectangle(&form);
  cover->SetBounds(0, 0, 200, 100);
  cover->SetFillColor(0xFF204060);
  cover->SetStrokeVisible(false);
  cover->SetVisible(false);
  cover->SetParent(&form);
  qttest::PaintCounter watch;
  int& paints = watch.paints;
  form.Widget()->installEventFilter(&watch);
  form.Show();
  ASSERT_TRUE(uitest::PumpUntil([&] { return paints > 0; }));
  // Whatever was asked for is painted once the posted events are handled.
  const auto painted_after = [&](const std::function<void()>& change) {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    paints = 0;
    change();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    return paints;
  };
  int tick = 0;
  const auto next_time = [&] { clock->SetText(QString::number(++tick)); };
  struct Case {
    const char* what;
    std::function<void()> before;
    bool repaints;
  };
  const Case cases[] = {
      {"shown", nullptr, true},
      {"hidden", [&] { clock->Hide(); }, false},
      {"its parent hidden", [&] { page->Hide(); }, false},
      {"covered opaquely", [&] { cover->Show(); }, false},
      {"covered by a translucent fill",
       [&] {
         cover->SetFillColor(0x80204060);
         cover->Show();
       },
       true},
      {"covered by a part of the window",
       [&] {
         cover->SetBounds(0, 50, 200, 50);
         cover->Show();
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.before) {
      EXPECT_GT(painted_after(c.before), 0) << "the change itself shows";
    }
    EXPECT_EQ(painted_after(next_time) > 0, c.repaints);
    if (c.before) {
      EXPECT_GT(painted_after([&] {
                  clock->Show();
                  page->Show();
                  cover->Hide();
                }),
                0);
    }
    cover->SetFillColor(0xFF204060);
    cover->SetBounds(0, 0, 200, 100);
  }
  // What changed while it did not show is there when it shows again.
  clock->Hide();
  next_time();
  clock->Show();
  const QImage shot = form.Render(QSize(200, 100));
  clock->SetText(QString());
  EXPECT_NE(shot, form.Render(QSize(200, 100)));
  form.Widget()->removeEventFilter(&watch);
}

// Pixels that differ by more than rounding does: a channel off by over 40 levels.
int ClearlyChangedPixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return a.width() * a.height();
  int changed = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
      if (std::max({std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                    std::abs(p.blue() - q.blue())}) > 40)
        ++changed;
    }
  return changed;
}

// What the form paints of a spinning indicator must turn: the pictures of successive ticks
// differ, also inside a scaled parent and on a high-density screen.
TEST(UiActivityIndicator, PaintedPixelsChangeFromTickToTick) {
  struct Case {
    const char* what;
    float parentScale;
    qreal dpr;
  };
  const Case cases[] = {{"plain", 1.0f, 1.0}, {"scaled parent", 1.6f, 1.0}, {"dpr 2", 1.0f, 2.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui::Form form;
    auto* holder = new ui::Layout(&form);
    holder->SetBounds(4, 4, 30, 30);
    holder->SetScale(c.parentScale, c.parentScale);
    holder->SetParent(&form);
    auto* spinner = new ui::ActivityIndicator(&form);
    spinner->SetBounds(2, 2, 18, 18);
    spinner->SetParent(holder);
    spinner->Start();
    const QSize pixels(qRound(60 * c.dpr), qRound(60 * c.dpr));
    std::vector<QImage> frames{form.Render(pixels, c.dpr)};
    for (int tick = 1; tick <= 3; ++tick) {
      const int phase = spinner->Phase();
      ASSERT_TRUE(uitest::PumpUntil([&] { return spinner->Phase() != phase; }));
      frames.push_back(form.Render(pixels, c.dpr));
      EXPECT_GT(ClearlyChangedPixels(frames[tick - 1], frames[tick]), 0) << "tick " << tick;
    }
    EXPECT_GT(ClearlyChangedPixels(frames[0], frames[2]), 0) << "two ticks apart";
  }
}

}  // namespace
