#pragma once
// The connection supervisor: it owns the life of the board connection and every byte the client
// writes on it. It connects and sends the handshake, reconnects on its own thread once a first
// connect has succeeded, and frames outgoing texts ("...pqend", UTF-8 on the wire).

#include <atomic>
#include <functional>
#include <mutex>

#include "net/TcpClient.h"
#include "rtl/CodePage.h"
#include "rtl/Json.h"
#include "rtl/Thread.h"

// One text shared between threads: the host of the most recent connect attempt.
class GuardedAnsiText {
 public:
  rtl::AnsiString Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void Set(rtl::AnsiString text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }

 private:
  mutable std::mutex mutex_;
  rtl::AnsiString text_;
};

// Reconnect state, one copy per process. Others reach it only through tcp_connect; it is visible
// here so tests can look at it and start from a clean state.
extern GuardedAnsiText ip_connect;  // host of the most recent connect attempt: the reconnect target
extern std::atomic<bool> flg_cnt;   // a connect has succeeded since start: reconnecting is on
extern std::atomic<bool> flg_recnt;  // reconnecting: a failed connect shows no dialog

// Shows the modal "connect failed" dialog and returns when the user has closed it. The main
// window wires it to the UI's message dialog; until then it does nothing.
void SetConnectFailureDialog(std::function<void(const rtl::UnicodeString& text)> dialog);

class TcpThread final : public rtl::Thread {
 public:
  static constexpr int kPort = 3392;
  static constexpr int kConnectTimeoutMs = 3000;
  static constexpr int kReadTimeoutMs = 6000;
  // Every text must be on the wire within this, the wait for another thread's text included.
  // The bound the client already gives the board for its side of the connection: a board that
  // takes nothing for as long as it may stay silent is treated as gone.
  static constexpr int kWriteTimeoutMs = kReadTimeoutMs;
  static constexpr std::int32_t kSendToId = 531864207;

  // tcp is borrowed: the window owns it and it must outlive this object.
  TcpThread(bool createSuspended, net::TcpClient* tcp);
  ~TcpThread() override;

  // Connects to host and writes the handshake; true when both succeeded.
  bool tcp_connect(const rtl::AnsiString& host);
  // Writes text + "pqend" in one write. Failures of the network layer reach the caller; a text
  // that is not on the wire within kWriteTimeoutMs fails (net::WriteTimeout or, when another
  // text was stuck ahead of it and closed the connection, "Not Connected").
  void tcp_send(const rtl::AnsiString& text);
  // Wraps a board message in the envelope and sends it.
  void tcp_send(rtl::JsonObject message);

  const std::int32_t send_to_id;

 protected:
  void Execute() override;

 private:
  bool connect_locked(const rtl::AnsiString& host, std::unique_lock<std::mutex>& connecting,
                      bool own_turn);
  void write_text(const rtl::AnsiString& text, bool handshake);
  void recover(const std::exception& error);

  net::TcpClient* const tcp_;
  std::mutex connect_mutex_;        // one connect at a time, whoever asks
  net::TimedMutex write_mutex_;     // one outgoing text at a time; waits for it are bounded
  bool handshake_pending_ = false;  // guarded by write_mutex_
};
