#include <string>
#include <vector>

#include "Road.h"
#include "automation/Com.h"
#include "converter/Converter.h"
#include "os/Process.h"

namespace converter {

using namespace automation;

namespace {

constexpr ServerTexts kServer = {u"Word.Application", "CLSIDFromProgID failed",
                                 u"Word is not registered properly",
                                 "word is not registered properly."};
constexpr std::int32_t kFormatPdf = 17;

}  // namespace

std::u16string WordPdfPath(const std::u16string& outputFolder) {
  // Without an output folder every other output name is a bare name in the working folder; a
  // lone separator in front would put this one at the root of the file system instead.
  if (outputFolder.empty()) return u"temp.pdf";
  return outputFolder + u"/temp.pdf";
}

std::vector<std::u16string> PagesnapCommand(const std::u16string& ownFolder,
                                            const std::u16string& pdfPath,
                                            const std::u16string& outputFolder,
                                            const std::u16string* startNumber) {
  std::vector<std::u16string> argv = {ownFolder + u"Pagesnap", pdfPath, outputFolder};
  if (startNumber != nullptr) argv.push_back(*startNumber);
  return argv;
}

int ConvertWord(const std::u16string& documentPath, const std::u16string& outputFolder) {
  IDispatch* application = StartApplication(kServer);
  if (application == nullptr) return 1;

  Variant result;
  AutoWrap(DISPATCH_PROPERTYGET, &result, application, u"Documents");
  IDispatch* documents = result.DetachDispatch();

  // Open(FileName, ConfirmConversions, ReadOnly, AddToRecentFiles, PasswordDocument).
  AutoWrap(DISPATCH_METHOD, &result, documents, u"Open",
           {Variant::Bstr(u""), Variant::Bool(VARIANT_FALSE), Variant::Bool(VARIANT_FALSE),
            Variant::Bool(VARIANT_FALSE), Variant::Bstr(documentPath)});
  IDispatch* document = result.DetachDispatch();
  if (document == nullptr) {
    return DocumentNotOpened(application, documents, u"The file cannot be opened properly.",
                             "the file cannot be opened properly.");
  }

  const std::u16string pdfPath = WordPdfPath(outputFolder);
  AutoWrap(DISPATCH_METHOD, &result, document, u"SaveAs2",
           {Variant::I4(kFormatPdf), Variant::Bstr(pdfPath)});
  result.Clear();

  std::u16string ownFolder;
  GetModuleFolder(ownFolder);
  // The images are what counts; the number the tool reports is of no use here.
  os::RunAndWait(PagesnapCommand(ownFolder, pdfPath, outputFolder, nullptr));

  WriteStatusFile(true, "");

  AutoWrap(DISPATCH_METHOD, nullptr, document, u"Close");
  AutoWrap(DISPATCH_METHOD, nullptr, application, u"Quit");

  document->Release();
  if (documents != nullptr) documents->Release();
  application->Release();
  CoUninitialize();
  return 0;
}

}  // namespace converter
