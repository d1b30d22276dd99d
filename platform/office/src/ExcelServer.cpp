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

// One open workbook; closing drops it while objects may still refer to it.
struct OpenBook {
  std::mutex mutex;
  std::unique_ptr<Workbook> book;
};
using BookRef = std::shared_ptr<OpenBook>;

struct Session {
  ConvertOptions options;
  std::mutex mutex;
  std::vector<std::weak_ptr<OpenBook>> open;

  void Add(const BookRef& book) {
    std::lock_guard lock(mutex);
    std::erase_if(open, [](const std::weak_ptr<OpenBook>& w) { return w.expired(); });
    open.push_back(book);
  }
  void CloseAll() {
    std::vector<std::weak_ptr<OpenBook>> books;
    {
      std::lock_guard lock(mutex);
      books.swap(open);
    }
    for (const auto& w : books) {
      if (BookRef b = w.lock()) {
        std::lock_guard lock(b->mutex);
        b->book.reset();
      }
    }
  }
};
using SessionRef = std::shared_ptr<Session>;

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
      if (!book_->book) return automation::E_FAIL;
      return book_->book->ExportSheetPdf(number_, *path) ? automation::S_OK : automation::E_FAIL;
    });
  }

 private:
  BookRef book_;
  int number_;
};

class Worksheets : public DispatchObject {
 public:
  explicit Worksheets(BookRef book) : book_(std::move(book)) {
    AddMember(u"Count", [this](std::uint16_t flags, const DispParams&, Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      std::lock_guard lock(book_->mutex);
      if (!book_->book) return automation::E_FAIL;
      if (result) *result = Variant::I4(book_->book->SheetCount());
      return automation::S_OK;
    });
    // Item(Index): a collection's item answers as a method and as a property alike.
    AddMember(u"Item", [this](std::uint16_t flags, const DispParams& p, Variant* result) {
      if (!(flags & (kMethod | kGet))) return automation::DISP_E_MEMBERNOTFOUND;
      const Variant* index = PositionalArg(p, 0);
      if (!index) return automation::DISP_E_PARAMNOTFOUND;
      int n = 0;
      {
        std::lock_guard lock(book_->mutex);
        if (!book_->book) return automation::E_FAIL;
        if (!IsNumber(index)) return automation::DISP_E_TYPEMISMATCH;
        n = index->AsI4();
        if (n < 1 || n > book_->book->SheetCount()) return automation::E_INVALIDARG;
      }
      if (result) *result = Variant::AttachDispatch(new Worksheet(book_, n));
      return automation::S_OK;
    });
  }

 private:
  BookRef book_;
};

class WorkbookObject : public DispatchObject {
 public:
  explicit WorkbookObject(BookRef book) : book_(std::move(book)) {
    AddMember(u"Worksheets", [this](std::uint16_t flags, const DispParams&, Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      {
        std::lock_guard lock(book_->mutex);
        if (!book_->book) return automation::E_FAIL;
      }
      if (result) *result = Variant::AttachDispatch(new Worksheets(book_));
      return automation::S_OK;
    });
    AddMember(u"Close", [this](std::uint16_t flags, const DispParams&, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      std::lock_guard lock(book_->mutex);
      book_->book.reset();
      return automation::S_OK;
    });
  }

 private:
  BookRef book_;
};

class Workbooks : public DispatchObject {
 public:
  explicit Workbooks(SessionRef session) : session_(std::move(session)) {
    // Open(Filename, ...): the workbook is only ever read, so only the name matters. A
    // document that cannot be opened gives no workbook rather than a failed call.
    AddMember(u"Open", [this](std::uint16_t flags, const DispParams& p, Variant* result) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      const Variant* name = PositionalArg(p, 0);
      if (!name) return automation::DISP_E_PARAMNOTFOUND;
      if (name->Type() != automation::VT_BSTR) return automation::DISP_E_TYPEMISMATCH;
      const std::optional<std::string> path = PathToUtf8(name->AsBstr());
      if (!path) return automation::S_OK;
      std::unique_ptr<Workbook> opened = Workbook::Open(*path, session_->options);
      if (!opened || !result) return automation::S_OK;
      auto book = std::make_shared<OpenBook>();
      book->book = std::move(opened);
      session_->Add(book);
      *result = Variant::AttachDispatch(new WorkbookObject(book));
      return automation::S_OK;
    });
    // Close: every open workbook.
    AddMember(u"Close", [this](std::uint16_t flags, const DispParams&, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      session_->CloseAll();
      return automation::S_OK;
    });
  }

 private:
  SessionRef session_;
};

class Application : public DispatchObject {
 public:
  explicit Application(const ConvertOptions& options) : session_(std::make_shared<Session>()) {
    session_->options = options;
    workbooks_ = new Workbooks(session_);
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
    AddMember(u"Workbooks", [this](std::uint16_t flags, const DispParams&, Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      if (result) *result = Variant::Dispatch(workbooks_);
      return automation::S_OK;
    });
    AddMember(u"Quit", [this](std::uint16_t flags, const DispParams&, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      session_->CloseAll();
      return automation::S_OK;
    });
  }
  ~Application() override { workbooks_->Release(); }
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

 private:
  SessionRef session_;
  Workbooks* workbooks_;
  automation::VARIANT_BOOL visible_ = automation::VARIANT_FALSE;
};

}  // namespace

automation::IDispatch* NewExcelApplication(const ConvertOptions& options) {
  return new Application(options);
}

}  // namespace office::detail
