#pragma once
// A window: one QWidget on which the whole control tree is painted with QPainter, plus the
// real text widgets of its edits and memos placed over it. One form unit is one Qt
// device-independent pixel; controls scale their subtrees with their Scale.
// Input is dispatched the way the UI framework does it, not Qt's way:
//  - a press goes to the topmost visible, enabled, hit-testable control under the pointer,
//    which captures the pointer when its AutoCapture is set;
//  - moves go to the capturing control, else to the control under the pointer; when that
//    control changes, the old one gets its leave event and the new one its enter event;
//  - a click is a press and a release on the same control;
//  - a press takes the keyboard focus only when the control can take it (CanFocus): a press
//    on an image, a shape or a text leaves it in the edit or memo that has it;
//  - key-down reaches the form first (also while a text widget has the focus).
// An exception that escapes a handler is shown in the error dialog and the program goes on.

#include <QImage>
#include <QPointer>
#include <QRect>
#include <memory>

#include "ui/Component.h"

namespace ui {

class Surface;
class NativeControl;
class PaintWorkers;

// A frame: a reusable part of a window with a description of its own.
class Frame : public Control {
  Q_OBJECT
 public:
  explicit Frame(QObject* owner) : Control(owner) { SetHitTest(false); }
  // Builds this frame's components from a description resource (see Description.h).
  void LoadDescription(const QString& resource);
};

class Form : public Control {
  Q_OBJECT
 public:
  explicit Form(QObject* owner = nullptr);
  ~Form() override;

  void LoadDescription(const QString& resource);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  // The client area in form units.
  void SetClientSize(int width, int height);
  AlphaColor FillColor() const { return fill_; }
  void SetFillColor(AlphaColor c);

  // Shows the window and asks for the keyboard (a window manager would give it by itself).
  void Show();
  void Close();
  bool IsShown() const;
  // Full screen covers the window's screen, also on an X server without a window manager.
  void SetFullScreen(bool on);
  bool FullScreen() const;
  // The window's bounds on the desktop, as Qt holds them.
  QRect WindowBounds() const;
  // Centres the window on the primary screen.
  void CenterOnScreen();

  // The window's widget (paints the tree, hosts the text widgets).
  QWidget* Widget() const;

  // Renders the form into an image of `pixelSize` device pixels; the form is resized to
  // pixelSize / devicePixelRatio units first (and keeps that size).
  QImage Render(QSize pixelSize, qreal devicePixelRatio = 1.0);

  // Places the native text widgets and schedules a repaint; runs by itself after changes.
  void Flush();

  // --- input dispatch, in form units (the window's widget feeds these) ---
  void DispatchMouseDown(MouseButton button, ShiftState shift, QPointF point);
  void DispatchMouseMove(ShiftState shift, QPointF point);
  void DispatchMouseUp(MouseButton button, ShiftState shift, QPointF point);
  void DispatchMouseLeave();
  void DispatchMouseWheel(ShiftState shift, QPointF point, int delta);
  // Raises OnKeyDown of the form; returns true when a handler consumed the key (set key 0).
  bool DispatchKeyDown(quint16& key, QChar& keyChar, ShiftState shift);
  void DispatchActivate();

  Control* Captured() const { return capture_; }
  Control* Hovered() const { return hovered_; }
  void ReleaseCapture() { capture_ = nullptr; }

  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool BindEvent(const QString& event, QObject* target, const QString& method) override;

  KeyEvent OnKeyDown;
  NotifyEvent OnActivate;
  NotifyEvent OnClose;

 protected:
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return true; }

 private:
  friend class Control;
  friend class Surface;
  friend class NativeControl;
  void Invalidate();
  void SyncNative();
  void SetHovered(Control* c);
  // `removed` left this form: the dispatch forgets it and every control inside it, with no event.
  void ForgetInput(const Control* removed);
  void WidgetResized(QSize size);
  void CoverScreen();
  // Has the pictures the next paint of the window would make made side by side on other threads.
  void MakeAheadOfPaint();
  // The keyboard focus of the text controls, the framework's way (see Form.cpp).
  void TextFocusIn(NativeControl* control);
  void ParkFocus(NativeControl* control);
  void TakeFocusFromText();
  void DropParkedFocus();
  void KeepTextFocusOnActivation();

  std::unique_ptr<Surface> surface_;
  std::unique_ptr<PaintWorkers> paintWorkers_;
  QString caption_;
  AlphaColor fill_ = 0xFFFFFFFF;
  QPointer<Control> capture_, hovered_, pressed_;
  std::vector<QPointer<NativeControl>> hosted_;
  // The text control that keeps the focus while the layer has its widget hidden.
  QPointer<NativeControl> parkedFocus_;
  bool flushPending_ = false;
  bool inWidgetResize_ = false;
};

}  // namespace ui
