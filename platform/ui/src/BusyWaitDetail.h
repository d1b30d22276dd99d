#pragma once
// What the layer's own queued work goes through, so that a wait of the UI thread holds it back.

#include <functional>

namespace ui::detail {

// On the UI thread, from a queued call: runs `work` now, or, inside a wait (or while work held
// by one is still to run), keeps it to run in order once the wait is over.
void RunOrHold(std::function<void()> work);

}  // namespace ui::detail
