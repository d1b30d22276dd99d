#include "ui/Controls.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextOption>
#include <algorithm>
#include <cmath>

#include "Properties.h"
#include "ui/Binding.h"

namespace ui {

QColor ToQColor(AlphaColor c) {
  return QColor::fromRgba(static_cast<QRgb>(c));
}

// ---------------------------------------------------------------- PaintBox

void PaintBox::Paint(QPainter& painter) {
  if (OnPaint) OnPaint(painter, LocalRect());
}

// ---------------------------------------------------------------- Rectangle

void Rectangle::SetFillColor(AlphaColor c) {
  fill_ = c;
  Changed();
}
void Rectangle::SetFillVisible(bool on) {
  fillOn_ = on;
  Changed();
}
void Rectangle::SetStrokeColor(AlphaColor c) {
  stroke_ = c;
  Changed();
}
void Rectangle::SetStrokeVisible(bool on) {
  strokeOn_ = on;
  Changed();
}
void Rectangle::SetStrokeThickness(float t) {
  thickness_ = t;
  Changed();
}
void Rectangle::SetRadii(float xr, float yr) {
  rx_ = xr;
  ry_ = yr;
  Changed();
}
void Rectangle::SetSides(Sides sides) {
  sides_ = sides;
  Changed();
}

QPainterPath Rectangle::Shape() const {
  QPainterPath path;
  const float inset = strokeOn_ ? thickness_ / 2 : 0;
  const QRectF r = LocalRect().adjusted(inset, inset, -inset, -inset);
  if (rx_ > 0 || ry_ > 0)
    path.addRoundedRect(r, rx_, ry_);
  else
    path.addRect(r);
  return path;
}

void Rectangle::Paint(QPainter& painter) {
  const QPainterPath path = Shape();
  if (fillOn_ && (fill_ >> 24) != 0) painter.fillPath(path, ToQColor(fill_));
  if (!strokeOn_ || (stroke_ >> 24) == 0 || thickness_ <= 0 || sides_ == Sides()) return;
  QPen pen(ToQColor(stroke_), thickness_);
  pen.setJoinStyle(Qt::MiterJoin);
  if (sides_ == Sides(sdTop | sdLeft | sdBottom | sdRight)) {
    painter.strokePath(path, pen);
    return;
  }
  // Only some sides outlined: straight edges.
  const float i = thickness_ / 2;
  const QRectF r = LocalRect().adjusted(i, i, -i, -i);
  painter.setPen(pen);
  if (sides_ & sdTop) painter.drawLine(r.topLeft(), r.topRight());
  if (sides_ & sdBottom) painter.drawLine(r.bottomLeft(), r.bottomRight());
  if (sides_ & sdLeft) painter.drawLine(r.topLeft(), r.bottomLeft());
  if (sides_ & sdRight) painter.drawLine(r.topRight(), r.bottomRight());
}

bool Rectangle::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Fill")
    SetFillColor(prop::Color(v, name));
  else if (name == u"FillVisible")
    SetFillVisible(prop::Bool(v, name));
  else if (name == u"Stroke")
    SetStrokeColor(prop::Color(v, name));
  else if (name == u"StrokeVisible")
    SetStrokeVisible(prop::Bool(v, name));
  else if (name == u"StrokeThickness")
    SetStrokeThickness(prop::Float(v, name));
  else if (name == u"XRadius")
    SetRadii(prop::Float(v, name), ry_);
  else if (name == u"YRadius")
    SetRadii(rx_, prop::Float(v, name));
  else if (name == u"Sides") {
    Sides s;
    if (!v.isArray()) prop::Bad(name, "a list of Top, Left, Bottom, Right");
    for (const QJsonValue& e : v.toArray()) {
      const QString side = prop::String(e, name);
      if (side == u"Top")
        s |= sdTop;
      else if (side == u"Left")
        s |= sdLeft;
      else if (side == u"Bottom")
        s |= sdBottom;
      else if (side == u"Right")
        s |= sdRight;
      else
        prop::Bad(name, "Top, Left, Bottom or Right");
    }
    SetSides(s);
  } else
    return Control::SetProperty(name, v);
  return true;
}

