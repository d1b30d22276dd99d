// The windows during a wait of the UI thread that only another part of the program can end: what
// gets through, what is held back until after the wait, what is dropped.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "QtEnvironment.h"
#include "ui/Application.h"
#include "ui/BusyWait.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace {

using namespace std::chrono_literals;

class UiBusyWait : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetClientSize(400, 300);
    exit = Add("exit", 10, 10);
    other = Add("other", 200, 10);
    ui::TakeClicksWhileWaiting(exit);
    form.OnKeyDown = [this](QObject*, quint16& key, QChar&, ui::ShiftState) {
      log.push_back("key " + std::to_string(key));
    };
    form.Show();
    window = form.Widget()->windowHandle();
    ASSERT_NE(window, nullptr);
  }

  ui::Control* Add(const char* name, float x, float y) {
    auto* c = new ui::Rectangle(&form);
    c->SetBounds(x, y, 100, 100);
    c->SetParent(&form);
    c->OnClick = [this, name](QObject*) { log.push_back(std::string(name) + " click"); };
    return c;
  }

  // Input as the window system hands it to the window.
  void PostKey(int key) {
    QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
  }
  void PostButton(QEvent::Type type, QPointF at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QCoreApplication::postEvent(window, new QMouseEvent(type, at, window->mapToGlobal(at),
                                                        Qt::LeftButton, held, Qt::NoModifier));
  }
  void PostClick(QPointF press, QPointF release) {
    PostButton(QEvent::MouseButtonPress, press);
    PostButton(QEvent::MouseButtonRelease, release);
  }

  // A wait of the UI thread: what it lets through happens inside.
  void Wait() {
    inside = true;
    for (int i = 0; i < 20; ++i) ui::ServeWhileWaiting();
    inside = false;
  }
  // What comes after the wait, in the ordinary event loop.
  void After() { uitest::Pump(100ms); }

  ui::Form form;
  ui::Control* exit = nullptr;
  ui::Control* other = nullptr;
  QWindow* window = nullptr;
  std::vector<std::string> log;
  bool inside = false;
};

TEST_F(UiBusyWait, OnlyEscapeAndClicksOnTheWayOutGetThroughTheRestIsDropped) {
  const QPointF in_exit(60, 60), in_other(250, 60);
  struct Case {
    const char* what;
    std::function<void()> input;
    std::vector<std::string> inside;  // and nothing after the wait
  } cases[] = {
      {"Escape", [this] { PostKey(Qt::Key_Escape); }, {"key 27"}},
      {"another key", [this] { PostKey(Qt::Key_A); }, {}},
      {"a click on the way out", [&] { PostClick(in_exit, in_exit); }, {"exit click"}},
      {"a click elsewhere", [&] { PostClick(in_other, in_other); }, {}},
      {"a press on the way out released elsewhere", [&] { PostClick(in_exit, in_other); }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    c.input();
    Wait();
    EXPECT_EQ(log, c.inside);
    After();
    EXPECT_EQ(log, c.inside) << "dropped input came later";
  }
  // Outside a wait, input is the form's as ever.
  log.clear();
  PostClick(in_other, in_other);
  PostKey(Qt::Key_A);
  After();
  EXPECT_EQ(log, (std::vector<std::string>{"other click", "key 65"}));
}

TEST_F(UiBusyWait, QueuedWorkAndTimerTicksWaitAndComeAfterInOrder) {
  std::vector<std::string> ran;
  bool ran_inside = false;
  auto record = [&](std::string what) {
    ran.push_back(std::move(what));
    ran_inside = ran_inside || inside;
  };
  int ticks = 0;
  bool ticked_inside = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    ticked_inside = ticked_inside || inside;
  });
  timer.start(1);
  uitest::PumpUntil([&] { return ticks > 0; });

  ui::PostToUiThread([&] { record("posted before"); });
  std::atomic<bool> asking{false};
  std::atomic<bool> waited{false};
  std::thread other_thread([&] {
    asking = true;
    ui::RunOnUiThread([&] { record("run from another thread"); });
    waited = true;
  });
  // The other thread's work comes while the UI thread waits, served at a write's pace.
  inside = true;
  for (int slices = 0, all = 0; slices < 50 && all < 5000; ++all) {
    ui::ServeWhileWaiting();
    std::this_thread::sleep_for(1ms);
    if (asking) ++slices;
  }
  inside = false;
  ui::PostToUiThread([&] { record("posted after"); });

  EXPECT_TRUE(ran.empty());
  EXPECT_FALSE(waited);
  ticks = 0;
  ASSERT_TRUE(uitest::PumpUntil([&] { return waited && ran.size() == 3 && ticks > 0; }));
  other_thread.join();
  EXPECT_FALSE(ran_inside);
  EXPECT_FALSE(ticked_inside);
  EXPECT_EQ(ran,
            (std::vector<std::string>{"posted before", "run from another thread", "posted after"}));
}

TEST_F(UiBusyWait, TheWindowRepaintsDuringTheWait) {
  struct Counter : QObject {
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
    int paints = 0;
  } counter;
  uitest::Pump(50ms);
  form.Widget()->installEventFilter(&counter);
  other->SetOpacity(0.5f);  // asks for a repaint
  Wait();
  EXPECT_GT(counter.paints, 0);
  form.Widget()->removeEventFilter(&counter);
}

TEST_F(UiBusyWait, ServingFromAnotherThreadDoesNothing) {
  PostKey(Qt::Key_Escape);
  std::thread([] { ui::ServeWhileWaiting(); }).join();
  EXPECT_TRUE(log.empty());
  After();
  EXPECT_EQ(log, (std::vector<std::string>{"key 27"}));
}

TEST(UiDialogs, NoDialogOnceTheShownWindowsAreClosed) {
  uitest::DialogRecorder dialogs;
  {
    ui::Form never_shown;
    ui::ShowMessage(QStringLiteral("before any window"));
  }
  ui::Form form;
  form.Show();
  ui::ShowMessage(QStringLiteral("over the window"));
  form.Close();
  ui::ShowMessage(QStringLiteral("after the window closed"));
  ui::HandleException(std::make_exception_ptr(std::runtime_error("Not Connected")));
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0].second, QStringLiteral("before any window"));
  EXPECT_EQ(dialogs.shown[1].second, QStringLiteral("over the window"));
}

}  // namespace
