#include <automation/Com.h>
#include <converter/Converter.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "LibreOffice.h"
#include "OfficeTestSupport.h"
#include "ServerCalls.h"
#include "office/Servers.h"

namespace {

using namespace office_test;
using namespace automation;
namespace fs = std::filesystem;

const Rgb kWhite{255, 255, 255};
const Rgb kSlideColour[] = {{255, 0, 0}, {0, 192, 0}, {0, 0, 255}};

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return "<no file>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class PowerPointRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(work_.path().empty());
    fs::create_directory(tmp());
    fs::create_directory(out());
    status_ = converter::StatusFilePath();
    ASSERT_FALSE(status_.empty());
    fs::remove(status_);
  }
  void TearDown() override { UnregisterClass(u"PowerPoint.Application"); }
  fs::path tmp() const { return work_.path() / "tmp"; }
  fs::path out() const { return work_.path() / "out"; }
  int Convert(const fs::path& document) {
    return converter::ConvertPowerPoint(U16(document.string()), U16(out().string() + "/"));
  }

  TempFolder work_;
  ScopedEnv tmpdir_{"TMPDIR", (work_.path() / "tmp").string()};
  ScopedEnv cache_{"XDG_CACHE_HOME", (work_.path() / "cache").string()};
  ScopedEnv home_{"HOME", (work_.path() / "home").string()};
  fs::path status_;
};

TEST_F(PowerPointRoad, ThreeSlidesGiveThreePicturesOfTheLayoutSizeThenSuccess) {
  VM_NEED_LIBREOFFICE();
  ASSERT_TRUE(office::RegisterOfficeServers());
  EXPECT_EQ(0, Convert(kDataDir / "three-slides.pptx"));
  EXPECT_EQ("success\r\n", ReadText(status_));

  const std::vector<std::string> names = ListNames(out());
  ASSERT_EQ((std::vector<std::string>{"Picture001.jpg", "Picture002.jpg", "Picture003.jpg"}),
            names);
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(names[static_cast<std::size_t>(n)]);
    const auto picture = ReadJpeg(out() / names[static_cast<std::size_t>(n)]);
    ASSERT_TRUE(picture);
    // The layout is 793.757 x 446.513 points: fractions are dropped.
    EXPECT_EQ(793, picture->width);
    EXPECT_EQ(446, picture->height);
    EXPECT_TRUE(Near(picture->At(200, 223), kSlideColour[n]));
    EXPECT_TRUE(Near(picture->At(600, 223), kWhite));
  }
  EXPECT_TRUE(fs::is_empty(tmp())) << "conversion files left behind";
}

TEST_F(PowerPointRoad, ADocumentThatIsNoPresentationCannotBeOpened) {
  VM_NEED_LIBREOFFICE();
  ASSERT_TRUE(office::RegisterOfficeServers());
  // LibreOffice would open this as a text and print it; PowerPoint cannot open it at all.
  const fs::path notes = work_.path() / "notes.pptx";
  std::ofstream(notes) << "just some notes, not a presentation\n";
  EXPECT_EQ(1, Convert(notes));
  EXPECT_EQ("error\r\npowerpoint file cannot be opened properly.", ReadText(status_));
  EXPECT_TRUE(fs::is_empty(out()));
  EXPECT_TRUE(fs::is_empty(tmp()));
}

TEST_F(PowerPointRoad, WithoutLibreOfficeTheProgIdDoesNotResolve) {
  ASSERT_TRUE(office::RegisterOfficeServers(OfficeOptions()));
  EXPECT_FALSE(
      office::RegisterOfficeServers(OfficeOptions((work_.path() / "no" / "soffice").string())));
  CLSID clsid;
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"PowerPoint.Application", &clsid));
  EXPECT_EQ(1, Convert(kDataDir / "three-slides.pptx"));
  EXPECT_EQ("error\r\nCLSIDFromProgID failed", ReadText(status_));
  EXPECT_TRUE(fs::is_empty(out()));
}

