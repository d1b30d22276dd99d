#include <cstdlib>
#include <vector>

#include "converter/Converter.h"

namespace converter {

using namespace automation;

HRESULT AutoWrap(int autoType, Variant* result, IDispatch* object, std::u16string_view member,
                 std::initializer_list<Variant> args) {
  if (object == nullptr) {
    ConsoleWrite(u"NULL IDispatch passed to AutoWrap()\n");
    std::_Exit(0);
  }

  const std::u16string_view names[1] = {member};
  DISPID dispId = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(names, LOCALE_USER_DEFAULT, std::span<DISPID>(&dispId, 1));
  if (Failed(hr)) {
    ConsoleWrite(u"IDispatch::GetIDsOfNames(\"" + std::u16string(member) + u"\") failed w/err 0x" +
                 Hex8(static_cast<std::uint32_t>(hr)) + u"\n");
    std::_Exit(0);
  }

  // Element 0 holds the last parameter, as the caller gave it.
  const std::vector<Variant> values(args);
  static constexpr DISPID kPropertyPut[1] = {DISPID_PROPERTYPUT};
  DispParams params{values, {}};
  if ((autoType & DISPATCH_PROPERTYPUT) != 0) params.namedArgs = kPropertyPut;

  if (result != nullptr) result->Clear();
  hr = object->Invoke(dispId, LOCALE_SYSTEM_DEFAULT, static_cast<std::uint16_t>(autoType), params,
                      result);
  if (Failed(hr)) {
    ConsoleWrite(u"IDispatch::Invoke(\"" + std::u16string(member) + u"\"=" +
                 Hex8(static_cast<std::uint32_t>(dispId)) + u") failed w/err 0x" +
                 Hex8(static_cast<std::uint32_t>(hr)) + u"\n");
    std::_Exit(1);
  }
  return hr;
}

}  // namespace converter
