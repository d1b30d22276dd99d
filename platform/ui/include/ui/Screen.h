#pragma once
// Screen metrics for the screen-scaling code, injectable for tests.

#include <QPoint>
#include <QSize>
#include <atomic>
#include <memory>

namespace ui {

class ScreenMetrics {
 public:
  virtual ~ScreenMetrics() = default;
  // Device pixels per form unit of the screen nearest to `point` (desktop coordinates as the
  // window's bounds give them): the monitor's effective DPI / 96.
  virtual double DpiScale(QPoint point) const = 0;
  // The primary screen's size in device pixels.
  virtual QSize PrimaryScreenSize() const = 0;
  // The mouse cursor's position on the desktop in device pixels (what GetCursorPos reports to
  // a DPI-aware program). The real cursor unless a subclass says otherwise.
  virtual QPoint CursorPos() const;
};

// Fixed values, for tests and screenshots.
class FixedScreenMetrics : public ScreenMetrics {
 public:
  FixedScreenMetrics(QSize primaryScreen, double dpiScale) : size_(primaryScreen), dpi_(dpiScale) {}
  double DpiScale(QPoint) const override { return dpi_; }
  QSize PrimaryScreenSize() const override { return size_; }
  // The cursor stands where the test puts it; (0, 0) until then. Safe from any thread.
  QPoint CursorPos() const override { return {cursorX_.load(), cursorY_.load()}; }
  void SetCursorPos(QPoint pixels) const {
    cursorX_.store(pixels.x());
    cursorY_.store(pixels.y());
  }

 private:
  QSize size_;
  double dpi_;
  mutable std::atomic<int> cursorX_{0};
  mutable std::atomic<int> cursorY_{0};
};

// The metrics in force: the override when one is set, else the real screens.
std::shared_ptr<const ScreenMetrics> Screen();
// Sets the override; nullptr returns to the real screens.
void SetScreenMetrics(std::shared_ptr<const ScreenMetrics> metrics);
// Screen()->CursorPos(): the stand-in for GetCursorPos.
QPoint CursorPos();

}  // namespace ui
