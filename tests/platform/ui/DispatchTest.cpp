// Mouse and key dispatch the framework's way.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "QtEnvironment.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace {

using ui::Control;
using ui::MouseButton;
using ui::ShiftState;

// Records the events every control of a test receives, in order.
struct Log {
  std::vector<std::string> events;
  void Watch(Control* c) {
    const std::string n = c->Name().toStdString();
    c->OnMouseDown = [this, n](QObject*, MouseButton, ShiftState, float x, float y) {
      events.push_back(n + " down " + std::to_string(int(x)) + "," + std::to_string(int(y)));
    };
    c->OnMouseMove = [this, n](QObject*, ShiftState, float x, float y) {
      events.push_back(n + " move " + std::to_string(int(x)) + "," + std::to_string(int(y)));
    };
    c->OnMouseUp = [this, n](QObject*, MouseButton, ShiftState, float, float) {
      events.push_back(n + " up");
    };
    c->OnClick = [this, n](QObject*) { events.push_back(n + " click"); };
    c->OnMouseLeave = [this, n](QObject*) { events.push_back(n + " leave"); };
  }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
};

class UiDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetClientSize(400, 300);
    back = Add("back", &form, 0, 0, 400, 300);
    a = Add("a", back, 10, 10, 100, 100);
    b = Add("b", back, 50, 50, 100, 100);     // later sibling: above a
    inner = Add("inner", b, 60, 60, 20, 20);  // at (110, 110) in the form, outside a
  }
  Control* Add(const char* name, Control* parent, float x, float y, float w, float h) {
    auto* c = new ui::Rectangle(&form);
    c->SetName(QString::fromLatin1(name));
    c->SetBounds(x, y, w, h);
    c->SetParent(parent);
    log.Watch(c);
    return c;
  }
  void Down(float x, float y) { form.DispatchMouseDown(MouseButton::Left, {}, {x, y}); }
  void Move(float x, float y) { form.DispatchMouseMove({}, {x, y}); }
  void Up(float x, float y) { form.DispatchMouseUp(MouseButton::Left, {}, {x, y}); }

  ui::Form form;
  Log log;
  Control *back, *a, *b, *inner;
};

TEST_F(UiDispatch, PressGoesToTheTopmostControlUnderThePointerInLocalUnits) {
  Down(70, 70);  // inside a and b: b is drawn above a
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"b down 20,20"}));
  Up(70, 70);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"b up", "b click"}));
  // A press elsewhere also moves the hover there: b hears its leave first.
  Down(115, 115);  // inner, the child of b, lies above b
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"b leave", "inner down 5,5"}));
  Up(115, 115);
  log.Take();
  a->BringToFront();
  Down(70, 70);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"inner leave", "a down 60,60"}));
}

TEST_F(UiDispatch, HiddenDisabledAndNonHitTestableControlsLetThePressThrough) {
  struct Case {
    const char* what;
    std::function<void()> change;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"hidden", [&] { b->Hide(); }, "a down 60,60"},
      {"disabled", [&] { b->SetEnabled(false); }, "a down 60,60"},
      {"no hit test", [&] { b->SetHitTest(false); }, "a down 60,60"},
  };
  for (const Case& c : cases) {
    c.change();
    Down(70, 70);
    Up(70, 70);
    const auto events = log.Take();
    ASSERT_FALSE(events.empty()) << c.what;
    EXPECT_EQ(events.front(), c.expected) << c.what;
    b->Show();
    b->SetEnabled(true);
    b->SetHitTest(true);
  }
  // A control that takes no hit tests still passes the press on to its children.
  b->SetHitTest(false);
  Down(115, 115);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"a leave", "inner down 5,5"}));
  // A disabled parent disables its subtree.
  Up(115, 115);
  log.Take();
  b->SetEnabled(false);
  Down(115, 115);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"inner leave", "back down 115,115"}));
}

TEST_F(UiDispatch, ClickNeedsPressAndReleaseOnTheSameControl) {
  Down(70, 70);  // b
  Up(20, 20);    // a
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"b down 20,20", "a up"}));
}

TEST_F(UiDispatch, MovesGoToTheControlUnderThePointerAndLeavingRaisesLeave) {
  Move(20, 20);
  Move(70, 70);
  Move(72, 72);
  Move(300, 250);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"a move 10,10", "a leave", "b move 20,20",
                                                  "b move 22,22", "b leave", "back move 300,250"}));
  form.DispatchMouseLeave();
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"back leave"}));
}

TEST_F(UiDispatch, AutoCaptureKeepsMovesAndReleaseOnThePressedControl) {
  b->SetAutoCapture(true);
  Down(70, 70);
  Move(300, 250);  // far outside b
  EXPECT_EQ(form.Captured(), b);
  Up(300, 250);
  EXPECT_EQ(log.Take(),
            (std::vector<std::string>{"b down 20,20", "b move 250,200", "b up", "b leave"}));
  EXPECT_EQ(form.Captured(), nullptr);
  // Without capture the same gesture moves over to the control under the pointer.
  b->SetAutoCapture(false);
  Down(70, 70);
  Move(300, 250);
  Up(300, 250);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"back leave", "b down 20,20", "b leave",
                                                  "back move 300,250", "back up"}));
}

TEST_F(UiDispatch, AutoCaptureSetDuringAGestureTakesEffectAtTheNextPress) {
  b->OnMouseMove = [this](QObject*, ShiftState, float, float) { b->SetAutoCapture(true); };
  Down(70, 70);
  Move(72, 72);
  Move(300, 250);
  EXPECT_EQ(form.Captured(), nullptr);
  Up(300, 250);
  Down(70, 70);
  EXPECT_EQ(form.Captured(), b);
}

