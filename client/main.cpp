// The client's process entry: the application object, the main window, the event loop.

#include <QApplication>
#include <exception>

#include "MainForm.h"
#include "ui/Application.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  try {
    auto* window = new TFormMain(nullptr);  // stores itself in FormMain
    window->Show();
    QApplication::exec();
    delete window;
  } catch (...) {
    ui::HandleException(std::current_exception());
  }
  return 0;
}
