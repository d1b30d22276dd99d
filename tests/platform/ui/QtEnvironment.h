#pragma once
// Shared helpers of the UI tests: a recording dialog hook, and the bounded event-loop waits of
// the Qt test support (which also gives the run its QApplication).

#include <QString>
#include <chrono>
#include <functional>
#include <vector>

#include "QtTestSupport.h"
#include "ui/Application.h"

namespace uitest {

// Records every dialog instead of showing it; removes itself when it goes.
class DialogRecorder {
 public:
  DialogRecorder();
  ~DialogRecorder();
  std::vector<std::pair<ui::DialogKind, QString>> shown;
};

using qttest::Pump;
using qttest::PumpUntil;

}  // namespace uitest
