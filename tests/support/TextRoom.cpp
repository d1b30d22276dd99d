#include "TextRoom.h"

#include <QTextLayout>
#include <QTextOption>
#include <algorithm>

namespace qttest {

QSizeF TextRoom(const QFont& font, const QString& text, qreal width, bool wrap) {
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  layout.setTextOption(option);
  qreal widest = 0, height = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(wrap ? width : 1e6);
    widest = std::max(widest, line.naturalTextWidth());
    height += line.height();
  }
  layout.endLayout();
  return {widest, height};
}

}  // namespace qttest
