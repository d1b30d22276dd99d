#include "ui/Description.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <mutex>

#include "ui/Controls.h"
#include "ui/Form.h"

namespace ui {

namespace {

std::mutex g_registryMutex;
QHash<QString, FrameFactory>& FrameClasses() {
  static QHash<QString, FrameFactory> classes;
  return classes;
}
QHash<QString, KindFactory>& Kinds() {
  static QHash<QString, KindFactory> kinds;
  return kinds;
}

Component* MakeBuiltin(const QString& kind, QObject* owner) {
  if (kind == u"Panel") return new Panel(owner);
  if (kind == u"Layout") return new Layout(owner);
  if (kind == u"Image") return new Image(owner);
  if (kind == u"Text") return new Text(owner);
  if (kind == u"Rectangle") return new Rectangle(owner);
  if (kind == u"CalloutRectangle") return new CalloutRectangle(owner);
  if (kind == u"Line") return new Line(owner);
  if (kind == u"PaintBox") return new PaintBox(owner);
  if (kind == u"HorzScrollBox") return new HorzScrollBox(owner);
  if (kind == u"Edit") return new Edit(owner);
  if (kind == u"Memo") return new Memo(owner);
  if (kind == u"ListBox") return new ListBox(owner);
  if (kind == u"ListBoxItem") return new ListBoxItem(owner);
  if (kind == u"ActivityIndicator") return new ActivityIndicator(owner);
  if (kind == u"FloatAnimation") return new FloatAnimation(owner);
  if (kind == u"Timer") return new Timer(owner);
  if (kind == u"ImageList") return new ImageList(owner);
  if (kind == u"OpenDialog") return new OpenDialog(owner);
  return nullptr;
}

bool Reserved(const QString& key) {
  return key == u"kind" || key == u"name" || key == u"children" || key == u"class" ||
         key == u"description" || key == u"overrides" || key == u"comment";
}

// Sizes before the rest, alignment after it (so it places the final size), Enabled last (an
// animation starts with all its settings in place).
int Rank(const QString& key) {
  if (key == u"Width" || key == u"Height" || key == u"Size" || key == u"Scale") return 0;
  if (key == u"Align") return 2;
  if (key == u"Enabled") return 3;
  return 1;
}

class Loader {
 public:
  Loader(Component* root, QString resource) : root_(root), resource_(std::move(resource)) {}

  void Run(const QJsonObject& description) {
    if (description.contains(QStringLiteral("name")) && root_->Name().isEmpty())
      root_->SetName(description[QStringLiteral("name")].toString());
    Apply(root_, description);
    Control* rootControl = qobject_cast<Control*>(root_);
    for (const QJsonValue& child : Children(description, root_)) Create(child, rootControl);
    for (auto& c : created_)
      if (c) c->Loaded();
  }

 private:
  [[noreturn]] void Fail(const QString& where, const QString& what) const {
    throw Error(QStringLiteral("%1: %2: %3").arg(resource_, where, what));
  }

  QJsonArray Children(const QJsonObject& element, Component* c) const {
    const QJsonValue v = element[QStringLiteral("children")];
    if (v.isUndefined()) return {};
    if (!v.isArray()) Fail(c->Name(), QStringLiteral("children must be a list"));
    return v.toArray();
  }

  void Apply(Component* c, const QJsonObject& element) {
    QStringList keys;
    for (auto it = element.begin(); it != element.end(); ++it)
      if (!Reserved(it.key())) keys << it.key();
    std::stable_sort(keys.begin(), keys.end(),
                     [](const QString& a, const QString& b) { return Rank(a) < Rank(b); });
    for (const QString& key : keys) {
      const QJsonValue value = element[key];
      try {
        if (key.startsWith(QLatin1String("On")) && value.isString()) {
          if (!c->BindEvent(key, root_, value.toString()))
            Fail(c->Name(), QStringLiteral("%1 has no event %2")
                                .arg(QString::fromLatin1(c->metaObject()->className()), key));
        } else if (!c->SetProperty(key, value)) {
          Fail(c->Name(), QStringLiteral("%1 has no property %2")
                              .arg(QString::fromLatin1(c->metaObject()->className()), key));
        }
      } catch (const Error& e) {
        const QString message = QString::fromStdU16String(e.Message());
        if (message.startsWith(resource_)) throw;
        Fail(c->Name(), message);
      }
    }
  }

