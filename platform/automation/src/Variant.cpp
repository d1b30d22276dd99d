#include "automation/Variant.h"

#include <cmath>
#include <limits>
#include <utility>

#include "automation/Dispatch.h"

namespace automation {

namespace {

std::int32_t TruncateToI4(float value) {
  if (std::isnan(value)) return 0;
  // 2^31 is exact as a float; anything at or above it does not fit.
  if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace

Variant::Variant(const Variant& other) : type_(other.type_), text_(other.text_) {
  switch (type_) {
    case VT_R4:
      r4_ = other.r4_;
      break;
    case VT_BOOL:
      bool_ = other.bool_;
      break;
    case VT_DISPATCH:
      dispatch_ = other.dispatch_;
      if (dispatch_ != nullptr) dispatch_->AddRef();
      break;
    default:
      i4_ = other.i4_;
      break;
  }
}

Variant::Variant(Variant&& other) noexcept {
  TakeFrom(other);
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Release();
    TakeFrom(other);
  }
  return *this;
}

void Variant::TakeFrom(Variant& other) noexcept {
  type_ = other.type_;
  switch (type_) {
    case VT_R4:
      r4_ = other.r4_;
      break;
    case VT_BOOL:
      bool_ = other.bool_;
      break;
    case VT_DISPATCH:
      dispatch_ = other.dispatch_;
      break;
    default:
      i4_ = other.i4_;
      break;
  }
  text_ = std::move(other.text_);
  other.type_ = VT_EMPTY;
  other.i4_ = 0;
  other.text_.clear();
}

Variant::~Variant() {
  Release();
}

void Variant::Release() noexcept {
  if (type_ == VT_DISPATCH && dispatch_ != nullptr) dispatch_->Release();
  type_ = VT_EMPTY;
  i4_ = 0;
}

void Variant::Clear() noexcept {
  Release();
  text_.clear();
}

Variant Variant::I4(std::int32_t value) {
  Variant v;
  v.type_ = VT_I4;
  v.i4_ = value;
  return v;
}

Variant Variant::R4(float value) {
  Variant v;
  v.type_ = VT_R4;
  v.r4_ = value;
  return v;
}

Variant Variant::Bool(VARIANT_BOOL value) {
  Variant v;
  v.type_ = VT_BOOL;
  v.bool_ = value;
  return v;
}

Variant Variant::Bstr(std::u16string_view text) {
  Variant v;
  v.type_ = VT_BSTR;
  v.text_.assign(text);
  return v;
}

Variant Variant::Dispatch(IDispatch* object) {
  if (object != nullptr) object->AddRef();
  return AttachDispatch(object);
}

Variant Variant::AttachDispatch(IDispatch* object) noexcept {
  Variant v;
  v.type_ = VT_DISPATCH;
  v.dispatch_ = object;
  return v;
}

std::int32_t Variant::AsI4() const noexcept {
  switch (type_) {
    case VT_I4:
      return i4_;
    case VT_R4:
      return TruncateToI4(r4_);
    case VT_BOOL:
      return bool_;
    default:
      return 0;
  }
}

float Variant::AsR4() const noexcept {
  switch (type_) {
    case VT_I4:
      return static_cast<float>(i4_);
    case VT_R4:
      return r4_;
    case VT_BOOL:
      return bool_;
    default:
      return 0.0f;
  }
}

VARIANT_BOOL Variant::AsBool() const noexcept {
  switch (type_) {
    case VT_I4:
      return i4_ != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    case VT_R4:
      return r4_ != 0.0f ? VARIANT_TRUE : VARIANT_FALSE;
    case VT_BOOL:
      return bool_ != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    default:
      return VARIANT_FALSE;
  }
}

const std::u16string& Variant::AsBstr() const noexcept {
  static const std::u16string kEmpty;
  return type_ == VT_BSTR ? text_ : kEmpty;
}

IDispatch* Variant::AsDispatch() const noexcept {
  return type_ == VT_DISPATCH ? dispatch_ : nullptr;
}

IDispatch* Variant::DetachDispatch() noexcept {
  IDispatch* object = AsDispatch();
  type_ = VT_EMPTY;
  i4_ = 0;
  text_.clear();
  return object;
}

}  // namespace automation
