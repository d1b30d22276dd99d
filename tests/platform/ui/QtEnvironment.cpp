#include "QtEnvironment.h"

namespace uitest {

DialogRecorder::DialogRecorder() {
  ui::SetDialogHook(
      [this](ui::DialogKind kind, const QString& text) { shown.emplace_back(kind, text); });
}

DialogRecorder::~DialogRecorder() {
  ui::SetDialogHook({});
}

}  // namespace uitest