// ---------------------------------------------------------------- CalloutRectangle

void CalloutRectangle::SetCalloutPosition(CalloutPosition p) {
  pos_ = p;
  Changed();
}
void CalloutRectangle::SetCalloutOffset(float v) {
  offset_ = v;
  Changed();
}
void CalloutRectangle::SetCalloutWidth(float v) {
  width_ = v;
  Changed();
}
void CalloutRectangle::SetCalloutLength(float v) {
  length_ = v;
  Changed();
}

QPainterPath CalloutRectangle::Shape() const {
  QRectF body = LocalRect();
  const float len = length_;
  QPolygonF tip;
  switch (pos_) {
    case CalloutPosition::Top:
      body.setTop(body.top() + len);
      tip << QPointF(offset_, body.top()) << QPointF(offset_ + width_ / 2, 0)
          << QPointF(offset_ + width_, body.top());
      break;
    case CalloutPosition::Bottom:
      body.setBottom(body.bottom() - len);
      tip << QPointF(offset_, body.bottom()) << QPointF(offset_ + width_ / 2, Height())
          << QPointF(offset_ + width_, body.bottom());
      break;
    case CalloutPosition::Left:
      body.setLeft(body.left() + len);
      tip << QPointF(body.left(), offset_) << QPointF(0, offset_ + width_ / 2)
          << QPointF(body.left(), offset_ + width_);
      break;
    case CalloutPosition::Right:
      body.setRight(body.right() - len);
      tip << QPointF(body.right(), offset_) << QPointF(Width(), offset_ + width_ / 2)
          << QPointF(body.right(), offset_ + width_);
      break;
  }
  QPainterPath path;
  if (XRadius() > 0 || YRadius() > 0)
    path.addRoundedRect(body, XRadius(), YRadius());
  else
    path.addRect(body);
  QPainterPath t;
  t.addPolygon(tip);
  t.closeSubpath();
  return path.united(t);
}

bool CalloutRectangle::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"CalloutPosition")
    SetCalloutPosition(prop::Enum<CalloutPosition>(v, name));
  else if (name == u"CalloutOffset")
    SetCalloutOffset(prop::Float(v, name));
  else if (name == u"CalloutWidth")
    SetCalloutWidth(prop::Float(v, name));
  else if (name == u"CalloutLength")
    SetCalloutLength(prop::Float(v, name));
  else
    return Rectangle::SetProperty(name, v);
  return true;
}

// ---------------------------------------------------------------- Panel

Panel::Panel(QObject* owner) : Rectangle(owner) {
  SetFillColor(0xFFF0F0F0);
  SetStrokeVisible(false);
}

// ---------------------------------------------------------------- Line

void Line::SetLineType(LineType t) {
  type_ = t;
  Changed();
}
void Line::SetStrokeColor(AlphaColor c) {
  stroke_ = c;
  Changed();
}
void Line::SetStrokeThickness(float t) {
  thickness_ = t;
  Changed();
}

void Line::Paint(QPainter& painter) {
  painter.setPen(QPen(ToQColor(stroke_), thickness_, Qt::SolidLine, Qt::FlatCap));
  switch (type_) {
    case LineType::Diagonal:
      painter.drawLine(QPointF(0, 0), QPointF(Width(), Height()));
      break;
    case LineType::Top:
      painter.drawLine(QPointF(0, thickness_ / 2), QPointF(Width(), thickness_ / 2));
      break;
    case LineType::Left:
      painter.drawLine(QPointF(thickness_ / 2, 0), QPointF(thickness_ / 2, Height()));
      break;
  }
}

