#include "ui/Component.h"

#include <QJsonArray>
#include <QMetaEnum>
#include <QPainter>
#include <algorithm>

#include "Properties.h"
#include "ui/Binding.h"
#include "ui/Form.h"

namespace ui {

Error::Error(const QString& message) : rtl::Exception(message.toStdU16String()) {}

// ---------------------------------------------------------------- binding

int FindHandlerMethod(const QObject* target, const QString& name,
                      std::initializer_list<HandlerParam> params) {
  const QMetaObject* mo = target->metaObject();
  const QByteArray wanted = name.toUtf8();
  for (int i = mo->methodCount() - 1; i >= 0; --i) {
    const QMetaMethod m = mo->method(i);
    if (m.name() != wanted || m.parameterCount() != static_cast<int>(params.size())) continue;
    bool match = true;
    int p = 0;
    for (const HandlerParam& param : params) {
      QByteArray typeName = m.parameterTypeName(p);
      const bool ref = typeName.endsWith('&');
      // Non-const reference parameters carry no meta type of their own: compare by name.
      const QMetaType type =
          ref ? QMetaType::fromName(typeName.chopped(1)) : m.parameterMetaType(p);
      if (type != param.type || ref != param.byReference) match = false;
      ++p;
    }
    if (match) return i;
  }
  QStringList types;
  for (const HandlerParam& param : params)
    types << QString::fromLatin1(param.type.name()) + (param.byReference ? "&" : "");
  throw Error(QStringLiteral("%1 has no method %2(%3)")
                  .arg(QString::fromLatin1(mo->className()), name, types.join(", ")));
}

// ---------------------------------------------------------------- Component

Component::Component(QObject* owner) : QObject(owner) {}
Component::~Component() = default;

Component* Component::FindComponent(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  return findChild<Component*>(name, Qt::FindDirectChildrenOnly);
}

void Component::ThrowMissing(const QString& name, const char* kind) const {
  throw Error(QStringLiteral("%1 has no component %2 of kind %3")
                  .arg(objectName(), name, QString::fromLatin1(kind)));
}

bool Component::SetProperty(const QString& name, const QJsonValue& value) {
  if (name == u"Tag") {
    tag_ = static_cast<long long>(prop::Number(value, name));
    return true;
  }
  return false;
}

bool Component::BindEvent(const QString&, QObject*, const QString&) {
  return false;
}

// ---------------------------------------------------------------- Control

Control::Control(QObject* owner) : Component(owner) {}

Control::~Control() {
  destroying_ = true;
  // Controls drawn inside this one die with it, whoever owns them.
  while (!children_.empty()) delete children_.back();
  if (parent_) parent_->DetachChild(this);
}

Control* Control::Child(int index) const {
  if (index < 0 || index >= ChildrenCount()) return nullptr;
  return children_[static_cast<size_t>(index)];
}

int Control::Index() const {
  if (!parent_) return -1;
  const auto& c = parent_->children_;
  return static_cast<int>(std::find(c.begin(), c.end(), this) - c.begin());
}

void Control::SetParent(Control* parent) {
  if (parent) parent = parent->ContainerFor(this);
  if (parent == parent_) return;
  for (Control* p = parent; p; p = p->parent_)
    if (p == this) throw Error(QStringLiteral("A control cannot be placed inside itself"));
  Form* oldForm = RootForm();
  const bool wasShown = ShowsInWindow();
  if (parent_) parent_->DetachChild(this);
  if (parent) parent->AttachChild(this);
  ParentChanged();
  if (oldForm && oldForm != RootForm()) {
    // Taken off the window: the rest of a gesture on it (or on a control inside it) goes nowhere.
    oldForm->ForgetInput(this);
    if (wasShown) oldForm->Invalidate();
  }
  Changed();
}

void Control::AttachChild(Control* child) {
  child->parent_ = this;
  children_.push_back(child);
  if (destroying_) return;
  ChildrenChanged();
  if (child->align_ != Align::None) Realign();
  Changed();
}

void Control::DetachChild(Control* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it != children_.end()) children_.erase(it);
  child->parent_ = nullptr;
  if (destroying_) return;
  ChildrenChanged();
  if (child->align_ != Align::None) Realign();
  Changed();
}

