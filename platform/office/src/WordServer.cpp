// "Word.Application" on LibreOffice Writer: what the converter asks of Word.

#include <memory>
#include <mutex>
#include <vector>

#include "ServerSupport.h"
#include "office/TextDocument.h"

namespace office::detail {
namespace {

using automation::DispatchObject;
using automation::DispParams;
using automation::HRESULT;
using automation::PositionalArg;
using automation::Variant;

constexpr std::int32_t kFormatPdf = 17;  // wdFormatPDF

using TextRef = DocumentRef<TextDocument>;

class Document : public OnDocument<TextDocument> {
 public:
  explicit Document(TextRef text) : OnDocument(std::move(text)) {
    // SaveAs2(FileName, FileFormat, ...): only the PDF format can be written.
    AddMember(u"SaveAs2", [this](std::uint16_t flags, const DispParams& p, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      const Variant* name = PositionalArg(p, 0);
      const Variant* format = PositionalArg(p, 1);
      if (!name) return automation::DISP_E_PARAMNOTFOUND;
      if (name->Type() != automation::VT_BSTR || (format && !IsNumber(format))) {
        return automation::DISP_E_TYPEMISMATCH;
      }
      if (!format || format->AsI4() != kFormatPdf) return automation::E_INVALIDARG;
      const std::optional<std::string> path = PathToUtf8(name->AsBstr());
      if (!path || path->empty()) return automation::E_INVALIDARG;
      std::lock_guard lock(document_->mutex);
      if (!document_->document) return automation::E_FAIL;
      return document_->document->SavePdf(*path) ? automation::S_OK : automation::E_FAIL;
    });
    AddClose();
  }
};

class Documents : public DispatchObject {
 public:
  explicit Documents(SessionRef<TextDocument> session) : session_(std::move(session)) {
    // Open(FileName, ConfirmConversions, ReadOnly, AddToRecentFiles, PasswordDocument, ...):
    // the document is only ever read and never listed anywhere, so only the name matters. A
    // document that cannot be opened gives no document rather than a failed call.
    AddMember(u"Open", [this](std::uint16_t flags, const DispParams& p, Variant* result) {
      return OpenMember<Document>(*session_, flags, p, result, 3);
    });
  }

 private:
  SessionRef<TextDocument> session_;
};

class Application : public ApplicationBase<TextDocument, Documents> {
 public:
  explicit Application(const ConvertOptions& options) : ApplicationBase(options) {
    AddCollection(u"Documents");
    AddQuit();
  }
};

}  // namespace

automation::IDispatch* NewWordApplication(const ConvertOptions& options) {
  return new Application(options);
}

}  // namespace office::detail
