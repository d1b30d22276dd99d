// The tests render text, which needs a GUI application object (offscreen platform).
#pragma once

#include <QGuiApplication>

namespace art_test {

inline void EnsureGuiApp() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "art_tests";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
}

}  // namespace art_test
