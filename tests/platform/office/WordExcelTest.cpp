// The Word and Excel servers: their members on the fake soffice, and the converter's roads on
// LibreOffice with the real Pagesnap beside the test program.

#include <automation/Com.h>
#include <converter/Converter.h>
#include <gtest/gtest.h>
#include <poppler-document.h>
#include <poppler-page.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "LibreOffice.h"
#include "OfficeTestSupport.h"
#include "ServerCalls.h"
#include "office/Servers.h"

namespace {

using namespace office_test;
using namespace automation;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return "<no file>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The text of each page of a PDF; empty when it cannot be read.
std::vector<std::string> PageTexts(const fs::path& pdf) {
  std::vector<std::string> texts;
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf.string()));
  if (!doc) return texts;
  for (int i = 0; i < doc->pages(); ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    const auto bytes = page ? page->text().to_utf8() : poppler::byte_array{};
    texts.emplace_back(bytes.begin(), bytes.end());
  }
  return texts;
}

std::string Creator(const fs::path& pdf) {
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf.string()));
  return doc ? doc->info_key("Creator").to_latin1() : "";
}

std::vector<std::string> Images(const fs::path& folder) {
  std::vector<std::string> names = ListNames(folder);
  std::erase_if(names, [](const std::string& n) { return !n.ends_with(".jpg"); });
  return names;
}

IDispatch* Get(IDispatch* object, std::u16string_view name, std::uint16_t flags,
               std::vector<Variant> args = {}) {
  Variant result;
  EXPECT_EQ(S_OK, Call(object, name, flags, std::move(args), &result));
  return result.DetachDispatch();
}

class Servers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(work_.path().empty());
    fs::create_directory(tmp());
    fs::create_directory(out());
    ASSERT_TRUE(Succeeded(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override {
    CoUninitialize();
    for (auto id : {u"PowerPoint.Application", u"Word.Application", u"Excel.Application"}) {
      UnregisterClass(id);
    }
  }
  IDispatch* Create(std::u16string_view progId) {
    CLSID clsid;
    EXPECT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
    IDispatch* app = nullptr;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, &app));
    return app;
  }
  fs::path tmp() const { return work_.path() / "tmp"; }
  fs::path out() const { return work_.path() / "out"; }

  TempFolder work_;
  ScopedEnv tmpdir_{"TMPDIR", (work_.path() / "tmp").string()};
  ScopedEnv cache_{"XDG_CACHE_HOME", (work_.path() / "cache").string()};
  ScopedEnv home_{"HOME", (work_.path() / "home").string()};
};

TEST_F(Servers, WithoutLibreOfficeNoProgIdResolves) {
  ASSERT_TRUE(office::RegisterOfficeServers(OfficeOptions()));
  EXPECT_FALSE(office::RegisterOfficeServers(OfficeOptions((work_.path() / "soffice").string())));
  for (auto id : {u"PowerPoint.Application", u"Word.Application", u"Excel.Application"}) {
    CLSID clsid;
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(id, &clsid));
  }
}