TEST_F(UiDispatch, HandlerThatDestroysItsControlLeavesTheDispatchSound) {
  b->OnMouseDown = [this](QObject*, MouseButton, ShiftState, float, float) { delete b; };
  b->SetAutoCapture(true);
  Down(70, 70);
  Move(20, 20);
  Up(20, 20);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"a move 10,10", "a up"}));
}

// A control taken off the window in the middle of a gesture (a board clear detaches the page
// being dragged) hears nothing more: no move, release, click or leave, whether it held the
// capture, the hover or only the press, and also when its parent is the one detached.
TEST_F(UiDispatch, AControlTakenOffTheWindowMidGestureGetsNoFurtherEvents) {
  struct Case {
    const char* what;
    bool capture;
    QPointF press;
    std::function<void()> remove;
    std::string pressed;  // the control that took the press
  };
  const std::vector<Case> cases = {
      {"captured, detached", true, {70, 70}, [&] { b->SetParent(nullptr); }, "b"},
      {"hovered, detached", false, {70, 70}, [&] { b->SetParent(nullptr); }, "b"},
      {"captured, its parent detached", true, {115, 115}, [&] { b->SetParent(nullptr); }, "inner"},
      {"hovered, its parent detached", false, {115, 115}, [&] { b->SetParent(nullptr); }, "inner"},
      {"captured, destroyed", true, {70, 70}, [&] { delete b; }, "b"},
  };
  delete b;  // each case makes its own b and inner
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    b = Add("b", back, 50, 50, 100, 100);
    inner = Add("inner", b, 60, 60, 20, 20);
    const QPointer<Control> made = b;
    (c.pressed == "b" ? b : inner)->SetAutoCapture(c.capture);
    Down(static_cast<float>(c.press.x()), static_cast<float>(c.press.y()));
    Move(static_cast<float>(c.press.x()) + 2, static_cast<float>(c.press.y()) + 2);
    ASSERT_EQ(log.Take().size(), 2u);
    c.remove();
    Move(300, 250);
    Up(300, 250);
    form.DispatchMouseLeave();
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"back move 300,250", "back up", "back leave"}));
    EXPECT_EQ(form.Captured(), nullptr);
    delete made.data();
  }
}

TEST_F(UiDispatch, ScaledParentGivesHandlersDesignUnits) {
  auto* panel = new ui::Layout(&form);
  panel->SetBounds(0, 0, 100, 100);
  panel->SetScale(2, 2);
  panel->SetParent(&form);
  Control* cell = Add("cell", panel, 10, 10, 20, 10);
  Down(30, 30);  // design (15, 15) = cell-local (5, 5)
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"cell down 5,5"}));
  (void)cell;
}

TEST_F(UiDispatch, RealMouseEventsOfTheWindowReachTheDispatch) {
  QWidget* w = form.Widget();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(70, 70), w->mapToGlobal(QPointF(70, 70)),
                    Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(70, 70), w->mapToGlobal(QPointF(70, 70)),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  ShiftState seen;
  b->OnMouseDown = [&](QObject*, MouseButton, ShiftState s, float, float) { seen = s; };
  QApplication::sendEvent(w, &press);
  QApplication::sendEvent(w, &release);
  EXPECT_TRUE(seen.testFlag(ui::ssShift));
  EXPECT_TRUE(seen.testFlag(ui::ssLeft));
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"b up", "b click"}));
}

TEST_F(UiDispatch, KeyDownReachesTheFormWithKeyCodeAndShiftState) {
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    QString text;
    quint16 code;
    ShiftState shift;
  };
  const std::vector<Case> cases = {
      {Qt::Key_Escape, Qt::NoModifier, "\x1b", 27, {}},
      {Qt::Key_Return, Qt::ShiftModifier, "\r", 13, ui::ssShift},
      {Qt::Key_Enter, Qt::ControlModifier, "\r", 13, ui::ssCtrl},
      {Qt::Key_A, Qt::AltModifier, "a", 65, ui::ssAlt},
      {Qt::Key_Left, Qt::NoModifier, "", 37, {}},
  };
  std::vector<std::pair<quint16, ShiftState>> seen;
  form.OnKeyDown = [&](QObject* sender, quint16& key, QChar&, ShiftState s) {
    EXPECT_EQ(sender, &form);
    seen.emplace_back(key, s);
  };
  for (const Case& c : cases) {
    QKeyEvent e(QEvent::KeyPress, c.key, c.mods, c.text);
    QApplication::sendEvent(form.Widget(), &e);
  }
  ASSERT_EQ(seen.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(seen[i].first, cases[i].code) << i;
    EXPECT_EQ(seen[i].second, cases[i].shift) << i;
  }
}

TEST_F(UiDispatch, KeysTypedIntoAnEditReachTheFormFirstThenTheEdit) {
  auto* edit = new ui::Edit(&form);
  edit->SetBounds(200, 10, 100, 20);
  edit->SetParent(&form);
  form.Flush();
  std::vector<std::string> order;
  form.OnKeyDown = [&](QObject*, quint16& key, QChar&, ShiftState) {
    order.push_back("form " + std::to_string(key));
  };
  edit->OnKeyDown = [&](QObject* sender, quint16& key, QChar& ch, ShiftState) {
    EXPECT_EQ(sender, edit);
    order.push_back("edit " + std::to_string(key));
    if (ch == QChar('x')) {  // consumed: never reaches the text
      key = 0;
      ch = QChar();
    }
  };
  QKeyEvent keyA(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QKeyEvent keyX(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
  QApplication::sendEvent(edit->Widget(), &keyA);
  QApplication::sendEvent(edit->Widget(), &keyX);
  EXPECT_EQ(order, (std::vector<std::string>{"form 65", "edit 65", "form 88", "edit 88"}));
  EXPECT_EQ(edit->GetText(), "a");
}

}  // namespace
