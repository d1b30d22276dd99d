#pragma once
// The one widget of a form: paints the control tree and feeds input to the form's dispatch.

#include <QWidget>

#include "ui/Types.h"

namespace ui {

class Form;

class Surface : public QWidget {
  Q_OBJECT
 public:
  explicit Surface(Form* form);
  Form* form() const { return form_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void changeEvent(QEvent*) override;
  void closeEvent(QCloseEvent*) override;

 private:
  Form* form_;
};

// Qt key event to the framework's key code (Windows virtual-key numbering) and character.
quint16 VirtualKey(int qtKey);
ShiftState KeyShift(Qt::KeyboardModifiers modifiers);

}  // namespace ui