bool Line::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"LineType")
    SetLineType(prop::Enum<LineType>(v, name));
  else if (name == u"Stroke")
    SetStrokeColor(prop::Color(v, name));
  else if (name == u"StrokeThickness")
    SetStrokeThickness(prop::Float(v, name));
  else
    return Control::SetProperty(name, v);
  return true;
}

// ---------------------------------------------------------------- Image

void Image::SetPicture(const Picture& picture) {
  picture_ = picture;
  Changed();
}

void Image::LoadFromFile(const QString& file, QSize svgSize) {
  SetPicture(Picture::FromFile(file, svgSize));
}

void Image::SetWrapMode(WrapMode mode) {
  wrap_ = mode;
  Changed();
}

namespace {

// The picture's size in device pixels when `target` (local units) is drawn under `t`, or an empty
// size when it is not drawn scaled (turned, mirrored) or not at all (outside `clip`).
QSize DeviceSize(const QTransform& t, qreal dpr, const QRectF& target,
                 const std::optional<QRectF>& clip) {
  if (t.isRotating() || t.m11() <= 0 || t.m22() <= 0) return {};
  const QRectF device = t.mapRect(target);
  if (clip && !clip->intersects(device)) return {};
  return (device.size() * dpr).toSize();
}

}  // namespace

// Draws the picture into `target` (local units). It is scaled (for a picture file: decoded) once
// per device size and kept, so repainting during a drag does not rescale full-screen pictures
// every time; a picture outside the painter's clip (a strip page scrolled away) is not made.
void Image::DrawScaled(QPainter& painter, const QRectF& target) {
  const QTransform t = painter.transform();
  if (t.isRotating() || t.m11() <= 0 || t.m22() <= 0) {
    painter.drawImage(target, picture_.ToImage());
    return;
  }
  if (painter.hasClipping() && !painter.clipBoundingRect().intersects(target)) return;
  const QRectF device = t.mapRect(target);
  const qreal dpr = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
  const QSize size = DeviceSize(t, dpr, target, std::nullopt);
  if (size.isEmpty()) return;
  if (coming_) {
    // Made ahead for this paint: waited for, unless it is no longer the picture needed.
    if (coming_->size == size && coming_->key == picture_.Key()) {
      QImage made = coming_->picture.get();
      if (!made.isNull()) KeepScaled(std::move(made), size, dpr);
    }
    coming_.reset();
  }
  if (cache_.isNull() || cacheSize_ != size || cacheKey_ != picture_.Key())
    KeepScaled(picture_.Scaled(size), size, dpr);
  painter.save();
  painter.resetTransform();
  painter.drawPixmap(device.topLeft(), cache_);
  painter.restore();
}

void Image::KeepScaled(QImage scaled, QSize size, qreal dpr) {
  cache_ = QPixmap::fromImage(std::move(scaled));
  cache_.setDevicePixelRatio(dpr);
  cacheSize_ = size;
  cacheKey_ = picture_.Key();
}

std::optional<QRectF> Image::ScaledTarget() const {
  const QRectF box = LocalRect();
  switch (wrap_) {
    case WrapMode::Stretch:
      return box;
    case WrapMode::Fit: {
      const QSizeF s = QSizeF(picture_.Size()).scaled(box.size(), Qt::KeepAspectRatio);
      return QRectF(QPointF((box.width() - s.width()) / 2, (box.height() - s.height()) / 2), s);
    }
    default:
      return std::nullopt;
  }
}

void Image::Paint(QPainter& painter) {
  if (picture_.IsNull() || Width() <= 0 || Height() <= 0) return;
  if (const std::optional<QRectF> target = ScaledTarget()) {
    DrawScaled(painter, *target);
    return;
  }
  const QRectF box = LocalRect();
  const QSizeF bs(picture_.Size());
  switch (wrap_) {
    case WrapMode::Original:
      painter.save();
      painter.setClipRect(box, Qt::IntersectClip);
      painter.drawImage(QPointF(0, 0), picture_.ToImage());
      painter.restore();
      break;
    case WrapMode::Center:
      painter.save();
      painter.setClipRect(box, Qt::IntersectClip);
      painter.drawImage(QPointF((box.width() - bs.width()) / 2, (box.height() - bs.height()) / 2),
                        picture_.ToImage());
      painter.restore();
      break;
    case WrapMode::Tile:
      painter.drawTiledPixmap(box, QPixmap::fromImage(picture_.ToImage()));
      break;
    default:
      break;
  }
}