TEST_F(Servers, WordSavesTheTextAsPdfAndNothingElse) {
  ASSERT_TRUE(office::RegisterOfficeServers(OfficeOptions()));
  IDispatch* app = Create(u"Word.Application");
  ASSERT_TRUE(app);
  IDispatch* documents = Get(app, u"Documents", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(documents);
  const fs::path letter = work_.path() / "letter.docx";
  fs::copy_file(kDataDir / "two-pages.docx", letter);
  const std::vector<Variant> open = {Variant::Bstr(U16(letter.string())),
                                     Variant::Bool(VARIANT_FALSE), Variant::Bool(VARIANT_FALSE),
                                     Variant::Bool(VARIANT_FALSE), Variant::Bstr(u"")};
  {
    // What LibreOffice printed as a presentation is no text document.
    ScopedEnv pdf("VM_FAKE_SOFFICE_PDF", (kDataDir / "three-slides.pdf").string());
    Variant none;
    EXPECT_EQ(S_OK, Call(documents, u"Open", DISPATCH_METHOD, open, &none));
    EXPECT_EQ(nullptr, none.AsDispatch());
  }
  ScopedEnv pdf("VM_FAKE_SOFFICE_PDF", (kDataDir / "two-pages.pdf").string());
  IDispatch* document = Get(documents, u"Open", DISPATCH_METHOD, open);
  ASSERT_TRUE(document);

  const fs::path saved = out() / "temp.pdf";
  const Variant path = Variant::Bstr(U16(out().string() + "//temp.pdf"));
  EXPECT_EQ(E_INVALIDARG, Call(document, u"SaveAs2", DISPATCH_METHOD, {path, Variant::I4(16)}));
  EXPECT_EQ(E_INVALIDARG, Call(document, u"SaveAs2", DISPATCH_METHOD, {path}));
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            Call(document, u"SaveAs2", DISPATCH_METHOD, {Variant::I4(1), Variant::I4(17)}));
  EXPECT_FALSE(fs::exists(saved));
  EXPECT_EQ(S_OK, Call(document, u"SaveAs2", DISPATCH_METHOD, {path, Variant::I4(17)}));
  EXPECT_EQ(ReadText(saved), ReadText(kDataDir / "two-pages.pdf"));

  EXPECT_EQ(S_OK, Call(document, u"Close", DISPATCH_METHOD, {}));
  EXPECT_EQ(E_FAIL, Call(document, u"SaveAs2", DISPATCH_METHOD, {path, Variant::I4(17)}));
  EXPECT_EQ(S_OK, Call(app, u"Quit", DISPATCH_METHOD, {}));
  EXPECT_EQ(0u, document->Release());
  EXPECT_EQ(1u, documents->Release());
  EXPECT_EQ(0u, app->Release());
  EXPECT_TRUE(fs::is_empty(tmp()));
}

TEST_F(Servers, ExcelGivesNoWorkbookForWhatIsNoSpreadsheet) {
  ASSERT_TRUE(office::RegisterOfficeServers(OfficeOptions()));
  IDispatch* app = Create(u"Excel.Application");
  ASSERT_TRUE(app);
  IDispatch* workbooks = Get(app, u"Workbooks", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(workbooks);
  // The fake soffice prints PDFs only: no flat spreadsheet comes back.
  ScopedEnv pdf("VM_FAKE_SOFFICE_PDF", (kDataDir / "three-slides.pdf").string());
  for (const fs::path& p : {kDataDir / "three-sheets.xlsx", work_.path() / "none.xlsx"}) {
    Variant none;
    EXPECT_EQ(S_OK,
              Call(workbooks, u"Open", DISPATCH_METHOD, {Variant::Bstr(U16(p.string()))}, &none));
    EXPECT_EQ(nullptr, none.AsDispatch());
  }
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            Call(workbooks, u"Open", DISPATCH_METHOD, {Variant::I4(3)}, nullptr));
  workbooks->Release();
  EXPECT_EQ(0u, app->Release());
}

// The converter's roads on LibreOffice. The real Pagesnap lies beside the test program.
class RoadsOnLibreOffice : public Servers {
 protected:
  void SetUp() override {
    Servers::SetUp();
    CoUninitialize();  // the roads initialise COM themselves
    status_ = converter::StatusFilePath();
    ASSERT_FALSE(status_.empty());
    fs::remove(status_);
    ASSERT_TRUE(fs::exists(fs::path(status_).parent_path() / "Pagesnap"));
    VM_NEED_LIBREOFFICE();
    ASSERT_TRUE(office::RegisterOfficeServers());
  }
  void TearDown() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Servers::TearDown();
    fs::remove(status_);
  }
  std::string status_;
};

