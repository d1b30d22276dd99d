// Exceptions from handlers, the UI thread, dialogs and screen metrics.

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "QtEnvironment.h"
#include "rtl/Exception.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/Screen.h"

namespace {

using namespace std::chrono_literals;

TEST(UiErrors, AnExceptionLeavingAHandlerIsShownAndTheProgramGoesOn) {
  uitest::DialogRecorder dialogs;
  ui::Form form;
  form.SetClientSize(100, 100);
  auto* button = new ui::Rectangle(&form);
  button->SetBounds(0, 0, 50, 50);
  button->SetParent(&form);
  int clicks = 0;
  button->OnClick = [&](QObject*) {
    ++clicks;
    throw rtl::Exception(std::string_view("Please check the network connection status"));
  };
  for (int i = 0; i < 2; ++i) {
    form.DispatchMouseDown(ui::MouseButton::Left, {}, {10, 10});
    form.DispatchMouseUp(ui::MouseButton::Left, {}, {10, 10});
  }
  EXPECT_EQ(clicks, 2);
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0].first, ui::DialogKind::Error);
  EXPECT_EQ(dialogs.shown[0].second, "Please check the network connection status");
}

TEST(UiErrors, MessagesOfTheKindsOfException) {
  auto message = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return ui::ExceptionMessage(std::current_exception());
    }
    return QString("none");
  };
  EXPECT_EQ(message([] { throw ui::Error("The specified path was not found"); }),
            "The specified path was not found");
  EXPECT_EQ(message([] { throw std::runtime_error("plain"); }), "plain");
  EXPECT_EQ(message([] { throw 42; }), "");
}

TEST(UiErrors, ATimerWhoseHandlerThrowsKeepsTicking) {
  uitest::DialogRecorder dialogs;
  ui::Timer timer(nullptr);
  timer.SetInterval(2);
  timer.OnTimer = [](QObject*) { throw std::runtime_error("tick failed"); };
  EXPECT_TRUE(uitest::PumpUntil([&] { return dialogs.shown.size() >= 2; }));
  EXPECT_EQ(dialogs.shown[1].second, "tick failed");
}

TEST(UiThread, RunOnUiThreadFromAnotherThreadRunsThereAndWaits) {
  std::atomic<bool> finished{false};
  QThread* ran = nullptr;
  std::string caught;
  std::thread worker([&] {
    ui::RunOnUiThread([&] { ran = QThread::currentThread(); });
    try {
      ui::RunOnUiThread([] { throw ui::Error("send failed"); });
    } catch (const ui::Error& e) {
      caught = e.what();
    }
    finished = true;
  });
  const bool done = uitest::PumpUntil([&] { return finished.load(); });
  worker.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(ran, QThread::currentThread());
  EXPECT_EQ(caught, "send failed");  // raised again in the caller
}

TEST(UiThread, RunOnUiThreadOnTheUiThreadRunsAtOnce) {
  bool ran = false;
  ui::RunOnUiThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(ui::IsUiThread());
}

TEST(UiThread, PostedWorkRunsLaterAndItsErrorsAreShown) {
  uitest::DialogRecorder dialogs;
  std::atomic<int> ran{0};
  std::thread worker([&] {
    ui::PostToUiThread([&] { ++ran; });
    ui::PostToUiThread([] { throw std::runtime_error("posted failure"); });
  });
  worker.join();
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(uitest::PumpUntil([&] { return ran == 1 && !dialogs.shown.empty(); }));
  EXPECT_EQ(dialogs.shown[0].second, "posted failure");
}

TEST(UiDialogs, ShowMessageGoesThroughTheHookFromAnyThread) {
  uitest::DialogRecorder dialogs;
  ui::ShowMessage("Please enter an idea");
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    ui::ShowMessage("from a worker");
    finished = true;
  });
  uitest::PumpUntil([&] { return finished.load(); });
  worker.join();
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0],
            std::make_pair(ui::DialogKind::Message, QString("Please enter an idea")));
  EXPECT_EQ(dialogs.shown[1].second, "from a worker");
}

TEST(UiScreenMetrics, OverrideAndRealScreens) {
  const auto real = ui::Screen();
  EXPECT_FALSE(real->PrimaryScreenSize().isEmpty());
  EXPECT_GT(real->DpiScale(QPoint(100000, 100000)), 0.0);  // far away: the nearest screen
  ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(QSize(2560, 1600), 1.5));
  EXPECT_EQ(ui::Screen()->PrimaryScreenSize(), QSize(2560, 1600));
  EXPECT_EQ(ui::Screen()->DpiScale(QPoint(0, 0)), 1.5);
  ui::SetScreenMetrics(nullptr);
  EXPECT_EQ(ui::Screen(), real);
}

TEST(UiScreenMetrics, CursorPositionFollowsTheOverrideElseTheRealCursor) {
  auto fixed = std::make_shared<ui::FixedScreenMetrics>(QSize(1920, 1080), 2.0);
  ui::SetScreenMetrics(fixed);
  EXPECT_EQ(ui::CursorPos(), QPoint(0, 0));
  fixed->SetCursorPos(QPoint(1234, -7));
  EXPECT_EQ(ui::CursorPos(), QPoint(1234, -7));
  ui::SetScreenMetrics(nullptr);

  QCursor::setPos(QPoint(30, 40));
  const double dpr = QGuiApplication::primaryScreen()->devicePixelRatio();
  EXPECT_EQ(ui::CursorPos(), QPoint(qRound(30 * dpr), qRound(40 * dpr)));
}

}  // namespace
