// The slide strip beside decoding its pages, with the window shown full screen on a 1920 x 1080
// offscreen screen:
// - time: a rebuild of 100 pages of 1920 x 1080 (JPEG), alone and with the window then painted
//   (what the user waits for), beside decoding the same files whole, and at 1/8 of their size,
//   with the same decoder, one after another; repetitions interleaved at random (defaults:
//   --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true), reported as medians,
//   minima and maxima of the wall time, process CPU time (all threads) beside;
// - memory: before the timings, the whole process's resident memory with a strip of 300 such
//   pages, every page drawn once (the strip scrolled through), a page placed and the enlarged view
//   paged through the whole strip; the peak counts from just before the strip is built.
// It starts a board peer on loopback and the window binds UDP 3395: run it in a network
// namespace of its own, e.g. unshare -n bash -c 'ip link set lo up && build/bin/bench_strip'.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FrameManager.h"
#include "MainForm.h"
#include "SamplePage.h"
#include "TcpThread.h"
#include "board_peer/BoardPeer.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Screen.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTimedPages = 100;
constexpr int kMemoryPages = 300;

double StatusMiB(const char* key) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(key) + ":";
  for (std::string line; std::getline(status, line);)
    if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) / 1024.0;
  return -1;
}

std::string Load() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "unknown";
  char text[96];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f (1, 5, 15 min) on %ld cores", load[0], load[1],
                load[2], sysconf(_SC_NPROCESSORS_ONLN));
  return text;
}

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

struct Fixture {
  fs::path dir;
  fs::path timed, many;  // 100 and 300 pages
  std::vector<QString> timedFiles;
  std::unique_ptr<board_peer::BoardPeer> board;
  std::unique_ptr<TFormMain> form;

  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "vm-strip-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    fs::current_path(dir);  // the window keeps its "imei" here
    timed = dir / "slides100";
    many = dir / "slides300";
    fs::create_directory(timed);
    fs::create_directory(many);
    for (int i = 1; i <= kMemoryPages; ++i) {
      const std::string name = "Picture" + std::to_string(1000 + i) + ".jpg";
      if (!vmtest::SamplePage(i).save(QString::fromStdString((many / name).string()), "JPG", 90))
        std::abort();
      if (i <= kTimedPages) fs::create_hard_link(many / name, timed / name);
    }
    for (const auto& entry : fs::directory_iterator(timed))
      timedFiles.push_back(QString::fromStdString(entry.path().string()));

    board_peer::Options options;
    options.host = "";
    options.beacon_interval = std::chrono::milliseconds(0);
    options.keep_records = false;
    board = std::make_unique<board_peer::BoardPeer>(options);
    std::string error;
    if (!board->Start(&error)) {
      std::fprintf(stderr, "bench_strip: no board peer: %s\n", error.c_str());
      std::abort();
    }
    ui::SetDialogHook([](ui::DialogKind, const QString&) {});
    ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(QSize(1920, 1080), 1.0));
    form = std::make_unique<TFormMain>(nullptr);
    form->timer_find->SetEnabled(false);
    form->CloseSetting();
    form->Show();
    form->SetFullScreen(true);
    for (int i = 0; i < 300 && form->Widget()->size() != QSize(1920, 1080); ++i) Pump(10);
    if (!form->tcp_thread->tcp_connect(board->Host())) std::abort();
    Paint();
  }
  ~Fixture() {
    form->StopProgram();
    form.reset();
    board.reset();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  // The window painted now, as the event loop paints it.
  void Paint() { form->Widget()->repaint(); }

  void Rebuild(const fs::path& folder) {
    form->img_path = folder.string();
    form->SetLayoutValue();
  }
};

Fixture* fixture = nullptr;
// Standard output as it was: the window writes its slide folder there at every rebuild, which
// goes to /dev/null instead.
std::FILE* report = stdout;

// The report's stream for the benchmark library, written through `report` in its order.
class ReportBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override {
    return c == traits_type::eof() ? traits_type::not_eof(c) : std::fputc(c, report);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<std::size_t>(n), report));
  }
  int sync() override { return std::fflush(report); }
};

// The strip of 300 pages: resident memory of the whole process, and its peak.
void MeasureMemory() {
  Fixture& f = *fixture;
  const double before = StatusMiB("VmRSS");
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak counts from here
  QElapsedTimer clock;
  clock.start();
  f.Rebuild(f.many);
  f.Paint();
  const double rebuiltMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  const double built = StatusMiB("VmRSS");
  // Every page of the strip drawn once.
  ui::HorzScrollBox* strip = f.form->scroll_view;
  for (float x = 0; x <= strip->ContentWidth(); x += strip->Width()) {
    strip->SetScrollX(x);
    f.Paint();
  }
  strip->SetScrollX(0);
  f.Paint();
  const double scrolled = StatusMiB("VmRSS");
  // A page placed, opened, and the enlarged view paged through the whole strip.
  auto* thumb = qobject_cast<ui::Image*>(strip->Content()->Child(0));
  f.form->img_shade_grid->SetPosition(417, 35);
  f.form->FrameManager->AddItem(417, 35, thumb);
  TFrameManager& view = *f.form->FrameManager;
  auto* page = qobject_cast<ui::Image*>(view.img_bg->Child(view.img_bg->ChildrenCount() - 1));
  view.mouse_down_img_show(page, ui::MouseButton::Left, {}, 50, 50);
  view.mouse_up_img_show(page, ui::MouseButton::Left, {}, 50, 50);
  f.Paint();
  for (int i = 1; i < kMemoryPages; ++i) {
    view.img_right_click(view.img_right);
    view.anime_img->ProcessAt(1.0);
    f.Paint();
  }
  const double paged = StatusMiB("VmRSS");
  view.img_zoom_click(view.img_zoom);
  f.Paint();
  std::fprintf(report, "strip of %d pages of 1920 x 1080 (JPEG), whole process resident:\n",
               kMemoryPages);
  std::fprintf(report, "  window shown, strip empty     %7.1f MiB\n", before);
  std::fprintf(report, "  strip built and shown         %7.1f MiB  (rebuild and paint %.0f ms)\n",
               built, rebuiltMs);
  std::fprintf(report, "  every page drawn once         %7.1f MiB\n", scrolled);
  std::fprintf(report, "  enlarged view paged through   %7.1f MiB\n", paged);
  std::fprintf(report, "  peak from before the rebuild  %7.1f MiB\n\n", StatusMiB("VmHWM"));
  f.Rebuild(f.timed);
  f.Paint();
}

