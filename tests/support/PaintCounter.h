#pragma once
// Counts the paint events of the widgets it is installed on as an event filter: how often a
// window was drawn. Header only, for the test programs and the measuring tools alike.

#include <QEvent>
#include <QObject>

namespace qttest {

class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

}  // namespace qttest
