#pragma once
// Process-wide services of the UI layer: running code on the UI thread, the modal dialogs and
// the display of exceptions that escape event handlers.

#include <QString>
#include <exception>
#include <functional>
#include <optional>

namespace ui {

class OpenDialog;

// Runs `fn` on the UI thread and waits for it; on the UI thread itself it runs at once.
// An exception thrown by `fn` is raised again in the caller. Raises ui::Error when the UI
// event loop has ended before `fn` could run.
void RunOnUiThread(const std::function<void()>& fn);
// The same for a thread that the UI thread may itself be waiting for: the wait is given up once
// `cancelled` holds (or the event loop has ended) while `fn` has not begun; `fn` then never runs
// and the result is false.
bool RunOnUiThreadUnless(const std::function<void()>& fn, const std::function<bool()>& cancelled);
// Queues `fn` to run on the UI thread; an exception it throws is shown in the error dialog.
void PostToUiThread(std::function<void()> fn);
bool IsUiThread();

enum class DialogKind { Message, Error };
// Replaces the modal dialogs (message and error) with `hook`, e.g. in tests; an empty function
// brings the real QMessageBox back.
using DialogHook = std::function<void(DialogKind kind, const QString& text)>;
void SetDialogHook(DialogHook hook);

// The modal message dialog.
void ShowMessage(const QString& text);
// The text the error dialog shows for an exception: rtl::Exception's message, what() of other
// standard exceptions, empty for anything else.
QString ExceptionMessage(std::exception_ptr error);
// Shows the exception in the modal error dialog; the program goes on.
void HandleException(std::exception_ptr error);
// Runs `fn`; an exception that escapes it is shown by HandleException.
void Guarded(const std::function<void()>& fn);

// Replaces the file-open dialog: the hook returns the chosen file name, or nullopt for a
// cancel. An empty function brings the real QFileDialog back.
using FileDialogHook = std::function<std::optional<QString>(const OpenDialog& dialog)>;
void SetFileDialogHook(FileDialogHook hook);
std::optional<QString> RunFileDialog(const OpenDialog& dialog);

}  // namespace ui
