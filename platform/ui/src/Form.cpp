#include "ui/Form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "Properties.h"
#include "Surface.h"
#include "ui/Application.h"
#include "ui/Binding.h"
#include "ui/Controls.h"
#include "ui/Description.h"

namespace ui {

namespace {

MouseButton ToButton(Qt::MouseButton b) {
  switch (b) {
    case Qt::RightButton:
      return MouseButton::Right;
    case Qt::MiddleButton:
      return MouseButton::Middle;
    default:
      return MouseButton::Left;
  }
}

ShiftState ToShift(Qt::KeyboardModifiers m, Qt::MouseButtons buttons = Qt::NoButton) {
  ShiftState s;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  if (buttons & Qt::LeftButton) s |= ssLeft;
  if (buttons & Qt::RightButton) s |= ssRight;
  if (buttons & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

}  // namespace

quint16 VirtualKey(int k) {
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return static_cast<quint16>('A' + (k - Qt::Key_A));
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return static_cast<quint16>('0' + (k - Qt::Key_0));
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return static_cast<quint16>(vk::F1 + (k - Qt::Key_F1));
  switch (k) {
    case Qt::Key_Backspace:
      return vk::Back;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return vk::Tab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return vk::Return;
    case Qt::Key_Shift:
      return vk::Shift;
    case Qt::Key_Control:
      return vk::Control;
    case Qt::Key_Alt:
      return vk::Menu;
    case Qt::Key_Escape:
      return vk::Escape;
    case Qt::Key_Space:
      return vk::Space;
    case Qt::Key_PageUp:
      return vk::Prior;
    case Qt::Key_PageDown:
      return vk::Next;
    case Qt::Key_End:
      return vk::End;
    case Qt::Key_Home:
      return vk::Home;
    case Qt::Key_Left:
      return vk::Left;
    case Qt::Key_Up:
      return vk::Up;
    case Qt::Key_Right:
      return vk::Right;
    case Qt::Key_Down:
      return vk::Down;
    case Qt::Key_Insert:
      return vk::Insert;
    case Qt::Key_Delete:
      return vk::Delete;
    default:
      return 0;
  }
}

ShiftState KeyShift(Qt::KeyboardModifiers m) {
  return ToShift(m);
}

// Runs every `make` on up to as many threads as there are cores, the biggest first, each result
// going to the future its control was given. A `make` that fails leaves its picture to the paint.
class PaintWorkers {
 public:
  explicit PaintWorkers(std::vector<PaintWork> work) {
    std::stable_sort(work.begin(), work.end(),
                     [](const PaintWork& a, const PaintWork& b) { return a.pixels > b.pixels; });
    for (PaintWork& w : work) {
      std::promise<QImage> promise;
      w.expect(promise.get_future());
      jobs_.push_back({std::move(w.make), std::move(promise)});
    }
    const std::size_t threads =
        std::min<std::size_t>(jobs_.size(), std::max(1u, std::thread::hardware_concurrency()));
    try {
      while (threads_.size() < threads) threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
      if (threads_.empty()) Run();  // no thread at all: made here, now
    }
  }
  ~PaintWorkers() {
    for (std::thread& t : threads_) t.join();
  }

 private:
  void Run() {
    for (std::size_t i; (i = next_.fetch_add(1)) < jobs_.size();) {
      QImage made;
      try {
        made = jobs_[i].make();
      } catch (...) {
        made = QImage();
      }
      jobs_[i].done.set_value(std::move(made));
    }
  }
  struct Job {
    std::function<QImage()> make;
    std::promise<QImage> done;
  };
  std::vector<Job> jobs_;
  std::atomic<std::size_t> next_{0};
  std::vector<std::thread> threads_;
};

// ---------------------------------------------------------------- Surface

Surface::Surface(Form* form) : form_(form) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  // The painted controls cannot take the focus, so neither can the widget they are painted on:
  // a click on it leaves the focus in the edit or memo that has it. Keys still arrive here while
  // no text widget has the focus, since Qt gives them to the window then.
  setFocusPolicy(Qt::NoFocus);
}

void Surface::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                   QPainter::TextAntialiasing);
  form_->PaintTree(p);
}

void Surface::resizeEvent(QResizeEvent*) {
  form_->WidgetResized(size());
}

