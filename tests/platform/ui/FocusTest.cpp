// The keyboard focus the framework's way: a press on a painted control leaves it in the edit or
// memo that has it, the window losing its activation is no leave, and a text control the layer
// hides (covered or in a hidden parent) keeps it. Mouse and keys go through the window as the
// window system delivers them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <memory>

#include "QtEnvironment.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace {

using namespace std::chrono_literals;

class UiFocus : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetClientSize(960, 540);
    bar = new ui::Layout(&form);
    bar->SetBounds(0, 0, 960, 100);
    bar->SetParent(&form);
    memo = new ui::Memo(&form);
    memo->SetBounds(10, 10, 400, 60);
    memo->SetParent(bar);
    memo->OnChange = [this](QObject*) { ++changes; };
    edit = new ui::Edit(&form);
    edit->SetBounds(450, 10, 200, 30);
    edit->SetParent(&form);
    form.OnKeyDown = [this](QObject*, quint16&, QChar& ch, ui::ShiftState) {
      if (!ch.isNull()) formKeys += ch;
    };
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.Widget()));
  }

  QWindow* Window() const { return form.Widget()->windowHandle(); }
  // Keys as the keyboard gives them: to whatever has the focus in the window.
  void Type(const char* text) {
    for (const char* c = text; *c; ++c) QTest::keyClick(Window(), *c);
  }
  void ClickAt(QPointF formPoint) {
    QTest::mouseClick(Window(), Qt::LeftButton, {}, formPoint.toPoint());
  }
  void Click(ui::Control* c) {
    ClickAt(c->LocalToForm().map(QPointF(c->Width() / 2, c->Height() / 2)));
  }
  // A fresh idea in the focused memo.
  void StartIdea() {
    memo->SetText(QString());
    memo->SetFocus();
    Type("Ann");
    ASSERT_EQ(memo->GetText().toStdString(), "Ann");
  }
  bool MemoHasTheKeyboard() const { return QApplication::focusWidget() == memo->Widget(); }
  // Another window takes the keyboard (as a dialog does) and gives it back.
  void SwitchAwayAndBack() {
    QWidget other;
    other.setGeometry(100, 100, 200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    other.hide();
    form.Widget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.Widget()));
    uitest::Pump(20ms);
  }

  ui::Form form;
  ui::Layout* bar;
  ui::Memo* memo;
  ui::Edit* edit;
  int changes = 0;
  QString formKeys;
};

TEST_F(UiFocus, APressOnAPaintedControlLeavesTheFocusOnlyAFocusableOneTakesIt) {
  struct Case {
    const char* kind;
    std::function<ui::Control*(ui::Form&)> make;
    bool takesFocus;
  };
  const Case cases[] = {
      {"Image", [](ui::Form& f) -> ui::Control* { return new ui::Image(&f); }, false},
      {"Rectangle", [](ui::Form& f) -> ui::Control* { return new ui::Rectangle(&f); }, false},
      {"CalloutRectangle with a disabled text",
       [](ui::Form& f) -> ui::Control* {
         auto* card = new ui::CalloutRectangle(&f);
         auto* body = new ui::Text(&f);
         body->SetText("idea");
         body->SetAlign(ui::Align::Client);
         body->SetEnabled(false);
         body->SetParent(card);
         return card;
       },
       false},
      {"Panel", [](ui::Form& f) -> ui::Control* { return new ui::Panel(&f); }, false},
      {"Text", [](ui::Form& f) -> ui::Control* { return new ui::Text(&f); }, false},
      {"Line", [](ui::Form& f) -> ui::Control* { return new ui::Line(&f); }, false},
      {"PaintBox", [](ui::Form& f) -> ui::Control* { return new ui::PaintBox(&f); }, false},
      {"HorzScrollBox", [](ui::Form& f) -> ui::Control* { return new ui::HorzScrollBox(&f); },
       false},
      {"ActivityIndicator",
       [](ui::Form& f) -> ui::Control* { return new ui::ActivityIndicator(&f); }, false},
      {"the form itself", [](ui::Form&) -> ui::Control* { return nullptr; }, false},
      {"ListBox",
       [](ui::Form& f) -> ui::Control* {
         auto* list = new ui::ListBox(&f);
         auto* item = new ui::ListBoxItem(list);
         item->SetHeight(80);
         list->AddItem(item);
         return list;
       },
       true},
  };
  int x = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    ui::Control* target = c.make(form);
    if (target) {
      target->SetBounds(static_cast<float>(x), 200, 80, 80);
      target->SetParent(&form);
      x += 86;
    }
    form.Flush();
    StartIdea();
    changes = 0;
    formKeys.clear();
    if (target)
      Click(target);
    else
      ClickAt({900, 500});
    uitest::Pump(20ms);  // a change report would come from the event loop
    Type("Z");
    if (c.takesFocus) {
      EXPECT_FALSE(memo->IsFocused());
      EXPECT_EQ(changes, 1);  // the memo left after its text changed
      EXPECT_EQ(memo->GetText().toStdString(), "Ann");
      EXPECT_EQ(formKeys.toStdString(), "Z");  // the window has the keys now
    } else {
      EXPECT_TRUE(MemoHasTheKeyboard());
      EXPECT_EQ(changes, 0);
      EXPECT_EQ(memo->GetText().toStdString(), "AnnZ");
    }
  }

  // A click into the edit moves the focus there; the memo reports its change as it leaves.
  StartIdea();
  changes = 0;
  Click(edit);
  uitest::Pump(20ms);
  EXPECT_EQ(QApplication::focusWidget(), edit->Widget());
  EXPECT_EQ(changes, 1);
  Type("Bo");
  EXPECT_EQ(edit->GetText().toStdString(), "Bo");
}

