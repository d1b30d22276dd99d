#include "ui/Screen.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <limits>
#include <mutex>

namespace ui {

namespace {

// The real screens. One form unit is one Qt device-independent pixel, so the DPI scale the
// screen code needs is the screen's device-pixel ratio (its effective DPI / 96).
class QtScreenMetrics : public ScreenMetrics {
 public:
  double DpiScale(QPoint point) const override {
    QScreen* best = QGuiApplication::screenAt(point);
    if (!best) {
      long long bestDistance = std::numeric_limits<long long>::max();
      for (QScreen* s : QGuiApplication::screens()) {
        const QRect g = s->geometry();
        const long long dx = std::max({g.left() - point.x(), 0, point.x() - g.right()});
        const long long dy = std::max({g.top() - point.y(), 0, point.y() - g.bottom()});
        if (dx * dx + dy * dy < bestDistance) {
          bestDistance = dx * dx + dy * dy;
          best = s;
        }
      }
    }
    return best ? best->devicePixelRatio() : 1.0;
  }
  QSize PrimaryScreenSize() const override {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return {};
    const QSize logical = s->geometry().size();
    const double dpr = s->devicePixelRatio();
    return {qRound(logical.width() * dpr), qRound(logical.height() * dpr)};
  }
};

std::mutex g_mutex;
std::shared_ptr<const ScreenMetrics> g_override;

}  // namespace

QPoint ScreenMetrics::CursorPos() const {
  // Qt reports the cursor in device-independent pixels; scale it within its screen so the
  // result is in the screen's device pixels, as the screen size is.
  const QPoint logical = QCursor::pos();
  QScreen* s = QGuiApplication::screenAt(logical);
  if (!s) return logical;
  const QPoint origin = s->geometry().topLeft();
  const double dpr = s->devicePixelRatio();
  return origin +
         QPoint(qRound((logical.x() - origin.x()) * dpr), qRound((logical.y() - origin.y()) * dpr));
}

QPoint CursorPos() {
  return Screen()->CursorPos();
}

std::shared_ptr<const ScreenMetrics> Screen() {
  static const auto real = std::make_shared<const QtScreenMetrics>();
  std::lock_guard lock(g_mutex);
  return g_override ? g_override : real;
}

void SetScreenMetrics(std::shared_ptr<const ScreenMetrics> metrics) {
  std::lock_guard lock(g_mutex);
  g_override = std::move(metrics);
}

}  // namespace ui
