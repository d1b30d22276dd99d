#include "ui/Application.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "BusyWaitDetail.h"
#include "Surface.h"
#include "rtl/Exception.h"
#include "ui/Controls.h"
#include "ui/Types.h"

namespace ui {

namespace {

std::mutex g_hookMutex;
DialogHook g_dialogHook;
FileDialogHook g_fileHook;
std::atomic<bool> g_loopEnded{false};
std::once_flag g_watchOnce;

void WatchEventLoop() {
  std::call_once(g_watchOnce, [] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { g_loopEnded = true; });
  });
}

// Calls handed to the UI thread from another thread. Each call waits in a table under a lock of
// ours and Qt's queue carries only its ticket, so Qt's queue still decides when and in which order
// calls run. Qt's own locks are invisible to ThreadSanitizer (Qt is not instrumented): a call
// passed through Qt's queue alone would look unsynchronised to it, and so would an event of ours.
// A call whose ticket Qt drops (the application ended first) stays in the table, never run.
std::mutex g_callMutex;
std::unordered_map<quint64, std::function<void()>> g_calls;  // guarded by g_callMutex
quint64 g_lastTicket = 0;                                    // guarded by g_callMutex

class CallReceiver final : public QObject {
  Q_OBJECT

 public:
  Q_INVOKABLE void Run(quint64 ticket) {
    std::function<void()> call;
    {
      std::lock_guard lock(g_callMutex);
      auto it = g_calls.find(ticket);
      if (it == g_calls.end()) return;
      call = std::move(it->second);
      g_calls.erase(it);
    }
    call();
  }
};

// Made on the application's thread by its constructor, so that Qt's first look at it there comes
// after the making; a call posted before that makes it on the posting thread.
CallReceiver* g_receiver = nullptr;  // guarded by g_callMutex; lives as long as the process

void MakeCallReceiver() {
  std::lock_guard lock(g_callMutex);
  if (!g_receiver) g_receiver = new CallReceiver;
}
Q_COREAPP_STARTUP_FUNCTION(MakeCallReceiver)

// Queues `call` to run on the thread of `app`.
void PostCall(QCoreApplication* app, std::function<void()> call) {
  CallReceiver* receiver = nullptr;
  quint64 ticket = 0;
  {
    std::lock_guard lock(g_callMutex);
    if (!g_receiver) {
      g_receiver = new CallReceiver;
      g_receiver->moveToThread(app->thread());
    }
    receiver = g_receiver;
    ticket = ++g_lastTicket;
    g_calls.emplace(ticket, std::move(call));
  }
  QMetaObject::invokeMethod(receiver, "Run", Qt::QueuedConnection, Q_ARG(quint64, ticket));
}

bool UiGone() {
  return QCoreApplication::instance() == nullptr || QCoreApplication::closingDown() || g_loopEnded;
}

// A dialog stands over the program's windows. Once every window of a form that was shown has been
// closed, the program is ending (closing the last window ends the event loop): a dialog then
// would flash up over nothing, so its text goes to standard error instead.
bool FormWindowsClosed() {
  bool closed = false;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!qobject_cast<Surface*>(w)) continue;
    if (w->isVisible()) return false;
    // Shown once and hidden since (a window never shown has not been shown or hidden by hand).
    if (w->testAttribute(Qt::WA_WState_ExplicitShowHide)) closed = true;
  }
  return closed;
}

void ShowDialog(DialogKind kind, const QString& text) {
  if (FormWindowsClosed()) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    return;
  }
  DialogHook hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_dialogHook;
  }
  if (hook) {
    hook(kind, text);
    return;
  }
  const QString title = QApplication::applicationDisplayName();
  if (kind == DialogKind::Error)
    QMessageBox::critical(nullptr, title, text);
  else
    QMessageBox::information(nullptr, title, text);
}

}  // namespace

bool IsUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

namespace {

// Queues fn to the UI thread and waits until it has run. Gives up, without ever running fn,
// when `give_up` holds while fn has not begun; false then.
bool RunAndWait(const std::function<void()>& fn, const std::function<bool()>& give_up) {
  struct State {
    std::mutex m;
    std::condition_variable cv;
    enum { Pending, Running, Done, Cancelled } phase = Pending;
    std::exception_ptr error;
  };
  auto state = std::make_shared<State>();
  PostCall(QCoreApplication::instance(), [state, fn] {
    detail::RunOrHold([state, fn] {
      {
        std::lock_guard lock(state->m);
        if (state->phase == State::Cancelled) return;
        state->phase = State::Running;
      }
      std::exception_ptr error;
      try {
        fn();
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard lock(state->m);
      state->error = std::move(error);
      state->phase = State::Done;
      state->cv.notify_all();
    });
  });
  std::unique_lock lock(state->m);
  while (state->phase != State::Done) {
    state->cv.wait_for(lock, std::chrono::milliseconds(5));
    if (state->phase == State::Pending && give_up()) {
      state->phase = State::Cancelled;
      return false;
    }
  }
  // Taken out, so the error ends on this thread: libstdc++ counts an exception's owners with
  // atomics ThreadSanitizer does not see, and would take its end elsewhere for a race.
  if (std::exception_ptr error = std::move(state->error)) std::rethrow_exception(error);
  return true;
}

}  // namespace

void RunOnUiThread(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  if (!QCoreApplication::instance()) throw Error(QStringLiteral("The UI thread is not running"));
  WatchEventLoop();
  if (!RunAndWait(fn, UiGone)) throw Error(QStringLiteral("The UI thread is not running"));
}

bool RunOnUiThreadUnless(const std::function<void()>& fn, const std::function<bool()>& cancelled) {
  if (IsUiThread()) {
    fn();
    return true;
  }
  if (!QCoreApplication::instance()) return false;
  WatchEventLoop();
  return RunAndWait(fn, [&cancelled] { return cancelled() || UiGone(); });
}

void PostToUiThread(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  PostCall(app, [fn = std::move(fn)] { detail::RunOrHold([fn] { Guarded(fn); }); });
}

void SetDialogHook(DialogHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_dialogHook = std::move(hook);
}

void ShowMessage(const QString& text) {
  RunOnUiThread([&] { ShowDialog(DialogKind::Message, text); });
}

QString ExceptionMessage(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const rtl::Exception& e) {
    return QString::fromStdU16String(e.Message());
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return {};
  }
}

void HandleException(std::exception_ptr error) {
  if (!error) return;
  const QString text = ExceptionMessage(error);
  try {
    RunOnUiThread([&] { ShowDialog(DialogKind::Error, text); });
  } catch (...) {
    // No UI left to show it on.
  }
}

void Guarded(const std::function<void()>& fn) {
  try {
    fn();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void SetFileDialogHook(FileDialogHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_fileHook = std::move(hook);
}

std::optional<QString> RunFileDialog(const OpenDialog& dialog) {
  FileDialogHook hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_fileHook;
  }
  if (hook) return hook(dialog);
  const QString name =
      QFileDialog::getOpenFileName(nullptr, QString(), QString(), dialog.QtFilter());
  if (name.isEmpty()) return std::nullopt;
  return name;
}

}  // namespace ui

#include "Application.moc"
