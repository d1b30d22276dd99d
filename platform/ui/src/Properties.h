#pragma once
// Reading description values; every mismatch raises ui::Error naming the property.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaEnum>
#include <QPointF>

#include "ui/Types.h"

namespace ui::prop {

[[noreturn]] void Bad(const QString& name, const char* expected);
double Number(const QJsonValue& v, const QString& name);
inline float Float(const QJsonValue& v, const QString& name) {
  return static_cast<float>(Number(v, name));
}
inline int Int(const QJsonValue& v, const QString& name) {
  return static_cast<int>(Number(v, name));
}
bool Bool(const QJsonValue& v, const QString& name);
QString String(const QJsonValue& v, const QString& name);
// [a, b] or {"X": a, "Y": b}
QPointF Pair(const QJsonValue& v, const QString& name);
// [left, top, right, bottom], one number for all four, or {"Left": .., "Top": .., ...}
Bounds Edges(const QJsonValue& v, const QString& name);
// "#AARRGGBB", "0xAARRGGBB" or a number.
AlphaColor Color(const QJsonValue& v, const QString& name);

template <typename E>
E Enum(const QJsonValue& v, const QString& name) {
  const QMetaEnum me = QMetaEnum::fromType<E>();
  bool ok = false;
  const int value = me.keyToValue(String(v, name).toLatin1().constData(), &ok);
  if (!ok) Bad(name, me.name());
  return static_cast<E>(value);
}

}  // namespace ui::prop
