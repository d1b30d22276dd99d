// vellumark-screenshot [--ideas] [--settings] [--idle SECONDS] [--no-picture] [OUT.png]: shows
// the main window on a 1920 x 1080 screen (DPI scale 1), prints the times from process start to
// main, to the application object, to the constructed window and to its first painted frame, and
// the resident memory of the idle window; then, optionally in idea mode and with the settings
// overlay open, lets the window idle for SECONDS in its event loop and prints how often it was
// painted and the process's CPU time meanwhile, and writes a picture of it. Runs in a temporary
// working folder, so the window's "imei" file lands there.

#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "MainForm.h"
#include "PaintCounter.h"
#include "StartupProbe.h"
#include "ui/Screen.h"

namespace {

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The window left alone in its event loop (no polling here): its paints and the CPU time.
void MeasureIdle(TFormMain& window, int seconds) {
  QEventLoop settle;
  QTimer::singleShot(500, &settle, &QEventLoop::quit);
  settle.exec();
  qttest::PaintCounter counter;
  window.Widget()->installEventFilter(&counter);
  const double cpuBefore = CpuMs();
  QEventLoop idle;
  QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
  idle.exec();
  const double cpu = CpuMs() - cpuBefore;
  window.Widget()->removeEventFilter(&counter);
  std::printf("idle %d s: %d paints (%.1f per minute), CPU %.0f ms (%.2f %% of one core)\n",
              seconds, counter.paints, counter.paints * 60.0 / seconds, cpu,
              cpu / (seconds * 10.0));
}

}  // namespace

int main(int argc, char** argv) {
  const double mainMs = startup::MillisecondsSinceProcessStart();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  bool ideas = false, settings = false, picture = true;
  int idleSeconds = 0;
  std::string outArg = "build/screenshots/main-1920x1080.png";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ideas")
      ideas = true;
    else if (arg == "--idle" && i + 1 < argc)
      idleSeconds = std::max(0, std::atoi(argv[++i]));
    else if (arg == "--settings")
      settings = true;
    else if (arg == "--no-picture")
      picture = false;
    else
      outArg = arg;
  }
  const std::filesystem::path out = std::filesystem::absolute(outArg);
  std::string dir = (std::filesystem::temp_directory_path() / "vm-shot-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  std::filesystem::current_path(dir);

  QApplication app(argc, argv);
  const double appMs = startup::MillisecondsSinceProcessStart();
  ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(QSize(1920, 1080), 1.0));
  startup::FirstFrame frame;
  int rc = 0;
  {
    // Its listener on loopback at a free port: the picture needs no board, and a client running
    // on the machine must not keep it from being taken.
    TFormMain window(nullptr, {"127.0.0.1", 0});
    const double constructedMs = startup::MillisecondsSinceProcessStart();
    window.Widget()->installEventFilter(&frame);
    window.Show();
    for (int i = 0; i < 300 && frame.atMs < 0; ++i) startup::Pump(10);
    startup::Pump(2000);
    std::printf("main entered: %.1f ms after process start\n", mainMs);
    std::printf("application made: %.1f ms after process start\n", appMs);
    std::printf("window constructed: %.1f ms after process start\n", constructedMs);
    std::printf("window size: %d x %d\n", window.Widget()->width(), window.Widget()->height());
    startup::PrintFirstFrameAndIdleMemory(frame);
    if (frame.atMs < 0) rc = 1;
    if (ideas) window.img_sw_con_click(nullptr);
    if (settings) window.img_set_click(nullptr);
    if (idleSeconds > 0) MeasureIdle(window, idleSeconds);

    if (picture) {
      std::filesystem::create_directories(out.parent_path());
      const QImage shot = window.Render({1920, 1080});
      if (!shot.save(QString::fromStdString(out.string()))) {
        std::fprintf(stderr, "vellumark-screenshot: cannot write %s\n", out.c_str());
        rc = 1;
      } else {
        std::printf("screenshot: %s\n", out.c_str());
      }
    }
    window.StopProgram();
  }
  std::filesystem::current_path("/");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return rc;
}
