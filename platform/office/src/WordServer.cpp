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

// One open document; Close (or Quit) drops it while objects may still refer to it.
struct OpenText {
  std::mutex mutex;
  std::unique_ptr<TextDocument> document;
};
using TextRef = std::shared_ptr<OpenText>;

struct Session {
  ConvertOptions options;
  std::mutex mutex;
  std::vector<std::weak_ptr<OpenText>> open;

  void Add(const TextRef& text) {
    std::lock_guard lock(mutex);
    std::erase_if(open, [](const std::weak_ptr<OpenText>& w) { return w.expired(); });
    open.push_back(text);
  }
  void CloseAll() {
    std::vector<std::weak_ptr<OpenText>> texts;
    {
      std::lock_guard lock(mutex);
      texts.swap(open);
    }
    for (const auto& w : texts) {
      if (TextRef t = w.lock()) {
        std::lock_guard lock(t->mutex);
        t->document.reset();
      }
    }
  }
};
using SessionRef = std::shared_ptr<Session>;

class Document : public DispatchObject {
 public:
  explicit Document(TextRef text) : text_(std::move(text)) {
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
      std::lock_guard lock(text_->mutex);
      if (!text_->document) return automation::E_FAIL;
      return text_->document->SavePdf(*path) ? automation::S_OK : automation::E_FAIL;
    });
    AddMember(u"Close", [this](std::uint16_t flags, const DispParams&, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      std::lock_guard lock(text_->mutex);
      text_->document.reset();
      return automation::S_OK;
    });
  }

 private:
  TextRef text_;
};

class Documents : public DispatchObject {
 public:
  explicit Documents(SessionRef session) : session_(std::move(session)) {
    // Open(FileName, ConfirmConversions, ReadOnly, AddToRecentFiles, PasswordDocument, ...):
    // the document is only ever read and never listed anywhere, so only the name matters. A
    // document that cannot be opened gives no document rather than a failed call.
    AddMember(u"Open", [this](std::uint16_t flags, const DispParams& p, Variant* result) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      const Variant* name = PositionalArg(p, 0);
      if (!name) return automation::DISP_E_PARAMNOTFOUND;
      if (name->Type() != automation::VT_BSTR) return automation::DISP_E_TYPEMISMATCH;
      for (std::size_t i = 1; i <= 3; ++i) {
        const Variant* flag = PositionalArg(p, i);
        if (flag && !IsNumber(flag)) return automation::DISP_E_TYPEMISMATCH;
      }
      const std::optional<std::string> path = PathToUtf8(name->AsBstr());
      if (!path) return automation::S_OK;
      std::unique_ptr<TextDocument> opened = TextDocument::Open(*path, session_->options);
      if (!opened || !result) return automation::S_OK;
      auto text = std::make_shared<OpenText>();
      text->document = std::move(opened);
      session_->Add(text);
      *result = Variant::AttachDispatch(new Document(text));
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
    documents_ = new Documents(session_);
    AddMember(u"Documents", [this](std::uint16_t flags, const DispParams&, Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      if (result) *result = Variant::Dispatch(documents_);
      return automation::S_OK;
    });
    AddMember(u"Quit", [this](std::uint16_t flags, const DispParams&, Variant*) {
      if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
      session_->CloseAll();
      return automation::S_OK;
    });
  }
  ~Application() override { documents_->Release(); }
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

 private:
  SessionRef session_;
  Documents* documents_;
};

}  // namespace

automation::IDispatch* NewWordApplication(const ConvertOptions& options) {
  return new Application(options);
}

}  // namespace office::detail
