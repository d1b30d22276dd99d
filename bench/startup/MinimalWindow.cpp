// vm-minimal-window: the least a Qt 6 Widgets program does to show a window, as the yardstick of
// the client's start-up: one full-screen widget that fills itself with a colour. Prints the time
// from process start to its first painted frame and its resident memory once idle, measured as
// vellumark-screenshot measures the client.

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include "StartupProbe.h"

namespace {

class Window : public QWidget {
 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter(this).fillRect(event->rect(), QColor(0x2B, 0x35, 0x45));
  }
};

}  // namespace

int main(int argc, char** argv) {
  const double mainMs = startup::MillisecondsSinceProcessStart();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  startup::FirstFrame frame;
  Window window;
  window.installEventFilter(&frame);
  window.showFullScreen();
  for (int i = 0; i < 300 && frame.atMs < 0; ++i) startup::Pump(10);
  startup::Pump(2000);
  std::printf("main entered: %.1f ms after process start\n", mainMs);
  std::printf("window size: %d x %d\n", window.width(), window.height());
  startup::PrintFirstFrameAndIdleMemory(frame);
  return frame.atMs < 0 ? 1 : 0;
}