void Image::PreparePaint(const QTransform& transform, const std::optional<QRectF>& clip, qreal dpr,
                         std::vector<PaintWork>& out) {
  if (picture_.IsNull() || Width() <= 0 || Height() <= 0) return;
  const std::optional<QRectF> target = ScaledTarget();
  if (!target) return;
  const QSize size = DeviceSize(transform, dpr, *target, clip);
  if (size.isEmpty() || (!cache_.isNull() && cacheSize_ == size && cacheKey_ == picture_.Key()) ||
      (coming_ && coming_->size == size && coming_->key == picture_.Key()))
    return;
  PaintWork work;
  work.make = [picture = picture_, size] { return picture.ScaledForScreen(size); };
  work.expect = [this, key = picture_.Key(), size](std::future<QImage> picture) {
    coming_ = Coming{std::move(picture), size, key};
  };
  work.pixels = qint64{size.width()} * size.height();
  out.push_back(std::move(work));
}

bool Image::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Picture") {
    // "Picture": ":/art/x.svg" or {"File": ..., "Size": [w, h]} (the size SVGs render at).
    if (v.isObject()) {
      const QPointF s = v[QStringLiteral("Size")].isUndefined()
                            ? QPointF()
                            : prop::Pair(v[QStringLiteral("Size")], name);
      LoadFromFile(prop::String(v[QStringLiteral("File")], name),
                   QSize(qRound(s.x()), qRound(s.y())));
    } else {
      LoadFromFile(prop::String(v, name));
    }
  } else if (name == u"WrapMode")
    SetWrapMode(prop::Enum<WrapMode>(v, name));
  else
    return Control::SetProperty(name, v);
  return true;
}

// ---------------------------------------------------------------- Text

bool SetTextSetting(TextSettings& s, const QString& name, const QJsonValue& v) {
  if (name == u"FontSize")
    s.size = prop::Float(v, name);
  else if (name == u"FontFamily")
    s.family = prop::String(v, name);
  else if (name == u"Bold")
    s.bold = prop::Bool(v, name);
  else if (name == u"Italic")
    s.italic = prop::Bool(v, name);
  else if (name == u"FontColor")
    s.color = prop::Color(v, name);
  else if (name == u"HorzAlign")
    s.horzAlign = prop::Enum<TextAlign>(v, name);
  else if (name == u"VertAlign")
    s.vertAlign = prop::Enum<TextAlign>(v, name);
  else if (name == u"WordWrap")
    s.wordWrap = prop::Bool(v, name);
  else
    return false;
  return true;
}

QFont MakeFont(const TextSettings& s, float scale) {
  QFont f;
  if (!s.family.isEmpty()) f.setFamily(s.family);
  // Sizes are in form units (device-independent pixels), as the framework measures them.
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(s.size * scale))));
  f.setBold(s.bold);
  f.setItalic(s.italic);
  return f;
}

Text::Text(QObject* owner) : Control(owner) {
  SetHitTest(true);
}

namespace {

QTextOption TextLayoutOption(const TextSettings& s) {
  Qt::Alignment a;
  a |= s.horzAlign == TextAlign::Leading    ? Qt::AlignLeft
       : s.horzAlign == TextAlign::Trailing ? Qt::AlignRight
                                            : Qt::AlignHCenter;
  a |= s.vertAlign == TextAlign::Leading    ? Qt::AlignTop
       : s.vertAlign == TextAlign::Trailing ? Qt::AlignBottom
                                            : Qt::AlignVCenter;
  QTextOption option(a);
  option.setWrapMode(s.wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  return option;
}

}  // namespace

// Text, size, box and font: anything that changes how much room the text needs.
void Text::TextChanged() {
  fittedSize_ = -1;
  if (autoSize_) FitToText();
  Changed();
}

void Text::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  TextChanged();
}

