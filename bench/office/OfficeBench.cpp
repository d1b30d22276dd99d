// The PowerPoint road on LibreOffice against the bare pipeline it stands for (soffice to PDF,
// then pdftoppm to JPEG at the same size), on one presentation of 20 slides, run in turns.
#include <benchmark/benchmark.h>
#include <converter/Converter.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "Spawn.h"
#include "office/ImpressDeck.h"
#include "office/Servers.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSlides = 20;
constexpr auto kTimeout = std::chrono::seconds(180);

// 960 x 540 points, each slide with a title, some shapes and a paragraph of text.
std::string PresentationXml() {
  std::string pages;
  const char* fills[] = {"#c0392b", "#27ae60", "#2980b9", "#8e44ad", "#f39c12"};
  for (int i = 1; i <= kSlides; ++i) {
    pages += "<draw:page draw:name=\"p" + std::to_string(i) +
             "\" draw:master-page-name=\"Plain\">"
             "<draw:frame svg:x=\"1.5cm\" svg:y=\"1cm\" svg:width=\"30cm\" svg:height=\"3cm\">"
             "<draw:text-box><text:p text:style-name=\"T\">Slide " +
             std::to_string(i) +
             " of the benchmark deck</text:p></draw:text-box></draw:frame>"
             "<draw:frame svg:x=\"1.5cm\" svg:y=\"5cm\" svg:width=\"16cm\" svg:height=\"12cm\">"
             "<draw:text-box><text:p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, "
             "sed do eiusmod tempor incididunt ut labore et dolore magna aliqua.</text:p>"
             "<text:p>Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris.</text:p>"
             "</draw:text-box></draw:frame>";
    for (int s = 0; s < 3; ++s) {
      pages += std::string("<draw:rect draw:style-name=\"g") + std::to_string((i + s) % 5) +
               "\" svg:x=\"" + std::to_string(19 + s * 4) + "cm\" svg:y=\"" +
               std::to_string(5 + s * 3) + "cm\" svg:width=\"6cm\" svg:height=\"5cm\"/>";
    }
    pages += "<draw:ellipse draw:style-name=\"g" + std::to_string(i % 5) +
             "\" svg:x=\"24cm\" svg:y=\"13cm\" svg:width=\"7cm\" svg:height=\"5cm\"/></draw:page>";
  }
  std::string styles;
  for (int g = 0; g < 5; ++g) {
    styles += "<style:style style:name=\"g" + std::to_string(g) +
              "\" style:family=\"graphic\"><style:graphic-properties draw:fill=\"solid\" "
              "draw:fill-color=\"" +
              fills[g] + "\" draw:stroke=\"none\"/></style:style>";
  }
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:styles/><office:automatic-styles>
<style:page-layout style:name="PM1"><style:page-layout-properties fo:margin-top="0cm"
 fo:margin-bottom="0cm" fo:margin-left="0cm" fo:margin-right="0cm" fo:page-width="33.867cm"
 fo:page-height="19.05cm" style:print-orientation="landscape"/></style:page-layout>
<style:style style:name="T" style:family="paragraph"><style:text-properties fo:font-size="36pt"
 fo:font-weight="bold"/></style:style>)" +
         styles + R"(</office:automatic-styles>
<office:master-styles><style:master-page style:name="Plain" style:page-layout-name="PM1"/>
</office:master-styles><office:body><office:presentation>)" +
         pages + "</office:presentation></office:body></office:document>\n";
}

void Run(const std::vector<std::string>& argv) {
  const auto r = office::detail::RunBounded(argv, kTimeout);
  if (r.end != office::detail::RunResult::End::Exited || r.code != 0) {
    throw std::runtime_error(argv[0] + " failed");
  }
}

struct Fixture {
  fs::path root;
  fs::path deck;
  int width = 0;
  int height = 0;

  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "office-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    root = pattern;
    // The road keeps its set-up LibreOffice profile here; the warm-up run makes it.
    setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    std::ofstream(root / "deck.fodp") << PresentationXml();
    const std::string soffice = office::FindSoffice();
    if (soffice.empty()) throw std::runtime_error("LibreOffice is needed");
    Run({soffice, "-env:UserInstallation=file://" + (root / "profile").string(), "--headless",
         "--convert-to", "pptx", "--outdir", root.string(), (root / "deck.fodp").string()});
    deck = root / "deck.pptx";
    auto opened = office::ImpressDeck::Open(deck.string());
    if (!opened || opened->PageCount() != kSlides) throw std::runtime_error("deck");
    width = static_cast<int>(static_cast<float>(opened->PageSizeAt(1)->width));
    height = static_cast<int>(static_cast<float>(opened->PageSizeAt(1)->height));
    if (!office::RegisterOfficeServers()) throw std::runtime_error("no PowerPoint server");
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  fs::path Fresh(const char* name) const {
    const fs::path p = root / name;
    fs::remove_all(p);
    fs::create_directory(p);
    return p;
  }

  double Bare() const {
    const fs::path out = Fresh("bare");
    const auto start = Clock::now();
    Run({"soffice", "--headless", "--convert-to", "pdf", "--outdir", out.string(), deck.string()});
    Run({"pdftoppm", "-jpeg", "-scale-to-x", std::to_string(width), "-scale-to-y",
         std::to_string(height), (out / "deck.pdf").string(), (out / "Picture").string()});
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  double Road() const {
    const fs::path out = Fresh("road");
    const std::string document = deck.string();
    const std::string folder = out.string() + "/";
    const auto start = Clock::now();
    const int rc = converter::ConvertPowerPoint(std::u16string(document.begin(), document.end()),
                                                std::u16string(folder.begin(), folder.end()));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (rc != 0) throw std::runtime_error("road failed");
    int images = 0;
    for (const auto& e : fs::directory_iterator(out)) images += e.path().extension() == ".jpg";
    if (images != kSlides) throw std::runtime_error("road wrote too few images");
    return seconds;
  }
};

// Each iteration runs both, in alternating order; the reported time is the road's, the
// counters give both means and their ratio.
void BM_RoadVersusBarePipeline(benchmark::State& state) {
  static Fixture fixture;
  fixture.Bare();  // the default profile and the page cache warm up outside the timing
  fixture.Road();
  double bare = 0;
  double road = 0;
  bool roadFirst = false;
  for (auto _ : state) {
    double b, r;
    if (roadFirst) {
      r = fixture.Road();
      b = fixture.Bare();
    } else {
      b = fixture.Bare();
      r = fixture.Road();
    }
    roadFirst = !roadFirst;
    bare += b;
    road += r;
    state.SetIterationTime(r);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["bare_s"] = bare / n;
  state.counters["road_s"] = road / n;
  state.counters["ratio"] = road / bare;
}
BENCHMARK(BM_RoadVersusBarePipeline)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
