#pragma once
// Window and frame descriptions: JSON documents compiled in as Qt resources, read when the
// window or frame is created. README.md of this layer describes the format.

#include <QJsonObject>
#include <QString>
#include <functional>

#include "ui/Component.h"

namespace ui {

class Frame;

// Builds the components of `root` (a Form or a Frame) from the description at `resource`:
// sets the root's own properties, creates its components (all owned by `root`, named), binds
// their events to methods of `root` found by name, then calls Loaded() on each, in description
// order. Raises ui::Error on a missing resource, malformed JSON, an unknown kind, property or
// event, or a handler that does not exist.
void LoadDescription(Component* root, const QString& resource);

// Frame classes: a description element {"kind": "Frame", "class": "TFrameX"} creates a T.
// T's constructor takes the owner (QObject*) and loads the frame's own description.
using FrameFactory = std::function<Frame*(QObject* owner)>;
void RegisterFrameClass(const QString& className, FrameFactory factory);
template <typename T>
void RegisterFrameClass() {
  RegisterFrameClass(QString::fromLatin1(T::staticMetaObject.className()),
                     [](QObject* owner) -> Frame* { return new T(owner); });
}

// Components of other layers: `kind` elements are made by `factory`, which gets the owner,
// the element (its properties and events) and the description's root (the handler target).
using KindFactory =
    std::function<Component*(QObject* owner, const QJsonObject& element, Component* root)>;
void RegisterKind(const QString& kind, KindFactory factory);

}  // namespace ui