void Control::BringToFront() {
  if (!parent_) return;
  auto& c = parent_->children_;
  auto it = std::find(c.begin(), c.end(), this);
  std::rotate(it, it + 1, c.end());
  parent_->ChildrenChanged();
  Changed();
}

void Control::SendToBack() {
  if (!parent_) return;
  auto& c = parent_->children_;
  auto it = std::find(c.begin(), c.end(), this);
  std::rotate(c.begin(), it, it + 1);
  parent_->ChildrenChanged();
  Changed();
}

void Control::DeleteChildren() {
  while (!children_.empty()) delete children_.back();
}

Form* Control::RootForm() const {
  const Control* c = this;
  while (c->parent_) c = c->parent_;
  return c->isForm_ ? static_cast<Form*>(const_cast<Control*>(c)) : nullptr;
}

void Control::Changed() {
  if (destroying_) return;
  // A change that cannot be seen asks for no repaint (an idle window whose hidden clock ticks
  // stays idle); becoming seen again (shown, attached, uncovered) is itself a change that shows.
  if (ShowsInWindow()) RootForm()->Invalidate();
}

bool Control::ShowsInWindow() const {
  const Control* top = this;
  for (const Control* c = this; c; c = c->parent_) {
    if (!c->visible_) return false;
    if (c->parent_) top = c;
    if (!c->parent_ && !c->isForm_) return false;  // not in a window
  }
  if (top->isForm_) return true;  // the form itself
  // PaintTree draws nothing of what lies before a child that covers the whole window opaquely.
  const Control* form = top->parent_;
  if (form->opacity_ < 1.0f || !form->enabled_) return true;
  const auto& kids = form->children_;
  for (auto it = std::find(kids.begin(), kids.end(), top) + 1; it < kids.end(); ++it)
    if ((*it)->CoversOpaquely(form->LocalRect())) return false;
  return true;
}

void Control::Repaint() {
  Changed();
}

void Control::SetPosition(float x, float y) {
  if (x == x_ && y == y_) return;
  x_ = x;
  y_ = y;
  Changed();
}

void Control::SetSize(float w, float h) {
  w = std::max(0.0f, w);
  h = std::max(0.0f, h);
  if (w == w_ && h == h_) return;
  w_ = w;
  h_ = h;
  SizeChanged();
  Realign();
  ParentLayoutChanged();
  Changed();
}

void Control::SetBounds(float x, float y, float w, float h) {
  SetPosition(x, y);
  SetSize(w, h);
}

void Control::SetScale(float sx, float sy) {
  if (sx == sx_ && sy == sy_) return;
  sx_ = sx;
  sy_ = sy;
  ParentLayoutChanged();
  Changed();
}

QTransform Control::LocalToParent() const {
  return QTransform(sx_, 0, 0, sy_, x_, y_);
}

QTransform Control::LocalToForm() const {
  QTransform t;
  for (const Control* c = this; c && !c->isForm_; c = c->parent_) t = t * c->LocalToParent();
  return t;
}

QPointF Control::FormToLocal(QPointF formPoint) const {
  return LocalToForm().inverted().map(formPoint);
}

void Control::SetAlign(Align align) {
  if (align == align_) return;
  align_ = align;
  ParentLayoutChanged();
  Changed();
}

void Control::SetMargins(Bounds m) {
  if (m == margins_) return;
  margins_ = m;
  ParentLayoutChanged();
}

void Control::SetPadding(Bounds p) {
  if (p == padding_) return;
  padding_ = p;
  Realign();
}

void Control::ParentLayoutChanged() {
  if (parent_ && (align_ != Align::None)) parent_->Realign();
}

void Control::SetOpacity(float opacity) {
  opacity = std::clamp(opacity, 0.0f, 1.0f);
  if (opacity == opacity_) return;
  opacity_ = opacity;
  Changed();
}

