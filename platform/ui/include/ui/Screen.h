#pragma once
// Screen metrics for the screen-scaling code, injectable for tests.

#include <QPoint>
#include <QSize>
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
};

// Fixed values, for tests and screenshots.
class FixedScreenMetrics : public ScreenMetrics {
 public:
  FixedScreenMetrics(QSize primaryScreen, double dpiScale) : size_(primaryScreen), dpi_(dpiScale) {}
  double DpiScale(QPoint) const override { return dpi_; }
  QSize PrimaryScreenSize() const override { return size_; }

 private:
  QSize size_;
  double dpi_;
};

// The metrics in force: the override when one is set, else the real screens.
std::shared_ptr<const ScreenMetrics> Screen();
// Sets the override; nullptr returns to the real screens.
void SetScreenMetrics(std::shared_ptr<const ScreenMetrics> metrics);

}  // namespace ui
