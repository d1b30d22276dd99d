#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "automation/Com.h"

namespace automation {
namespace {

class App : public DispatchObject {};

// Keeps COM initialised for one test and the test's ProgIDs out of the registry afterwards.
class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
  void TearDown() override {
    CoUninitialize();
    UnregisterClass(u"Test.Application");
  }
};

HRESULT MakeApp(IDispatch** object) {
  *object = new App;
  return S_OK;
}

TEST_F(ComTest, ProgIdsResolveOnlyWhenRegistered) {
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Test.Application", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Test.Application", nullptr), E_POINTER);

  const CLSID registered = RegisterClass(u"Test.Application", MakeApp);
  EXPECT_NE(registered, CLSID{});
  ASSERT_EQ(CLSIDFromProgID(u"test.APPLICATION", &clsid), S_OK);
  EXPECT_EQ(clsid, registered);
  EXPECT_EQ(RegisterClass(u"Test.Application", MakeApp), registered);

  EXPECT_TRUE(UnregisterClass(u"Test.Application"));
  EXPECT_FALSE(UnregisterClass(u"Test.Application"));
  EXPECT_EQ(CLSIDFromProgID(u"Test.Application", &clsid), CO_E_CLASSSTRING);
  IDispatch* object = reinterpret_cast<IDispatch*>(&clsid);
  EXPECT_EQ(CoCreateInstance(registered, nullptr, CLSCTX_LOCAL_SERVER, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
}

TEST_F(ComTest, LocalServerCreationCallsTheFactory) {
  int made = 0;
  const CLSID clsid = RegisterClass(u"Test.Application", [&made](IDispatch** object) {
    ++made;
    *object = new App;
    return S_OK;
  });
  IDispatch* app = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, &app), S_OK);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(app->Release(), 0u);

  App outer;
  EXPECT_EQ(CoCreateInstance(clsid, &outer, CLSCTX_LOCAL_SERVER, &app), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, &app), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(app, nullptr);
  EXPECT_EQ(made, 1);
}

TEST_F(ComTest, FactoryFailuresReachTheCaller) {
  struct Case {
    const char* name;
    ClassFactory factory;
    HRESULT expected;
  };
  const Case cases[] = {
      {"failure", [](IDispatch**) { return E_OUTOFMEMORY; }, E_OUTOFMEMORY},
      {"throws", [](IDispatch**) -> HRESULT { throw std::runtime_error("no office"); },
       CO_E_SERVER_EXEC_FAILURE},
      {"no object", [](IDispatch**) { return S_OK; }, CO_E_SERVER_EXEC_FAILURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CLSID clsid = RegisterClass(u"Test.Application", c.factory);
    IDispatch* app = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, &app), c.expected);
    EXPECT_EQ(app, nullptr);
  }
}

TEST(ComInitTest, CountedPerThreadAndNeededForCreation) {
  const CLSID clsid = RegisterClass(u"Test.Init", MakeApp);
  IDispatch* app = nullptr;
  EXPECT_FALSE(IsComInitialized());
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, &app), CO_E_NOTINITIALIZED);

  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  bool otherThreadInitialized = true;
  std::thread([&] { otherThreadInitialized = IsComInitialized(); }).join();
  EXPECT_FALSE(otherThreadInitialized);

  CoUninitialize();
  EXPECT_TRUE(IsComInitialized());
  CoUninitialize();
  EXPECT_FALSE(IsComInitialized());
  CoUninitialize();  // one too many does nothing
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  CoUninitialize();
  UnregisterClass(u"Test.Init");
}

}  // namespace
}  // namespace automation
