#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include "automation/Dispatch.h"
#include "automation/Variant.h"

namespace automation {
namespace {

class Counted : public DispatchObject {};

struct NumberCase {
  const char* name;
  Variant value;
  VarType type;
  std::int32_t i4;
  float r4;
  VARIANT_BOOL vb;
};

TEST(VariantTest, NumbersReadAsTheCallSiteWants) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const NumberCase cases[] = {
      {"empty", Variant(), VT_EMPTY, 0, 0.0f, VARIANT_FALSE},
      {"i4", Variant::I4(-7), VT_I4, -7, -7.0f, VARIANT_TRUE},
      {"r4 drops fraction", Variant::R4(959.9f), VT_R4, 959, 959.9f, VARIANT_TRUE},
      {"r4 toward zero", Variant::R4(-1.75f), VT_R4, -1, -1.75f, VARIANT_TRUE},
      {"r4 too big", Variant::R4(1e20f), VT_R4, std::numeric_limits<std::int32_t>::max(), 1e20f,
       VARIANT_TRUE},
      {"r4 too small", Variant::R4(-1e20f), VT_R4, std::numeric_limits<std::int32_t>::min(), -1e20f,
       VARIANT_TRUE},
      {"bool false", Variant::Bool(VARIANT_FALSE), VT_BOOL, 0, 0.0f, VARIANT_FALSE},
      {"bool true", Variant::Bool(VARIANT_TRUE), VT_BOOL, -1, -1.0f, VARIANT_TRUE},
      {"text", Variant::Bstr(u"12"), VT_BSTR, 0, 0.0f, VARIANT_FALSE},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.Type(), c.type);
    EXPECT_EQ(c.value.AsI4(), c.i4);
    EXPECT_EQ(c.value.AsR4(), c.r4);
    EXPECT_EQ(c.value.AsBool(), c.vb);
  }
  EXPECT_EQ(Variant::R4(nan).AsI4(), 0);
}

TEST(VariantTest, TextIsKeptAndCopied) {
  Variant text = Variant::Bstr(u"Pr\u00e4sentation \U0001F600");
  Variant copy = text;
  EXPECT_EQ(copy.AsBstr(), u"Pr\u00e4sentation \U0001F600");
  Variant moved = std::move(text);
  EXPECT_EQ(moved.AsBstr(), copy.AsBstr());
  EXPECT_TRUE(text.IsEmpty());  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(Variant::I4(3).AsBstr(), u"");
  moved = Variant::I4(5);
  EXPECT_EQ(moved.AsBstr(), u"");
  EXPECT_EQ(moved.AsI4(), 5);
}

TEST(VariantTest, HeldObjectReferencesAreCounted) {
  Counted* object = new Counted;  // our reference: 1
  {
    Variant held = Variant::Dispatch(object);
    EXPECT_EQ(object->RefCount(), 2u);
    Variant copy = held;
    EXPECT_EQ(object->RefCount(), 3u);
    Variant moved = std::move(copy);
    EXPECT_EQ(object->RefCount(), 3u);
    EXPECT_EQ(moved.AsDispatch(), object);
    moved = Variant::I4(1);  // overwriting releases
    EXPECT_EQ(object->RefCount(), 2u);
    held.Clear();
    EXPECT_EQ(object->RefCount(), 1u);
    EXPECT_TRUE(held.IsEmpty());
  }
  EXPECT_EQ(object->RefCount(), 1u);

  object->AddRef();
  Variant attached = Variant::AttachDispatch(object);  // takes that reference over
  EXPECT_EQ(object->RefCount(), 2u);
  IDispatch* detached = attached.DetachDispatch();  // and hands it back
  EXPECT_EQ(detached, object);
  EXPECT_TRUE(attached.IsEmpty());
  EXPECT_EQ(object->RefCount(), 2u);
  detached->Release();
  object->Release();
}

TEST(VariantTest, NullObjectAndNonObjectsGiveNoObject) {
  Variant nullObject = Variant::Dispatch(nullptr);
  EXPECT_EQ(nullObject.Type(), VT_DISPATCH);
  EXPECT_EQ(nullObject.DetachDispatch(), nullptr);
  EXPECT_TRUE(nullObject.IsEmpty());
  Variant number = Variant::I4(4);
  EXPECT_EQ(number.AsDispatch(), nullptr);
  EXPECT_EQ(number.DetachDispatch(), nullptr);
  EXPECT_TRUE(number.IsEmpty());
}

}  // namespace
}  // namespace automation