void Text::SetSettings(const TextSettings& s) {
  settings_ = s;
  TextChanged();
}

void Text::SetFontColor(AlphaColor c) {
  settings_.color = c;
  Changed();
}

void Text::SetFontSize(float size) {
  settings_.size = size;
  TextChanged();
}

void Text::SetAutoSize(bool on) {
  autoSize_ = on;
  if (on) FitToText();
}

void Text::SetShrinkToFit(bool on) {
  if (on == shrinkToFit_) return;
  shrinkToFit_ = on;
  TextChanged();
}

float Text::PaintedFontSize() const {
  if (!shrinkToFit_ || text_.isEmpty()) return settings_.size;
  if (fittedSize_ >= 0) return fittedSize_;
  // Measured the way Paint lays the text out (QPainter's own layout of drawText).
  QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&probe);
  const QRectF box = LocalRect();
  const QTextOption option = TextLayoutOption(settings_);
  constexpr qreal kSlack = 0.01;
  TextSettings s = settings_;
  for (;;) {
    p.setFont(MakeFont(s));
    const QRectF needed = p.boundingRect(box, text_, option);
    if (s.size <= 1 ||
        (needed.width() <= box.width() + kSlack && needed.height() <= box.height() + kSlack))
      break;
    s.size = std::max(1.0f, std::ceil(s.size) - 1);
  }
  fittedSize_ = s.size;
  return fittedSize_;
}

void Text::SetElided(bool on) {
  if (on == elided_) return;
  elided_ = on;
  Changed();
}

QString Text::ShownText() const {
  if (!elided_) return text_;
  TextSettings s = settings_;
  s.size = PaintedFontSize();
  return QFontMetricsF(MakeFont(s)).elidedText(text_, Qt::ElideRight, Width());
}

void Text::FitToText() {
  const QFontMetricsF m(MakeFont(settings_));
  SetSize(static_cast<float>(std::ceil(m.horizontalAdvance(text_))),
          static_cast<float>(std::ceil(m.height())));
}

void Text::Paint(QPainter& painter) {
  if (text_.isEmpty()) return;
  TextSettings s = settings_;
  s.size = PaintedFontSize();
  painter.setFont(MakeFont(s));
  painter.setPen(ToQColor(settings_.color));
  QTextOption option = TextLayoutOption(settings_);
  if (elided_) option.setWrapMode(QTextOption::NoWrap);
  painter.drawText(LocalRect(), ShownText(), option);
}

bool Text::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Text")
    SetText(prop::String(v, name));
  else if (name == u"AutoSize")
    SetAutoSize(prop::Bool(v, name));
  else if (SetTextSetting(settings_, name, v))
    TextChanged();
  else
    return Control::SetProperty(name, v);
  return true;
}

// ---------------------------------------------------------------- HorzScrollBox

class ScrollContent : public Control {
 public:
  ScrollContent(HorzScrollBox* box) : Control(box), box_(box) { SetHitTest(false); }

 protected:
  void ChildrenChanged() override { box_->ClampScroll(); }

 private:
  HorzScrollBox* box_;
};

HorzScrollBox::HorzScrollBox(QObject* owner) : Control(owner) {
  SetClipChildren(true);
  content_ = new ScrollContent(this);
  content_->SetName(QString());
  content_->SetParent(this);
}

Control* HorzScrollBox::ContainerFor(Control* child) {
  return child == content_ ? this : content_;
}

float HorzScrollBox::ContentWidth() const {
  float right = 0;
  for (Control* c : content_->Children())
    right = std::max(right, static_cast<float>(c->BoundsInParent().right()));
  return right;
}