// The decoder the image control uses, on each file, at full size: what a rebuild did per page.
void BM_DecodeFullSize(benchmark::State& state) {
  for (auto _ : state) {
    for (const QString& file : fixture->timedFiles) {
      QImageReader reader(file);
      reader.setAutoTransform(true);
      QImage image = reader.read();
      benchmark::DoNotOptimize(image.constBits());
    }
  }
  state.counters["pages"] = static_cast<double>(fixture->timedFiles.size());
}

// The same decoder at 1/8 of the size (libjpeg's smallest step).
void BM_DecodeEighth(benchmark::State& state) {
  for (auto _ : state) {
    for (const QString& file : fixture->timedFiles) {
      QImageReader reader(file);
      reader.setAutoTransform(true);
      reader.setScaledSize(QSize(240, 135));
      QImage image = reader.read();
      benchmark::DoNotOptimize(image.constBits());
    }
  }
  state.counters["pages"] = static_cast<double>(fixture->timedFiles.size());
}

void BM_StripRebuild(benchmark::State& state) {
  for (auto _ : state) {
    fixture->Rebuild(fixture->timed);
    benchmark::DoNotOptimize(fixture->form->bitmap_list.data());
  }
  state.counters["pages"] = static_cast<double>(fixture->form->bitmap_list.size());
}

// The rebuild and the paint that shows it: the pages in view are decoded for it.
void BM_StripRebuildAndPaint(benchmark::State& state) {
  for (auto _ : state) {
    fixture->Rebuild(fixture->timed);
    fixture->Paint();
  }
  state.counters["pages"] = static_cast<double>(fixture->form->bitmap_list.size());
}

double Min(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}
double Max(const std::vector<double>& v) {
  return *std::max_element(v.begin(), v.end());
}

#define VM_TIMED(name)                \
  BENCHMARK(name)                     \
      ->Unit(benchmark::kMillisecond) \
      ->UseRealTime()                 \
      ->MeasureProcessCPUTime()       \
      ->MinTime(1.0)                  \
      ->ComputeStatistics("min", Min) \
      ->ComputeStatistics("max", Max)
VM_TIMED(BM_DecodeFullSize);
VM_TIMED(BM_DecodeEighth);
VM_TIMED(BM_StripRebuild);
VM_TIMED(BM_StripRebuildAndPaint);

// Prints the ratios of the medians to the full-size decode after the usual report.
class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto full = medians_.find("BM_DecodeFullSize");
    if (full == medians_.end() || full->second <= 0) return;
    std::ostream& out = GetOutputStream();
    out << "\nmedian wall time / full-size decode of the same " << kTimedPages << " pages:\n";
    for (const auto& [name, median] : medians_) {
      char line[96];
      std::snprintf(line, sizeof line, "  %-26s %.3fx\n", name.c_str(), median / full->second);
      out << line;
    }
    out.flush();
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  const fs::path screen =
      fs::temp_directory_path() / ("vm-strip-screen-" + std::to_string(getpid()) + ".json");
  std::ofstream(screen) << R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920,)"
                        << R"( "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96}]})";
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screen.string()).c_str());
  QApplication app(argc, argv);
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=9";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  const auto given = [&](const char* flag) {
    for (int i = 1; i < argc; ++i)
      if (std::string(argv[i]).rfind(flag, 0) == 0) return true;
    return false;
  };
  if (!given("--benchmark_repetitions")) args.push_back(repetitions.data());
  if (!given("--benchmark_enable_random_interleaving")) args.push_back(interleave.data());
  if (!given("--benchmark_report_aggregates_only")) args.push_back(aggregates.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());

  std::fflush(stdout);
  report = fdopen(dup(STDOUT_FILENO), "w");
  if (!report || !std::freopen("/dev/null", "w", stdout)) return 1;
  ReportBuffer reportBuffer;
  std::ostream reportStream(&reportBuffer);
  std::fprintf(report, "load before: %s\n", Load().c_str());
  std::fflush(report);
  {
    Fixture setup;
    fixture = &setup;
    MeasureMemory();
    std::fflush(report);
    Reporter reporter;
    reporter.SetOutputStream(&reportStream);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reportStream.flush();
    fixture = nullptr;
  }
  std::fprintf(report, "load after:  %s\n", Load().c_str());
  std::fclose(report);
  benchmark::Shutdown();
  fs::remove(screen);
  return 0;
}
