#pragma once
// Small rules the window and the settings overlay share: which files of a slide folder are
// page images, and texts between the system ANSI code page and Qt.

#include <QString>
#include <string_view>

#include "rtl/CodePage.h"

// The file name of a path: what follows its last "/".
inline std::u16string_view FileNameOf(std::u16string_view path) {
  const auto slash = path.rfind(u'/');
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// A page image is a file whose name ends in "png", "jpg" or "jpeg": case-sensitive and without
// a dot, so "scanpng" is a page and "A.PNG" is not. The folders of a path are not looked at.
inline bool IsPageImage(std::u16string_view path) {
  const std::u16string_view name = FileNameOf(path);
  return name.ends_with(u"png") || name.ends_with(u"jpg") || name.ends_with(u"jpeg");
}

inline QString ToQString(const rtl::AnsiString& ansi) {
  return QString::fromStdU16String(rtl::AnsiToUnicode(ansi));
}

inline rtl::AnsiString ToAnsi(const QString& text) {
  return rtl::UnicodeToAnsi(text.toStdU16String());
}
