#pragma once
// Shared helpers of the client's window tests: one QApplication for the run, a fresh working
// directory per test (the window reads and writes "imei" there), dialogs recorded, clicks.

#include <gtest/gtest.h>

#include <QPointF>
#include <QString>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The window tests reach into every frame and component of the window.
#include "FrameManager.h"
#include "FrameSetting.h"
#include "FrameStorm.h"
#include "MainForm.h"
#include "NetComponents.h"
#include "TcpThread.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Screen.h"

namespace clienttest {

// Each test runs in its own empty temporary folder; the folder goes afterwards.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A window made the way the process entry makes it, with fixed screen metrics, but for its
  // discovery listener: that one takes 127.0.0.1 at a free port (ListenerPort()), so neither a
  // client running on the machine nor a real board's beacons reach the test.
  std::unique_ptr<TFormMain> MakeWindow(QSize screen = {960, 540}, double dpi = 1.0);
  // The listener's port of the window MakeWindow made last.
  int ListenerPort() const { return listener_port_; }
  // Press and release in the middle of a control, through the form's dispatch.
  static void Click(TFormMain& form, ui::Control* control);
  static std::string ReadFile(const std::filesystem::path& path);
  static void WriteFile(const std::filesystem::path& path, const std::string& bytes);
  // Runs the UI event loop until `done` holds or `limit` has passed; true when it holds.
  static bool PumpUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Runs the UI event loop for `span`.
  static void Pump(std::chrono::milliseconds span);

  std::filesystem::path dir_;
  std::vector<QString> dialogs_;

 private:
  std::filesystem::path previous_;
  int listener_port_ = 0;
};

// Standard output written to a file while it lives, readable at any time (lines of other
// threads included): for the diagnostics lines of the client.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string Text() const;
  // How many whole lines equal `line`.
  int Lines(const std::string& line) const;

 private:
  std::filesystem::path file_;
  int saved_ = -1;
};

// The connection supervisor's process-wide reconnect state, back to its start values.
void ResetConnectState();

// Held by a test that binds the real UDP port 3395 (a window made the program's way, or the
// program itself), so that such tests of every build folder on this machine take turns.
class RealUdpPortLock {
 public:
  RealUdpPortLock();
  ~RealUdpPortLock();
  RealUdpPortLock(const RealUdpPortLock&) = delete;
  RealUdpPortLock& operator=(const RealUdpPortLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace clienttest
