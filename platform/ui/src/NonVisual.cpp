#include <QFileDialog>
#include <QRegularExpression>

#include "Properties.h"
#include "ui/Application.h"
#include "ui/Binding.h"
#include "ui/Controls.h"

namespace ui {

// ---------------------------------------------------------------- Timer

Timer::Timer(QObject* owner) : Component(owner) {
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  loading_ = false;
  Apply();
}

void Timer::SetInterval(int ms) {
  interval_ = std::max(0, ms);
  Apply();
}

void Timer::SetEnabled(bool on) {
  enabled_ = on;
  Apply();
}

void Timer::Apply() {
  if (enabled_ && interval_ > 0 && !loading_)
    timer_.start(interval_);
  else
    timer_.stop();
}

void Timer::Loaded() {
  loading_ = false;
  Apply();
}

void Timer::Tick() {
  if (inTick_ || !OnTimer) return;
  inTick_ = true;
  QPointer<Timer> self(this);
  auto handler = OnTimer;  // the handler may destroy this timer
  Guarded([&] { handler(this); });
  if (self) inTick_ = false;
}

bool Timer::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Interval")
    SetInterval(prop::Int(v, name));
  else if (name == u"Enabled")
    SetEnabled(prop::Bool(v, name));
  else
    return Component::SetProperty(name, v);
  return true;
}

bool Timer::BindEvent(const QString& event, QObject* target, const QString& method) {
  if (event == u"OnTimer")
    OnTimer = BindHandler<QObject*>(target, method);
  else
    return Component::BindEvent(event, target, method);
  return true;
}

// ---------------------------------------------------------------- FloatAnimation

FloatAnimation::FloatAnimation(QObject* owner) : Component(owner) {
  frame_.setInterval(15);
  QObject::connect(&frame_, &QTimer::timeout, this, [this] {
    Guarded([&] { ProcessAt(static_cast<double>(clock_.nsecsElapsed()) / 1e9); });
  });
  loading_ = false;
}

void FloatAnimation::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (loading_) return;
  if (on)
    Start();
  else
    StopAnimation();
}

void FloatAnimation::Loaded() {
  loading_ = false;
  if (enabled_ && !running_) Start();
}

void FloatAnimation::Apply(float value) {
  if (!target_) return;
  if (!target_->SetFloatProperty(property_, value))
    throw Error(QStringLiteral("Animation %1: %2 has no property %3")
                    .arg(Name(), target_->Name(), property_));
}

void FloatAnimation::Start() {
  from_ = start_;
  if (fromCurrent_ && target_) target_->GetFloatProperty(property_, from_);
  running_ = true;
  clock_.start();
  // The first frame is applied at once.
  Apply(from_);
  if (duration_ <= 0) {
    Apply(stop_);
    Finish();
    return;
  }
  frame_.start();
}

void FloatAnimation::ProcessAt(double t) {
  if (!running_) return;
  if (t >= duration_) {
    Apply(stop_);
    Finish();
    return;
  }
  Apply(from_ + (stop_ - from_) * static_cast<float>(t / duration_));
}

void FloatAnimation::StopAnimation() {
  if (!running_) return;
  Apply(stop_);
  Finish();
}

void FloatAnimation::Finish() {
  running_ = false;
  frame_.stop();
  if (auto h = OnFinish) h(this);
}

bool FloatAnimation::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"PropertyName")
    SetPropertyName(prop::String(v, name));
  else if (name == u"StartValue")
    SetStartValue(prop::Float(v, name));
  else if (name == u"StopValue")
    SetStopValue(prop::Float(v, name));
  else if (name == u"Duration")
    SetDuration(prop::Float(v, name));
  else if (name == u"StartFromCurrent")
    SetStartFromCurrent(prop::Bool(v, name));
  else if (name == u"Enabled")
    SetEnabled(prop::Bool(v, name));
  else if (name == u"Interpolation") {
    if (prop::String(v, name) != u"Linear") prop::Bad(name, "Linear");
  } else
    return Component::SetProperty(name, v);
  return true;
}

bool FloatAnimation::BindEvent(const QString& event, QObject* target, const QString& method) {
  if (event == u"OnFinish")
    OnFinish = BindHandler<QObject*>(target, method);
  else
    return Component::BindEvent(event, target, method);
  return true;
}

// ---------------------------------------------------------------- ImageList

void ImageList::Add(const QString& name, const QString& file) {
  items_.push_back({name, file});
}

int ImageList::IndexOf(const QString& name) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].name == name) return static_cast<int>(i);
  return -1;
}

QImage ImageList::Bitmap(QSize size, int index) const {
  if (index < 0 || index >= Count()) return {};
  QImage picture = LoadPicture(items_[static_cast<size_t>(index)].file, size);
  if (picture.size() != size && !size.isEmpty())
    picture = picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return picture;
}

bool ImageList::SetProperty(const QString& name, const QJsonValue& v) {
  if (name != u"Images") return Component::SetProperty(name, v);
  if (!v.isArray()) prop::Bad(name, "a list of {\"Name\": ..., \"File\": ...}");
  for (const QJsonValue& e : v.toArray()) {
    const QString file = prop::String(e[QStringLiteral("File")], name);
    Picture::FromFile(file);  // a picture that does not decode is a description error
    Add(e[QStringLiteral("Name")].toString(), file);
  }
  return true;
}

// ---------------------------------------------------------------- OpenDialog

QString OpenDialog::QtFilter() const {
  const QStringList parts = filter_.split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  if (parts.size() % 2 == 1 && !parts.back().isEmpty() && out.isEmpty()) out << parts.back();
  return out.join(QLatin1String(";;"));
}

bool OpenDialog::Execute() {
  const std::optional<QString> chosen = RunFileDialog(*this);
  if (chosen) fileName_ = *chosen;
  if (OnClose) OnClose(this);
  return chosen.has_value();
}

bool OpenDialog::SetProperty(const QString& name, const QJsonValue& v) {
  if (name == u"Filter")
    SetFilter(prop::String(v, name));
  else if (name == u"FileName")
    SetFileName(prop::String(v, name));
  else
    return Component::SetProperty(name, v);
  return true;
}

bool OpenDialog::BindEvent(const QString& event, QObject* target, const QString& method) {
  if (event == u"OnClose")
    OnClose = BindHandler<QObject*>(target, method);
  else
    return Component::BindEvent(event, target, method);
  return true;
}

}  // namespace ui
