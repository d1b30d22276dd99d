// Edits and memos are real Qt text widgets laid over the form's surface, so input methods,
// the clipboard and selection work as on any Qt program.

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "BusyWaitDetail.h"
#include "Properties.h"
#include "Surface.h"
#include "ui/Application.h"
#include "ui/Binding.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace ui {

// Watches the key presses and focus changes of a control's text widget.
class NativeFilter : public QObject {
 public:
  explicit NativeFilter(NativeControl* control) : QObject(control), control_(control) {}

  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::KeyPress) {
      auto* ke = static_cast<QKeyEvent*>(e);
      QPointer<NativeControl> self(control_);
      QPointer<QObject> widget(watched);
      const quint16 key = VirtualKey(ke->key());
      const QChar ch = ke->text().isEmpty() ? QChar() : ke->text().at(0);
      if (control_->DispatchKey(key, ch, KeyShift(ke->modifiers()))) return true;
      if (!self || !widget) return true;
      if (key == vk::Return) {
        // Let the widget take the key first, then report the change it made.
        const QString before = self->CurrentText();
        widget->event(e);
        if (self) self->EnterPressed(before);
        return true;
      }
      return false;
    }
    if (e->type() == QEvent::FocusIn) {
      control_->GotFocus();
    } else if (e->type() == QEvent::FocusOut) {
      // The window losing its activation (to another window, a modal dialog or a popup menu) is
      // no leave: the control keeps the focus in its window and gets it back with the window.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
      if (!control_->quietFocusOut_ && reason != Qt::ActiveWindowFocusReason &&
          reason != Qt::PopupFocusReason)
        control_->PostFocusLost();
    }
    return false;
  }

 private:
  NativeControl* control_;
};

NativeControl::~NativeControl() {
  delete widget_.data();
}

QWidget* NativeControl::Widget() const {
  return widget_;
}

void NativeControl::InstallWidget(QWidget* widget) {
  widget_ = widget;
  widget->hide();
  widget->installEventFilter(new NativeFilter(this));
  widget->setFont(MakeFont(settings_));
}

void NativeControl::Paint(QPainter& painter) {
  if (!covered_ || !widget_) return;
  // The widget is laid out in the form's units at its scaled place (SyncNative): draw it there,
  // under the painter's device transform, as it shows when nothing covers it (a widget takes no
  // opacity; a disabled one has its own look).
  painter.save();
  painter.setTransform(LocalToForm().inverted() * painter.transform());
  painter.setOpacity(1.0);
  widget_->render(&painter, widget_->geometry().topLeft(), QRegion(), QWidget::DrawChildren);
  painter.restore();
}

void NativeControl::WidgetContentChanged() {
  // A widget that shows repaints itself; the picture of a covered one is the window's.
  if (covered_) Changed();
}

void NativeControl::SetFocus() {
  if (!widget_) return;
  Form* f = RootForm();
  if (!f) {
    widget_->setFocus(Qt::OtherFocusReason);
    return;
  }
  f->SyncNative();
  if (!widget_->isHidden()) {
    widget_->setFocus(Qt::OtherFocusReason);
    GotFocus();  // also when the window is inactive and Qt sends no focus-in
  } else if (AbsoluteVisible() && AbsoluteEnabled()) {
    f->ParkFocus(this);  // covered: its widget takes the focus when it shows
  }
}

bool NativeControl::IsFocused() const {
  if (!widget_) return false;
  if (widget_->hasFocus()) return true;
  Form* f = RootForm();
  return f && f->parkedFocus_ == this;
}

void NativeControl::GotFocus() {
  if (Form* f = RootForm()) f->TextFocusIn(this);
}

void NativeControl::PostFocusLost() {
  // Queued, and held back while the UI thread waits on a blocked write: the change handler may
  // send.
  QPointer<NativeControl> self(this);
  QMetaObject::invokeMethod(
      this,
      [self] {
        detail::RunOrHold([self] {
          if (self) self->FocusLost();
        });
      },
      Qt::QueuedConnection);
}

void NativeControl::SetFontSize(float size) {
  settings_.size = size;
  Changed();
}

bool NativeControl::DispatchKey(quint16 key, QChar ch, ShiftState shift) {
  QPointer<NativeControl> self(this);
  if (Form* f = RootForm()) {
    if (f->DispatchKeyDown(key, ch, shift)) return true;
  }
  if (!self) return true;
  if (OnKeyDown) {
    Guarded([&] { OnKeyDown(this, key, ch, shift); });
    if (key == 0 && ch.isNull()) return true;
  }
  return !self;
}

void NativeControl::RaiseChange() {
  if (OnChange) Guarded([&] { OnChange(this); });
}

bool NativeControl::SetProperty(const QString& name, const QJsonValue& v) {
  if (SetTextSetting(settings_, name, v)) {
    Changed();
    return true;
  }
  if (name == u"ShowScrollBars" || name == u"FocusEffect") return true;
  return Control::SetProperty(name, v);
}

bool NativeControl::BindEvent(const QString& event, QObject* target, const QString& method) {
  if (event == u"OnKeyDown")
    OnKeyDown = BindHandler<QObject*, quint16&, QChar&, ShiftState>(target, method);
  else if (event == u"OnChange")
    OnChange = BindHandler<QObject*>(target, method);
  else
    return Control::BindEvent(event, target, method);
  return true;
}

// ---------------------------------------------------------------- Edit