// The server objects themselves, on the fake soffice that hands back the committed PDF.
class PowerPointServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(office::RegisterOfficeServers(OfficeOptions()));
    ASSERT_TRUE(Succeeded(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"PowerPoint.Application", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, &app_));
    document_ = work_.path() / "deck.pptx";
    fs::copy_file(kDataDir / "three-slides.pptx", document_);
  }
  void TearDown() override {
    if (app_) {
      EXPECT_EQ(0u, app_->Release());
    }
    CoUninitialize();
    UnregisterClass(u"PowerPoint.Application");
  }

  // A member that returns an object; null (and a test failure) when it does not.
  static IDispatch* Get(IDispatch* object, std::u16string_view name, std::uint16_t flags,
                        std::vector<Variant> args = {}) {
    Variant result;
    EXPECT_EQ(S_OK, Call(object, name, flags, std::move(args), &result));
    IDispatch* got = result.DetachDispatch();
    EXPECT_NE(nullptr, got);
    return got;
  }
  static std::uint32_t Refs(IDispatch* object) {
    return dynamic_cast<DispatchObject*>(object)->RefCount();
  }
  IDispatch* Open(IDispatch* presentations) {
    ScopedEnv pdf("VM_FAKE_SOFFICE_PDF", (kDataDir / "three-slides.pdf").string());
    return Get(
        presentations, u"Open", DISPATCH_METHOD,
        {Variant::Bstr(U16(document_.string())), Variant::I4(-1), Variant::I4(0), Variant::I4(0)});
  }

  TempFolder work_;
  ScopedEnv tmpdir_{"TMPDIR", work_.path().string()};
  IDispatch* app_ = nullptr;
  fs::path document_;
};

