#include "TcpThread.h"

#include "net/Error.h"

GuardedAnsiText ip_connect;
std::atomic<bool> flg_cnt{false};
std::atomic<bool> flg_recnt{false};

namespace {

// The dialog hook is set once at start-up, before any connect.
std::function<void(const rtl::UnicodeString&)>& failure_dialog() {
  static std::function<void(const rtl::UnicodeString&)> dialog;
  return dialog;
}

constexpr char16_t kConnectFailedText[] = u"Please check the network connection status";
constexpr char kTerminator[] = "pqend";
// Pause while waiting for a first connect: the connection is tested again after it.
constexpr int kIdlePollMs = 20;
constexpr int kConnectedPollMs = 2000;
constexpr int kConnectPauseMs = 100;

rtl::UnicodeString message_of(const std::exception& error) {
  if (const auto* rtl_error = dynamic_cast<const rtl::Exception*>(&error)) {
    return rtl_error->Message();
  }
  return rtl::Utf8ToUnicode(error.what());
}

void print_error(const std::exception& error, std::string_view prefix = {}) {
  rtl::AnsiString line(prefix);
  line += rtl::UnicodeToAnsi(message_of(error));
  rtl::WriteLn(line);
}

}  // namespace

void SetConnectFailureDialog(std::function<void(const rtl::UnicodeString&)> dialog) {
  failure_dialog() = std::move(dialog);
}

TcpThread::TcpThread(bool createSuspended, net::TcpClient* tcp)
    : rtl::Thread(createSuspended), send_to_id(kSendToId), tcp_(tcp) {
  tcp_->SetPort(kPort);
  tcp_->SetConnectTimeout(kConnectTimeoutMs);
  tcp_->SetReadTimeout(kReadTimeoutMs);
  tcp_->SetWriteTimeout(kWriteTimeoutMs);
  AfterConstruction();
}

TcpThread::~TcpThread() {
  Stop();
}

bool TcpThread::tcp_connect(const rtl::AnsiString& host) {
  std::unique_lock connecting(connect_mutex_);
  return connect_locked(host, connecting, false);
}

// Runs with the connect lock held, so a connect is never interleaved with another connect or with
// the supervisor's decision to reconnect. own_turn: the supervisor's own attempt, given up when
// the supervisor is told to end during the pause (the window is going).
bool TcpThread::connect_locked(const rtl::AnsiString& host,
                               std::unique_lock<std::mutex>& connecting, bool own_turn) {
  if (tcp_->Connected()) {
    try {
      tcp_->ClearInputBuffer();
      tcp_->Disconnect();
    } catch (const std::exception& error) {
      print_error(error);
    }
  }
  if (own_turn) {
    if (!SleepFor(kConnectPauseMs)) return false;
  } else {
    rtl::Thread::Sleep(kConnectPauseMs);
  }
  ip_connect.Set(host);
  tcp_->SetHost(rtl::AnsiToUnicode(host));
  try {
    {
      // Until the handshake is written, no other text may use the new connection.
      std::lock_guard lock(write_mutex_);
      handshake_pending_ = true;
    }
    tcp_->Connect();
    rtl::JsonObject handshake;
    handshake.AddPair(u"pcup", u"");
    write_text(rtl::UnicodeToAnsi(handshake.ToJSON()), true);
  } catch (const std::exception& error) {
    {
      std::lock_guard lock(write_mutex_);
      handshake_pending_ = false;
    }
    const bool show_dialog = !flg_recnt;
    connecting.unlock();  // the dialog is modal; the supervisor may go on meanwhile
    if (show_dialog) {
      if (auto& dialog = failure_dialog()) dialog(kConnectFailedText);
    }
    print_error(error);
    return false;
  }
  flg_cnt = true;
  flg_recnt = false;
  return true;
}

void TcpThread::tcp_send(const rtl::AnsiString& text) {
  write_text(text, false);
}

void TcpThread::write_text(const rtl::AnsiString& text, bool handshake) {
  rtl::AnsiString framed = text;
  framed += kTerminator;
  const std::string utf8 = rtl::UnicodeToUtf8(rtl::AnsiToUnicode(framed));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());

  // One deadline for the whole text: the wait for the text ahead of it, then the write.
  const net::Clock::time_point deadline = tcp_->WriteDeadline();
  std::unique_lock lock(write_mutex_, std::defer_lock);
  if (!net::LockUntil(lock, deadline, tcp_->GetWaitHook()))
    throw net::WriteTimeout("Write timed out.");
  if (handshake_pending_ && !handshake) throw net::Error("Not Connected");
  tcp_->Write({bytes, utf8.size()}, deadline);
  if (handshake) handshake_pending_ = false;
}

void TcpThread::tcp_send(rtl::JsonObject message) {
  rtl::JsonObject inner;
  inner.AddPair(u"sendToId", send_to_id);
  inner.AddPair(u"message", std::move(message));
  rtl::JsonObject envelope;
  envelope.AddPair(u"phone", std::move(inner));
  tcp_send(rtl::UnicodeToAnsi(envelope.ToJSON()));
}

void TcpThread::Execute() {
  // The program never stops the supervisor; only tearing the object down does.
  while (!Terminated()) {
    try {
      std::unique_lock connecting(connect_mutex_);
      if (tcp_->Connected()) {
        connecting.unlock();
        SleepFor(kConnectedPollMs);
      } else if (flg_cnt && !ip_connect.Get().empty()) {
        flg_recnt = true;
        connect_locked(ip_connect.Get(), connecting, true);
      } else {
        connecting.unlock();
        SleepFor(kIdlePollMs);
      }
    } catch (const std::exception& error) {
      // Connect and disconnect failures are handled inside the turn, so what comes here is a
      // failure of the machine (memory, a thread primitive). It must not end reconnecting for
      // the rest of the process.
      recover(error);
    }
  }
}

// Not protected: an exception here ends the thread and is kept as its fatal exception.
// Under the connect lock, like every other disconnect and connect: a connect the UI thread
// has just made is never cut by it.
void TcpThread::recover(const std::exception& error) {
  std::unique_lock connecting(connect_mutex_);
  flg_recnt = true;
  print_error(error, "execute");
  tcp_->ClearInputBuffer();
  tcp_->Disconnect();
  connect_locked(ip_connect.Get(), connecting, true);
}
