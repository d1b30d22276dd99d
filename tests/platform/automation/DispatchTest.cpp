#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "automation/Dispatch.h"

namespace automation {
namespace {

class Server : public DispatchObject {
 public:
  explicit Server(bool* destroyed) : destroyed_(destroyed) {
    AddMember(u"Count", [](std::uint16_t, const DispParams&, Variant* result) {
      if (result != nullptr) *result = Variant::I4(42);
      return S_OK;
    });
    AddMember(u"Boom", [](std::uint16_t, const DispParams&, Variant* result) -> HRESULT {
      if (result != nullptr) *result = Variant::I4(1);
      throw std::runtime_error("boom");
    });
  }
  ~Server() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST(DispatchObjectTest, NamesAreFoundWithoutRegardToCase) {
  bool destroyed = false;
  Server* server = new Server(&destroyed);
  const std::u16string_view names[] = {u"count", u"BOOM", u"Missing"};
  std::vector<DISPID> ids(3, 0);
  EXPECT_EQ(server->GetIDsOfNames(std::span(names, 2), LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(server->GetIDsOfNames(names, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  server->Release();
  EXPECT_TRUE(destroyed);
}

TEST(DispatchObjectTest, InvokeReportsUnknownMembersAndThrowingOnes) {
  bool destroyed = false;
  Server* server = new Server(&destroyed);
  Variant result = Variant::Bstr(u"stale");
  EXPECT_EQ(server->Invoke(1, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.AsI4(), 42);
  EXPECT_EQ(server->Invoke(1, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, {}, nullptr), S_OK);

  EXPECT_EQ(server->Invoke(2, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, {}, &result),
            DISP_E_EXCEPTION);
  EXPECT_TRUE(result.IsEmpty());
  for (DISPID unknown : {0, 3, DISPID_UNKNOWN, DISPID_PROPERTYPUT}) {
    EXPECT_EQ(server->Invoke(unknown, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, {}, nullptr),
              DISP_E_MEMBERNOTFOUND);
  }
  server->Release();
}

TEST(DispatchObjectTest, ReferenceCountDeletesAtZero) {
  bool destroyed = false;
  Server* server = new Server(&destroyed);
  EXPECT_EQ(server->AddRef(), 2u);
  EXPECT_EQ(server->Release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(server->Release(), 0u);
  EXPECT_TRUE(destroyed);
}

TEST(DispParamsTest, PositionalArgumentsComeLastFirstAfterNamedOnes) {
  // Member order: ("path", 2, 3); given last first.
  const Variant positional[] = {Variant::I4(3), Variant::I4(2), Variant::Bstr(u"path")};
  const DispParams call{positional, {}};
  EXPECT_EQ(PositionalArgCount(call), 3u);
  EXPECT_EQ(PositionalArg(call, 0)->AsBstr(), u"path");
  EXPECT_EQ(PositionalArg(call, 1)->AsI4(), 2);
  EXPECT_EQ(PositionalArg(call, 2)->AsI4(), 3);
  EXPECT_EQ(PositionalArg(call, 3), nullptr);
  EXPECT_EQ(NamedArg(call, DISPID_PROPERTYPUT), nullptr);

  const Variant put[] = {Variant::I4(0)};
  const DISPID named[] = {DISPID_PROPERTYPUT};
  const DispParams putCall{put, named};
  EXPECT_EQ(PositionalArgCount(putCall), 0u);
  EXPECT_EQ(PositionalArg(putCall, 0), nullptr);
  ASSERT_NE(NamedArg(putCall, DISPID_PROPERTYPUT), nullptr);
  EXPECT_EQ(NamedArg(putCall, DISPID_PROPERTYPUT)->Type(), VT_I4);
}

}  // namespace
}  // namespace automation
