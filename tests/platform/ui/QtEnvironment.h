#pragma once
// Shared helpers of the UI tests: a QApplication for the whole run, a recording dialog hook
// and a bounded event-loop wait.

#include <QString>
#include <chrono>
#include <functional>
#include <vector>

#include "ui/Application.h"

namespace uitest {

// Records every dialog instead of showing it; removes itself when it goes.
class DialogRecorder {
 public:
  DialogRecorder();
  ~DialogRecorder();
  std::vector<std::pair<ui::DialogKind, QString>> shown;
};

// Runs the UI event loop until `done` holds or `limit` has passed; returns `done()`.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
// Runs the event loop for about `time`.
void Pump(std::chrono::milliseconds time);

}  // namespace uitest
