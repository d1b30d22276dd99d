// vellumark-screenshot [--ideas] [--settings] [OUT.png]: shows the main window on a 1920 x 1080
// screen (DPI scale 1), optionally in idea mode and with the settings overlay open,
// writes a picture of it and prints the time from process start to the first painted frame and
// the resident memory of the idle window. Runs in a temporary working folder, so the window's
// "imei" file lands there.

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "MainForm.h"
#include "ui/Screen.h"

namespace {

// Milliseconds since the process started (its start time from /proc).
double MillisecondsSinceProcessStart() {
  QFile stat(QStringLiteral("/proc/self/stat"));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QString text = QString::fromLatin1(stat.readAll());
  const QStringList fields = text.mid(text.lastIndexOf(u')') + 2).split(u' ');
  // Field 22 (starttime, clock ticks after boot) is index 19 after the command name.
  const double startTicks = fields.value(19).toDouble();
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
  return nowMs - startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ResidentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return -1;
}

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && atMs < 0) atMs = MillisecondsSinceProcessStart();
    return QObject::eventFilter(watched, event);
  }
  double atMs = -1;
};

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  bool ideas = false, settings = false;
  std::string outArg = "build/screenshots/main-1920x1080.png";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ideas")
      ideas = true;
    else if (arg == "--settings")
      settings = true;
    else
      outArg = arg;
  }
  const std::filesystem::path out = std::filesystem::absolute(outArg);
  std::string dir = (std::filesystem::temp_directory_path() / "vm-shot-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  std::filesystem::current_path(dir);

  QApplication app(argc, argv);
  ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(QSize(1920, 1080), 1.0));
  FirstPaint watch;
  int rc = 0;
  {
    // Its listener on loopback at a free port: the picture needs no board, and a client running
    // on the machine must not keep it from being taken.
    TFormMain window(nullptr, {"127.0.0.1", 0});
    const double constructedMs = MillisecondsSinceProcessStart();
    window.Widget()->installEventFilter(&watch);
    window.Show();
    for (int i = 0; i < 300 && watch.atMs < 0; ++i) Pump(10);
    Pump(2000);
    const long rssKiB = ResidentKiB();
    if (ideas) window.img_sw_con_click(nullptr);
    if (settings) window.img_set_click(nullptr);

    std::filesystem::create_directories(out.parent_path());
    const QImage shot = window.Render({1920, 1080});
    if (!shot.save(QString::fromStdString(out.string()))) {
      std::fprintf(stderr, "vellumark-screenshot: cannot write %s\n", out.c_str());
      rc = 1;
    } else {
      std::printf("screenshot: %s\n", out.c_str());
    }
    std::printf("window constructed: %.1f ms after process start\n", constructedMs);
    std::printf("first painted frame: %.1f ms after process start\n", watch.atMs);
    std::printf("idle window resident memory: %.1f MiB\n", rssKiB / 1024.0);
    if (watch.atMs < 0) rc = 1;
    window.StopProgram();
  }
  std::filesystem::current_path("/");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return rc;
}
