#pragma once
// How much room a text takes, laid out line by line with Qt's text layout as a text control
// wraps it, to tell whether all of it shows in a box.

#include <QFont>
#include <QSizeF>
#include <QString>

namespace qttest {

// Width of the widest line and height of all lines of `text` in `font`, wrapped at `width`
// (at word boundaries, else anywhere) when `wrap` is set, else on one line.
QSizeF TextRoom(const QFont& font, const QString& text, qreal width, bool wrap);

}  // namespace qttest
