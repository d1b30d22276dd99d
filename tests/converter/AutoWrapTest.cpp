#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "FakeOffice.h"
#include "TestSupport.h"
#include "converter/Converter.h"

namespace converter {
namespace {

using namespace automation;
namespace fs = std::filesystem;

class AutoWrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::RemoveStatusFile();
    server_->On(u"Take", nullptr);
    server_->On(u"Fail", [](const DispParams&, Variant*) { return E_FAIL; });
    server_->On(u"Count", [](const DispParams&, Variant* result) {
      if (result != nullptr) *result = Variant::I4(7);
      return S_OK;
    });
  }

  fake::Journal journal_;
  fake::Owned<> server_{new fake::FakeObject("server", journal_)};
};

TEST_F(AutoWrapTest, ArgumentsReachTheServerLastParameterFirst) {
  // Member order ("one", 2, 3): given last first.
  EXPECT_EQ(AutoWrap(DISPATCH_METHOD, nullptr, server_.get(), u"Take",
                     {Variant::I4(3), Variant::I4(2), Variant::Bstr(u"one")}),
            S_OK);
  ASSERT_EQ(journal_.calls.size(), 1u);
  const fake::Call& call = journal_.calls[0];
  EXPECT_EQ(call.member, "Take");
  EXPECT_EQ(call.flags, DISPATCH_METHOD);
  EXPECT_FALSE(call.wantsResult);
  ASSERT_EQ(call.args.size(), 3u);
  EXPECT_EQ(call.args[0].AsI4(), 3);
  EXPECT_EQ(call.args[1].AsI4(), 2);
  EXPECT_EQ(call.args[2].AsBstr(), u"one");
  EXPECT_TRUE(call.named.empty());
}

TEST_F(AutoWrapTest, OnlyAPropertyPutNamesItsValue) {
  struct Case {
    int kind;
    std::vector<DISPID> named;
  };
  const Case cases[] = {
      {DISPATCH_PROPERTYPUT, {DISPID_PROPERTYPUT}},
      {DISPATCH_PROPERTYGET, {}},
      {DISPATCH_METHOD, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    journal_.calls.clear();
    Variant result = Variant::Bstr(u"stale");
    AutoWrap(c.kind, &result, server_.get(), u"count",
             c.kind == DISPATCH_PROPERTYPUT ? std::initializer_list<Variant>{Variant::I4(0)}
                                            : std::initializer_list<Variant>{});
    ASSERT_EQ(journal_.calls.size(), 1u);
    EXPECT_EQ(journal_.calls[0].flags, c.kind);
    EXPECT_EQ(journal_.calls[0].named, c.named);
    EXPECT_EQ(journal_.calls[0].args.size(), c.named.size());
    EXPECT_EQ(result.AsI4(), 7);
  }
}

struct FatalCase {
  const char* name;
  bool withObject;
  const char16_t* member;
  int exitCode;
  const char* line;
};

void PrintTo(const FatalCase& c, std::ostream* os) {
  *os << c.name;
}

class AutoWrapDeathTest : public AutoWrapTest, public ::testing::WithParamInterface<FatalCase> {};

void AtExitMarker() {
  ::write(STDOUT_FILENO, "[exit handlers ran]", 19);
}

TEST_P(AutoWrapDeathTest, FailureEndsTheProcessAtOnce) {
  const FatalCase& c = GetParam();
  // Named without the pid, so that it is the same file in the dying child under any death-test
  // style.
  const fs::path out =
      testsupport::StatusFile().parent_path() / (std::string("autowrap-") + c.name + ".out");
  IDispatch* object = c.withObject ? server_.get() : nullptr;
  EXPECT_EXIT(
      {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        std::atexit(AtExitMarker);
        AutoWrap(DISPATCH_METHOD, nullptr, object, c.member, {Variant::I4(1)});
        ::write(STDOUT_FILENO, "[returned]", 10);
        std::exit(99);
      },
      ::testing::ExitedWithCode(c.exitCode), "");
  EXPECT_EQ(testsupport::ReadFile(out), c.line);
  EXPECT_FALSE(fs::exists(testsupport::StatusFile()));
  fs::remove(out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutoWrapDeathTest,
    ::testing::Values(FatalCase{"NoObject", false, u"Take", 0,
                                "NULL IDispatch passed to AutoWrap()\n"},
                      FatalCase{"UnknownName", true, u"Nope", 0,
                                "IDispatch::GetIDsOfNames(\"Nope\") failed w/err 0x80020006\n"},
                      FatalCase{"FailingCall", true, u"Fail", 1,
                                "IDispatch::Invoke(\"Fail\"=00000002) failed w/err 0x80004005\n"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace converter