void HorzScrollBox::ClampScroll() {
  const float maxX = std::max(0.0f, ContentWidth() - Width());
  scrollX_ = std::clamp(scrollX_, 0.0f, maxX);
  content_->SetBounds(-scrollX_, 0, std::max(ContentWidth(), Width()), Height());
}

void HorzScrollBox::SetScrollX(float x) {
  scrollX_ = x;
  ClampScroll();
}

void HorzScrollBox::SizeChanged() {
  ClampScroll();
}

bool HorzScrollBox::MouseWheel(ShiftState, int delta) {
  const float before = scrollX_;
  ScrollBy(-delta / 120.0f * 40.0f);
  return scrollX_ != before;
}

bool HorzScrollBox::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"ShowScrollBars") return true;  // never drawn: the strip scrolls by wheel or code
  if (name == u"ScrollX")
    SetScrollX(prop::Float(v, name));
  else
    return Control::SetProperty(name, v);
  return true;
}

// ---------------------------------------------------------------- ListBox

namespace {

class ItemStyle : public Control {
 public:
  explicit ItemStyle(ListBoxItem* item) : Control(item), item_(item) {
    SetHitTest(false);
    SetAlign(Align::Contents);
    SetParent(item);
  }

 protected:
  void Paint(QPainter& painter) override {
    if (item_->IsSelected()) painter.fillRect(LocalRect(), QColor(0x33, 0x99, 0xFF, 0x40));
    if (!item_->GetText().isEmpty()) {
      TextSettings s;
      painter.setFont(MakeFont(s));
      painter.setPen(Qt::black);
      painter.drawText(LocalRect().adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                       item_->GetText());
    }
  }
  bool PaintsSelf() const override { return item_->IsSelected() || !item_->GetText().isEmpty(); }

 private:
  ListBoxItem* item_;
};

}  // namespace

class ListContent : public Control {
 public:
  explicit ListContent(ListBox* list) : Control(list), list_(list) { SetHitTest(false); }

 protected:
  void ChildrenChanged() override { list_->LayoutItems(); }

 private:
  ListBox* list_;
};

ListBoxItem::ListBoxItem(QObject* owner) : Control(owner) {
  SetHitTest(false);
  SetSize(0, 19);
  new ItemStyle(this);
}

void ListBoxItem::SetText(const QString& t) {
  text_ = t;
  Changed();
}

ListBox* ListBoxItem::GetListBox() const {
  Control* content = ParentControl();
  return content ? qobject_cast<ListBox*>(content->ParentControl()) : nullptr;
}

void ListBoxItem::Paint(QPainter&) {}

bool ListBoxItem::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Text")
    SetText(prop::String(v, name));
  else
    return Control::SetProperty(name, v);
  return true;
}

ListBox::ListBox(QObject* owner) : Control(owner) {
  SetClipChildren(true);
  content_ = new ListContent(this);
  content_->SetParent(this);
}

Control* ListBox::ContainerFor(Control* child) {
  return qobject_cast<ListBoxItem*>(child) ? content_ : this;
}

int ListBox::Count() const {
  return content_->ChildrenCount();
}

ListBoxItem* ListBox::ItemByIndex(int index) const {
  return static_cast<ListBoxItem*>(content_->Child(index));
}

void ListBox::Clear() {
  itemIndex_ = -1;
  content_->DeleteChildren();
  scrollY_ = 0;
  LayoutItems();
}

void ListBox::SetItemIndex(int index) {
  if (index < -1 || index >= Count()) index = -1;
  itemIndex_ = index;
  for (int i = 0; i < Count(); ++i) ItemByIndex(i)->selected_ = (i == index);
  Changed();
}

void ListBox::SetColumns(int columns) {
  columns_ = std::max(1, columns);
  LayoutItems();
}

void ListBox::SetItemHeight(float h) {
  itemHeight_ = h;
  LayoutItems();
}

