#pragma once
// The controls the client's windows and frames are made of.

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "ui/Component.h"
#include "ui/Picture.h"

class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace ui {

QColor ToQColor(AlphaColor c);

// A container that draws nothing: groups and places its children.
class Layout : public Control {
  Q_OBJECT
 public:
  explicit Layout(QObject* owner) : Control(owner) { SetHitTest(false); }
};

// A paint box draws what its paint handler draws (nothing by default).
class PaintBox : public Control {
  Q_OBJECT
 public:
  explicit PaintBox(QObject* owner) : Control(owner) {}
  std::function<void(QPainter& painter, QRectF bounds)> OnPaint;

 protected:
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return static_cast<bool>(OnPaint); }
};

// Filled and outlined rectangle.
class Rectangle : public Control {
  Q_OBJECT
 public:
  explicit Rectangle(QObject* owner) : Control(owner) {}
  AlphaColor FillColor() const { return fill_; }
  void SetFillColor(AlphaColor c);
  bool FillVisible() const { return fillOn_; }
  void SetFillVisible(bool on);
  AlphaColor StrokeColor() const { return stroke_; }
  void SetStrokeColor(AlphaColor c);
  bool StrokeVisible() const { return strokeOn_; }
  void SetStrokeVisible(bool on);
  float StrokeThickness() const { return thickness_; }
  void SetStrokeThickness(float t);
  void SetRadii(float xRadius, float yRadius);
  float XRadius() const { return rx_; }
  float YRadius() const { return ry_; }
  Sides OutlinedSides() const { return sides_; }
  void SetSides(Sides sides);

  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return fillOn_ && (fill_ >> 24) != 0; }
  // A plain rectangle filled opaquely and not outlined (an outline takes the fill half a line in,
  // and its own edge is smoothed).
  bool PaintsOpaque() const override {
    return fillOn_ && (fill_ >> 24) == 0xFF && rx_ <= 0 && ry_ <= 0 &&
           (!strokeOn_ || thickness_ <= 0);
  }
  virtual QPainterPath Shape() const;

 private:
  AlphaColor fill_ = 0xFFE0E0E0, stroke_ = 0xFF000000;
  bool fillOn_ = true, strokeOn_ = true;
  float thickness_ = 1, rx_ = 0, ry_ = 0;
  Sides sides_ = Sides(sdTop | sdLeft | sdBottom | sdRight);
};

// A rectangle with a pointer on one side; the pointer lies inside the control's bounds.
class CalloutRectangle : public Rectangle {
  Q_OBJECT
 public:
  explicit CalloutRectangle(QObject* owner) : Rectangle(owner) {}
  CalloutPosition GetCalloutPosition() const { return pos_; }
  void SetCalloutPosition(CalloutPosition p);
  float CalloutOffset() const { return offset_; }
  void SetCalloutOffset(float v);
  float CalloutWidth() const { return width_; }
  void SetCalloutWidth(float v);
  float CalloutLength() const { return length_; }
  void SetCalloutLength(float v);

  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  bool PaintsOpaque() const override { return false; }  // the pointer leaves corners uncovered
  QPainterPath Shape() const override;

 private:
  CalloutPosition pos_ = CalloutPosition::Top;
  float offset_ = 0, width_ = 23, length_ = 11;
};

class Panel : public Rectangle {
  Q_OBJECT
 public:
  explicit Panel(QObject* owner);
};

class Line : public Control {
  Q_OBJECT
 public:
  explicit Line(QObject* owner) : Control(owner) {}
  LineType GetLineType() const { return type_; }
  void SetLineType(LineType t);
  AlphaColor StrokeColor() const { return stroke_; }
  void SetStrokeColor(AlphaColor c);
  float StrokeThickness() const { return thickness_; }
  void SetStrokeThickness(float t);
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return true; }

 private:
  LineType type_ = LineType::Diagonal;
  AlphaColor stroke_ = 0xFF000000;
  float thickness_ = 1;
};

class Image : public Control {
  Q_OBJECT
 public:
  explicit Image(QObject* owner) : Control(owner) {}
  // The picture at its full size (a picture file is decoded for the call).
  QImage Bitmap() const { return picture_.ToImage(); }
  void SetBitmap(const QImage& bitmap) { SetPicture(Picture(bitmap)); }
  // The picture as kept: copying it to another image copies the picture without decoding it.
  const Picture& GetPicture() const { return picture_; }
  void SetPicture(const Picture& picture);
  // Reads a picture file (see Picture::FromFile); raises ui::Error when it does not decode
  // (picture unchanged).
  void LoadFromFile(const QString& file, QSize svgSize = {});
  WrapMode GetWrapMode() const { return wrap_; }
  void SetWrapMode(WrapMode mode);
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void Paint(QPainter& painter) override;
  void PreparePaint(const QTransform& transform, const std::optional<QRectF>& clip, qreal dpr,
                    std::vector<PaintWork>& out) override;
  void RenderOwnPictureAhead() override { picture_.RenderAhead(); }
  bool PaintsSelf() const override { return !picture_.IsNull(); }