void Control::SetVisible(bool visible) {
  if (visible == visible_) return;
  const bool wasShown = ShowsInWindow();
  visible_ = visible;
  ParentLayoutChanged();
  if (wasShown && !visible) {
    if (Form* f = RootForm()) f->Invalidate();  // it disappears
  } else {
    Changed();
  }
}

bool Control::AbsoluteVisible() const {
  for (const Control* c = this; c; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

void Control::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Changed();
}

bool Control::AbsoluteEnabled() const {
  for (const Control* c = this; c; c = c->parent_)
    if (!c->enabled_) return false;
  return true;
}

void Control::SetClipChildren(bool on) {
  clipChildren_ = on;
  Changed();
}

bool Control::PointInObject(QPointF p) const {
  return p.x() >= 0 && p.y() >= 0 && p.x() <= w_ && p.y() <= h_;
}

Control* Control::ObjectAtPoint(QPointF parentPoint) {
  if (!visible_ || !enabled_) return nullptr;
  if (sx_ == 0 || sy_ == 0) return nullptr;
  const QPointF local((parentPoint.x() - x_) / sx_, (parentPoint.y() - y_) / sy_);
  if (clipChildren_ && !PointInObject(local)) return nullptr;
  for (auto it = children_.rbegin(); it != children_.rend(); ++it)
    if (Control* hit = (*it)->ObjectAtPoint(local)) return hit;
  if (hitTest_ && PointInObject(local)) return this;
  return nullptr;
}

void Control::PaintTree(QPainter& painter) {
  if (!visible_) return;
  painter.save();
  painter.setTransform(LocalToParent(), true);
  // A disabled control draws dimmed, its children with it.
  painter.setOpacity(painter.opacity() * opacity_ * (enabled_ ? 1.0 : 0.6));
  Paint(painter);
  if (clipChildren_) painter.setClipRect(LocalRect(), Qt::IntersectClip);
  // Children may destroy nothing while painting; iterate a copy for safety anyway.
  const std::vector<Control*> kids = children_;
  for (std::size_t i = FirstPaintedChild(painter.opacity()); i < kids.size(); ++i)
    kids[i]->PaintTree(painter);
  painter.restore();
}

// In the window, a child that covers all of it with opaque pixels hides every child drawn before
// it, so those are not drawn at all: a full-screen backdrop under the design panel then costs
// nothing where the panel fills the screen.
std::size_t Control::FirstPaintedChild(qreal opacity) const {
  if (isForm_ && opacity >= 1.0)
    for (std::size_t i = children_.size(); i-- > 0;)
      if (children_[i]->CoversOpaquely(LocalRect())) return i;
  return 0;
}

void Control::RenderPicturesAhead() {
  if (!visible_) return;
  RenderOwnPictureAhead();
  for (Control* child : children_) child->RenderPicturesAhead();
}

void Control::CollectPaintWork(const QTransform& parent, const std::optional<QRectF>& clip,
                               qreal opacity, qreal dpr, std::vector<PaintWork>& out) {
  if (!visible_) return;
  // As PaintTree sets up its painter.
  const QTransform transform = LocalToParent() * parent;
  opacity *= opacity_ * (enabled_ ? 1.0 : 0.6);
  PreparePaint(transform, clip, dpr, out);
  std::optional<QRectF> inner = clip;
  if (clipChildren_) {
    const QRectF own = transform.mapRect(LocalRect());
    inner = clip ? clip->intersected(own) : own;
  }
  const std::vector<Control*> kids = children_;
  for (std::size_t i = FirstPaintedChild(opacity); i < kids.size(); ++i)
    kids[i]->CollectPaintWork(transform, inner, opacity, dpr, out);
}

void Control::Paint(QPainter&) {}

bool Control::CoversOpaquely(const QRectF& parentArea) const {
  return visible_ && enabled_ && opacity_ >= 1.0f && PaintsOpaque() &&
         BoundsInParent().contains(parentArea);
}

bool Control::SetFloatProperty(const QString& name, float v) {
  if (name == u"Position.X")
    SetX(v);
  else if (name == u"Position.Y")
    SetY(v);
  else if (name == u"Opacity")
    SetOpacity(v);
  else if (name == u"Width")
    SetWidth(v);
  else if (name == u"Height")
    SetHeight(v);
  else if (name == u"Scale.X")
    SetScale(v, sy_);
  else if (name == u"Scale.Y")
    SetScale(sx_, v);
  else
    return false;
  return true;
}

bool Control::GetFloatProperty(const QString& name, float& v) const {
  if (name == u"Position.X")
    v = x_;
  else if (name == u"Position.Y")
    v = y_;
  else if (name == u"Opacity")
    v = opacity_;
  else if (name == u"Width")
    v = w_;
  else if (name == u"Height")
    v = h_;
  else if (name == u"Scale.X")
    v = sx_;
  else if (name == u"Scale.Y")
    v = sy_;
  else
    return false;
  return true;
}

bool Control::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"X")
    SetX(prop::Float(v, name));
  else if (name == u"Y")
    SetY(prop::Float(v, name));
  else if (name == u"Width")
    SetWidth(prop::Float(v, name));
  else if (name == u"Height")
    SetHeight(prop::Float(v, name));
  else if (name == u"Position") {
    const QPointF p = prop::Pair(v, name);
    SetPosition(static_cast<float>(p.x()), static_cast<float>(p.y()));
  } else if (name == u"Size") {
    const QPointF p = prop::Pair(v, name);
    SetSize(static_cast<float>(p.x()), static_cast<float>(p.y()));
  } else if (name == u"Scale") {
    const QPointF p = v.isDouble() ? QPointF(v.toDouble(), v.toDouble()) : prop::Pair(v, name);
    SetScale(static_cast<float>(p.x()), static_cast<float>(p.y()));
  } else if (name == u"Opacity")
    SetOpacity(prop::Float(v, name));
  else if (name == u"Visible")
    SetVisible(prop::Bool(v, name));
  else if (name == u"Enabled")
    SetEnabled(prop::Bool(v, name));
  else if (name == u"HitTest")
    SetHitTest(prop::Bool(v, name));
  else if (name == u"AutoCapture")
    SetAutoCapture(prop::Bool(v, name));
  else if (name == u"ClipChildren")
    SetClipChildren(prop::Bool(v, name));
  else if (name == u"Align")
    SetAlign(prop::Enum<Align>(v, name));
  else if (name == u"Margins")
    SetMargins(prop::Edges(v, name));
  else if (name == u"Padding")
    SetPadding(prop::Edges(v, name));
  else
    return Component::SetProperty(name, v);
  return true;
}

