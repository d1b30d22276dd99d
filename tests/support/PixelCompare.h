#pragma once
// Comparing two renderings of the same thing: how far apart their pixels are, per colour channel
// (0..255) over a region.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <string>

namespace qttest {

struct PixelDifference {
  double mean = 0;      // mean absolute difference of the channel values
  int max = 0;          // the largest one
  QPoint maxAt;         // where it is
  double outliers = 0;  // share (0..1) of channel values more than kOutlierLevels apart
  bool sameSize = true;
  static constexpr int kOutlierLevels = 24;
  std::string Describe() const;
};

// Both images over `region` (their whole area when empty), compared as opaque RGB.
PixelDifference Compare(const QImage& a, const QImage& b, QRect region = {});

}  // namespace qttest
