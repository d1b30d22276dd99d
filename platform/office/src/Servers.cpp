#include "office/Servers.h"

#include <automation/Com.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ServerSupport.h"

namespace office {
namespace {

using automation::DispatchObject;
using automation::DispParams;
using automation::HRESULT;
using automation::PositionalArg;
using automation::Variant;

using detail::EqualsAsciiNoCase;
using detail::IsNumber;
using detail::kGet;
using detail::kMethod;

using DeckRef = detail::DocumentRef<ImpressDeck>;
using SessionRef = detail::SessionRef<ImpressDeck>;

class CustomLayout : public DispatchObject {
 public:
  CustomLayout(float width, float height) {
    AddMember(u"Width", [width](std::uint16_t flags, const DispParams&, Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      if (result) *result = Variant::R4(width);
      return automation::S_OK;
    });
    AddMember(u"Height", [height](std::uint16_t flags, const DispParams&, Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      if (result) *result = Variant::R4(height);
      return automation::S_OK;
    });
  }
};

class Slide : public DispatchObject {
 public:
  Slide(DeckRef deck, int number) : deck_(std::move(deck)), number_(number) {
    AddMember(u"CustomLayout", [this](std::uint16_t flags, const DispParams&, Variant* result) {
      if (!(flags & kGet)) return automation::DISP_E_MEMBERNOTFOUND;
      std::optional<PageSize> size = Size();
      if (!size) return automation::E_FAIL;
      if (result) {
        *result = Variant::AttachDispatch(
            new CustomLayout(static_cast<float>(size->width), static_cast<float>(size->height)));
      }
      return automation::S_OK;
    });
    AddMember(u"Export", [this](std::uint16_t flags, const DispParams& p, Variant*) {
      return Export(flags, p);
    });
  }

 private:
  std::optional<PageSize> Size() {
    std::lock_guard lock(deck_->mutex);
    if (!deck_->document) return std::nullopt;
    return deck_->document->PageSizeAt(number_);
  }

  // Export(FileName, FilterName, ScaleWidth, ScaleHeight); the size defaults to the slide's.
  HRESULT Export(std::uint16_t flags, const DispParams& p) {
    if (!(flags & kMethod)) return automation::DISP_E_MEMBERNOTFOUND;
    const Variant* path = PositionalArg(p, 0);
    const Variant* filter = PositionalArg(p, 1);
    const Variant* width = PositionalArg(p, 2);
    const Variant* height = PositionalArg(p, 3);
    if (!path || !filter) return automation::DISP_E_PARAMNOTFOUND;
    if (path->Type() != automation::VT_BSTR || filter->Type() != automation::VT_BSTR) {
      return automation::DISP_E_TYPEMISMATCH;
    }
    if ((width && !IsNumber(width)) || (height && !IsNumber(height))) {
      return automation::DISP_E_TYPEMISMATCH;
    }
    const std::u16string& f = filter->AsBstr();
    if (!EqualsAsciiNoCase(f, u"jpg") && !EqualsAsciiNoCase(f, u"jpeg")) {
      return automation::E_INVALIDARG;
    }
    std::optional<std::string> file = detail::PathToUtf8(path->AsBstr());
    if (!file || file->empty()) return automation::E_INVALIDARG;

    std::lock_guard lock(deck_->mutex);
    if (!deck_->document) return automation::E_FAIL;
    std::optional<PageSize> size = deck_->document->PageSizeAt(number_);
    if (!size) return automation::E_FAIL;
    const int w = width ? width->AsI4() : static_cast<int>(static_cast<float>(size->width));
    const int h = height ? height->AsI4() : static_cast<int>(static_cast<float>(size->height));
    if (w < 1 || h < 1) return automation::E_INVALIDARG;
    return deck_->document->ExportJpeg(number_, *file, w, h) ? automation::S_OK
                                                             : automation::E_FAIL;
  }

  DeckRef deck_;
  int number_;
};

using Slides = detail::PartCollection<ImpressDeck, Slide, &ImpressDeck::PageCount>;

class Presentation : public detail::OnDocument<ImpressDeck> {
 public:
  explicit Presentation(DeckRef deck) : OnDocument(std::move(deck)) {
    AddPart<Slides>(u"Slides");
    AddClose();
  }
};

class Presentations : public DispatchObject {
 public:
  explicit Presentations(SessionRef session) : session_(std::move(session)) {
    // Open(FileName, ReadOnly, Untitled, WithWindow): the copy is always read-only and never
    // shown, so only the name matters.
    AddMember(u"Open", [this](std::uint16_t flags, const DispParams& p, Variant* result) {
      return detail::OpenMember<Presentation>(*session_, flags, p, result);
    });
  }

 private:
  SessionRef session_;
};

class Application : public detail::ApplicationBase<ImpressDeck, Presentations> {
 public:
  explicit Application(const ConvertOptions& options) : ApplicationBase(options) {
    AddCollection(u"Presentations");
    AddQuit();
  }
};

}  // namespace

bool RegisterOfficeServers(const ConvertOptions& options) {
  ConvertOptions resolved = options;
  if (resolved.soffice.empty()) resolved.soffice = FindSoffice();
  std::error_code ec;
  const bool found = !resolved.soffice.empty() &&
                     std::filesystem::is_regular_file(resolved.soffice, ec) &&
                     access(resolved.soffice.c_str(), X_OK) == 0;
  constexpr const char16_t* kProgIds[] = {u"PowerPoint.Application", u"Word.Application",
                                          u"Excel.Application"};
  if (!found) {
    for (const char16_t* progId : kProgIds) automation::UnregisterClass(progId);
    return false;
  }
  automation::RegisterClass(u"PowerPoint.Application", [resolved](automation::IDispatch** out) {
    *out = new Application(resolved);
    return automation::S_OK;
  });
  automation::RegisterClass(u"Word.Application", [resolved](automation::IDispatch** out) {
    *out = detail::NewWordApplication(resolved);
    return automation::S_OK;
  });
  automation::RegisterClass(u"Excel.Application", [resolved](automation::IDispatch** out) {
    *out = detail::NewExcelApplication(resolved);
    return automation::S_OK;
  });
  return true;
}

}  // namespace office
