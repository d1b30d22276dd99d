#include "PixelCompare.h"

#include <cstdlib>
#include <sstream>

namespace qttest {

std::string PixelDifference::Describe() const {
  if (!sameSize) return "images of different sizes";
  std::ostringstream out;
  out << "mean " << mean << ", max " << max << " at (" << maxAt.x() << ", " << maxAt.y()
      << "), over " << kOutlierLevels << ": " << outliers * 100 << " %";
  return out.str();
}

PixelDifference Compare(const QImage& a, const QImage& b, QRect region) {
  PixelDifference d;
  if (a.size() != b.size()) {
    d.sameSize = false;
    return d;
  }
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  const QRect area = region.isEmpty() ? x.rect() : region.intersected(x.rect());
  long long sum = 0, count = 0, over = 0;
  for (int row = area.top(); row <= area.bottom(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = area.left(); col <= area.right(); ++col) {
      const int diffs[3] = {std::abs(qRed(p[col]) - qRed(q[col])),
                            std::abs(qGreen(p[col]) - qGreen(q[col])),
                            std::abs(qBlue(p[col]) - qBlue(q[col]))};
      for (int v : diffs) {
        sum += v;
        if (v > d.max) {
          d.max = v;
          d.maxAt = QPoint(col, row);
        }
        if (v > PixelDifference::kOutlierLevels) ++over;
        ++count;
      }
    }
  }
  if (count > 0) {
    d.mean = static_cast<double>(sum) / static_cast<double>(count);
    d.outliers = static_cast<double>(over) / static_cast<double>(count);
  }
  return d;
}

}  // namespace qttest