TEST_F(PowerPointServer, AnswersTheRoadsMembersWithOwnedReferences) {
  IDispatch* presentations = Get(app_, u"Presentations", DISPATCH_PROPERTYGET);
  IDispatch* again = Get(app_, u"Presentations", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(presentations);
  EXPECT_EQ(presentations, again);
  EXPECT_EQ(3u, Refs(presentations));  // the application's and ours
  again->Release();

  IDispatch* presentation = Open(presentations);
  ASSERT_TRUE(presentation);
  EXPECT_EQ(1u, Refs(presentation));
  IDispatch* slides = Get(presentation, u"Slides", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(slides);
  Variant count;
  ASSERT_EQ(S_OK, Call(slides, u"Count", DISPATCH_PROPERTYGET, {}, &count));
  EXPECT_EQ(VT_I4, count.Type());
  EXPECT_EQ(3, count.AsI4());

  IDispatch* slide = Get(slides, u"Item", DISPATCH_METHOD, {Variant::I4(2)});
  ASSERT_TRUE(slide);
  IDispatch* layout = Get(slide, u"CustomLayout", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(layout);
  Variant width, height;
  ASSERT_EQ(S_OK, Call(layout, u"Width", DISPATCH_PROPERTYGET, {}, &width));
  ASSERT_EQ(S_OK, Call(layout, u"Height", DISPATCH_PROPERTYGET, {}, &height));
  EXPECT_EQ(VT_R4, width.Type());
  EXPECT_NEAR(793.757, width.AsR4(), 0.01);
  EXPECT_NEAR(446.513, height.AsR4(), 0.01);
  EXPECT_EQ(0u, layout->Release());

  // Names match in any letter case, as in OLE Automation.
  const fs::path picture = work_.path() / "slide2.jpg";
  ASSERT_EQ(S_OK, Call(slide, u"EXPORT", DISPATCH_METHOD,
                       {Variant::Bstr(U16(picture.string())), Variant::Bstr(u"jpg"),
                        Variant::I4(300), Variant::I4(120)}));
  auto image = ReadJpeg(picture);
  ASSERT_TRUE(image);
  EXPECT_EQ(300, image->width);
  EXPECT_EQ(120, image->height);
  EXPECT_TRUE(Near(image->At(75, 60), kSlideColour[1]));
  EXPECT_TRUE(Near(image->At(225, 60), kWhite));
  // Without a size the slide's own, fractions dropped.
  ASSERT_EQ(S_OK, Call(slide, u"Export", DISPATCH_METHOD,
                       {Variant::Bstr(U16(picture.string())), Variant::Bstr(u"JPG")}));
  image = ReadJpeg(picture);
  ASSERT_TRUE(image);
  EXPECT_EQ(793, image->width);
  EXPECT_EQ(446, image->height);

  // A dropped presentation reference does not close it; Close does, for every object of it.
  EXPECT_EQ(S_OK, Call(presentation, u"Close", DISPATCH_METHOD, {}));
  EXPECT_EQ(E_FAIL, Call(slides, u"Count", DISPATCH_PROPERTYGET, {}, &count));
  EXPECT_EQ(E_FAIL, Call(slide, u"Export", DISPATCH_METHOD,
                         {Variant::Bstr(U16(picture.string())), Variant::Bstr(u"jpg")}));
  EXPECT_EQ(S_OK, Call(app_, u"Quit", DISPATCH_METHOD, {}));

  EXPECT_EQ(0u, slide->Release());
  EXPECT_EQ(0u, slides->Release());
  EXPECT_EQ(0u, presentation->Release());
  EXPECT_EQ(1u, presentations->Release());  // the application still holds it
}

TEST_F(PowerPointServer, QuitClosesEveryOpenPresentation) {
  IDispatch* presentations = Get(app_, u"Presentations", DISPATCH_PROPERTYGET);
  IDispatch* first = Open(presentations);
  IDispatch* second = Open(presentations);
  ASSERT_TRUE(first && second);
  IDispatch* slides = Get(first, u"Slides", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(slides);
  EXPECT_EQ(S_OK, Call(app_, u"Quit", DISPATCH_METHOD, {}));
  Variant count;
  EXPECT_EQ(E_FAIL, Call(slides, u"Count", DISPATCH_PROPERTYGET, {}, &count));
  EXPECT_EQ(E_FAIL, Call(second, u"Slides", DISPATCH_PROPERTYGET, {}, &count));
  slides->Release();
  first->Release();
  second->Release();
  presentations->Release();
}

TEST_F(PowerPointServer, RefusesWhatPowerPointRefuses) {
  IDispatch* presentations = Get(app_, u"Presentations", DISPATCH_PROPERTYGET);
  IDispatch* presentation = Open(presentations);
  IDispatch* slides = Get(presentation, u"Slides", DISPATCH_PROPERTYGET);
  IDispatch* slide = Get(slides, u"Item", DISPATCH_METHOD, {Variant::I4(1)});
  IDispatch* layout = Get(slide, u"CustomLayout", DISPATCH_PROPERTYGET);
  ASSERT_TRUE(layout);
  const Variant file = Variant::Bstr(U16((work_.path() / "x.jpg").string()));
  struct Case {
    const char* what;
    IDispatch* object;
    std::u16string_view member;
    std::uint16_t flags;
    std::vector<Variant> args;
    HRESULT expected;
  } cases[] = {
      {"unknown member", app_, u"Visible", DISPATCH_PROPERTYGET, {}, DISP_E_UNKNOWNNAME},
      {"open a number",
       presentations,
       u"Open",
       DISPATCH_METHOD,
       {Variant::I4(5)},
       DISP_E_TYPEMISMATCH},
      {"slide 0", slides, u"Item", DISPATCH_METHOD, {Variant::I4(0)}, E_INVALIDARG},
      {"slide 4", slides, u"Item", DISPATCH_METHOD, {Variant::I4(4)}, E_INVALIDARG},
      {"slide by text",
       slides,
       u"Item",
       DISPATCH_METHOD,
       {Variant::Bstr(u"1")},
       DISP_E_TYPEMISMATCH},
      {"png filter",
       slide,
       u"Export",
       DISPATCH_METHOD,
       {file, Variant::Bstr(u"png"), Variant::I4(10), Variant::I4(10)},
       E_INVALIDARG},
      {"zero width",
       slide,
       u"Export",
       DISPATCH_METHOD,
       {file, Variant::Bstr(u"jpg"), Variant::I4(0), Variant::I4(10)},
       E_INVALIDARG},
      {"width put",
       layout,
       u"Width",
       DISPATCH_PROPERTYPUT,
       {Variant::R4(1)},
       DISP_E_MEMBERNOTFOUND},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Variant result;
    EXPECT_EQ(c.expected, Call(c.object, c.member, c.flags, c.args, &result));
    EXPECT_TRUE(result.IsEmpty());
  }
  EXPECT_FALSE(fs::exists(work_.path() / "x.jpg"));

  // A missing file is no failure of the call: it gives no presentation.
  Variant none;
  EXPECT_EQ(S_OK, Call(presentations, u"Open", DISPATCH_METHOD,
                       {Variant::Bstr(U16((work_.path() / "none.pptx").string()))}, &none));
  EXPECT_EQ(nullptr, none.AsDispatch());

  for (IDispatch* o : {layout, slide, slides, presentation, presentations}) o->Release();
}

}  // namespace
