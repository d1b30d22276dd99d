#include "FakeOffice.h"

#include <string>

namespace fake {

using namespace automation;

namespace {

// Labels and member names are ASCII.
std::string Narrow(const std::u16string& text) {
  return std::string(text.begin(), text.end());
}

HRESULT ReturnObject(FakeObject* object, Variant* result) {
  if (result != nullptr) *result = Variant::Dispatch(object);
  return S_OK;
}

}  // namespace

void FakeObject::On(const std::u16string& member, Handler handler) {
  AddMember(member, [this, name = Narrow(member), handler = std::move(handler)](
                        std::uint16_t flags, const DispParams& params, Variant* result) {
    Call call;
    call.object = label_;
    call.member = name;
    call.flags = flags;
    call.args.assign(params.args.begin(), params.args.end());
    call.named.assign(params.namedArgs.begin(), params.namedArgs.end());
    call.wantsResult = result != nullptr;
    journal_.calls.push_back(std::move(call));
    journal_.events.push_back(label_ + "." + name);
    return handler ? handler(params, result) : S_OK;
  });
}

std::uint32_t FakeObject::Release() {
  journal_.events.push_back("Release " + label_);
  return DispatchObject::Release();
}

FakePowerPoint::FakePowerPoint()
    : application(new FakeObject("application", journal)),
      presentations(new FakeObject("presentations", journal)),
      presentation(new FakeObject("presentation", journal)),
      slides(new FakeObject("slides", journal)) {
  application->On(u"Presentations", [this](const DispParams&, Variant* result) {
    return ReturnObject(presentations.get(), result);
  });
  application->On(u"Quit", nullptr);
  presentations->On(u"Open", [this](const DispParams&, Variant* result) {
    return openGivesPresentation ? ReturnObject(presentation.get(), result) : S_OK;
  });
  presentation->On(u"Slides", [this](const DispParams&, Variant* result) {
    return hasSlides ? ReturnObject(slides.get(), result) : S_OK;
  });
  presentation->On(u"Close", [this](const DispParams&, Variant*) {
    if (onClose) onClose();
    return S_OK;
  });
  slides->On(u"Count", [this](const DispParams&, Variant* result) {
    if (result != nullptr) *result = Variant::I4(count);
    return S_OK;
  });
  slides->On(u"Item", [this](const DispParams& params, Variant* result) {
    const Variant* n = PositionalArg(params, 0);
    if (n == nullptr) return DISP_E_BADPARAMCOUNT;
    FakeObject* slide = Slide(n->AsI4());
    return slide != nullptr ? ReturnObject(slide, result) : S_OK;
  });
}

FakePowerPoint::~FakePowerPoint() {
  UnregisterClass(u"PowerPoint.Application");
}

void FakePowerPoint::Register() {
  RegisterClass(u"PowerPoint.Application", [this](IDispatch** object) {
    if (Failed(createFailure)) return createFailure;
    application->AddRef();
    *object = application.get();
    return S_OK;
  });
}

FakeObject* FakePowerPoint::Slide(std::int32_t n) {
  const auto spec = slideSpecs.find(n);
  const SlideSpec s = spec == slideSpecs.end() ? SlideSpec{} : spec->second;
  if (!s.exists) return nullptr;
  auto found = slideObjects.find(n);
  if (found != slideObjects.end()) return found->second.get();

  const std::string number = std::to_string(n);
  FakeObject* slide = new FakeObject("slide" + number, journal);
  slideObjects.emplace(n, Owned<>(slide));
  FakeObject* layout = nullptr;
  if (s.hasLayout) {
    layout = new FakeObject("layout" + number, journal);
    layoutObjects.emplace(n, Owned<>(layout));
    layout->On(u"Width", [w = s.width](const DispParams&, Variant* result) {
      if (result != nullptr) *result = Variant::R4(w);
      return S_OK;
    });
    layout->On(u"Height", [h = s.height](const DispParams&, Variant* result) {
      if (result != nullptr) *result = Variant::R4(h);
      return S_OK;
    });
  }
  slide->On(u"CustomLayout", [layout](const DispParams&, Variant* result) {
    return layout != nullptr ? ReturnObject(layout, result) : S_OK;
  });
  slide->On(u"Export", [this](const DispParams& params, Variant*) {
    if (PositionalArgCount(params) != 4) return DISP_E_BADPARAMCOUNT;
    Export e{PositionalArg(params, 0)->AsBstr(), PositionalArg(params, 1)->AsBstr(),
             PositionalArg(params, 2)->AsI4(), PositionalArg(params, 3)->AsI4()};
    if (Failed(exportResult)) return exportResult;
    if (onExport) onExport(e);
    exports.push_back(std::move(e));
    return S_OK;
  });
  return slide;
}

bool FakePowerPoint::AllReleased() const {
  for (const Owned<>* o : {&application, &presentations, &presentation, &slides}) {
    if (o->get()->RefCount() != 1) return false;
  }
  for (const auto& map : {&slideObjects, &layoutObjects}) {
    for (const auto& [n, o] : *map) {
      if (o->RefCount() != 1) return false;
    }
  }
  return true;
}

FakeWord::FakeWord()
    : application(new FakeObject("application", journal)),
      documents(new FakeObject("documents", journal)),
      document(new FakeObject("document", journal)) {
  application->On(u"Documents", [this](const DispParams&, Variant* result) {
    return ReturnObject(documents.get(), result);
  });
  application->On(u"Quit", nullptr);
  documents->On(u"Open", [this](const DispParams&, Variant* result) {
    return openGivesDocument ? ReturnObject(document.get(), result) : S_OK;
  });
  document->On(u"SaveAs2", [this](const DispParams& params, Variant*) {
    if (PositionalArgCount(params) != 2) return DISP_E_BADPARAMCOUNT;
    if (Failed(saveResult)) return saveResult;
    const std::u16string path = PositionalArg(params, 0)->AsBstr();
    if (onSave) onSave(path);
    saves.emplace_back(path, PositionalArg(params, 1)->AsI4());
    return S_OK;
  });
  document->On(u"Close", [this](const DispParams&, Variant*) {
    if (onClose) onClose();
    return S_OK;
  });
}

FakeWord::~FakeWord() {
  UnregisterClass(u"Word.Application");
}

void FakeWord::Register() {
  RegisterClass(u"Word.Application", [this](IDispatch** object) {
    if (Failed(createFailure)) return createFailure;
    application->AddRef();
    *object = application.get();
    return S_OK;
  });
}

bool FakeWord::AllReleased() const {
  for (const Owned<>* o : {&application, &documents, &document}) {
    if (o->get()->RefCount() != 1) return false;
  }
  return true;
}

FakeExcel::FakeExcel()
    : application(new FakeObject("application", journal)),
      workbooks(new FakeObject("workbooks", journal)),
      workbook(new FakeObject("workbook", journal)),
      worksheets(new FakeObject("worksheets", journal)) {
  application->On(u"Visible", nullptr);
  application->On(u"Workbooks", [this](const DispParams&, Variant* result) {
    return ReturnObject(workbooks.get(), result);
  });
  application->On(u"Quit", nullptr);
  workbooks->On(u"Open", [this](const DispParams&, Variant* result) {
    return openGivesWorkbook ? ReturnObject(workbook.get(), result) : S_OK;
  });
  workbooks->On(u"Close", [this](const DispParams&, Variant*) {
    if (onClose) onClose();
    return S_OK;
  });
  workbook->On(u"Worksheets", [this](const DispParams&, Variant* result) {
    return hasWorksheets ? ReturnObject(worksheets.get(), result) : S_OK;
  });
  worksheets->On(u"Count", [this](const DispParams&, Variant* result) {
    if (result != nullptr) *result = Variant::I4(count);
    return S_OK;
  });
  worksheets->On(u"Item", [this](const DispParams& params, Variant* result) {
    const Variant* n = PositionalArg(params, 0);
    if (n == nullptr) return DISP_E_BADPARAMCOUNT;
    FakeObject* sheet = Worksheet(n->AsI4());
    return sheet != nullptr ? ReturnObject(sheet, result) : S_OK;
  });
}

FakeExcel::~FakeExcel() {
  UnregisterClass(u"Excel.Application");
}

void FakeExcel::Register() {
  RegisterClass(u"Excel.Application", [this](IDispatch** object) {
    if (Failed(createFailure)) return createFailure;
    application->AddRef();
    *object = application.get();
    return S_OK;
  });
}

FakeObject* FakeExcel::Worksheet(std::int32_t n) {
  if (missingSheets.count(n) != 0) return nullptr;
  auto found = worksheetObjects.find(n);
  if (found != worksheetObjects.end()) return found->second.get();
  FakeObject* sheet = new FakeObject("worksheet" + std::to_string(n), journal);
  worksheetObjects.emplace(n, Owned<>(sheet));
  sheet->On(u"ExportAsFixedFormat", [this](const DispParams& params, Variant*) {
    if (PositionalArgCount(params) != 2) return DISP_E_BADPARAMCOUNT;
    if (Failed(exportResult)) return exportResult;
    const std::u16string path = PositionalArg(params, 1)->AsBstr();
    if (onExport) onExport(path);
    exports.emplace_back(path, PositionalArg(params, 0)->AsI4());
    return S_OK;
  });
  return sheet;
}

bool FakeExcel::AllReleased() const {
  for (const Owned<>* o : {&application, &workbooks, &workbook, &worksheets}) {
    if (o->get()->RefCount() != 1) return false;
  }
  for (const auto& [n, o] : worksheetObjects) {
    if (o->RefCount() != 1) return false;
  }
  return true;
}

}  // namespace fake