void ListBox::LayoutItems() {
  const float itemW = Width() / static_cast<float>(columns_);
  float y = 0, rowH = 0;
  for (int i = 0; i < Count(); ++i) {
    ListBoxItem* item = ItemByIndex(i);
    const int col = i % columns_;
    if (col == 0 && i > 0) {
      y += rowH;
      rowH = 0;
    }
    const float h = itemHeight_ > 0 ? itemHeight_ : item->Height();
    item->SetBounds(itemW * static_cast<float>(col), y, itemW, h);
    rowH = std::max(rowH, h);
  }
  const float total = y + rowH;
  scrollY_ = std::clamp(scrollY_, 0.0f, std::max(0.0f, total - Height()));
  content_->SetBounds(0, -scrollY_, Width(), std::max(total, Height()));
  if (itemIndex_ >= Count()) itemIndex_ = -1;
}

ListBoxItem* ListBox::ItemAtPoint(QPointF local) const {
  const QPointF p(local.x() - content_->X(), local.y() - content_->Y());
  for (int i = 0; i < Count(); ++i)
    if (ItemByIndex(i)->BoundsInParent().contains(p)) return ItemByIndex(i);
  return nullptr;
}

void ListBox::MouseClick(MouseButton button, ShiftState shift, float x, float y) {
  Control::MouseClick(button, shift, x, y);
  ListBoxItem* item = ItemAtPoint(QPointF(x, y));
  if (!item) return;
  SetItemIndex(item->Index());
  if (auto h = OnItemClick) h(this, item);
}

bool ListBox::MouseWheel(ShiftState, int delta) {
  const float before = scrollY_;
  scrollY_ -= delta / 120.0f * 40.0f;
  LayoutItems();
  return scrollY_ != before;
}

void ListBox::Paint(QPainter& painter) {
  painter.fillRect(LocalRect(), Qt::white);
}

bool ListBox::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Columns")
    SetColumns(prop::Int(v, name));
  else if (name == u"ItemHeight")
    SetItemHeight(prop::Float(v, name));
  else if (name == u"ShowScrollBars" || name == u"FocusEffect")
    return true;
  else
    return Control::SetProperty(name, v);
  return true;
}

bool ListBox::BindEvent(const QString& event, QObject* target, const QString& method) {
  if (event == u"OnItemClick")
    OnItemClick = BindHandler<QObject*, ListBoxItem*>(target, method);
  else
    return Control::BindEvent(event, target, method);
  return true;
}

// ---------------------------------------------------------------- ActivityIndicator

ActivityIndicator::ActivityIndicator(QObject* owner) : Control(owner) {
  timer_.setInterval(80);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] {
    phase_ = (phase_ + 1) % 12;
    if (AbsoluteVisible()) Changed();
  });
}

void ActivityIndicator::SetAnimating(bool on) {
  animating_ = on;
  if (on)
    timer_.start();
  else
    timer_.stop();
  Changed();
}

void ActivityIndicator::Paint(QPainter& painter) {
  if (!animating_) return;
  const QPointF c(Width() / 2, Height() / 2);
  const float r = std::min(Width(), Height()) / 2;
  // The twelve spokes stay in place; the fading trail moves round them clockwise with the
  // phase. (Turning the spokes as well as the trail would paint every phase alike.)
  for (int i = 0; i < 12; ++i) {
    const double a = i * M_PI / 6;
    const int alpha = 40 + ((i + 12 - phase_) % 12) * 18;
    painter.setPen(
        QPen(QColor(0x66, 0x66, 0x66, std::min(alpha, 255)), r / 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(c + QPointF(std::cos(a), std::sin(a)) * r * 0.5,
                     c + QPointF(std::cos(a), std::sin(a)) * r * 0.9);
  }
}

bool ActivityIndicator::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Animating")
    SetAnimating(prop::Bool(v, name));
  else if (name == u"Style")
    return true;  // circular only
  else
    return Control::SetProperty(name, v);
  return true;
}

}  // namespace ui
