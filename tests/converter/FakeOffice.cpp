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

}  // namespace fake
