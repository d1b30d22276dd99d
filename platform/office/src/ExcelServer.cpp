// "Excel.Application" on LibreOffice Calc: what the converter asks of Excel.

#include <memory>
#include <mutex>
#include <vector>

#include "ServerSupport.h"
#include "office/Workbook.h"

namespace office::detail {
namespace {

using automation::DispatchObject;
using automation::DispParams;
using automation::HRESULT;
using automation::PositionalArg;
using automation::Variant;

constexpr std::int32_t kTypePdf = 0;  // xlTypePDF

using BookRef = DocumentRef<Workbook>;

class Worksheet : public DispatchObject {
 public:
  Worksheet(BookRef book, int number) : book_(std::move(book)), number_(number) {
    // ExportAsFixedFormat(Type, Filename, Quality, IncludeDocProperties, IgnorePrintAreas,
    // From, To, OpenAfterPublish): PDF only, the whole sheet.
    AddMember(u"ExportAsFixedFormat", [this](std::uint16_t flags, const DispParams& p, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      const Variant* type = PositionalArg(p, 0);
      const Variant* name = PositionalArg(p, 1);
      if (!type || !name) return automation::DISP_E_PARAMNOTFOUND;
      if (!IsNumber(type) || name->Type() != automation::VT_BSTR) {
        return automation::DISP_E_TYPEMISMATCH;
      }
      if (type->AsI4() != kTypePdf) return automation::E_INVALIDARG;
      const std::optional<std::string> path = PathToUtf8(name->AsBstr());
      if (!path || path->empty()) return automation::E_INVALIDARG;
      std::lock_guard lock(book_->mutex);
      if (!book_->document) return automation::E_FAIL;
      return book_->document->ExportSheetPdf(number_, *path) ? automation::S_OK
                                                             : automation::E_FAIL;
    });
  }

 private:
  BookRef book_;
  int number_;
};

// A sheet with nothing to print (hidden or empty) is counted, as Excel counts it, but gives no
// worksheet, so no page of it is made.
using Worksheets =
    PartCollection<Workbook, Worksheet, &Workbook::SheetCount, &Workbook::SheetPrints>;

class WorkbookObject : public OnDocument<Workbook> {
 public:
  explicit WorkbookObject(BookRef book) : OnDocument(std::move(book)) {
    AddPart<Worksheets>(u"Worksheets");
    AddClose();
  }
};

class Workbooks : public DispatchObject {
 public:
  explicit Workbooks(SessionRef<Workbook> session) : session_(std::move(session)) {
    // Open(Filename, ...): the workbook is only ever read, so only the name matters. A
    // document that cannot be opened gives no workbook rather than a failed call.
    AddMember(u"Open", [this](std::uint16_t flags, const DispParams& p, Variant* result) {
      return OpenMember<WorkbookObject>(*session_, flags, p, result);
    });
    // Close: every open workbook.
    AddMember(u"Close", [this](std::uint16_t flags, const DispParams&, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      session_->CloseAll();
      return automation::S_OK;
    });
  }

 private:
  SessionRef<Workbook> session_;
};

class Application : public ApplicationBase<Workbook, Workbooks> {
 public:
  explicit Application(const ConvertOptions& options) : ApplicationBase(options) {
    // Nothing is ever shown; the value is kept for whoever reads it back.
    AddMember(u"Visible", [this](std::uint16_t flags, const DispParams& p, Variant* result) {
      if (flags & kPut) {
        const Variant* value = automation::NamedArg(p, automation::DISPID_PROPERTYPUT);
        if (!value) return automation::DISP_E_PARAMNOTFOUND;
        if (!IsNumber(value)) return automation::DISP_E_TYPEMISMATCH;
        visible_ = value->AsBool();
        return automation::S_OK;
      }
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      if (result) *result = Variant::Bool(visible_);
      return automation::S_OK;
    });
    AddCollection(u"Workbooks");
    AddQuit();
  }

 private:
  automation::VARIANT_BOOL visible_ = automation::VARIANT_FALSE;
};

}  // namespace

automation::IDispatch* NewExcelApplication(const ConvertOptions& options) {
  return new Application(options);
}

}  // namespace office::detail
