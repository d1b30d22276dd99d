#pragma once
// Event handlers found by name through Qt's meta-object system. A handler is a Q_INVOKABLE
// method or slot of the form or frame class, for example
//   Q_INVOKABLE void img_set_click(QObject* sender);
// and BindHandler<QObject*>(form, "img_set_click") returns a callable that invokes it.
// The call goes straight to the class's own moc code, so an exception thrown by the handler
// reaches the layer's dispatch, which shows it.

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <initializer_list>
#include <type_traits>

namespace ui {

struct HandlerParam {
  QMetaType type;
  bool byReference;
};

// The absolute method index of `name` on `target` with exactly these parameters; raises
// ui::Error naming the method and the expected parameters when there is none.
int FindHandlerMethod(const QObject* target, const QString& name,
                      std::initializer_list<HandlerParam> params);

template <typename... Args>
std::function<void(Args...)> BindHandler(QObject* target, const QString& name) {
  const int index =
      FindHandlerMethod(target, name,
                        {HandlerParam{QMetaType::fromType<std::remove_cvref_t<Args>>(),
                                      std::is_lvalue_reference_v<Args> &&
                                          !std::is_const_v<std::remove_reference_t<Args>>}...});
  QPointer<QObject> guard(target);
  return [guard, index](Args... args) {
    if (!guard) return;
    void* argv[] = {nullptr, const_cast<void*>(static_cast<const void*>(&args))...};
    guard->qt_metacall(QMetaObject::InvokeMetaMethod, index, argv);
  };
}

}  // namespace ui
