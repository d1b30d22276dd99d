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

class ExcelTest : public testsupport::RoadTest<fake::FakeExcel> {
 protected:
  int Run(const std::u16string& folder, const std::string& codes = "") {
    pagesnap_ = std::make_unique<testsupport::PagesnapScript>(codes);
    return RunCaught([&] { return ConvertExcel(u"/docs/my book.xlsx", folder); });
  }
  std::vector<testsupport::PagesnapRun> Runs() const { return pagesnap_->Runs(); }

  fake::FakeExcel& excel_ = fake_;
  std::unique_ptr<testsupport::PagesnapScript> pagesnap_;
};

TEST_F(ExcelTest, EachSheetStartsWhereTheEarlierRunsEnded) {
  excel_.count = 3;
  std::vector<std::size_t> runsAtExport;
  excel_.onExport = [&](const std::u16string&) { runsAtExport.push_back(Runs().size()); };
  bool statusAtClose = false;
  excel_.onClose = [&] { statusAtClose = HasStatus(); };

  EXPECT_EQ(Run(u"/work/my out/", "4,2,5"), 0);
  ASSERT_EQ(excel_.exports.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(excel_.exports[i].first, u"/work/my out/" + std::u16string(1, u'1' + i) + u".pdf");
    EXPECT_EQ(excel_.exports[i].second, 0);
  }
  // A sheet is exported only once the run for the one before has ended.
  EXPECT_EQ(runsAtExport, (std::vector<std::size_t>{0, 1, 2}));
  const auto runs = Runs();
  ASSERT_EQ(runs.size(), 3u);
  const std::string tool = testsupport::PagesnapPath();
  EXPECT_EQ(runs[0].args, (Args{tool, "/work/my out/1.pdf", "/work/my out/", "0"}));
  EXPECT_EQ(runs[1].args, (Args{tool, "/work/my out/2.pdf", "/work/my out/", "4"}));
  EXPECT_EQ(runs[2].args, (Args{tool, "/work/my out/3.pdf", "/work/my out/", "6"}));
  for (const auto& run : runs) EXPECT_FALSE(run.statusDuringRun);
  EXPECT_TRUE(statusAtClose);
  EXPECT_EQ(Status(), "success\r\n");
  EXPECT_EQ(console_, "");
  EXPECT_FALSE(IsComInitialized());
  EXPECT_TRUE(excel_.AllReleased());
}

TEST_F(ExcelTest, CallKindsArgumentsAndReleaseOrder) {
  excel_.count = 1;
  EXPECT_EQ(Run(u"/out/"), 0);
  const Events expected = {"application.Visible",
                           "application.Workbooks",
                           "workbooks.Open",
                           "workbook.Worksheets",
                           "worksheets.Count",
                           "worksheets.Item",
                           "worksheet1.ExportAsFixedFormat",
                           "Release worksheet1",
                           "workbooks.Close",
                           "application.Quit",
                           "Release worksheets",
                           "Release workbook",
                           "Release workbooks",
                           "Release application"};
  EXPECT_EQ(excel_.journal.events, expected);

  const auto& calls = excel_.journal.calls;
  ASSERT_EQ(calls.size(), 9u);
  // Visible: a property put of 0 as the named property value, before Workbooks is read.
  EXPECT_EQ(calls[0].flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(calls[0].named, (std::vector<DISPID>{DISPID_PROPERTYPUT}));
  ASSERT_EQ(calls[0].args.size(), 1u);
  EXPECT_EQ(calls[0].args[0].Type(), VT_I4);
  EXPECT_EQ(calls[0].args[0].AsI4(), 0);
  const std::uint16_t kinds[] = {DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYGET, DISPATCH_METHOD,
                                 DISPATCH_PROPERTYGET, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYGET,
                                 DISPATCH_METHOD,      DISPATCH_METHOD,      DISPATCH_METHOD};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(calls[i].member);
    EXPECT_EQ(calls[i].flags, kinds[i]);
    if (i > 0) {
      EXPECT_TRUE(calls[i].named.empty());
    }
    EXPECT_EQ(calls[i].wantsResult, calls[i].member != "Close" && calls[i].member != "Quit");
  }
  ASSERT_EQ(calls[2].args.size(), 1u);
  EXPECT_EQ(calls[2].args[0].AsBstr(), u"/docs/my book.xlsx");
  ASSERT_EQ(calls[5].args.size(), 1u);
  EXPECT_EQ(calls[5].args[0].Type(), VT_I4);
  EXPECT_EQ(calls[5].args[0].AsI4(), 1);
  // ExportAsFixedFormat gets its parameters last first: the path, then the PDF type.
  ASSERT_EQ(calls[6].args.size(), 2u);
  EXPECT_EQ(calls[6].args[0].AsBstr(), u"/out/1.pdf");
  EXPECT_EQ(calls[6].args[1].Type(), VT_I4);
  EXPECT_EQ(calls[6].args[1].AsI4(), 0);
}

