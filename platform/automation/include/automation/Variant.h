#pragma once
// A value of an automation call: an argument or a result.
//
// Unlike a raw VARIANT it owns what it holds: a text is kept by value, and a VT_DISPATCH value
// holds one reference to its object (copying adds one, destroying or Clear() releases it).

#include <cstdint>
#include <string>
#include <string_view>

namespace automation {

class IDispatch;

enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_BOOL = 11,
};

using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

class Variant {
 public:
  Variant() noexcept = default;  // VT_EMPTY
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  static Variant I4(std::int32_t value);
  static Variant R4(float value);
  static Variant Bool(VARIANT_BOOL value);  // the whole 16-bit value is kept
  static Variant Bstr(std::u16string_view text);
  // Adds a reference of its own; the caller keeps its reference. A null object gives a
  // VT_DISPATCH value without object.
  static Variant Dispatch(IDispatch* object);
  // Takes over the caller's reference (a server returning a new object uses this).
  static Variant AttachDispatch(IDispatch* object) noexcept;

  VarType Type() const noexcept { return type_; }
  bool IsEmpty() const noexcept { return type_ == VT_EMPTY; }

  // Numbers read as the call site wants them: VT_I4, VT_R4 and VT_BOOL convert into each other
  // (a float toward zero, clamped to the 32-bit range, NaN as 0); any other type reads as 0.
  std::int32_t AsI4() const noexcept;
  float AsR4() const noexcept;
  VARIANT_BOOL AsBool() const noexcept;  // nonzero numbers read as VARIANT_TRUE
  // The text of a VT_BSTR value, otherwise the empty text.
  const std::u16string& AsBstr() const noexcept;
  // The object of a VT_DISPATCH value (borrowed, no reference added), otherwise null.
  IDispatch* AsDispatch() const noexcept;
  // Hands the held reference to the caller and leaves the value empty; null when it holds no
  // object (the value is emptied all the same).
  IDispatch* DetachDispatch() noexcept;

  // Back to VT_EMPTY, releasing a held object.
  void Clear() noexcept;

 private:
  void Release() noexcept;
  void TakeFrom(Variant& other) noexcept;

  VarType type_ = VT_EMPTY;
  union {
    std::int32_t i4_ = 0;
    float r4_;
    VARIANT_BOOL bool_;
    IDispatch* dispatch_;
  };
  std::u16string text_;
};

}  // namespace automation