bool Control::BindEvent(const QString& event, QObject* target, const QString& method) {
  if (event == u"OnClick")
    OnClick = BindHandler<QObject*>(target, method);
  else if (event == u"OnMouseEnter")
    OnMouseEnter = BindHandler<QObject*>(target, method);
  else if (event == u"OnMouseLeave")
    OnMouseLeave = BindHandler<QObject*>(target, method);
  else if (event == u"OnMouseDown")
    OnMouseDown = BindHandler<QObject*, MouseButton, ShiftState, float, float>(target, method);
  else if (event == u"OnMouseUp")
    OnMouseUp = BindHandler<QObject*, MouseButton, ShiftState, float, float>(target, method);
  else if (event == u"OnMouseMove")
    OnMouseMove = BindHandler<QObject*, ShiftState, float, float>(target, method);
  else
    return Component::BindEvent(event, target, method);
  return true;
}

// Handlers are copied before the call: a handler may destroy its own control.
void Control::MouseDown(MouseButton b, ShiftState s, float x, float y) {
  if (auto h = OnMouseDown) h(this, b, s, x, y);
}
void Control::MouseMove(ShiftState s, float x, float y) {
  if (auto h = OnMouseMove) h(this, s, x, y);
}
void Control::MouseUp(MouseButton b, ShiftState s, float x, float y) {
  if (auto h = OnMouseUp) h(this, b, s, x, y);
}
void Control::MouseClick(MouseButton, ShiftState, float, float) {
  if (auto h = OnClick) h(this);
}
void Control::MouseEnter() {
  if (auto h = OnMouseEnter) h(this);
}
void Control::MouseLeave() {
  if (auto h = OnMouseLeave) h(this);
}
bool Control::MouseWheel(ShiftState, int) {
  return false;
}