 private:
  // Where Paint draws the scaled picture (local units), when it draws one.
  std::optional<QRectF> ScaledTarget() const;
  void DrawScaled(QPainter& painter, const QRectF& target);
  void KeepScaled(QImage scaled, QSize size, qreal dpr);
  Picture picture_;
  WrapMode wrap_ = WrapMode::Fit;
  QPixmap cache_;
  QSize cacheSize_;
  qint64 cacheKey_ = 0;
  // The scaled picture being made on another thread for the next paint (PreparePaint).
  struct Coming {
    std::future<QImage> picture;
    QSize size;
    qint64 key = 0;
  };
  std::optional<Coming> coming_;
};

// Font and placement of a text.
struct TextSettings {
  QString family;  // empty: the application font
  float size = 12;
  bool bold = false;
  bool italic = false;
  AlphaColor color = 0xFF000000;
  TextAlign horzAlign = TextAlign::Center;
  TextAlign vertAlign = TextAlign::Center;
  bool wordWrap = true;
};
// Applies "FontSize", "FontFamily", "Bold", "Italic", "FontColor", "HorzAlign", "VertAlign",
// "WordWrap"; false for any other name.
bool SetTextSetting(TextSettings& settings, const QString& name, const QJsonValue& value);
// A font of `size` design units for a painter on `device`.
QFont MakeFont(const TextSettings& settings, float scale = 1.0f);

class Text : public Control {
  Q_OBJECT
 public:
  explicit Text(QObject* owner);
  QString GetText() const { return text_; }
  void SetText(const QString& text);
  const TextSettings& Settings() const { return settings_; }
  void SetSettings(const TextSettings& s);
  void SetFontColor(AlphaColor c);
  void SetFontSize(float size);
  // Sized to its text.
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool on);
  // The font keeps its size while the whole text fits the box; otherwise it is drawn a whole
  // unit smaller at a time until all of it fits (wrapped when WordWrap is set), so no part of
  // the text is cut off.
  bool ShrinkToFit() const { return shrinkToFit_; }
  void SetShrinkToFit(bool on);
  // The font size the text is drawn at: the settings' size, or less when it shrinks to fit.
  float PaintedFontSize() const;
  // Drawn on one line and, where it would run past the box, cut short with an ellipsis (the
  // text itself stays whole).
  bool Elided() const { return elided_; }
  void SetElided(bool on);
  // The text as it is drawn: the whole text, or its elided form.
  QString ShownText() const;
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return !text_.isEmpty(); }
  void SizeChanged() override { fittedSize_ = -1; }

 private:
  void FitToText();
  void TextChanged();
  QString text_;
  TextSettings settings_;
  bool autoSize_ = false;
  bool shrinkToFit_ = false;
  bool elided_ = false;
  mutable float fittedSize_ = -1;  // worked out when first drawn after a change
};

// Horizontal scroll box: children go into its content; the scroll position stays within the
// content.
class HorzScrollBox : public Control {
  Q_OBJECT
 public:
  explicit HorzScrollBox(QObject* owner);
  Control* Content() const { return content_; }
  float ScrollX() const { return scrollX_; }
  // Kept within 0 .. content width - viewport width.
  void SetScrollX(float x);
  void ScrollBy(float dx) { SetScrollX(scrollX_ + dx); }
  // The width spanned by the content's children (their right-most edge).
  float ContentWidth() const;
  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool MouseWheel(ShiftState shift, int delta) override;

 protected:
  Control* ContainerFor(Control* child) override;
  void SizeChanged() override;

 private:
  friend class ScrollContent;
  void ClampScroll();
  Control* content_;
  float scrollX_ = 0;
};

// Base of the controls backed by a real Qt text widget (input methods, clipboard, selection).
class NativeControl : public Control {
  Q_OBJECT
 public:
  explicit NativeControl(QObject* owner) : Control(owner) {}
  ~NativeControl() override;
  QWidget* Widget() const;
  // Gives this control the keyboard focus. A control covered by a painted one (its widget hidden
  // meanwhile) takes it too and its widget gets it when it shows; a hidden or disabled control
  // cannot take it.
  void SetFocus();
  bool IsFocused() const;
  bool CanFocus() const override { return true; }
  const TextSettings& Settings() const { return settings_; }
  void SetFontSize(float size);
  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool BindEvent(const QString& event, QObject* target, const QString& method) override;

