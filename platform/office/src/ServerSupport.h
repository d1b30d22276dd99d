#pragma once
// What the office servers share: argument checks, the open documents of an application object,
// the collection member that opens one, and the application objects of Word and Excel.

#include <automation/Com.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "office/ImpressDeck.h"
#include "os/Process.h"

namespace office::detail {

constexpr std::uint16_t kGet = automation::DISPATCH_PROPERTYGET;
constexpr std::uint16_t kPut = automation::DISPATCH_PROPERTYPUT;
constexpr std::uint16_t kMethod = automation::DISPATCH_METHOD;

// Paths reach the servers as UTF-16; the file system wants UTF-8. A lone surrogate has no
// UTF-8 form and gives nullopt rather than some other file's name.
inline std::optional<std::string> PathToUtf8(std::u16string_view text) {
  return os::ToUtf8(text);
}

inline bool EqualsAsciiNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

inline bool IsNumber(const automation::Variant* v) {
  return v && (v->Type() == automation::VT_I4 || v->Type() == automation::VT_R4 ||
               v->Type() == automation::VT_BOOL);
}

// One open document; Close (or Quit) drops it while objects may still refer to it.
template <typename Doc>
struct OpenDocument {
  std::mutex mutex;
  std::unique_ptr<Doc> document;
};
template <typename Doc>
using DocumentRef = std::shared_ptr<OpenDocument<Doc>>;

// What one application object and its collections share.
template <typename Doc>
struct Session {
  ConvertOptions options;
  std::mutex mutex;
  std::vector<std::weak_ptr<OpenDocument<Doc>>> open;

  void Add(const DocumentRef<Doc>& document) {
    std::lock_guard lock(mutex);
    std::erase_if(open, [](const std::weak_ptr<OpenDocument<Doc>>& w) { return w.expired(); });
    open.push_back(document);
  }
  void CloseAll() {
    std::vector<std::weak_ptr<OpenDocument<Doc>>> documents;
    {
      std::lock_guard lock(mutex);
      documents.swap(open);
    }
    for (const auto& w : documents) {
      if (DocumentRef<Doc> d = w.lock()) {
        std::lock_guard lock(d->mutex);
        d->document.reset();
      }
    }
  }
};
template <typename Doc>
using SessionRef = std::shared_ptr<Session<Doc>>;

// Open(FileName, ...) of a document collection: Doc::Open on the named file, answered by a new
// Object on the open document. The document is only ever read, so only the name matters, but
// arguments 1 to `numberArgs`, where given, must be numbers. A name that is no path or a
// document that cannot be opened gives no object rather than a failed call.
template <typename Object, typename Doc>
automation::HRESULT OpenMember(Session<Doc>& session, std::uint16_t flags,
                               const automation::DispParams& p, automation::Variant* result,
                               std::size_t numberArgs = 0) {
  if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
  const automation::Variant* name = automation::PositionalArg(p, 0);
  if (!name) return automation::DISP_E_PARAMNOTFOUND;
  if (name->Type() != automation::VT_BSTR) return automation::DISP_E_TYPEMISMATCH;
  for (std::size_t i = 1; i <= numberArgs; ++i) {
    const automation::Variant* flag = automation::PositionalArg(p, i);
    if (flag && !IsNumber(flag)) return automation::DISP_E_TYPEMISMATCH;
  }
  const std::optional<std::string> path = PathToUtf8(name->AsBstr());
  if (!path) return automation::S_OK;
  std::unique_ptr<Doc> opened = Doc::Open(*path, session.options);
  if (!opened || !result) return automation::S_OK;
  auto document = std::make_shared<OpenDocument<Doc>>();
  document->document = std::move(opened);
  session.Add(document);
  *result = automation::Variant::AttachDispatch(new Object(document));
  return automation::S_OK;
}

// An object on one open document. Once the document is closed its members fail.
template <typename Doc>
class OnDocument : public automation::DispatchObject {
 protected:
  explicit OnDocument(DocumentRef<Doc> document) : document_(std::move(document)) {}