// ---------------------------------------------------------------- alignment

void Control::Realign() {
  if (realigning_ || destroying_) return;
  realigning_ = true;
  QRectF r(padding_.left, padding_.top, w_ - padding_.left - padding_.right,
           h_ - padding_.top - padding_.bottom);
  const std::vector<Control*> kids = children_;
  auto place = [](Control* c, float x, float y, float w, float h) {
    const Bounds& m = c->margins_;
    const float sx = c->sx_ == 0 ? 1 : c->sx_, sy = c->sy_ == 0 ? 1 : c->sy_;
    c->SetBounds(x + m.left, y + m.top, std::max(0.0f, (w - m.left - m.right) / sx),
                 std::max(0.0f, (h - m.top - m.bottom) / sy));
  };
  auto extentW = [](Control* c) { return c->w_ * c->sx_ + c->margins_.left + c->margins_.right; };
  auto extentH = [](Control* c) { return c->h_ * c->sy_ + c->margins_.top + c->margins_.bottom; };
  auto dock = [&](Align a) {
    for (Control* c : kids) {
      if (c->parent_ != this || !c->visible_ || c->align_ != a) continue;
      const float l = static_cast<float>(r.left()), t = static_cast<float>(r.top());
      const float w = static_cast<float>(r.width()), h = static_cast<float>(r.height());
      switch (a) {
        case Align::Top:
        case Align::MostTop: {
          const float eh = extentH(c);
          place(c, l, t, w, eh);
          r.setTop(r.top() + eh);
          break;
        }
        case Align::Bottom:
        case Align::MostBottom: {
          const float eh = extentH(c);
          place(c, l, t + h - eh, w, eh);
          r.setBottom(r.bottom() - eh);
          break;
        }
        case Align::Left:
        case Align::MostLeft: {
          const float ew = extentW(c);
          place(c, l, t, ew, h);
          r.setLeft(r.left() + ew);
          break;
        }
        case Align::Right:
        case Align::MostRight: {
          const float ew = extentW(c);
          place(c, l + w - ew, t, ew, h);
          r.setRight(r.right() - ew);
          break;
        }
        default:
          break;
      }
    }
  };
  for (Align a : {Align::MostTop, Align::MostBottom, Align::MostLeft, Align::MostRight, Align::Top,
                  Align::Bottom, Align::Left, Align::Right})
    dock(a);
  for (Control* c : kids) {
    if (c->parent_ != this || !c->visible_) continue;
    const Bounds& m = c->margins_;
    const float l = static_cast<float>(r.left()), t = static_cast<float>(r.top());
    const float w = static_cast<float>(r.width()), h = static_cast<float>(r.height());
    const float cw = c->w_ * c->sx_, ch = c->h_ * c->sy_;
    const float innerL = l + m.left, innerT = t + m.top;
    const float innerW = w - m.left - m.right, innerH = h - m.top - m.bottom;
    switch (c->align_) {
      case Align::Client:
        place(c, l, t, w, h);
        break;
      case Align::Contents:
        place(c, 0, 0, w_, h_);
        break;
      case Align::Center:
        c->SetPosition(innerL + (innerW - cw) / 2, innerT + (innerH - ch) / 2);
        break;
      case Align::VertCenter:
        c->SetBounds(innerL, innerT + (innerH - ch) / 2, innerW / (c->sx_ ? c->sx_ : 1), c->h_);
        break;
      case Align::HorzCenter:
        c->SetBounds(innerL + (innerW - cw) / 2, innerT, c->w_, innerH / (c->sy_ ? c->sy_ : 1));
        break;
      case Align::Horizontal:
        c->SetBounds(innerL, c->y_, innerW / (c->sx_ ? c->sx_ : 1), c->h_);
        break;
      case Align::Vertical:
        c->SetBounds(c->x_, innerT, c->w_, innerH / (c->sy_ ? c->sy_ : 1));
        break;
      default:
        break;
    }
  }
  realigning_ = false;
  Changed();
}

}  // namespace ui
