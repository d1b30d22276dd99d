#pragma once
// Shared by the Qt-based test programs: linking this library gives the program one QApplication
// for the whole run (offscreen unless QT_QPA_PLATFORM says otherwise) and bounded event-loop waits.

#include <QEvent>
#include <QObject>
#include <chrono>
#include <functional>

namespace qttest {

// Runs the UI event loop until `done` holds or `limit` has passed; returns `done()`.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
// Runs the event loop for about `time`.
void Pump(std::chrono::milliseconds time);

// Counts the paint events of the widgets it is installed on as an event filter.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

}  // namespace qttest
