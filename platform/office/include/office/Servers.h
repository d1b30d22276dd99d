#pragma once
// The office automation servers that this platform offers: "PowerPoint.Application", answered
// by LibreOffice (ImpressDeck) for what the converter asks of PowerPoint.

#include "office/ImpressDeck.h"

namespace office {

// Registers "PowerPoint.Application" with the automation layer when LibreOffice is installed
// (the soffice of `options`, or FindSoffice() when that is empty) and returns true. Without
// LibreOffice it removes the ProgID, so that resolving it fails, and returns false.
bool RegisterOfficeServers(const ConvertOptions& options = {});

}  // namespace office