TEST_F(RoadsOnLibreOffice, WordDocumentBecomesAPdfAndOneImagePerPage) {
  EXPECT_EQ(0, converter::ConvertWord(U16((kDataDir / "two-pages.docx").string()),
                                      U16(out().string() + "/")));
  EXPECT_EQ("success\r\n", ReadText(status_));
  EXPECT_EQ((std::vector<std::string>{"Image0000.jpg", "Image0001.jpg", "temp.pdf"}),
            ListNames(out()));
  const auto texts = PageTexts(out() / "temp.pdf");
  ASSERT_EQ(2u, texts.size());
  EXPECT_NE(texts[0].find("First page of the letter"), std::string::npos);
  EXPECT_NE(texts[1].find("Second page of the letter"), std::string::npos);
  EXPECT_NE(Creator(out() / "temp.pdf").find("Writer"), std::string::npos);
  const auto picture = ReadJpeg(out() / "Image0001.jpg");
  ASSERT_TRUE(picture);
  EXPECT_GT(picture->height, picture->width);  // a portrait page
  EXPECT_TRUE(fs::is_empty(tmp()));
}

TEST_F(RoadsOnLibreOffice, EachWorksheetBecomesItsOwnPdfAndTheImagesFollowOn) {
  EXPECT_EQ(0, converter::ConvertExcel(U16((kDataDir / "three-sheets.xlsx").string()),
                                       U16(out().string() + "/")));
  EXPECT_EQ("success\r\n", ReadText(status_));
  const char* own[] = {"Alpha row 0", "Beta only", "Gamma only"};
  std::size_t pages = 0;
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const auto texts = PageTexts(out() / (std::to_string(n) + ".pdf"));
    ASSERT_FALSE(texts.empty());
    std::string all;
    for (const auto& t : texts) all += t;
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(all.find(own[k]) != std::string::npos, k == n - 1) << own[k];
    }
    pages += texts.size();
  }
  EXPECT_EQ(2u, PageTexts(out() / "1.pdf").size());  // 90 rows print on two pages
  // The images of all sheets in one unbroken row, sheet after sheet.
  const auto images = Images(out());
  ASSERT_EQ(pages, images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Image%04zu.jpg", i);
    EXPECT_EQ(name, images[i]);
  }
  EXPECT_TRUE(fs::is_empty(tmp()));
}

// Sheets 2 (hidden) and 3 (empty) have nothing to print: Calc prints nothing of a hidden sheet,
// and a copy of the workbook with every other sheet hidden as well would print the first sheet
// in its place; an empty sheet printed alone gives one blank page. The footer shows the file
// name ("&F"), which must be the workbook's, not that of the copy a sheet is printed from.
TEST_F(RoadsOnLibreOffice, AHiddenOrEmptyWorksheetIsCountedButGivesNoPages) {
  EXPECT_EQ(0, converter::ConvertExcel(U16((kDataDir / "hidden-and-empty-sheets.xlsx").string()),
                                       U16(out().string() + "/")));
  EXPECT_EQ("success\r\n", ReadText(status_));
  EXPECT_EQ((std::vector<std::string>{"1.pdf", "4.pdf", "Image0000.jpg", "Image0001.jpg"}),
            ListNames(out()));
  const auto first = PageTexts(out() / "1.pdf");
  const auto last = PageTexts(out() / "4.pdf");
  ASSERT_EQ(1u, first.size());
  ASSERT_EQ(1u, last.size());
  EXPECT_NE(first[0].find("Open sheet one"), std::string::npos);
  EXPECT_NE(last[0].find("Last sheet three"), std::string::npos);
  EXPECT_EQ(last[0].find("Open sheet one"), std::string::npos);
  for (const auto& text : {first[0], last[0]}) {
    EXPECT_NE(text.find("Printed from hidden-and-empty-sheets.xlsx"), std::string::npos) << text;
  }
  EXPECT_TRUE(fs::is_empty(tmp()));
}

