// A slide-strip rebuild from 100 page images of 1920 x 1080 (JPEG), beside decoding the same
// files alone with the same decoder. The rebuild is expected to stay within 1.3x of the decode.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MainForm.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Screen.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 100;

// A page with gradients, shapes and text, so the JPEG carries detail like a real slide.
QImage MakePage(int number) {
  QImage page(1920, 1080, QImage::Format_RGB32);
  QPainter p(&page);
  QLinearGradient gradient(0, 0, 1920, 1080);
  gradient.setColorAt(0, QColor::fromHsv((number * 37) % 360, 120, 230));
  gradient.setColorAt(1, QColor::fromHsv((number * 53 + 120) % 360, 200, 90));
  p.fillRect(page.rect(), gradient);
  QRandomGenerator random(static_cast<quint32>(number));
  for (int i = 0; i < 60; ++i) {
    p.setBrush(QColor::fromRgb(random.generate()));
    p.drawEllipse(random.bounded(1800), random.bounded(1000), 40 + random.bounded(300),
                  40 + random.bounded(200));
  }
  QFont font = p.font();
  font.setPixelSize(64);
  p.setFont(font);
  p.setPen(Qt::white);
  for (int line = 0; line < 8; ++line)
    p.drawText(120, 160 + line * 110,
               QStringLiteral("Page %1 - line %2 of the slide text").arg(number).arg(line + 1));
  return page;
}

struct Fixture {
  fs::path dir;
  fs::path slides;
  std::vector<QString> files;
  std::unique_ptr<TFormMain> form;

  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "vm-strip-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    fs::current_path(dir);  // the window keeps its "imei" here
    slides = dir / "slides";
    fs::create_directory(slides);
    for (int i = 1; i <= kPages; ++i) {
      const QString file = QString::fromStdString(
          (slides / ("Picture" + std::to_string(1000 + i) + ".jpg")).string());
      if (!MakePage(i).save(file, "JPG", 90)) std::abort();
    }
    ui::SetDialogHook([](ui::DialogKind, const QString&) {});
    ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(QSize(1920, 1080), 1.0));
    form = std::make_unique<TFormMain>(nullptr);
    form->timer_find->SetEnabled(false);
    form->img_path = slides.string();
    for (const auto& entry : fs::directory_iterator(slides))
      files.push_back(QString::fromStdString(entry.path().string()));
  }
  ~Fixture() {
    form.reset();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

Fixture* fixture = nullptr;

// The decoder the image control uses, on each file, nothing else.
void BM_DecodeAlone(benchmark::State& state) {
  for (auto _ : state) {
    for (const QString& file : fixture->files) {
      QImageReader reader(file);
      reader.setAutoTransform(true);
      QImage image = reader.read();
      benchmark::DoNotOptimize(image.constBits());
    }
  }
  state.counters["pages"] = static_cast<double>(fixture->files.size());
}

// The same, with every picture kept until the next round, as the strip keeps them: the
// decode plus the cost of holding 100 full-size pictures at once.
void BM_DecodeAloneKept(benchmark::State& state) {
  std::vector<QImage> kept;
  for (auto _ : state) {
    kept.clear();
    for (const QString& file : fixture->files) {
      QImageReader reader(file);
      reader.setAutoTransform(true);
      kept.push_back(reader.read());
      benchmark::DoNotOptimize(kept.back().constBits());
    }
  }
  state.counters["pages"] = static_cast<double>(kept.size());
}

void BM_StripRebuild(benchmark::State& state) {
  for (auto _ : state) {
    fixture->form->SetLayoutValue();
    benchmark::DoNotOptimize(fixture->form->bitmap_list.data());
  }
  state.counters["pages"] = static_cast<double>(fixture->form->bitmap_list.size());
}

BENCHMARK(BM_DecodeAlone)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_DecodeAloneKept)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_StripRebuild)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  Fixture setup;
  fixture = &setup;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fixture = nullptr;
  return 0;
}