  void Create(const QJsonValue& value, Control* parent) {
    if (!value.isObject()) Fail(root_->Name(), QStringLiteral("a child must be an object"));
    const QJsonObject element = value.toObject();
    const QString kind = element[QStringLiteral("kind")].toString();
    const QString name = element[QStringLiteral("name")].toString();
    if (!name.isEmpty() && root_->FindComponent(name))
      Fail(name, QStringLiteral("the name is used twice"));

    Component* c = nullptr;
    bool custom = false;
    if (kind == u"Frame") {
      c = MakeFrame(element, name);
    } else if ((c = MakeBuiltin(kind, root_)) == nullptr) {
      KindFactory factory;
      {
        std::lock_guard lock(g_registryMutex);
        factory = Kinds().value(kind);
      }
      if (!factory) Fail(name, QStringLiteral("unknown kind \"%1\"").arg(kind));
      c = factory(root_, element, root_);
      if (!c) Fail(name, QStringLiteral("kind %1 made nothing").arg(kind));
      custom = true;
    }
    c->SetName(name);
    created_.push_back(c);
    if (custom) return;

    auto* control = qobject_cast<Control*>(c);
    if (control && parent) control->SetParent(parent);
    if (auto* animation = qobject_cast<FloatAnimation*>(c)) animation->SetTarget(parent);
    Apply(c, element);
    if (kind == u"Frame") ApplyOverrides(static_cast<Frame*>(c), element);

    const QJsonArray children = Children(element, c);
    if (!children.isEmpty() && !control)
      Fail(name, QStringLiteral("a %1 holds no children").arg(kind));
    for (const QJsonValue& child : children) Create(child, control);
    // A frame comes whole and placed; when it shows in a window, what it shows is rendered on
    // other threads while the rest of the window is read, for the window's first paint.
    if (kind == u"Frame" && control && control->RootForm() && control->AbsoluteVisible())
      control->RenderPicturesAhead();
  }

  Frame* MakeFrame(const QJsonObject& element, const QString& name) {
    const QString cls = element[QStringLiteral("class")].toString();
    if (!cls.isEmpty()) {
      FrameFactory factory;
      {
        std::lock_guard lock(g_registryMutex);
        factory = FrameClasses().value(cls);
      }
      if (!factory) Fail(name, QStringLiteral("frame class %1 is not registered").arg(cls));
      return factory(root_);
    }
    const QString description = element[QStringLiteral("description")].toString();
    if (description.isEmpty()) Fail(name, QStringLiteral("a frame needs a class or a description"));
    auto* frame = new Frame(root_);
    try {
      frame->LoadDescription(description);
    } catch (...) {
      delete frame;
      throw;
    }
    return frame;
  }

  // The window's values for components inside an embedded frame win over the frame's own.
  void ApplyOverrides(Frame* frame, const QJsonObject& element) {
    const QJsonValue v = element[QStringLiteral("overrides")];
    if (v.isUndefined()) return;
    if (!v.isObject()) Fail(frame->Name(), QStringLiteral("overrides must be an object"));
    const QJsonObject overrides = v.toObject();
    for (auto it = overrides.begin(); it != overrides.end(); ++it) {
      Component* target = frame->FindComponent(it.key());
      if (!target)
        Fail(frame->Name(), QStringLiteral("the frame has no component %1").arg(it.key()));
      if (!it.value().isObject()) Fail(it.key(), QStringLiteral("an override must be an object"));
      Apply(target, it.value().toObject());
    }
  }

  Component* root_;
  QString resource_;
  std::vector<QPointer<Component>> created_;
};

}  // namespace

void LoadDescription(Component* root, const QString& resource) {
  QFile file(resource);
  if (!file.open(QIODevice::ReadOnly))
    throw Error(QStringLiteral("Description %1 not found").arg(resource));
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
  if (doc.isNull())
    throw Error(
        QStringLiteral("%1: %2 at offset %3").arg(resource, error.errorString()).arg(error.offset));
  if (!doc.isObject())
    throw Error(QStringLiteral("%1: the description must be an object").arg(resource));
  Loader(root, resource).Run(doc.object());
}

void RegisterFrameClass(const QString& className, FrameFactory factory) {
  std::lock_guard lock(g_registryMutex);
  FrameClasses().insert(className, std::move(factory));
}

void RegisterKind(const QString& kind, KindFactory factory) {
  std::lock_guard lock(g_registryMutex);
  Kinds().insert(kind, std::move(factory));
}

}  // namespace ui
