#include "QtEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <memory>

namespace uitest {

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[9] = "ui_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

DialogRecorder::DialogRecorder() {
  ui::SetDialogHook(
      [this](ui::DialogKind kind, const QString& text) { shown.emplace_back(kind, text); });
}

DialogRecorder::~DialogRecorder() {
  ui::SetDialogHook({});
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limit.count()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return done();
}

void Pump(std::chrono::milliseconds time) {
  PumpUntil([] { return false; }, time);
}

}  // namespace uitest
