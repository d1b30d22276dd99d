#pragma once
// The component tree. A component's owner (its QObject parent) destroys it; a control's parent
// is where it is drawn. The two may differ: detaching a control from its parent keeps it alive
// until its owner dies, while destroying a control destroys the controls drawn inside it.

#include <QImage>
#include <QJsonValue>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <functional>
#include <future>
#include <optional>
#include <vector>

#include "ui/Types.h"

class QPainter;

namespace ui {

class Form;

using NotifyEvent = std::function<void(QObject* sender)>;
using MouseEvent =
    std::function<void(QObject* sender, MouseButton button, ShiftState shift, float x, float y)>;
using MouseMoveEvent = std::function<void(QObject* sender, ShiftState shift, float x, float y)>;
using KeyEvent =
    std::function<void(QObject* sender, quint16& key, QChar& keyChar, ShiftState shift)>;

// A picture the next paint would make (render, decode, scale), made ahead of it instead: `make`
// may run on any thread, as it uses only what it holds; `expect` hands the control, on the UI
// thread, the future picture, which its paint then waits for instead of making it.
struct PaintWork {
  std::function<QImage()> make;
  std::function<void(std::future<QImage>)> expect;
  qint64 pixels = 0;  // about how much work it is
};

class Component : public QObject {
  Q_OBJECT
 public:
  explicit Component(QObject* owner);
  ~Component() override;

  QObject* Owner() const { return parent(); }
  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  long long Tag() const { return tag_; }
  void SetTag(long long tag) { tag_ = tag; }

  // A component owned directly by this one, by name; nullptr when there is none.
  Component* FindComponent(const QString& name) const;
  // The same, typed; raises ui::Error when it is missing or of another kind.
  template <typename T>
  T* Find(const QString& name) const {
    T* found = qobject_cast<T*>(FindComponent(name));
    if (!found) ThrowMissing(name, T::staticMetaObject.className());
    return found;
  }

  // Sets one property from a description value; false when the kind has no such property.
  virtual bool SetProperty(const QString& name, const QJsonValue& value);
  // Binds one event of a description to the method `method` of `target`; false when the kind
  // has no such event. Raises ui::Error when the method is missing or has other parameters.
  virtual bool BindEvent(const QString& event, QObject* target, const QString& method);
  // Called once the whole description that created this component has been read.
  virtual void Loaded() {}

 private:
  [[noreturn]] void ThrowMissing(const QString& name, const char* kind) const;
  long long tag_ = 0;
};

class Control : public Component {
  Q_OBJECT
 public:
  explicit Control(QObject* owner);
  ~Control() override;

  // --- tree ---
  Control* ParentControl() const { return parent_; }
  // Appends this control as the last (topmost) child of `parent`; nullptr detaches it.
  void SetParent(Control* parent);
  void AddObject(Control* child) { child->SetParent(this); }
  int ChildrenCount() const { return static_cast<int>(children_.size()); }
  Control* Child(int index) const;
  const std::vector<Control*>& Children() const { return children_; }
  int Index() const;  // position among the parent's children, -1 when detached
  void BringToFront();
  void SendToBack();
  // Destroys every child (and so their children).
  void DeleteChildren();
  // The form this control is drawn in, or nullptr.
  Form* RootForm() const;

  // --- geometry, in the parent's units ---
  float X() const { return x_; }
  float Y() const { return y_; }
  QPointF Position() const { return {x_, y_}; }
  void SetX(float x) { SetPosition(x, y_); }
  void SetY(float y) { SetPosition(x_, y); }
  void SetPosition(float x, float y);
  float Width() const { return w_; }
  float Height() const { return h_; }
  void SetWidth(float w) { SetSize(w, h_); }
  void SetHeight(float h) { SetSize(w_, h); }
  void SetSize(float w, float h);
  void SetBounds(float x, float y, float w, float h);
  float ScaleX() const { return sx_; }
  float ScaleY() const { return sy_; }
  void SetScale(float sx, float sy);
  QRectF LocalRect() const { return {0, 0, w_, h_}; }
  // The rectangle this control covers in its parent's units (scale applied).
  QRectF BoundsInParent() const { return {x_, y_, w_ * sx_, h_ * sy_}; }
  QTransform LocalToParent() const;
  // Local units to the units of the form's surface (identity when detached from a form).
  QTransform LocalToForm() const;
  QPointF FormToLocal(QPointF formPoint) const;

  Align GetAlign() const { return align_; }
  void SetAlign(Align align);
  Bounds Margins() const { return margins_; }
  void SetMargins(Bounds margins);
  Bounds Padding() const { return padding_; }
  void SetPadding(Bounds padding);

  // --- look and input ---
  float Opacity() const { return opacity_; }
  void SetOpacity(float opacity);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible with every parent up to the form.
  bool AbsoluteVisible() const;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AbsoluteEnabled() const;
  bool HitTest() const { return hitTest_; }
  void SetHitTest(bool on) { hitTest_ = on; }
  bool AutoCapture() const { return autoCapture_; }
  void SetAutoCapture(bool on) { autoCapture_ = on; }
  bool ClipChildren() const { return clipChildren_; }
  void SetClipChildren(bool on);
  // Asks the window to repaint.
  void Repaint();

