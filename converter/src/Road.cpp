#include "Road.h"

#include <cstdint>
#include <string>

#include "automation/Com.h"
#include "converter/Converter.h"

namespace converter {

using namespace automation;

IDispatch* StartApplication(const ServerTexts& texts) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(texts.progId, &clsid);
  if (Failed(hr)) {
    ConsoleWrite(u"CLSIDFromProgID(\"" + std::u16string(texts.progId) + u"\") failed w/err 0x" +
                 Hex8(static_cast<std::uint32_t>(hr)) + u"\n");
    WriteStatusFile(false, texts.unknownStatus);
    CoUninitialize();
    return nullptr;
  }

  IDispatch* application = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, &application);
  if (Failed(hr)) {
    ConsoleWrite(std::u16string(texts.notCreatedLine) + u" w/err 0x" +
                 Hex8(static_cast<std::uint32_t>(hr)) + u"\n");
    WriteStatusFile(false, texts.notCreatedStatus);
    CoUninitialize();
    return nullptr;
  }
  return application;
}

int DocumentNotOpened(IDispatch* application, IDispatch* collection, std::u16string_view line,
                      std::string_view status) {
  ConsoleWrite(line);
  WriteStatusFile(false, status);
  AutoWrap(DISPATCH_METHOD, nullptr, application, u"Quit");
  if (collection != nullptr) collection->Release();
  application->Release();
  CoUninitialize();
  return 1;
}

}  // namespace converter
