#pragma once
// Scripted automation servers for the converter's tests: objects that record every call and
// every Release in one journal, and a PowerPoint built from them.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "automation/Com.h"
#include "automation/Dispatch.h"

namespace fake {

struct Call {
  std::string object;
  std::string member;
  std::uint16_t flags = 0;
  std::vector<automation::Variant> args;  // as passed: last parameter first
  std::vector<automation::DISPID> named;
  bool wantsResult = false;
};

struct Journal {
  std::vector<std::string> events;  // "<object>.<member>" per call, "Release <object>"
  std::vector<Call> calls;
};

class FakeObject : public automation::DispatchObject {
 public:
  using Handler =
      std::function<automation::HRESULT(const automation::DispParams&, automation::Variant*)>;

  FakeObject(std::string label, Journal& journal) : label_(std::move(label)), journal_(journal) {}

  // Adds a member that records each call in the journal, then runs the handler.
  void On(const std::u16string& member, Handler handler);
  std::uint32_t Release() override;
  const std::string& Label() const { return label_; }

 private:
  std::string label_;
  Journal& journal_;
};

// Owns one reference to each object it creates; the objects outlive the road under test.
template <typename T = FakeObject>
struct Owned {
  T* object = nullptr;
  Owned() = default;
  explicit Owned(T* o) : object(o) {}
  Owned(Owned&& other) noexcept : object(other.object) { other.object = nullptr; }
  Owned& operator=(Owned&&) = delete;
  ~Owned() {
    if (object != nullptr) object->automation::DispatchObject::Release();
  }
  T* operator->() const { return object; }
  T* get() const { return object; }
};

struct SlideSpec {
  bool exists = true;
  bool hasLayout = true;
  float width = 960.0f;
  float height = 540.0f;
};

struct Export {
  std::u16string path;
  std::u16string filter;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// "PowerPoint.Application": application -> Presentations -> Open -> presentation -> Slides ->
// Count / Item(n) -> slide -> CustomLayout -> Width / Height, slide.Export, Close, Quit.
class FakePowerPoint {
 public:
  FakePowerPoint();
  ~FakePowerPoint();

  // Registers the application under its ProgID; creating it fails with createFailure if set.
  void Register();

  Journal journal;
  bool openGivesPresentation = true;
  bool hasSlides = true;
  std::int32_t count = 0;
  std::map<std::int32_t, SlideSpec> slideSpecs;  // slides not listed: SlideSpec{}
  automation::HRESULT createFailure = automation::S_OK;
  automation::HRESULT exportResult = automation::S_OK;
  std::function<void(const Export&)> onExport;
  std::function<void()> onClose;
  std::vector<Export> exports;

  Owned<> application, presentations, presentation, slides;
  std::map<std::int32_t, Owned<>> slideObjects, layoutObjects;

  // Every object's count back to the one reference this fake holds.
  bool AllReleased() const;

 private:
  FakeObject* Slide(std::int32_t n);
};

// "Word.Application": application -> Documents -> Open -> document -> SaveAs2, Close; Quit.
class FakeWord {
 public:
  FakeWord();
  ~FakeWord();

  void Register();

  Journal journal;
  bool openGivesDocument = true;
  automation::HRESULT createFailure = automation::S_OK;
  automation::HRESULT saveResult = automation::S_OK;
  std::function<void(const std::u16string& path)> onSave;
  std::function<void()> onClose;
  std::vector<std::pair<std::u16string, std::int32_t>> saves;  // path, format

  Owned<> application, documents, document;

  bool AllReleased() const;
};

// "Excel.Application": application.Visible, Workbooks -> Open -> workbook -> Worksheets ->
// Count / Item(n) -> worksheet.ExportAsFixedFormat; workbooks.Close; Quit.
class FakeExcel {
 public:
  FakeExcel();
  ~FakeExcel();

  void Register();

  Journal journal;
  bool openGivesWorkbook = true;
  bool hasWorksheets = true;
  std::int32_t count = 0;
  std::set<std::int32_t> missingSheets;  // Item gives no worksheet for these
  automation::HRESULT createFailure = automation::S_OK;
  automation::HRESULT exportResult = automation::S_OK;
  std::function<void(const std::u16string& path)> onExport;
  std::function<void()> onClose;
  std::vector<std::pair<std::u16string, std::int32_t>> exports;  // path, type

  Owned<> application, workbooks, workbook, worksheets;
  std::map<std::int32_t, Owned<>> worksheetObjects;

  bool AllReleased() const;

 private:
  FakeObject* Worksheet(std::int32_t n);
};

}  // namespace fake
