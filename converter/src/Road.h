#pragma once
// What the three roads share: starting their office application and giving up when the document
// does not open. Each road keeps its own texts, which differ from road to road on purpose.

#include <string_view>

#include "automation/Dispatch.h"

namespace converter {

// The texts a road reports when its application cannot be had.
struct ServerTexts {
  std::u16string_view progId;          // "PowerPoint.Application", ...
  std::string_view unknownStatus;      // status message: the ProgID does not resolve
  std::u16string_view notCreatedLine;  // console line, before " w/err 0x...": not created
  std::string_view notCreatedStatus;   // status message: not created
};

// Starts automation for this thread and creates the road's application. On failure the console
// line and the status file are written, automation is ended again and null is returned (a
// created application is never null).
automation::IDispatch* StartApplication(const ServerTexts& texts);

// The document did not open: writes `line` and `status`, quits the application and lets go of
// it and of its document collection (which may be null), ends automation. Returns the road's 1.
int DocumentNotOpened(automation::IDispatch* application, automation::IDispatch* collection,
                      std::u16string_view line, std::string_view status);

}  // namespace converter
