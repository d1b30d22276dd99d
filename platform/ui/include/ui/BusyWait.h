#pragma once
// A wait of the UI thread that only another part of the program can end (a lock another thread
// holds, a socket whose peer no longer reads). Code that waits so calls ServeWhileWaiting() every
// few tens of milliseconds; meanwhile the windows live on in a restricted way:
//  - repaints, exposes, resizes and the windows' own layout updates are handled;
//  - the Escape key goes to its form's OnKeyDown, as at any time;
//  - a click (press and release) on a control given to TakeClicksWhileWaiting runs its OnClick;
//  - every other input (mouse, wheel, keys, focus and activation changes) is dropped, not
//    delivered later: a click made at a window that did not react must not act seconds after;
//  - a window closes when asked to (the program's own Close, the window manager's button);
//  - timer ticks are held back (a running timer ticks again after the wait);
//  - work queued with RunOnUiThread or PostToUiThread is held back and runs, in order, once the
//    wait is over.
// So nothing that could start another wait of the same kind (a send from a handler) runs inside
// one. The handlers that do get through must not wait in turn.

namespace ui {

class Control;

// On the UI thread: handles what is pending for the windows, as above, without waiting. On any
// other thread: nothing.
void ServeWhileWaiting();

// Clicks on `control` (or inside it) are taken during such a wait, e.g. a button that ends the
// program. A destroyed control is forgotten.
void TakeClicksWhileWaiting(Control* control);

}  // namespace ui
