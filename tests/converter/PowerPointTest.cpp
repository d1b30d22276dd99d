#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "FakeOffice.h"
#include "RoadTest.h"
#include "TestSupport.h"
#include "converter/Converter.h"

namespace converter {
namespace {

using namespace automation;
namespace fs = std::filesystem;
using Events = std::vector<std::string>;
using testsupport::HasStatus;
using testsupport::Status;

class PowerPointTest : public testsupport::RoadTest<fake::FakePowerPoint> {
 protected:
  // Runs the road with the console caught.
  int Run(const std::u16string& folder = u"/out/") {
    return RunCaught([&] { return ConvertPowerPoint(u"/docs/deck.pptx", folder); });
  }

  fake::FakePowerPoint& ppt_ = fake_;
};

TEST_F(PowerPointTest, ExportsEverySlideAtItsLayoutSize) {
  ppt_.count = 3;
  ppt_.slideSpecs[2] = {true, true, 720.0f, 540.0f};
  ppt_.slideSpecs[3] = {true, true, 959.9f, 539.99f};
  bool comDuringCalls = false;
  ppt_.onExport = [&](const fake::Export&) { comDuringCalls = IsComInitialized(); };

  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(ppt_.exports.size(), 3u);
  const fake::Export expected[] = {{u"/out/Picture001.jpg", u"jpg", 960, 540},
                                   {u"/out/Picture002.jpg", u"jpg", 720, 540},
                                   {u"/out/Picture003.jpg", u"jpg", 959, 539}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ppt_.exports[i].path, expected[i].path);
    EXPECT_EQ(ppt_.exports[i].filter, expected[i].filter);
    EXPECT_EQ(ppt_.exports[i].width, expected[i].width);
    EXPECT_EQ(ppt_.exports[i].height, expected[i].height);
  }
  EXPECT_EQ(Status(), "success\r\n");
  EXPECT_EQ(console_, "");
  EXPECT_TRUE(comDuringCalls);
  EXPECT_FALSE(IsComInitialized());
  EXPECT_TRUE(ppt_.AllReleased());
}

TEST_F(PowerPointTest, OpensReadOnlyWithoutWindowAndNeverShowsPowerPoint) {
  ppt_.count = 1;
  EXPECT_EQ(Run(), 0);
  const auto open = std::find_if(ppt_.journal.calls.begin(), ppt_.journal.calls.end(),
                                 [](const fake::Call& c) { return c.member == "Open"; });
  ASSERT_NE(open, ppt_.journal.calls.end());
  EXPECT_EQ(open->flags, DISPATCH_METHOD);
  ASSERT_EQ(open->args.size(), 4u);
  EXPECT_EQ(open->args[0].Type(), VT_I4);
  EXPECT_EQ(open->args[0].AsI4(), 0);   // without window
  EXPECT_EQ(open->args[1].AsI4(), 0);   // not untitled
  EXPECT_EQ(open->args[2].AsI4(), -1);  // read-only
  EXPECT_EQ(open->args[3].AsBstr(), u"/docs/deck.pptx");
  for (const fake::Call& call : ppt_.journal.calls) {
    EXPECT_NE(call.member, "Visible");
    EXPECT_EQ(call.wantsResult,
              call.member != "Close" && call.member != "Quit" && call.member != "Export")
        << call.member;
  }
}

TEST_F(PowerPointTest, CallAndReleaseOrderOfOneSlide) {
  ppt_.count = 1;
  EXPECT_EQ(Run(), 0);
  const Events expected = {"application.Presentations",
                           "presentations.Open",
                           "presentation.Slides",
                           "slides.Count",
                           "slides.Item",
                           "slide1.CustomLayout",
                           "layout1.Width",
                           "layout1.Height",
                           "Release layout1",
                           "slide1.Export",
                           "Release slide1",
                           "presentation.Close",
                           "application.Quit",
                           "Release slides",
                           "Release presentation",
                           "Release presentations",
                           "Release application"};
  EXPECT_EQ(ppt_.journal.events, expected);
}

TEST_F(PowerPointTest, SkippedSlidesLeaveAGapInTheNames) {
  ppt_.count = 4;
  ppt_.slideSpecs[2].exists = false;
  ppt_.slideSpecs[3].hasLayout = false;
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(ppt_.exports.size(), 2u);
  EXPECT_EQ(ppt_.exports[0].path, u"/out/Picture001.jpg");
  EXPECT_EQ(ppt_.exports[1].path, u"/out/Picture004.jpg");
  // The slide without layout is released before the next one is fetched.
  const Events& e = ppt_.journal.events;
  const auto layoutless = std::find(e.begin(), e.end(), "slide3.CustomLayout");
  ASSERT_NE(layoutless, e.end());
  ASSERT_LT(layoutless + 2, e.end());
  EXPECT_EQ(*(layoutless + 1), "Release slide3");
  EXPECT_EQ(*(layoutless + 2), "slides.Item");
  EXPECT_EQ(Status(), "success\r\n");
  EXPECT_TRUE(ppt_.AllReleased());
}

TEST_F(PowerPointTest, NoSlidesStillSucceeds) {
  ppt_.count = 0;
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(ppt_.exports.empty());
  EXPECT_EQ(std::count(ppt_.journal.events.begin(), ppt_.journal.events.end(), "slides.Item"), 0);
  EXPECT_EQ(Status(), "success\r\n");
  EXPECT_TRUE(ppt_.AllReleased());
}

TEST_F(PowerPointTest, NamesCarryThreeDigitsAtLeast) {
  ppt_.count = 1000;
  EXPECT_EQ(Run(u""), 0);
  ASSERT_EQ(ppt_.exports.size(), 1000u);
  const std::pair<int, std::u16string> names[] = {
      {1, u"Picture001.jpg"},  {9, u"Picture009.jpg"},   {10, u"Picture010.jpg"},
      {99, u"Picture099.jpg"}, {100, u"Picture100.jpg"}, {1000, u"Picture1000.jpg"}};
  for (const auto& [n, name] : names) EXPECT_EQ(ppt_.exports[n - 1].path, name) << n;
}

TEST_F(PowerPointTest, StatusFileComesAfterTheLastExportAndBeforeClose) {
  ppt_.count = 2;
  std::vector<bool> statusAtExport;
  bool statusAtClose = false;
  ppt_.onExport = [&](const fake::Export&) { statusAtExport.push_back(HasStatus()); };
  ppt_.onClose = [&] { statusAtClose = HasStatus(); };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(statusAtExport, (std::vector<bool>{false, false}));
  EXPECT_TRUE(statusAtClose);
}

TEST_F(PowerPointTest, NoSlideCollectionEndsWithoutStatus) {
  ppt_.hasSlides = false;
  EXPECT_EQ(Run(), 1);
  const Events expected = {"application.Presentations", "presentations.Open",
                           "presentation.Slides",       "presentation.Close",
                           "application.Quit",          "Release presentation",
                           "Release presentations",     "Release application"};
  EXPECT_EQ(ppt_.journal.events, expected);
  EXPECT_FALSE(HasStatus());
  EXPECT_EQ(console_, "");
  EXPECT_FALSE(IsComInitialized());
  EXPECT_TRUE(ppt_.AllReleased());
}

TEST_F(PowerPointTest, OrderlyFailuresWriteTheirStatus) {
  using Case = testsupport::OrderlyFailure<fake::FakePowerPoint>;
  const Case cases[] = {
      {"not registered",
       [](fake::FakePowerPoint&) { UnregisterClass(u"PowerPoint.Application"); },
       "CLSIDFromProgID(\"PowerPoint.Application\") failed w/err 0x800401f3\n",
       "error\r\nCLSIDFromProgID failed",
       {}},
      {"not created",
       [](fake::FakePowerPoint& p) { p.createFailure = CO_E_SERVER_EXEC_FAILURE; },
       "PowerPoint is not registered properly w/err 0x80080005\n",
       "error\r\npowerpoint is not registerd properly.",
       {}},
      {"not opened",
       [](fake::FakePowerPoint& p) { p.openGivesPresentation = false; },
       "PowerPoint file cannot be opened properly.",
       "error\r\npowerpoint file cannot be opened properly.",
       {"application.Presentations", "presentations.Open", "application.Quit",
        "Release presentations", "Release application"}},
  };
  testsupport::ExpectOrderlyFailures<fake::FakePowerPoint>(
      cases, [](fake::FakePowerPoint&) { return ConvertPowerPoint(u"deck.ppt", u""); });
}

using PowerPointDeathTest = PowerPointTest;

TEST_F(PowerPointDeathTest, FailingExportEndsTheConverterWithoutStatus) {
  ppt_.count = 2;
  ppt_.exportResult = E_FAIL;
  const fs::path out = testsupport::StatusFile().parent_path() / "powerpoint-export.out";
  EXPECT_EXIT(
      {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ConvertPowerPoint(u"deck.pptx", u"");
        std::exit(99);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(testsupport::ReadFile(out),
            "IDispatch::Invoke(\"Export\"=00000002) failed w/err 0x80004005\n");
  EXPECT_FALSE(HasStatus());
  fs::remove(out);
}

}  // namespace
}  // namespace converter
