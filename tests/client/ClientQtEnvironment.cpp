#include "ClientQtEnvironment.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "QtTestSupport.h"

namespace clienttest {

void WindowTest::SetUp() {
  previous_ = std::filesystem::current_path();
  std::string pattern = (std::filesystem::temp_directory_path() / "vm-window-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  std::filesystem::current_path(dir_);
  ui::SetDialogHook([this](ui::DialogKind, const QString& text) { dialogs_.push_back(text); });
}

void WindowTest::TearDown() {
  ui::SetDialogHook({});
  ui::SetScreenMetrics(nullptr);
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::unique_ptr<TFormMain> WindowTest::MakeWindow(QSize screen, double dpi) {
  ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(screen, dpi));
  auto form = std::make_unique<TFormMain>(nullptr, TFormMain::ListenerBinding{"127.0.0.1", 0});
  EXPECT_EQ(FormMain, form.get());
  listener_port_ = form->udp->BoundPort();
  EXPECT_GT(listener_port_, 0);
  return form;
}

void WindowTest::Click(TFormMain& form, ui::Control* control) {
  const QPointF centre =
      control->LocalToForm().map(QPointF(control->Width() / 2, control->Height() / 2));
  form.DispatchMouseDown(ui::MouseButton::Left, {}, centre);
  form.DispatchMouseUp(ui::MouseButton::Left, {}, centre);
}

std::string WindowTest::ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WindowTest::WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool WindowTest::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return qttest::PumpUntil(done, limit);
}

void WindowTest::Pump(std::chrono::milliseconds span) {
  qttest::Pump(span);
}

StdoutCapture::StdoutCapture() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vm-stdout-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return;
  file_ = pattern;
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

StdoutCapture::~StdoutCapture() {
  std::fflush(stdout);
  if (saved_ >= 0) {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  std::error_code ignored;
  if (!file_.empty()) std::filesystem::remove(file_, ignored);
}

std::string StdoutCapture::Text() const {
  std::fflush(stdout);
  std::ifstream in(file_, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

int StdoutCapture::Lines(const std::string& line) const {
  std::istringstream in(Text());
  int n = 0;
  for (std::string l; std::getline(in, l);) n += l == line;
  return n;
}

void ResetConnectState() {
  ip_connect.Set("");
  flg_cnt = false;
  flg_recnt = false;
}

RealUdpPortLock::RealUdpPortLock()
    : fd_(::open("/tmp/vellumark-udp3395.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
  if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) ADD_FAILURE() << "cannot take the UDP 3395 lock";
}

RealUdpPortLock::~RealUdpPortLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace clienttest