Edit::Edit(QObject* owner) : NativeControl(owner) {
  settings_.horzAlign = TextAlign::Leading;
  auto* w = new QLineEdit;
  w->setFrame(true);
  InstallWidget(w);
  QObject::connect(w, &QLineEdit::textEdited, this, [this] { changedSinceNotify_ = true; });
  QObject::connect(w, &QLineEdit::textChanged, this, [this] { WidgetContentChanged(); });
  SetSize(100, 22);
}

QLineEdit* Edit::LineEdit() const {
  return static_cast<QLineEdit*>(Widget());
}
QString Edit::GetText() const {
  return LineEdit() ? LineEdit()->text() : QString();
}
void Edit::SetText(const QString& text) {
  if (LineEdit()) LineEdit()->setText(text);
  changedSinceNotify_ = false;
}
int Edit::MaxLength() const {
  const int m = LineEdit() ? LineEdit()->maxLength() : 0;
  return m >= 32767 ? 0 : m;
}
void Edit::SetMaxLength(int length) {
  if (LineEdit()) LineEdit()->setMaxLength(length > 0 ? length : 32767);
}
QString Edit::TextPrompt() const {
  return LineEdit() ? LineEdit()->placeholderText() : QString();
}
void Edit::SetTextPrompt(const QString& prompt) {
  if (LineEdit()) LineEdit()->setPlaceholderText(prompt);
}
void Edit::SelectAll() {
  if (LineEdit()) LineEdit()->selectAll();
}
void Edit::ResetSelection() {
  if (LineEdit()) LineEdit()->deselect();
}
int Edit::SelLength() const {
  return LineEdit() ? LineEdit()->selectedText().size() : 0;
}

void Edit::EnterPressed(const QString&) {
  if (!changedSinceNotify_) return;
  changedSinceNotify_ = false;
  RaiseChange();
}

void Edit::FocusLost() {
  EnterPressed(QString());
}

bool Edit::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Text")
    SetText(prop::String(v, name));
  else if (name == u"MaxLength")
    SetMaxLength(prop::Int(v, name));
  else if (name == u"TextPrompt")
    SetTextPrompt(prop::String(v, name));
  else
    return NativeControl::SetProperty(name, v);
  return true;
}

// ---------------------------------------------------------------- Memo

Memo::Memo(QObject* owner) : NativeControl(owner) {
  settings_.horzAlign = TextAlign::Leading;
  auto* w = new QPlainTextEdit;
  w->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  w->setTabChangesFocus(true);
  InstallWidget(w);
  QObject::connect(
      w->document(), &QTextDocument::contentsChange, this,
      [this](int pos, int removed, int added) { ContentsChanged(pos, removed, added); });
  QObject::connect(w, &QPlainTextEdit::textChanged, this, [this] { WidgetContentChanged(); });
  SetSize(200, 50);
}

QPlainTextEdit* Memo::TextEdit() const {
  return static_cast<QPlainTextEdit*>(Widget());
}

QString Memo::GetText() const {
  if (!TextEdit()) return {};
  // Lines are joined by the framework's line break, a carriage return and a line feed.
  QString t = TextEdit()->toPlainText();
  t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return t;
}

void Memo::SetText(const QString& text) {
  if (!TextEdit()) return;
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  TextEdit()->setPlainText(t);
  textAtNotify_ = GetText();
  TextEdit()->moveCursor(QTextCursor::End);
}

void Memo::SetMaxLength(int length) {
  maxLength_ = std::max(0, length);
  if (TextEdit() && maxLength_ > 0 && TextEdit()->toPlainText().size() > maxLength_)
    SetText(TextEdit()->toPlainText().left(maxLength_));
}

bool Memo::WordWrap() const {
  return TextEdit() && TextEdit()->lineWrapMode() == QPlainTextEdit::WidgetWidth;
}

void Memo::SetWordWrap(bool on) {
  settings_.wordWrap = on;
  if (TextEdit())
    TextEdit()->setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void Memo::SelectAll() {
  if (TextEdit()) TextEdit()->selectAll();
}

void Memo::DeleteSelection() {
  if (!TextEdit()) return;
  QTextCursor c = TextEdit()->textCursor();
  c.removeSelectedText();
  TextEdit()->setTextCursor(c);
}

void Memo::ResetSelection() {
  if (!TextEdit()) return;
  QTextCursor c = TextEdit()->textCursor();
  c.clearSelection();
  TextEdit()->setTextCursor(c);
}

void Memo::ContentsChanged(int position, int, int added) {
  if (inFix_) return;
  QTextDocument* doc = TextEdit()->document();
  const int length = doc->characterCount() - 1;
  if (maxLength_ <= 0 || length <= maxLength_) return;
  // Cut what was just inserted so the text stays within the maximum length.
  const int excess = length - maxLength_;
  inFix_ = true;
  QTextCursor c(doc);
  const int end = std::min(position + added, length);
  const int start = std::max(0, end - excess);
  c.setPosition(start);
  c.setPosition(end, QTextCursor::KeepAnchor);
  c.removeSelectedText();
  inFix_ = false;
}

// The framework reports a memo's change when Enter put a line break in, and when the focus
// leaves it with a text other than at the last report.
void Memo::EnterPressed(const QString& before) {
  if (GetText() == before) return;
  textAtNotify_ = GetText();
  RaiseChange();
}

void Memo::FocusLost() {
  if (GetText() == textAtNotify_) return;
  textAtNotify_ = GetText();
  RaiseChange();
}

bool Memo::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Text")
    SetText(prop::String(v, name));
  else if (name == u"MaxLength")
    SetMaxLength(prop::Int(v, name));
  else if (name == u"WordWrap")
    SetWordWrap(prop::Bool(v, name));
  else
    return NativeControl::SetProperty(name, v);
  return true;
}

}  // namespace ui