  KeyEvent OnKeyDown;
  NotifyEvent OnChange;

 protected:
  void InstallWidget(QWidget* widget);
  // Raises the key-down of the form, then of this control; returns true when consumed.
  bool DispatchKey(quint16 key, QChar ch, ShiftState shift);
  void RaiseChange();
  virtual void FocusLost() {}
  // The focus left this control: its FocusLost runs once the focus change is complete.
  void PostFocusLost();
  // Its widget got the focus.
  void GotFocus();
  // After the widget took an Enter key; `before` is the text it held until then.
  virtual void EnterPressed(const QString& before) { (void)before; }
  virtual QString CurrentText() const { return {}; }
  // While a painting control covers it, its widget is hidden and the window draws the widget's
  // picture here instead, beneath what covers it.
  void Paint(QPainter& painter) override;
  // The widget's text changed.
  void WidgetContentChanged();
  TextSettings settings_;

 private:
  friend class Form;
  friend class NativeFilter;
  QPointer<QWidget> widget_;
  bool quietFocusOut_ = false;  // the layer itself takes the widget's focus away
  bool covered_ = false;        // its widget is hidden because a painting control covers it
};

class Edit : public NativeControl {
  Q_OBJECT
 public:
  explicit Edit(QObject* owner);
  QString GetText() const;
  void SetText(const QString& text);
  int MaxLength() const;  // 0: no limit
  void SetMaxLength(int length);
  QString TextPrompt() const;
  void SetTextPrompt(const QString& prompt);
  void SelectAll();
  void ResetSelection();
  int SelLength() const;
  QLineEdit* LineEdit() const;
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void FocusLost() override;
  void EnterPressed(const QString& before) override;
  QString CurrentText() const override { return GetText(); }

 private:
  bool changedSinceNotify_ = false;
};

class Memo : public NativeControl {
  Q_OBJECT
 public:
  explicit Memo(QObject* owner);
  QString GetText() const;
  // Sets the text (cut to the maximum length); raises no change event.
  void SetText(const QString& text);
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int length);
  bool WordWrap() const;
  void SetWordWrap(bool on);
  void SelectAll();
  void DeleteSelection();
  void ResetSelection();
  QPlainTextEdit* TextEdit() const;
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void FocusLost() override;
  void EnterPressed(const QString& before) override;
  QString CurrentText() const override { return GetText(); }

 private:
  void ContentsChanged(int position, int removed, int added);
  int maxLength_ = 0;
  QString textAtNotify_;
  bool inFix_ = false;
};

class ListBox;

// One item of a list box. Like the framework's item, its first child is its style object, so
// the children an application adds start at index 1.
class ListBoxItem : public Control {
  Q_OBJECT
 public:
  explicit ListBoxItem(QObject* owner);
  QString GetText() const { return text_; }
  void SetText(const QString& t);
  bool IsSelected() const { return selected_; }
  ListBox* GetListBox() const;
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return true; }

 private:
  friend class ListBox;
  QString text_;
  bool selected_ = false;
};

using ItemClickEvent = std::function<void(QObject* sender, ListBoxItem* item)>;

class ListBox : public Control {
  Q_OBJECT
 public:
  explicit ListBox(QObject* owner);
  int Count() const;
  ListBoxItem* ItemByIndex(int index) const;
  void AddItem(ListBoxItem* item) { item->SetParent(this); }
  // Destroys every item.
  void Clear();
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  int Columns() const { return columns_; }
  void SetColumns(int columns);
  float ItemHeight() const { return itemHeight_; }  // 0: each item's own height
  void SetItemHeight(float h);
  float ScrollY() const { return scrollY_; }
  // The item under a point in the list box's units, or nullptr.
  ListBoxItem* ItemAtPoint(QPointF local) const;
  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool BindEvent(const QString& event, QObject* target, const QString& method) override;
  void MouseClick(MouseButton button, ShiftState shift, float x, float y) override;
  bool MouseWheel(ShiftState shift, int delta) override;
  bool CanFocus() const override { return true; }  // as the framework's list box

  ItemClickEvent OnItemClick;