  // A property that answers a new Part on the same document while it is open.
  template <typename Part>
  void AddPart(std::u16string name) {
    AddMember(std::move(name), [this](std::uint16_t flags, const automation::DispParams&,
                                      automation::Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      {
        std::lock_guard lock(document_->mutex);
        if (!document_->document) return automation::E_FAIL;
      }
      if (result) *result = automation::Variant::AttachDispatch(new Part(document_));
      return automation::S_OK;
    });
  }
  // Close: drops the document for every object on it.
  void AddClose() {
    AddMember(u"Close",
              [this](std::uint16_t flags, const automation::DispParams&, automation::Variant*) {
                if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
                std::lock_guard lock(document_->mutex);
                document_->document.reset();
                return automation::S_OK;
              });
  }

  DocumentRef<Doc> document_;
};

// The numbered parts of one open document (slides, worksheets): Count, from the document's
// `count`, and Item(Index), which answers as a method and as a property alike with a new
// Part(document, n) for n from 1 to the count, or with nothing for a part the document's
// `present` (a `bool (Doc::*)(int)`, when given) says is not there.
template <typename Doc, typename Part, int (Doc::*count)() const, auto present = nullptr>
class PartCollection : public automation::DispatchObject {
 public:
  explicit PartCollection(DocumentRef<Doc> document) : document_(std::move(document)) {
    AddMember(u"Count", [this](std::uint16_t flags, const automation::DispParams&,
                               automation::Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      std::lock_guard lock(document_->mutex);
      if (!document_->document) return automation::E_FAIL;
      if (result) *result = automation::Variant::I4((document_->document.get()->*count)());
      return automation::S_OK;
    });
    AddMember(u"Item", [this](std::uint16_t flags, const automation::DispParams& p,
                              automation::Variant* result) {
      if (!(flags & (kMethod | kGet))) return automation::DISP_E_MEMBERNOTFOUND;
      const automation::Variant* index = automation::PositionalArg(p, 0);
      if (!index) return automation::DISP_E_PARAMNOTFOUND;
      if (!IsNumber(index)) return automation::DISP_E_TYPEMISMATCH;
      const int n = index->AsI4();
      {
        std::lock_guard lock(document_->mutex);
        if (!document_->document) return automation::E_FAIL;
        if (n < 1 || n > (document_->document.get()->*count)()) return automation::E_INVALIDARG;
        if constexpr (!std::is_null_pointer_v<decltype(present)>) {
          if (!(document_->document.get()->*present)(n)) {
            if (result) *result = automation::Variant();
            return automation::S_OK;
          }
        }
      }
      if (result) *result = automation::Variant::AttachDispatch(new Part(document_, n));
      return automation::S_OK;
    });
  }

 private:
  DocumentRef<Doc> document_;
};

// The part every application object has: the session, the one document collection, and Quit,
// which closes every document opened through it. The derived object adds the members, in the
// order that gives them their DISPIDs.
template <typename Doc, typename Collection>
class ApplicationBase : public automation::DispatchObject {
 public:
  ~ApplicationBase() override { collection_->Release(); }
  ApplicationBase(const ApplicationBase&) = delete;
  ApplicationBase& operator=(const ApplicationBase&) = delete;

 protected:
  explicit ApplicationBase(const ConvertOptions& options)
      : session_(std::make_shared<Session<Doc>>()) {
    session_->options = options;
    collection_ = new Collection(session_);
  }

  // The collection as a property, each time the same object.
  void AddCollection(std::u16string name) {
    AddMember(std::move(name), [this](std::uint16_t flags, const automation::DispParams&,
                                      automation::Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      if (result) *result = automation::Variant::Dispatch(collection_);
      return automation::S_OK;
    });
  }
  void AddQuit() {
    AddMember(u"Quit",
              [this](std::uint16_t flags, const automation::DispParams&, automation::Variant*) {
                if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
                session_->CloseAll();
                return automation::S_OK;
              });
  }

  SessionRef<Doc> session_;

 private:
  Collection* collection_ = nullptr;
};

// New application objects, one reference owned by the caller.
automation::IDispatch* NewWordApplication(const ConvertOptions& options);
automation::IDispatch* NewExcelApplication(const ConvertOptions& options);

}  // namespace office::detail