TEST_F(UiFocus, TheWindowLosingItsActivationIsNoLeave) {
  StartIdea();
  changes = 0;
  SwitchAwayAndBack();
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(MemoHasTheKeyboard());

  // Only a focus change inside the window is a leave.
  struct Case {
    Qt::FocusReason reason;
    int changes;
  };
  for (const Case& c : {Case{Qt::ActiveWindowFocusReason, 0}, Case{Qt::PopupFocusReason, 0},
                        Case{Qt::MouseFocusReason, 1}, Case{Qt::TabFocusReason, 1},
                        Case{Qt::OtherFocusReason, 1}}) {
    SCOPED_TRACE(c.reason);
    StartIdea();
    changes = 0;
    QFocusEvent out(QEvent::FocusOut, c.reason);
    QApplication::sendEvent(memo->Widget(), &out);
    uitest::Pump(20ms);
    EXPECT_EQ(changes, c.changes);
  }
}

TEST_F(UiFocus, ActivationGivesTheFocusBackOnlyToTheControlThatHadIt) {
  // Qt would give an activated window's first text box the focus when none had it.
  memo->SetText(QString());
  memo->Widget()->clearFocus();
  SwitchAwayAndBack();
  EXPECT_EQ(QApplication::focusWidget(), nullptr);
  Type("x");
  EXPECT_EQ(formKeys.toStdString(), "x");

  // A memo the layer hides keeps the focus through it: the edit beside it does not take it.
  StartIdea();
  changes = 0;
  bar->SetVisible(false);
  form.Flush();
  SwitchAwayAndBack();
  EXPECT_EQ(QApplication::focusWidget(), nullptr);
  EXPECT_TRUE(memo->IsFocused());
  EXPECT_EQ(changes, 0);
  bar->SetVisible(true);
  form.Flush();
  EXPECT_TRUE(MemoHasTheKeyboard());

  // Tab still moves on from box to box.
  QTest::keyClick(Window(), Qt::Key_Tab);
  uitest::Pump(20ms);
  EXPECT_EQ(QApplication::focusWidget(), edit->Widget());
  EXPECT_EQ(changes, 1);
}

TEST_F(UiFocus, AMemoTheLayerHidesKeepsTheFocusAndGetsItBackWhenItShows) {
  auto* shade = new ui::Rectangle(&form);  // an overlay above the bar
  shade->SetBounds(0, 0, 960, 540);
  shade->SetVisible(false);
  shade->SetParent(&form);
  struct Case {
    const char* what;
    std::function<void(bool)> hide;
  };
  const Case cases[] = {
      {"covered by an overlay", [&](bool on) { shade->SetVisible(on); }},
      {"its parent hidden", [&](bool on) { bar->SetVisible(!on); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartIdea();
    changes = 0;
    formKeys.clear();
    c.hide(true);
    form.Flush();
    uitest::Pump(20ms);
    EXPECT_TRUE(memo->Widget()->isHidden());
    EXPECT_TRUE(memo->IsFocused());
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
    Type("x");  // into nothing nobody sees: the window has the keys meanwhile
    EXPECT_EQ(formKeys.toStdString(), "x");
    c.hide(false);
    form.Flush();
    EXPECT_TRUE(MemoHasTheKeyboard());
    Type("Z");
    uitest::Pump(20ms);
    EXPECT_EQ(memo->GetText().toStdString(), "AnnZ");
    EXPECT_EQ(changes, 0);
  }

  // The hidden memo still leaves when the focus goes elsewhere, and reports its change then.
  StartIdea();
  changes = 0;
  shade->SetVisible(true);
  form.Flush();
  edit->SetFocus();  // covered too: it takes the focus all the same
  uitest::Pump(20ms);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(memo->IsFocused());
  EXPECT_TRUE(edit->IsFocused());
  shade->SetVisible(false);
  form.Flush();
  EXPECT_EQ(QApplication::focusWidget(), edit->Widget());

  // A hidden control cannot take the focus.
  bar->SetVisible(false);
  form.Flush();
  memo->SetFocus();
  EXPECT_FALSE(memo->IsFocused());
  bar->SetVisible(true);
  form.Flush();
  EXPECT_EQ(QApplication::focusWidget(), edit->Widget());
}

}  // namespace
