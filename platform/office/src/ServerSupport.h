#pragma once
// What the office servers share: argument checks and the application objects of Word and Excel.

#include <automation/Com.h>

#include <optional>
#include <string>
#include <string_view>

#include "office/ImpressDeck.h"
#include "os/Process.h"

namespace office::detail {

constexpr std::uint16_t kGet = automation::DISPATCH_PROPERTYGET;
constexpr std::uint16_t kPut = automation::DISPATCH_PROPERTYPUT;
constexpr std::uint16_t kMethod = automation::DISPATCH_METHOD;

// Paths reach the servers as UTF-16; the file system wants UTF-8. A lone surrogate has no
// UTF-8 form and gives nullopt rather than some other file's name.
inline std::optional<std::string> PathToUtf8(std::u16string_view text) {
  return os::ToUtf8(text);
}

inline bool EqualsAsciiNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

inline bool IsNumber(const automation::Variant* v) {
  return v && (v->Type() == automation::VT_I4 || v->Type() == automation::VT_R4 ||
               v->Type() == automation::VT_BOOL);
}

// New application objects, one reference owned by the caller.
automation::IDispatch* NewWordApplication(const ConvertOptions& options);
automation::IDispatch* NewExcelApplication(const ConvertOptions& options);

}  // namespace office::detail
