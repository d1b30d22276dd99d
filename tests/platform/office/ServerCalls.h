#pragma once
// Calls on the office servers' automation objects, as the converter makes them.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "automation/Dispatch.h"
#include "automation/HResult.h"
#include "automation/Variant.h"

namespace office_test {

// Calls a member by name with its parameters in the member's own order.
inline automation::HRESULT Call(automation::IDispatch* object, std::u16string_view name,
                                std::uint16_t flags, std::vector<automation::Variant> args,
                                automation::Variant* result = nullptr) {
  automation::DISPID id = automation::DISPID_UNKNOWN;
  const std::u16string_view names[] = {name};
  const automation::HRESULT hr = object->GetIDsOfNames(names, automation::LOCALE_USER_DEFAULT,
                                                       std::span<automation::DISPID>(&id, 1));
  if (automation::Failed(hr)) return hr;
  std::reverse(args.begin(), args.end());
  automation::DispParams params{args, {}};
  return object->Invoke(id, automation::LOCALE_USER_DEFAULT, flags, params, result);
}

}  // namespace office_test