void Surface::mousePressEvent(QMouseEvent* e) {
  form_->DispatchMouseDown(ToButton(e->button()), ToShift(e->modifiers(), e->buttons()),
                           e->position());
}
void Surface::mouseMoveEvent(QMouseEvent* e) {
  form_->DispatchMouseMove(ToShift(e->modifiers(), e->buttons()), e->position());
}
void Surface::mouseReleaseEvent(QMouseEvent* e) {
  form_->DispatchMouseUp(ToButton(e->button()), ToShift(e->modifiers(), e->buttons()),
                         e->position());
}
void Surface::leaveEvent(QEvent*) {
  form_->DispatchMouseLeave();
}
void Surface::wheelEvent(QWheelEvent* e) {
  const int delta = e->angleDelta().y() != 0 ? e->angleDelta().y() : e->angleDelta().x();
  form_->DispatchMouseWheel(ToShift(e->modifiers()), e->position(), delta);
}
void Surface::keyPressEvent(QKeyEvent* e) {
  quint16 key = VirtualKey(e->key());
  QChar ch = e->text().isEmpty() ? QChar() : e->text().at(0);
  form_->DispatchKeyDown(key, ch, ToShift(e->modifiers()));
}
void Surface::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) {
    form_->KeepTextFocusOnActivation();
    form_->DispatchActivate();
  }
  QWidget::changeEvent(e);
}
void Surface::closeEvent(QCloseEvent* e) {
  if (form_->OnClose) Guarded([&] { form_->OnClose(form_); });
  e->accept();
}

// ---------------------------------------------------------------- Frame

void Frame::LoadDescription(const QString& resource) {
  ui::LoadDescription(this, resource);
}

// ---------------------------------------------------------------- Form

namespace {

// Qt fills its font database the first time any text is measured or drawn: fontconfig reads its
// configuration and lists every font, milliseconds of work that the first window's texts and
// artwork wait for. The first window has it filled on a thread of its own while it is built (the
// database is locked while it fills, so a text that needs it meanwhile waits for it). Forms are
// made and destroyed on the UI thread only.
struct FontFiller {
  std::thread thread;
  bool started = false;
  ~FontFiller() { Finish(); }
  // Before the application, and with it the font database, can go.
  void Finish() {
    if (thread.joinable()) thread.join();
  }
} g_fontFiller;

void StartFillingFontDatabase() {
  if (g_fontFiller.started) return;
  g_fontFiller.started = true;
  try {
    g_fontFiller.thread = std::thread([] { QFontDatabase::families(); });
  } catch (const std::system_error&) {
    // Then the first text fills it.
  }
}

}  // namespace

Form::Form(QObject* owner) : Control(owner), surface_(std::make_unique<Surface>(this)) {
  StartFillingFontDatabase();
  isForm_ = true;
  SetSize(640, 480);
  surface_->resize(640, 480);
}

Form::~Form() {
  // Text widgets live on with their controls; take them off the window before it goes.
  for (auto& n : hosted_)
    if (n && n->widget_) {
      n->widget_->hide();
      n->widget_->setParent(nullptr);
    }
  hosted_.clear();
  isForm_ = false;
  surface_.reset();
  paintWorkers_.reset();
  g_fontFiller.Finish();
}

void Form::LoadDescription(const QString& resource) {
  ui::LoadDescription(this, resource);
}

void Form::SetCaption(const QString& caption) {
  caption_ = caption;
  surface_->setWindowTitle(caption);
}

void Form::SetClientSize(int width, int height) {
  surface_->resize(width, height);
  WidgetResized(QSize(width, height));
}

void Form::WidgetResized(QSize size) {
  if (inWidgetResize_) return;
  inWidgetResize_ = true;
  SetSize(static_cast<float>(size.width()), static_cast<float>(size.height()));
  inWidgetResize_ = false;
}

void Form::SetFillColor(AlphaColor c) {
  fill_ = c;
  Changed();
}

QWidget* Form::Widget() const {
  return surface_.get();
}

void Form::Show() {
  if (FullScreen()) CoverScreen();
  SyncNative();
  surface_->show();
  // A window manager gives a new window the keyboard; without one the window would only get it
  // at the first click, and neither keys nor activation would reach it before.
  surface_->activateWindow();
  // The first paint comes from the event loop, once the window is up. Shown, the window has its
  // final size; the pictures that paint would make one after another are made meanwhile, side by
  // side, and it waits for each only when it comes to it.
  MakeAheadOfPaint();
}

