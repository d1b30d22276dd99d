#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "Road.h"
#include "automation/Com.h"
#include "converter/Converter.h"

namespace converter {

using namespace automation;

namespace {

constexpr ServerTexts kServer = {u"PowerPoint.Application", "CLSIDFromProgID failed",
                                 u"PowerPoint is not registered properly",
                                 "powerpoint is not registerd properly."};

// Points to pixels: fractions dropped, toward zero, clamped to the 32-bit range.
std::int32_t PointsToPixels(float points) {
  if (std::isnan(points)) return 0;
  if (points >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (points <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(points);
}

std::u16string ImageName(std::int64_t slide) {
  const char16_t* prefix = slide < 10 ? u"Picture00" : slide < 100 ? u"Picture0" : u"Picture";
  const std::string digits = std::to_string(slide);
  return prefix + std::u16string(digits.begin(), digits.end()) + u".jpg";
}

}  // namespace

int ConvertPowerPoint(const std::u16string& documentPath, const std::u16string& outputFolder) {
  IDispatch* application = StartApplication(kServer);
  if (application == nullptr) return 1;

  Variant result;
  AutoWrap(DISPATCH_PROPERTYGET, &result, application, u"Presentations");
  IDispatch* presentations = result.DetachDispatch();

  AutoWrap(DISPATCH_METHOD, &result, presentations, u"Open",
           {Variant::I4(0), Variant::I4(0), Variant::I4(-1), Variant::Bstr(documentPath)});
  IDispatch* presentation = result.DetachDispatch();
  if (presentation == nullptr) {
    return DocumentNotOpened(application, presentations,
                             u"PowerPoint file cannot be opened properly.",
                             "powerpoint file cannot be opened properly.");
  }

  AutoWrap(DISPATCH_PROPERTYGET, &result, presentation, u"Slides");
  IDispatch* slides = result.DetachDispatch();
  if (slides == nullptr) {
    AutoWrap(DISPATCH_METHOD, nullptr, presentation, u"Close");
    AutoWrap(DISPATCH_METHOD, nullptr, application, u"Quit");
    presentation->Release();
    if (presentations != nullptr) presentations->Release();
    application->Release();
    CoUninitialize();
    return 1;
  }

  AutoWrap(DISPATCH_PROPERTYGET, &result, slides, u"Count");
  const std::int32_t count = result.AsI4();
  result.Clear();

  // 64-bit counter: a count of INT32_MAX must not overflow the loop.
  for (std::int64_t n = 1; n <= count; ++n) {
    AutoWrap(DISPATCH_METHOD, &result, slides, u"Item",
             {Variant::I4(static_cast<std::int32_t>(n))});
    IDispatch* slide = result.DetachDispatch();
    if (slide == nullptr) continue;

    AutoWrap(DISPATCH_PROPERTYGET, &result, slide, u"CustomLayout");
    IDispatch* layout = result.DetachDispatch();
    if (layout == nullptr) {
      slide->Release();
      continue;
    }

    AutoWrap(DISPATCH_PROPERTYGET, &result, layout, u"Width");
    const std::int32_t width = PointsToPixels(result.AsR4());
    AutoWrap(DISPATCH_PROPERTYGET, &result, layout, u"Height");
    const std::int32_t height = PointsToPixels(result.AsR4());
    result.Clear();
    layout->Release();

    const std::u16string imagePath = outputFolder + ImageName(n);
    AutoWrap(
        DISPATCH_METHOD, nullptr, slide, u"Export",
        {Variant::I4(height), Variant::I4(width), Variant::Bstr(u"jpg"), Variant::Bstr(imagePath)});
    slide->Release();
  }

  WriteStatusFile(true, "");

  AutoWrap(DISPATCH_METHOD, nullptr, presentation, u"Close");
  AutoWrap(DISPATCH_METHOD, nullptr, application, u"Quit");

  slides->Release();
  presentation->Release();
  if (presentations != nullptr) presentations->Release();
  application->Release();
  CoUninitialize();
  return 0;
}

}  // namespace converter
