#pragma once
// The late-bound object interface of automation servers, and a base class for servers.

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/HResult.h"
#include "automation/Variant.h"

namespace automation {

using DISPID = std::int32_t;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;

using LCID = std::uint32_t;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// Call kinds (Invoke flags).
constexpr std::uint16_t DISPATCH_METHOD = 1;
constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;

// The arguments of one call, in the order OLE Automation passes them: named arguments first,
// then the positional ones with the member's LAST parameter first. namedArgs[i] names args[i].
// A property put passes its new value as args[0], named DISPID_PROPERTYPUT.
struct DispParams {
  std::span<const Variant> args;
  std::span<const DISPID> namedArgs;
};

// Positional parameter `index` in the member's own order (0 = first parameter), or null when the
// call did not give it.
const Variant* PositionalArg(const DispParams& params, std::size_t index);
std::size_t PositionalArgCount(const DispParams& params);
// The argument named `id`, or null.
const Variant* NamedArg(const DispParams& params, DISPID id);

// An automation object. Reference counted: whoever receives an object (from CoCreateInstance or
// as a VT_DISPATCH result taken out with DetachDispatch) owns one reference and gives it back
// with Release(); the object deletes itself when the last reference goes.
class IDispatch {
 public:
  IDispatch(const IDispatch&) = delete;
  IDispatch& operator=(const IDispatch&) = delete;

  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;
  // Fills dispIds (same size as names) with the DISPIDs of the names; DISP_E_UNKNOWNNAME when a
  // name is not known (its entry becomes DISPID_UNKNOWN).
  virtual HRESULT GetIDsOfNames(std::span<const std::u16string_view> names, LCID lcid,
                                std::span<DISPID> dispIds) = 0;
  // Calls member dispId as `flags` says. `result` is null when the caller wants none; otherwise
  // it comes in empty and the server stores the result there (a returned object is a new
  // reference owned by the caller).
  virtual HRESULT Invoke(DISPID dispId, LCID lcid, std::uint16_t flags, const DispParams& params,
                         Variant* result) = 0;

 protected:
  IDispatch() = default;
  virtual ~IDispatch() = default;
};

// Base for server objects: thread-safe reference count starting at 1 (the creator's), members
// found by name without regard to ASCII letter case, as OLE Automation does. Exceptions thrown
// by a member become DISP_E_EXCEPTION and never leave Invoke.
class DispatchObject : public IDispatch {
 public:
  using Member =
      std::function<HRESULT(std::uint16_t flags, const DispParams& params, Variant* result)>;

  std::uint32_t AddRef() override;
  std::uint32_t Release() override;
  HRESULT GetIDsOfNames(std::span<const std::u16string_view> names, LCID lcid,
                        std::span<DISPID> dispIds) override;
  HRESULT Invoke(DISPID dispId, LCID lcid, std::uint16_t flags, const DispParams& params,
                 Variant* result) override;

  std::uint32_t RefCount() const { return refs_.load(); }

 protected:
  DispatchObject() = default;
  ~DispatchObject() override = default;

  // Adds a member and returns its DISPID (1, 2, ... in the order added).
  DISPID AddMember(std::u16string name, Member member);

 private:
  std::atomic<std::uint32_t> refs_{1};
  std::vector<std::pair<std::u16string, Member>> members_;
};

}  // namespace automation