  // The topmost visible, enabled, hit-testable control at `p` (in the parent's units) in this
  // subtree, or nullptr.
  Control* ObjectAtPoint(QPointF parentPoint);
  bool PointInObject(QPointF local) const;

  // Draws this control and its children; `p` is in the parent's units.
  void PaintTree(QPainter& painter);
  // The pictures of the controls of this subtree that are visible with their parents up to this
  // control begin rendering on other threads (Picture::RenderAhead), so that a paint soon after
  // finds them made.
  void RenderPicturesAhead();
  // Adds what PaintTree, given a painter with transform `parent`, clip `clip` (in the painter's
  // own units, none when empty) and opacity `opacity` on a device of pixel ratio `dpr`, would
  // make while painting, in the order it would paint.
  void CollectPaintWork(const QTransform& parent, const std::optional<QRectF>& clip, qreal opacity,
                        qreal dpr, std::vector<PaintWork>& out);
  // Whether Paint draws anything (used to find controls that cover native text widgets).
  virtual bool PaintsSelf() const { return false; }
  // Whether a press on this control takes the keyboard focus. Most painted controls (images,
  // shapes, texts) cannot take it: a press on them leaves the focus where it is.
  virtual bool CanFocus() const { return false; }
  // Whether Paint covers the control's whole rectangle with opaque pixels.
  virtual bool PaintsOpaque() const { return false; }
  // Sets an animatable property by its name ("Position.X", "Opacity", ...).
  virtual bool SetFloatProperty(const QString& name, float value);
  virtual bool GetFloatProperty(const QString& name, float& value) const;

  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool BindEvent(const QString& event, QObject* target, const QString& method) override;

  // --- events (handlers may be set directly or bound by a description) ---
  NotifyEvent OnClick;
  NotifyEvent OnMouseEnter;
  NotifyEvent OnMouseLeave;
  MouseEvent OnMouseDown;
  MouseEvent OnMouseUp;
  MouseMoveEvent OnMouseMove;

  // Input entry points, raised by the form's dispatch (local coordinates).
  virtual void MouseDown(MouseButton button, ShiftState shift, float x, float y);
  virtual void MouseMove(ShiftState shift, float x, float y);
  virtual void MouseUp(MouseButton button, ShiftState shift, float x, float y);
  virtual void MouseClick(MouseButton button, ShiftState shift, float x, float y);
  virtual void MouseEnter();
  virtual void MouseLeave();
  // Returns true when the wheel was used.
  virtual bool MouseWheel(ShiftState shift, int delta);

  // Lays the aligned children out again.
  void Realign();

 protected:
  // Paints the control itself in local units; children are drawn afterwards.
  virtual void Paint(QPainter& painter);
  // Starts what RenderPicturesAhead asks of this control.
  virtual void RenderOwnPictureAhead() {}
  // What Paint would make under the painter transform `transform` (local units to the root
  // painter's), with the clip `clip` in the root painter's units.
  virtual void PreparePaint(const QTransform& /*transform*/, const std::optional<QRectF>& /*clip*/,
                            qreal /*dpr*/, std::vector<PaintWork>& /*out*/) {}
  // Where a child given to SetParent really goes (a scroll box sends it to its content).
  virtual Control* ContainerFor(Control* /*child*/) { return this; }
  virtual void SizeChanged() {}
  virtual void ChildrenChanged() {}
  virtual void ParentChanged() {}
  // Any change that needs the window redrawn and native widgets placed again; asks for nothing
  // while the control does not show.
  void Changed();
  // In a window, visible with every parent, and not beneath a child of the window that covers
  // all of it opaquely.
  bool ShowsInWindow() const;
  bool Destroying() const { return destroying_; }

  friend class Form;
  bool isForm_ = false;

 private:
  // Drawn, it leaves nothing of `parentArea` (in the parent's units) showing from beneath.
  bool CoversOpaquely(const QRectF& parentArea) const;
  // The first child PaintTree draws, at the painter's opacity `opacity` after this control's.
  std::size_t FirstPaintedChild(qreal opacity) const;
  void AttachChild(Control* child);
  void DetachChild(Control* child);
  void ParentLayoutChanged();

  Control* parent_ = nullptr;
  std::vector<Control*> children_;
  float x_ = 0, y_ = 0, w_ = 0, h_ = 0, sx_ = 1, sy_ = 1;
  float opacity_ = 1;
  Align align_ = Align::None;
  Bounds margins_, padding_;
  bool visible_ = true, enabled_ = true, hitTest_ = true, autoCapture_ = false;
  bool clipChildren_ = false;
  bool destroying_ = false;
  bool realigning_ = false;
};

}  // namespace ui
