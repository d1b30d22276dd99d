// From a board's first beacon to the handshake on the wire, on loopback: the discovery timer
// (100 ms) plus the connect's pause (100 ms) bound it; the aim is at most 250 ms.
// Each round makes a new window, since auto-connect tries once in a window's life.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MainForm.h"
#include "TcpThread.h"
#include "board_peer/BoardPeer.h"
#include "ui/Application.h"
#include "ui/Screen.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void BM_BeaconToHandshake(benchmark::State& state) {
  std::vector<double> latencies;
  for (auto _ : state) {
    state.PauseTiming();
    ip_connect.Set("");
    flg_cnt = false;
    flg_recnt = false;
    std::atomic<bool> handshake{false};
    std::atomic<Clock::rep> arrived{0};
    board_peer::Options options;
    options.host = "";  // a loopback address of its own, at the real ports
    options.beacon_interval = std::chrono::milliseconds(0);
    board_peer::BoardPeer board(options);
    board.SetEventHandler([&](const board_peer::Event& event) {
      if (event.kind == board_peer::Event::Kind::Text && !handshake.exchange(true))
        arrived = Clock::now().time_since_epoch().count();
    });
    std::string error;
    if (!board.Start(&error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    std::unique_ptr<TFormMain> form;
    try {
      form = std::make_unique<TFormMain>(nullptr);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());  // e.g. UDP 3395 taken by another program
      break;
    }
    // Arg 0: the beacon right after the window's creation, a whole timer period before the first
    // tick (the worst case). Arg 1: at a random point of the timer's period, as boards do.
    const auto phase = std::chrono::milliseconds(state.range(0) ? random() % 100 : 0);
    const auto settle = Clock::now() + phase;
    do {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    } while (Clock::now() < settle);
    state.ResumeTiming();

    const auto sent = Clock::now();
    board.SendBeacon();
    const auto limit = sent + std::chrono::seconds(5);
    while (!handshake && Clock::now() < limit)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    state.PauseTiming();
    if (!handshake) {
      state.SkipWithError("no handshake within 5 s");
      break;
    }
    const auto latency = Clock::time_point(Clock::duration(arrived.load())) - sent;
    latencies.push_back(std::chrono::duration<double, std::milli>(latency).count());
    state.SetIterationTime(latencies.back() / 1000.0);
    form.reset();
    ip_connect.Set("");
    flg_cnt = false;
    state.ResumeTiming();
  }
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    state.counters["min_ms"] = latencies.front();
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["max_ms"] = latencies.back();
  }
}

BENCHMARK(BM_BeaconToHandshake)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->Repetitions(1);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  // The window keeps its "imei" and finds its slide folder in the working directory.
  std::string pattern = (fs::temp_directory_path() / "vm-discovery-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path dir = pattern;
  fs::current_path(dir);
  fs::create_directory("img_default");
  QImage(32, 18, QImage::Format_RGB32).save(QStringLiteral("img_default/page1.png"), "PNG");
  ui::SetDialogHook([](ui::DialogKind, const QString&) {});
  ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(QSize(1920, 1080), 1.0));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
