#include <cstdint>
#include <string>

#include "Road.h"
#include "automation/Com.h"
#include "converter/Converter.h"
#include "os/Process.h"

namespace converter {

using namespace automation;

namespace {

constexpr ServerTexts kServer = {u"Excel.Application", "CLSIDFROMProgID failed",
                                 u"Excel is not registered properly",
                                 "Excel is not registered properly."};
constexpr std::int32_t kTypePdf = 0;

std::u16string Decimal(std::int64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

int ConvertExcel(const std::u16string& documentPath, const std::u16string& outputFolder) {
  IDispatch* application = StartApplication(kServer);
  if (application == nullptr) return 1;

  Variant result;
  AutoWrap(DISPATCH_PROPERTYPUT, &result, application, u"Visible", {Variant::I4(0)});
  result.Clear();

  AutoWrap(DISPATCH_PROPERTYGET, &result, application, u"Workbooks");
  IDispatch* workbooks = result.DetachDispatch();

  AutoWrap(DISPATCH_METHOD, &result, workbooks, u"Open", {Variant::Bstr(documentPath)});
  IDispatch* workbook = result.DetachDispatch();
  if (workbook == nullptr) {
    return DocumentNotOpened(application, workbooks, u"The file cannot be opened properly w/err\n",
                             "the file cannot be open properly.");
  }

  AutoWrap(DISPATCH_PROPERTYGET, &result, workbook, u"Worksheets");
  IDispatch* worksheets = result.DetachDispatch();
  if (worksheets == nullptr) {
    ConsoleWrite(u"cannot get sheets.");
    WriteStatusFile(false, "cannot get sheets");
    AutoWrap(DISPATCH_METHOD, nullptr, workbooks, u"Close");
    AutoWrap(DISPATCH_METHOD, nullptr, application, u"Quit");
    workbook->Release();
    if (workbooks != nullptr) workbooks->Release();
    application->Release();
    CoUninitialize();
    return 1;
  }

  AutoWrap(DISPATCH_PROPERTYGET, &result, worksheets, u"Count");
  const std::int32_t count = result.AsI4();
  result.Clear();

  std::u16string ownFolder;
  GetModuleFolder(ownFolder);
  // 64-bit, like the loop counter: neither a long workbook nor many runs can overflow it.
  std::int64_t startNumber = 0;

  for (std::int64_t n = 1; n <= count; ++n) {
    AutoWrap(DISPATCH_PROPERTYGET, &result, worksheets, u"Item",
             {Variant::I4(static_cast<std::int32_t>(n))});
    IDispatch* worksheet = result.DetachDispatch();
    if (worksheet == nullptr) continue;

    const std::u16string pdfPath = outputFolder + Decimal(n) + u".pdf";
    // ExportAsFixedFormat(Type, Filename).
    AutoWrap(DISPATCH_METHOD, &result, worksheet, u"ExportAsFixedFormat",
             {Variant::Bstr(pdfPath), Variant::I4(kTypePdf)});
    result.Clear();
    worksheet->Release();

    const std::u16string start = Decimal(startNumber);
    startNumber += os::RunAndWait(PagesnapCommand(ownFolder, pdfPath, outputFolder, &start));
  }

  WriteStatusFile(true, "");

  AutoWrap(DISPATCH_METHOD, nullptr, workbooks, u"Close");
  AutoWrap(DISPATCH_METHOD, nullptr, application, u"Quit");

  worksheets->Release();
  workbook->Release();
  if (workbooks != nullptr) workbooks->Release();
  application->Release();
  CoUninitialize();
  return 0;
}

}  // namespace converter