TEST_F(ExcelTest, SheetsAndRunsAsTheCountAndTheSheetsAllow) {
  struct Case {
    const char* name;
    std::int32_t count;
    std::set<std::int32_t> missing;
    std::u16string folder;
    std::string codes;
    std::vector<std::u16string> pdfs;
    std::vector<Args> runs;  // after the tool
  };
  const Case cases[] = {
      {"no sheet", 0, {}, u"/out/", "", {}, {}},
      {"negative count", -3, {}, u"/out/", "", {}, {}},
      {"a sheet that cannot be fetched keeps the others' numbers",
       3,
       {2},
       u"/out/",
       "3,9",
       {u"/out/1.pdf", u"/out/3.pdf"},
       {{"/out/1.pdf", "/out/", "0"}, {"/out/3.pdf", "/out/", "3"}}},
      {"no output folder: bare names, and the folder stays one empty argument",
       2,
       {},
       u"",
       "1,1",
       {u"1.pdf", u"2.pdf"},
       {{"1.pdf", "", "0"}, {"2.pdf", "", "1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::RemoveStatusFile();
    fake::FakeExcel excel;
    excel.Register();
    excel.count = c.count;
    excel.missingSheets = c.missing;
    testsupport::PagesnapScript script(c.codes);
    testsupport::CapturedStdout out;
    EXPECT_EQ(ConvertExcel(u"book.xls", c.folder), 0);
    std::vector<std::u16string> pdfs;
    for (const auto& e : excel.exports) pdfs.push_back(e.first);
    EXPECT_EQ(pdfs, c.pdfs);
    std::vector<Args> runs;
    for (const auto& r : script.Runs()) runs.emplace_back(r.args.begin() + 1, r.args.end());
    EXPECT_EQ(runs, c.runs);
    EXPECT_EQ(Status(), "success\r\n");
    EXPECT_EQ(out.Text(), "");
    EXPECT_TRUE(excel.AllReleased());
  }
}

TEST_F(ExcelTest, PagesnapThatCannotStartAddsMinusOne) {
  excel_.count = 2;
  const fs::path tool = testsupport::PagesnapPath();
  const fs::path away = tool.string() + ".away";
  // Gone for the first sheet's run, back for the second's.
  excel_.onExport = [&](const std::u16string& pdf) {
    if (pdf == u"/out/1.pdf") fs::rename(tool, away);
    if (pdf == u"/out/2.pdf") fs::rename(away, tool);
  };
  EXPECT_EQ(Run(u"/out/"), 0);
  if (fs::exists(away)) fs::rename(away, tool);
  const auto runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, (Args{tool.string(), "/out/2.pdf", "/out/", "-1"}));
  EXPECT_EQ(Status(), "success\r\n");
}

TEST_F(ExcelTest, OrderlyFailuresWriteTheirStatus) {
  using Case = testsupport::OrderlyFailure<fake::FakeExcel>;
  const Case cases[] = {
      {"not registered",
       [](fake::FakeExcel&) { UnregisterClass(u"Excel.Application"); },
       "CLSIDFromProgID(\"Excel.Application\") failed w/err 0x800401f3\n",
       "error\r\nCLSIDFROMProgID failed",
       {}},
      {"not created",
       [](fake::FakeExcel& e) { e.createFailure = CO_E_SERVER_EXEC_FAILURE; },
       "Excel is not registered properly w/err 0x80080005\n",
       "error\r\nExcel is not registered properly.",
       {}},
      {"not opened",
       [](fake::FakeExcel& e) { e.openGivesWorkbook = false; },
       "The file cannot be opened properly w/err\n",
       "error\r\nthe file cannot be open properly.",
       {"application.Visible", "application.Workbooks", "workbooks.Open", "application.Quit",
        "Release workbooks", "Release application"}},
      {"no worksheets",
       [](fake::FakeExcel& e) { e.hasWorksheets = false; },
       "cannot get sheets.",
       "error\r\ncannot get sheets",
       {"application.Visible", "application.Workbooks", "workbooks.Open", "workbook.Worksheets",
        "workbooks.Close", "application.Quit", "Release workbook", "Release workbooks",
        "Release application"}},
  };
  testsupport::ExpectOrderlyFailures<fake::FakeExcel>(cases, [](fake::FakeExcel& excel) {
    excel.count = 2;
    testsupport::PagesnapScript script;
    const int result = ConvertExcel(u"book.xlsx", u"/out/");
    EXPECT_TRUE(script.Runs().empty());
    return result;
  });
}

using ExcelDeathTest = ExcelTest;

TEST_F(ExcelDeathTest, FailingExportEndsTheConverterWithoutFurtherRunsOrStatus) {
  excel_.count = 2;
  excel_.exportResult = E_FAIL;
  testsupport::PagesnapScript script;
  const fs::path out = testsupport::StatusFile().parent_path() / "excel-export.out";
  EXPECT_EXIT(
      {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ConvertExcel(u"book.xlsx", u"/out/");
        std::exit(99);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(testsupport::ReadFile(out),
            "IDispatch::Invoke(\"ExportAsFixedFormat\"=00000001) failed w/err 0x80004005\n");
  EXPECT_FALSE(HasStatus());
  EXPECT_TRUE(script.Runs().empty());
  fs::remove(out);
}

}  // namespace
}  // namespace converter