 protected:
  Control* ContainerFor(Control* child) override;
  void SizeChanged() override { LayoutItems(); }
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return true; }

 private:
  friend class ListContent;
  void LayoutItems();
  Control* content_;
  int itemIndex_ = -1;
  int columns_ = 1;
  float itemHeight_ = 0;
  float scrollY_ = 0;
};

// Spinning activity indicator; spins while animating and visible.
class ActivityIndicator : public Control {
  Q_OBJECT
 public:
  explicit ActivityIndicator(QObject* owner);
  bool Animating() const { return animating_; }
  void SetAnimating(bool on);
  void Start() { SetAnimating(true); }
  void Stop() { SetAnimating(false); }
  int Phase() const { return phase_; }
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 protected:
  void Paint(QPainter& painter) override;
  bool PaintsSelf() const override { return animating_; }

 private:
  QTimer timer_;
  bool animating_ = false;
  int phase_ = 0;
};

// A timer whose ticks come through the UI event loop. A tick is not delivered again while its
// handler still runs (for instance while the handler shows a modal dialog).
class Timer : public Component {
  Q_OBJECT
 public:
  explicit Timer(QObject* owner);
  int Interval() const { return interval_; }
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool BindEvent(const QString& event, QObject* target, const QString& method) override;
  void Loaded() override;

  NotifyEvent OnTimer;

 private:
  void Tick();
  void Apply();
  QTimer timer_;
  int interval_ = 1000;
  bool enabled_ = true;
  bool inTick_ = false;
  bool loading_ = true;
};

// Animates a float property of its target control from StartValue to StopValue, linearly.
// Enabling it starts it unless it runs; the first frame is applied at once. Disabling a
// running animation jumps to the stop value and raises OnFinish.
class FloatAnimation : public Component {
  Q_OBJECT
 public:
  explicit FloatAnimation(QObject* owner);
  Control* Target() const { return target_; }
  void SetTarget(Control* target) { target_ = target; }
  QString PropertyName() const { return property_; }
  void SetPropertyName(const QString& name) { property_ = name; }
  float StartValue() const { return start_; }
  void SetStartValue(float v) { start_ = v; }
  float StopValue() const { return stop_; }
  void SetStopValue(float v) { stop_ = v; }
  bool StartFromCurrent() const { return fromCurrent_; }
  void SetStartFromCurrent(bool on) { fromCurrent_ = on; }
  float Duration() const { return duration_; }  // seconds
  void SetDuration(float seconds) { duration_ = seconds; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  bool Running() const { return running_; }
  void Start();
  void StopAnimation();
  // Moves the animation to the given elapsed time (used by the frame clock and by tests).
  void ProcessAt(double elapsedSeconds);
  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool BindEvent(const QString& event, QObject* target, const QString& method) override;
  void Loaded() override;

  NotifyEvent OnFinish;

 private:
  void Apply(float value);
  void Finish();
  QPointer<Control> target_;
  QString property_;
  float start_ = 0, stop_ = 0, from_ = 0;
  float duration_ = 0.2f;
  bool fromCurrent_ = false, enabled_ = false, running_ = false, loading_ = true;
  QTimer frame_;
  QElapsedTimer clock_;
};

// Named pictures; Bitmap() gives one at a requested size.
class ImageList : public Component {
  Q_OBJECT
 public:
  explicit ImageList(QObject* owner) : Component(owner) {}
  int Count() const { return static_cast<int>(items_.size()); }
  void Add(const QString& name, const QString& file);
  int IndexOf(const QString& name) const;
  // The picture at `index`, drawn to `size` pixels; a null image when the index is out of range.
  QImage Bitmap(QSize size, int index) const;
  bool SetProperty(const QString& name, const QJsonValue& value) override;

 private:
  struct Item {
    QString name, file;
  };
  std::vector<Item> items_;
};

// The platform's file-open dialog. Execute shows it modally; OnClose follows every closing.
class OpenDialog : public Component {
  Q_OBJECT
 public:
  explicit OpenDialog(QObject* owner) : Component(owner) {}
  // "Name(*.a,*.b)|*.a;*.b|..." as the descriptions write it.
  QString Filter() const { return filter_; }
  void SetFilter(const QString& f) { filter_ = f; }
  // The same filter in Qt's notation ("Name(*.a,*.b) (*.a *.b);;...").
  QString QtFilter() const;
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& name) { fileName_ = name; }
  bool Execute();
  bool SetProperty(const QString& name, const QJsonValue& value) override;
  bool BindEvent(const QString& event, QObject* target, const QString& method) override;

  NotifyEvent OnClose;

 private:
  QString filter_, fileName_;
};

}  // namespace ui
