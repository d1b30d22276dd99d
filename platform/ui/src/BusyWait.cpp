#include "ui/BusyWait.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <deque>
#include <exception>
#include <functional>
#include <vector>

#include "BusyWaitDetail.h"
#include "Surface.h"
#include "ui/Application.h"
#include "ui/Component.h"
#include "ui/Form.h"

namespace ui {

namespace {

class WaitFilter;

// UI thread only.
struct WaitState {
  bool serving = false;  // inside ServeWhileWaiting
  bool draining = false;
  std::deque<std::function<void()>> held;  // queued work that came during a wait, in order
  std::vector<QPointer<Control>> clickable;
  QPointer<Control> pressed;  // a clickable control pressed during the wait
  QPointer<WaitFilter> filter;
  QPointer<QTimer> after;  // fires once the UI thread is back in an event loop
};

WaitState& State() {
  static WaitState state;
  return state;
}

void AfterWait();

// The form whose window `receiver` is or lies in.
Form* FormOf(QObject* receiver) {
  QWidget* top = nullptr;
  if (auto* window = qobject_cast<QWindow*>(receiver)) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->windowHandle() == window) top = w;
  } else if (receiver->isWidgetType()) {
    top = static_cast<QWidget*>(receiver)->window();
  }
  auto* surface = qobject_cast<Surface*>(top);
  return surface ? surface->form() : nullptr;
}

// The event's position in the units of its form's surface.
QPointF SurfacePoint(QObject* receiver, const QMouseEvent* e) {
  if (receiver->isWidgetType()) {
    auto* w = static_cast<QWidget*>(receiver);
    return w->mapTo(w->window(), e->position().toPoint());
  }
  return e->position();
}

Control* ClickableAt(Form* form, QPointF point) {
  WaitState& s = State();
  for (Control* c = form->ObjectAtPoint(point); c; c = c->ParentControl())
    for (const QPointer<Control>& allowed : s.clickable)
      if (allowed == c) return c;
  return nullptr;
}

void TakeMouseButton(QObject* receiver, QMouseEvent* e) {
  WaitState& s = State();
  Form* form = e->button() == Qt::LeftButton ? FormOf(receiver) : nullptr;
  const QPointF point = form ? SurfacePoint(receiver, e) : QPointF();
  Control* hit = form ? ClickableAt(form, point) : nullptr;
  if (e->type() == QEvent::MouseButtonPress) {
    s.pressed = hit;
    return;
  }
  if (e->type() != QEvent::MouseButtonRelease) return;
  QPointer<Control> target = hit;
  const bool click = target && target == s.pressed;
  s.pressed = nullptr;
  if (!click || !target->AbsoluteEnabled() || !target->AbsoluteVisible()) return;
  const QPointF local = target->FormToLocal(point);
  Guarded([&] {
    target->MouseClick(MouseButton::Left, KeyShift(e->modifiers()), static_cast<float>(local.x()),
                       static_cast<float>(local.y()));
  });
}

void TakeKey(QObject* receiver, QKeyEvent* e) {
  if (e->key() != Qt::Key_Escape) return;
  Form* form = FormOf(receiver);
  if (!form) return;
  quint16 key = vk::Escape;
  QChar ch = e->text().isEmpty() ? QChar() : e->text().at(0);
  form->DispatchKeyDown(key, ch, KeyShift(e->modifiers()));
}

// True for the events a wait does not let through. Input is met where it enters (the window)
// and also where it may have been posted to directly (a widget).
bool Intercept(QObject* receiver, QEvent* e) {
  switch (e->type()) {
    case QEvent::KeyPress:
      TakeKey(receiver, static_cast<QKeyEvent*>(e));
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
      TakeMouseButton(receiver, static_cast<QMouseEvent*>(e));
      return true;
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::HoverMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::FocusAboutToChange:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::ActivationChange:
      return true;
    case QEvent::Timer:
      // A window's own timer only brings its repaint; every other tick comes again later.
      return !receiver->isWindowType();
    default:
      return false;
  }
}

class WaitFilter : public QObject {
 public:
  explicit WaitFilter(QObject* parent) : QObject(parent) {}
  // Work held when the application goes can never run.
  ~WaitFilter() override { State().held.clear(); }

  bool eventFilter(QObject* receiver, QEvent* e) override {
    return State().serving && Intercept(receiver, e);
  }
};

void Install() {
  WaitState& s = State();
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || s.filter) return;
  s.filter = new WaitFilter(app);
  app->installEventFilter(s.filter);
  // A zero timer ticks only in an event loop, never inside a wait: it marks the wait's end.
  s.after = new QTimer(app);
  s.after->setSingleShot(true);
  s.after->setInterval(0);
  QObject::connect(s.after, &QTimer::timeout, app, [] { AfterWait(); });
}

void AfterWait() {
  WaitState& s = State();
  s.pressed = nullptr;
  if (s.draining || s.serving) return;
  s.draining = true;
  while (!s.held.empty()) {
    std::function<void()> work = std::move(s.held.front());
    s.held.pop_front();
    try {
      work();
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
  s.draining = false;
}

}  // namespace

void ServeWhileWaiting() {
  if (!IsUiThread()) return;
  WaitState& s = State();
  if (s.serving) return;  // a handler let through is waiting in turn: nothing more is served
  Install();
  if (!s.filter) return;
  s.after->start();
  s.serving = true;
  struct Done {
    ~Done() { State().serving = false; }
  } done;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TakeClicksWhileWaiting(Control* control) {
  WaitState& s = State();
  std::erase_if(s.clickable, [](const QPointer<Control>& c) { return c.isNull(); });
  s.clickable.emplace_back(control);
}

namespace detail {

void RunOrHold(std::function<void()> work) {
  WaitState& s = State();
  if (s.serving || !s.held.empty()) {
    // Behind what is held already, so the order stays.
    s.held.push_back(std::move(work));
    if (!s.draining && s.after) s.after->start();
    return;
  }
  work();
}

}  // namespace detail

}  // namespace ui
