#pragma once
// The office automation servers that this platform offers, answered by LibreOffice for what the
// converter asks of them: "PowerPoint.Application" (ImpressDeck), "Word.Application"
// (TextDocument) and "Excel.Application" (Workbook).

#include "office/ImpressDeck.h"

namespace office {

// Registers the three ProgIDs with the automation layer when LibreOffice is installed (the
// soffice of `options`, or FindSoffice() when that is empty) and returns true. Without
// LibreOffice it removes them, so that resolving them fails, and returns false.
bool RegisterOfficeServers(const ConvertOptions& options = {});

}  // namespace office
