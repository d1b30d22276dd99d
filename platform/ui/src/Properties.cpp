#include "Properties.h"

namespace ui::prop {

void Bad(const QString& name, const char* expected) {
  throw Error(QStringLiteral("Property %1: expected %2").arg(name, QString::fromLatin1(expected)));
}

double Number(const QJsonValue& v, const QString& name) {
  if (!v.isDouble()) Bad(name, "a number");
  return v.toDouble();
}

bool Bool(const QJsonValue& v, const QString& name) {
  if (!v.isBool()) Bad(name, "true or false");
  return v.toBool();
}

QString String(const QJsonValue& v, const QString& name) {
  if (!v.isString()) Bad(name, "a text");
  return v.toString();
}

QPointF Pair(const QJsonValue& v, const QString& name) {
  if (v.isArray() && v.toArray().size() == 2)
    return {Number(v.toArray()[0], name), Number(v.toArray()[1], name)};
  if (v.isObject())
    return {Number(v[QStringLiteral("X")], name), Number(v[QStringLiteral("Y")], name)};
  Bad(name, "[x, y]");
}

Bounds Edges(const QJsonValue& v, const QString& name) {
  if (v.isDouble()) {
    const float f = static_cast<float>(v.toDouble());
    return {f, f, f, f};
  }
  if (v.isArray() && v.toArray().size() == 4) {
    const QJsonArray a = v.toArray();
    return {Float(a[0], name), Float(a[1], name), Float(a[2], name), Float(a[3], name)};
  }
  if (v.isObject()) {
    const QJsonObject o = v.toObject();
    auto get = [&](const char* key) {
      return o.contains(QLatin1String(key)) ? Float(o[QLatin1String(key)], name) : 0.0f;
    };
    return {get("Left"), get("Top"), get("Right"), get("Bottom")};
  }
  Bad(name, "[left, top, right, bottom]");
}

AlphaColor Color(const QJsonValue& v, const QString& name) {
  if (v.isDouble()) return static_cast<AlphaColor>(v.toDouble());
  QString s = String(v, name);
  if (s.startsWith('#'))
    s = s.mid(1);
  else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
    s = s.mid(2);
  bool ok = false;
  const uint c = s.toUInt(&ok, 16);
  if (!ok || s.size() != 8) Bad(name, "a colour #AARRGGBB");
  return c;
}

}  // namespace ui::prop