void Form::MakeAheadOfPaint() {
  std::vector<PaintWork> work;
  CollectPaintWork(QTransform(), std::nullopt, 1.0, surface_->devicePixelRatio(), work);
  if (work.empty()) return;
  paintWorkers_.reset();  // the last ones are done
  paintWorkers_ = std::make_unique<PaintWorkers>(std::move(work));
}

void Form::Close() {
  surface_->close();
}

bool Form::IsShown() const {
  return surface_->isVisible();
}

void Form::SetFullScreen(bool on) {
  if (on != FullScreen()) {
    if (on)
      surface_->setWindowState(surface_->windowState() | Qt::WindowFullScreen);
    else
      surface_->setWindowState(surface_->windowState() & ~Qt::WindowFullScreen);
  }
  if (on && surface_->isVisible()) CoverScreen();
}

// On X11 the full-screen state is a request to the window manager (_NET_WM_STATE_FULLSCREEN);
// on a bare X server nobody acts on it and the window would keep its design size. Placing the
// window over its screen as well gives the same result with a window manager or without one.
void Form::CoverScreen() {
  QScreen* s = surface_->screen();
  if (!s) s = QGuiApplication::primaryScreen();
  if (s && surface_->geometry() != s->geometry()) surface_->setGeometry(s->geometry());
}

bool Form::FullScreen() const {
  return surface_->windowState() & Qt::WindowFullScreen;
}

QRect Form::WindowBounds() const {
  return surface_->frameGeometry();
}

void Form::CenterOnScreen() {
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    QRect r = surface_->frameGeometry();
    r.moveCenter(s->availableGeometry().center());
    surface_->move(r.topLeft());
  }
}

void Form::Paint(QPainter& painter) {
  painter.fillRect(LocalRect(), ToQColor(fill_));
}

QImage Form::Render(QSize pixelSize, qreal dpr) {
  const QSize units(qRound(pixelSize.width() / dpr), qRound(pixelSize.height() / dpr));
  if (units != surface_->size()) SetClientSize(units.width(), units.height());
  QImage image(pixelSize, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(dpr);
  image.fill(Qt::transparent);
  SyncNative();
  {
    QPainter p(&image);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                     QPainter::TextAntialiasing);
    PaintTree(p);
    // The text widgets lie over the painted surface.
    for (auto& n : hosted_)
      if (n && n->widget_ && !n->widget_->isHidden()) {
        QWidget* w = n->widget_;
        w->render(&p, w->geometry().topLeft(), QRegion(), QWidget::DrawChildren);
      }
  }
  return image;
}

void Form::Invalidate() {
  if (!isForm_) return;
  surface_->update();
  if (flushPending_) return;
  flushPending_ = true;
  QPointer<Form> self(this);
  QMetaObject::invokeMethod(
      surface_.get(),
      [self] {
        if (self) self->Flush();
      },
      Qt::QueuedConnection);
}

void Form::Flush() {
  flushPending_ = false;
  SyncNative();
  surface_->update();
}

bool Form::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Caption")
    SetCaption(prop::String(v, name));
  else if (name == u"ClientWidth")
    SetClientSize(prop::Int(v, name), surface_->height());
  else if (name == u"ClientHeight")
    SetClientSize(surface_->width(), prop::Int(v, name));
  else if (name == u"Fill")
    SetFillColor(prop::Color(v, name));
  else if (name == u"FullScreen") {
    if (prop::Bool(v, name)) SetFullScreen(true);
  } else if (name == u"Position") {
    const QString p = prop::String(v, name);
    if (p == u"ScreenCenter" || p == u"MainFormCenter")
      CenterOnScreen();
    else if (p != u"Designed")
      prop::Bad(name, "ScreenCenter, MainFormCenter or Designed");
  } else if (name == u"Width" || name == u"Height" || name == u"X" || name == u"Y") {
    prop::Bad(name, "ClientWidth / ClientHeight for a form");
  } else
    return Control::SetProperty(name, v);
  return true;
}

bool Form::BindEvent(const QString& event, QObject* target, const QString& method) {
  if (event == u"OnKeyDown")
    OnKeyDown = BindHandler<QObject*, quint16&, QChar&, ShiftState>(target, method);
  else if (event == u"OnActivate")
    OnActivate = BindHandler<QObject*>(target, method);
  else if (event == u"OnClose")
    OnClose = BindHandler<QObject*>(target, method);
  else
    return Control::BindEvent(event, target, method);
  return true;
}

// ---------------------------------------------------------------- dispatch