TEST_F(RoadsOnLibreOffice, ExcelMembersOnARealWorkbook) {
  ASSERT_TRUE(Succeeded(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  IDispatch* app = Create(u"Excel.Application");
  ASSERT_TRUE(app);
  IDispatch* workbooks = Get(app, u"Workbooks", DISPATCH_PROPERTYGET);
  IDispatch* book = Get(workbooks, u"Open", DISPATCH_METHOD,
                        {Variant::Bstr(U16((kDataDir / "three-sheets.xlsx").string()))});
  ASSERT_TRUE(book);
  IDispatch* sheets = Get(book, u"Worksheets", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(sheets);
  Variant count;
  ASSERT_EQ(S_OK, Call(sheets, u"Count", DISPATCH_PROPERTYGET, {}, &count));
  EXPECT_EQ(3, count.AsI4());
  Variant none;
  EXPECT_EQ(E_INVALIDARG, Call(sheets, u"Item", DISPATCH_PROPERTYGET, {Variant::I4(0)}, &none));
  EXPECT_EQ(E_INVALIDARG, Call(sheets, u"Item", DISPATCH_PROPERTYGET, {Variant::I4(4)}, &none));
  IDispatch* sheet = Get(sheets, u"Item", DISPATCH_PROPERTYGET, {Variant::I4(3)});
  ASSERT_TRUE(sheet);
  const Variant path = Variant::Bstr(U16((out() / "3.pdf").string()));
  EXPECT_EQ(E_INVALIDARG,
            Call(sheet, u"ExportAsFixedFormat", DISPATCH_METHOD, {Variant::I4(1), path}));  // XPS
  EXPECT_FALSE(fs::exists(out() / "3.pdf"));
  EXPECT_EQ(S_OK, Call(sheet, u"ExportAsFixedFormat", DISPATCH_METHOD, {Variant::I4(0), path}));
  const auto texts = PageTexts(out() / "3.pdf");
  ASSERT_EQ(1u, texts.size());
  EXPECT_NE(texts[0].find("Gamma only"), std::string::npos);
  // Closing the collection closes its workbooks.
  EXPECT_EQ(S_OK, Call(workbooks, u"Close", DISPATCH_METHOD, {}));
  EXPECT_EQ(E_FAIL, Call(sheets, u"Count", DISPATCH_PROPERTYGET, {}, &count));
  for (IDispatch* o : {sheet, sheets, book, workbooks}) o->Release();

  // A text document is no workbook.
  const fs::path letter = work_.path() / "letter.xlsx";
  fs::copy_file(kDataDir / "two-pages.docx", letter);
  IDispatch* again = Get(app, u"Workbooks", DISPATCH_PROPERTYGET);
  Variant noBook;
  EXPECT_EQ(S_OK,
            Call(again, u"Open", DISPATCH_METHOD, {Variant::Bstr(U16(letter.string()))}, &noBook));
  EXPECT_EQ(nullptr, noBook.AsDispatch());
  again->Release();
  EXPECT_EQ(0u, app->Release());
  CoUninitialize();
}

TEST_F(RoadsOnLibreOffice, OddPathsReachLibreOfficeAndPagesnapWholeAndRunNothingElse) {
  // A shell would split, unquote, run the substitution and end the command at the ";".
  const fs::path folder = work_.path() / "odd \"dir\"; $(touch marker) 'x'";
  const fs::path outFolder = work_.path() / "out $(touch marker); `touch marker`";
  fs::create_directory(folder);
  fs::create_directory(outFolder);
  const fs::path document = folder / "my letter; $(touch marker).docx";
  fs::copy_file(kDataDir / "two-pages.docx", document);
  ScopedCwd cwd(work_.path());
  EXPECT_EQ(0, converter::ConvertWord(U16(document.string()), U16(outFolder.string() + "/")));
  EXPECT_EQ("success\r\n", ReadText(status_));
  EXPECT_EQ((std::vector<std::string>{"Image0000.jpg", "Image0001.jpg", "temp.pdf"}),
            ListNames(outFolder));
  EXPECT_FALSE(fs::exists(work_.path() / "marker"));
  EXPECT_FALSE(fs::exists(folder / "marker"));
  EXPECT_FALSE(fs::exists(outFolder / "marker"));
}

}  // namespace
