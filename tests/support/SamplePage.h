#pragma once
// A 1920 x 1080 page with gradients, shapes and text, so its JPEG carries the detail of a real
// slide; the same number gives the same page. Shared by the picture tests and the strip benchmark.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QString>

namespace vmtest {

inline QImage SamplePage(int number) {
  QImage page(1920, 1080, QImage::Format_RGB32);
  QPainter p(&page);
  QLinearGradient gradient(0, 0, 1920, 1080);
  gradient.setColorAt(0, QColor::fromHsv((number * 37) % 360, 120, 230));
  gradient.setColorAt(1, QColor::fromHsv((number * 53 + 120) % 360, 200, 90));
  p.fillRect(page.rect(), gradient);
  QRandomGenerator random(static_cast<quint32>(number));
  for (int i = 0; i < 60; ++i) {
    p.setBrush(QColor::fromRgb(random.generate()));
    p.drawEllipse(random.bounded(1800), random.bounded(1000), 40 + random.bounded(300),
                  40 + random.bounded(200));
  }
  QFont font = p.font();
  font.setPixelSize(64);
  p.setFont(font);
  p.setPen(Qt::white);
  for (int line = 0; line < 8; ++line)
    p.drawText(120, 160 + line * 110,
               QStringLiteral("Page %1 - line %2 of the slide text").arg(number).arg(line + 1));
  return page;
}

}  // namespace vmtest
