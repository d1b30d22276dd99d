#pragma once
// Shared by the Qt-based test programs: linking this library gives the program one QApplication
// for the whole run (offscreen unless QT_QPA_PLATFORM says otherwise) and bounded event-loop waits.

#include <chrono>
#include <functional>

namespace qttest {

// Runs the UI event loop until `done` holds or `limit` has passed; returns `done()`.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
// Runs the event loop for about `time`.
void Pump(std::chrono::milliseconds time);

}  // namespace qttest