void Form::SetHovered(Control* c) {
  if (c == hovered_) return;
  QPointer<Control> old = hovered_;
  hovered_ = c;
  if (old) Guarded([&] { old->MouseLeave(); });
  if (c && hovered_ == c) Guarded([&] { c->MouseEnter(); });
}

void Form::ForgetInput(const Control* removed) {
  for (QPointer<Control>* held : {&capture_, &hovered_, &pressed_})
    for (const Control* c = held->data(); c; c = c->ParentControl())
      if (c == removed) {
        *held = nullptr;
        break;
      }
}

static Control* TopAt(Form* f, QPointF point) {
  // The form itself takes input only through its own handlers, like any control.
  return f->ObjectAtPoint(point);
}

void Form::DispatchMouseDown(MouseButton button, ShiftState shift, QPointF point) {
  QPointer<Control> target = TopAt(this, point);
  SetHovered(target);
  pressed_ = target;
  if (!target) return;
  // The focus moves only to a control that can take it (or one it lies in); a press anywhere
  // else leaves it where it is.
  for (Control* c = target; c; c = c->ParentControl())
    if (c->CanFocus()) {
      if (auto* text = qobject_cast<NativeControl*>(c))
        text->SetFocus();
      else
        TakeFocusFromText();
      break;
    }
  if (target->AutoCapture()) capture_ = target;
  const QPointF local = target->FormToLocal(point);
  Guarded([&] {
    target->MouseDown(button, shift, static_cast<float>(local.x()), static_cast<float>(local.y()));
  });
}

void Form::DispatchMouseMove(ShiftState shift, QPointF point) {
  QPointer<Control> target = capture_;
  if (!target) {
    target = TopAt(this, point);
    SetHovered(target);
  }
  if (!target) return;
  const QPointF local = target->FormToLocal(point);
  Guarded([&] {
    target->MouseMove(shift, static_cast<float>(local.x()), static_cast<float>(local.y()));
  });
}

void Form::DispatchMouseUp(MouseButton button, ShiftState shift, QPointF point) {
  QPointer<Control> target = capture_;
  if (!target) target = TopAt(this, point);
  QPointer<Control> pressed = pressed_;
  const bool captured = capture_ != nullptr;
  pressed_ = nullptr;
  capture_ = nullptr;
  if (!target) return;
  const QPointF local = target->FormToLocal(point);
  const float x = static_cast<float>(local.x()), y = static_cast<float>(local.y());
  const bool inside = target->PointInObject(local);
  Guarded([&] { target->MouseUp(button, shift, x, y); });
  if (target && target == pressed && inside && target->AbsoluteEnabled() &&
      target->AbsoluteVisible())
    Guarded([&] { target->MouseClick(button, shift, x, y); });
  if (captured && !capture_) {
    // After a captured gesture the pointer may rest over another control.
    Control* under = TopAt(this, point);
    if (under != hovered_) SetHovered(under);
  }
}

void Form::DispatchMouseLeave() {
  if (capture_) return;
  SetHovered(nullptr);
}

void Form::DispatchMouseWheel(ShiftState shift, QPointF point, int delta) {
  for (QPointer<Control> c = TopAt(this, point); c; c = c->ParentControl()) {
    bool used = false;
    Guarded([&] { used = c->MouseWheel(shift, delta); });
    if (used || !c) return;
  }
}

bool Form::DispatchKeyDown(quint16& key, QChar& keyChar, ShiftState shift) {
  if (!OnKeyDown) return false;
  Guarded([&] { OnKeyDown(this, key, keyChar, shift); });
  return key == 0 && keyChar.isNull();
}

void Form::DispatchActivate() {
  if (OnActivate) Guarded([&] { OnActivate(this); });
}

// ---------------------------------------------------------------- native text widgets

namespace {

void CollectNative(Control* c, std::vector<NativeControl*>& out) {
  if (auto* n = qobject_cast<NativeControl*>(c)) out.push_back(n);
  for (Control* child : c->Children()) CollectNative(child, out);
}

// Whether a visible control that paints something lies above `target` at `point` (form units).
bool Covered(Control* root, Control* target, QPointF point) {
  bool after = false, covered = false;
  std::function<void(Control*, bool)> walk = [&](Control* c, bool clippedOut) {
    if (covered || !c->Visible()) return;
    const QPointF local = c->FormToLocal(point);
    const bool inside = c->PointInObject(local);
    if (c == target) {
      after = true;
      return;
    }
    if (after && !clippedOut && inside && c != root && c->PaintsSelf()) {
      covered = true;
      return;
    }
    const bool clip = clippedOut || (c->ClipChildren() && !inside);
    for (Control* child : c->Children()) walk(child, clip);
  };
  walk(root, false);
  return covered;
}

}  // namespace

