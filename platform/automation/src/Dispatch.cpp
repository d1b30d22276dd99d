#include "automation/Dispatch.h"

#include <exception>

namespace automation {

namespace {

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::size_t PositionalArgCount(const DispParams& params) {
  return params.args.size() > params.namedArgs.size() ? params.args.size() - params.namedArgs.size()
                                                      : 0;
}

const Variant* PositionalArg(const DispParams& params, std::size_t index) {
  const std::size_t count = PositionalArgCount(params);
  if (index >= count) return nullptr;
  return &params.args[params.args.size() - 1 - index];
}

const Variant* NamedArg(const DispParams& params, DISPID id) {
  for (std::size_t i = 0; i < params.namedArgs.size() && i < params.args.size(); ++i) {
    if (params.namedArgs[i] == id) return &params.args[i];
  }
  return nullptr;
}

std::uint32_t DispatchObject::AddRef() {
  return refs_.fetch_add(1) + 1;
}

std::uint32_t DispatchObject::Release() {
  const std::uint32_t left = refs_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT DispatchObject::GetIDsOfNames(std::span<const std::u16string_view> names, LCID,
                                      std::span<DISPID> dispIds) {
  if (dispIds.size() < names.size()) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (std::size_t i = 0; i < names.size(); ++i) {
    dispIds[i] = DISPID_UNKNOWN;
    for (std::size_t m = 0; m < members_.size(); ++m) {
      if (EqualsIgnoringAsciiCase(members_[m].first, names[i])) {
        dispIds[i] = static_cast<DISPID>(m + 1);
        break;
      }
    }
    if (dispIds[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchObject::Invoke(DISPID dispId, LCID, std::uint16_t flags, const DispParams& params,
                               Variant* result) {
  if (dispId < 1 || static_cast<std::size_t>(dispId) > members_.size()) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (result != nullptr) result->Clear();
  try {
    return members_[static_cast<std::size_t>(dispId) - 1].second(flags, params, result);
  } catch (...) {
    if (result != nullptr) result->Clear();
    return DISP_E_EXCEPTION;
  }
}

DISPID DispatchObject::AddMember(std::u16string name, Member member) {
  members_.emplace_back(std::move(name), std::move(member));
  return static_cast<DISPID>(members_.size());
}

}  // namespace automation
