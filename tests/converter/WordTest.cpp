#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "FakeOffice.h"
#include "PagesnapLog.h"
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
using Args = std::vector<std::string>;

class WordTest : public testsupport::RoadTest<fake::FakeWord> {
 protected:
  int Run(const std::u16string& folder) {
    return RunCaught([&] { return ConvertWord(u"/docs/my letter.docx", folder); });
  }

  fake::FakeWord& word_ = fake_;
  testsupport::PagesnapScript pagesnap_{"7"};
};

TEST_F(WordTest, SavesThePdfRunsPagesnapOnItThenSucceeds) {
  bool statusAtClose = false;
  word_.onClose = [&] { statusAtClose = HasStatus(); };
  bool comDuringSave = false;
  word_.onSave = [&](const std::u16string&) { comDuringSave = IsComInitialized(); };

  EXPECT_EQ(Run(u"/work/my out/"), 0);
  // The output folder already ends in a separator; the PDF path adds one more.
  ASSERT_EQ(word_.saves.size(), 1u);
  EXPECT_EQ(word_.saves[0].first, u"/work/my out//temp.pdf");
  EXPECT_EQ(word_.saves[0].second, 17);
  // Two arguments after the tool, blanks and all, and no start number.
  const auto runs = pagesnap_.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args,
            (Args{testsupport::PagesnapPath(), "/work/my out//temp.pdf", "/work/my out/"}));
  EXPECT_FALSE(runs[0].statusDuringRun);
  EXPECT_TRUE(statusAtClose);
  EXPECT_EQ(Status(), "success\r\n");
  EXPECT_EQ(console_, "");
  EXPECT_TRUE(comDuringSave);
  EXPECT_FALSE(IsComInitialized());
  EXPECT_TRUE(word_.AllReleased());
}

TEST_F(WordTest, CallKindsArgumentsAndReleaseOrder) {
  EXPECT_EQ(Run(u"/out/"), 0);
  const Events expected = {"application.Documents", "documents.Open",     "document.SaveAs2",
                           "document.Close",        "application.Quit",   "Release document",
                           "Release documents",     "Release application"};
  EXPECT_EQ(word_.journal.events, expected);

  const auto& calls = word_.journal.calls;
  ASSERT_EQ(calls.size(), 5u);
  const std::uint16_t kinds[] = {DISPATCH_PROPERTYGET, DISPATCH_METHOD, DISPATCH_METHOD,
                                 DISPATCH_METHOD, DISPATCH_METHOD};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(calls[i].member);
    EXPECT_EQ(calls[i].flags, kinds[i]);
    EXPECT_TRUE(calls[i].named.empty());
    EXPECT_EQ(calls[i].wantsResult, calls[i].member != "Close" && calls[i].member != "Quit");
  }
  // Open gets its parameters last first: password, three VARIANT_FALSE flags, the path.
  const auto& open = calls[1].args;
  ASSERT_EQ(open.size(), 5u);
  EXPECT_EQ(open[0].Type(), VT_BSTR);
  EXPECT_EQ(open[0].AsBstr(), u"");
  for (std::size_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(open[i].Type(), VT_BOOL) << i;
    EXPECT_EQ(open[i].AsBool(), VARIANT_FALSE) << i;
  }
  EXPECT_EQ(open[4].AsBstr(), u"/docs/my letter.docx");
  const auto& save = calls[2].args;
  ASSERT_EQ(save.size(), 2u);
  EXPECT_EQ(save[0].Type(), VT_I4);
  EXPECT_EQ(save[0].AsI4(), 17);
  EXPECT_EQ(save[1].AsBstr(), u"/out//temp.pdf");
}

TEST_F(WordTest, WithoutOutputFolderThePdfLiesInTheWorkingFolder) {
  EXPECT_EQ(Run(u""), 0);
  ASSERT_EQ(word_.saves.size(), 1u);
  EXPECT_EQ(word_.saves[0].first, u"temp.pdf");
  const auto runs = pagesnap_.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, (Args{testsupport::PagesnapPath(), "temp.pdf", ""}));
  EXPECT_EQ(Status(), "success\r\n");
}

TEST_F(WordTest, PagesnapThatCannotStartIsNoFailure) {
  const fs::path tool = testsupport::PagesnapPath();
  const fs::path away = tool.string() + ".away";
  fs::rename(tool, away);
  const int result = Run(u"/out/");
  fs::rename(away, tool);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(pagesnap_.Runs().empty());
  EXPECT_EQ(Status(), "success\r\n");
  EXPECT_TRUE(word_.AllReleased());
}

TEST_F(WordTest, OrderlyFailuresWriteTheirStatus) {
  using Case = testsupport::OrderlyFailure<fake::FakeWord>;
  const Case cases[] = {
      {"not registered",
       [](fake::FakeWord&) { UnregisterClass(u"Word.Application"); },
       "CLSIDFromProgID(\"Word.Application\") failed w/err 0x800401f3\n",
       "error\r\nCLSIDFromProgID failed",
       {}},
      {"not created",
       [](fake::FakeWord& w) { w.createFailure = CO_E_SERVER_EXEC_FAILURE; },
       "Word is not registered properly w/err 0x80080005\n",
       "error\r\nword is not registered properly.",
       {}},
      {"not opened",
       [](fake::FakeWord& w) { w.openGivesDocument = false; },
       "The file cannot be opened properly.",
       "error\r\nthe file cannot be opened properly.",
       {"application.Documents", "documents.Open", "application.Quit", "Release documents",
        "Release application"}},
  };
  testsupport::ExpectOrderlyFailures<fake::FakeWord>(cases, [this](fake::FakeWord&) {
    const int result = ConvertWord(u"letter.doc", u"/out/");
    EXPECT_TRUE(pagesnap_.Runs().empty());
    return result;
  });
}

using WordDeathTest = WordTest;

TEST_F(WordDeathTest, FailingSaveEndsTheConverterWithoutPagesnapOrStatus) {
  word_.saveResult = E_FAIL;
  const fs::path out = testsupport::StatusFile().parent_path() / "word-save.out";
  EXPECT_EXIT(
      {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ConvertWord(u"letter.docx", u"/out/");
        std::exit(99);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(testsupport::ReadFile(out),
            "IDispatch::Invoke(\"SaveAs2\"=00000001) failed w/err 0x80004005\n");
  EXPECT_FALSE(HasStatus());
  EXPECT_TRUE(pagesnap_.Runs().empty());
  fs::remove(out);
}

}  // namespace
}  // namespace converter