void Form::SyncNative() {
  std::vector<NativeControl*> now;
  CollectNative(this, now);
  // Widgets that left this form are hidden.
  for (auto& old : hosted_)
    if (old && std::find(now.begin(), now.end(), old.data()) == now.end() && old->widget_ &&
        old->widget_->parentWidget() == surface_.get()) {
      if (parkedFocus_ == old) parkedFocus_ = nullptr;
      old->widget_->hide();
      old->widget_->setParent(nullptr);
    }
  hosted_.assign(now.begin(), now.end());
  for (NativeControl* n : now) {
    QWidget* w = n->widget_;
    if (!w) continue;
    if (w->parentWidget() != surface_.get()) w->setParent(surface_.get());
    const QTransform t = n->LocalToForm();
    const QRectF r = t.mapRect(n->LocalRect());
    const QRect pixels = r.toAlignedRect();
    if (w->geometry() != pixels) w->setGeometry(pixels);
    QFont f = MakeFont(n->settings_, static_cast<float>(t.m22()));
    if (w->font() != f) w->setFont(f);
    const bool shown = n->AbsoluteVisible() && !pixels.isEmpty();
    const bool covered = shown && Covered(this, n, r.center());
    n->covered_ = covered;  // Flush repaints after this
    const bool show = shown && !covered;
    if (!show && !w->isHidden() && surface_->focusWidget() == w) {
      // Hiding the widget is this layer's doing (its control is covered or hidden): the control
      // keeps the focus, without a focus change, and its widget gets it back when it shows.
      // Meanwhile keys go to the window, not into a widget nobody sees.
      n->quietFocusOut_ = true;
      w->clearFocus();
      n->quietFocusOut_ = false;
      parkedFocus_ = n;
    }
    w->setEnabled(n->AbsoluteEnabled());
    if (w->isHidden() == show) {
      w->setVisible(show);
      if (show && parkedFocus_ == n && !surface_->focusWidget()) w->setFocus(Qt::OtherFocusReason);
    }
  }
}

// ---------------------------------------------------------------- keyboard focus

void Form::TextFocusIn(NativeControl* control) {
  if (parkedFocus_ == control)
    parkedFocus_ = nullptr;
  else
    DropParkedFocus();
}

void Form::ParkFocus(NativeControl* control) {
  if (parkedFocus_ == control) return;
  TakeFocusFromText();
  parkedFocus_ = control;
}

// The focus goes to the window itself (a painted control that can take it): the text control
// that had it leaves, with what a leave reports.
void Form::TakeFocusFromText() {
  if (QWidget* w = surface_->focusWidget()) {
    // Reported here, not by the widget's focus-out, which an inactive window does not get.
    QPointer<NativeControl> holder;
    for (auto& n : hosted_)
      if (n && n->widget_ == w) holder = n;
    if (holder) holder->quietFocusOut_ = true;
    w->clearFocus();
    if (holder) {
      holder->quietFocusOut_ = false;
      holder->PostFocusLost();
    }
  }
  DropParkedFocus();
}

// Right after this, Qt gives the activated window's focus back to the widget that had it or,
// when none had it, to the first text box it finds. The framework only gives it back: while Qt
// looks, the text boxes take the focus from clicks only.
void Form::KeepTextFocusOnActivation() {
  if (surface_->focusWidget()) return;
  std::vector<std::pair<QPointer<QWidget>, Qt::FocusPolicy>> held;
  for (auto& n : hosted_)
    if (n && n->widget_ && (n->widget_->focusPolicy() & Qt::TabFocus)) {
      held.emplace_back(n->widget_, n->widget_->focusPolicy());
      n->widget_->setFocusPolicy(Qt::ClickFocus);
    }
  if (held.empty()) return;
  QMetaObject::invokeMethod(
      surface_.get(),
      [held] {
        for (const auto& [w, policy] : held)
          if (w) w->setFocusPolicy(policy);
      },
      Qt::QueuedConnection);
}

void Form::DropParkedFocus() {
  QPointer<NativeControl> parked = parkedFocus_;
  parkedFocus_ = nullptr;
  if (parked) parked->PostFocusLost();
}

}  // namespace ui
