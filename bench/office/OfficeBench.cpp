// An import through the converter program, as the client starts it, against the bare pipeline
// it stands for: `soffice --headless --convert-to pdf`, then `pdftoppm -jpeg` (for slides at the
// slide's size), both started cold, measured beside it in the same turn.
//   BM_Import12Slides  a presentation of 12 slides: the first import (no LibreOffice kept: the
//                      converter starts the instance) and a later one (the instance is kept)
//   BM_Excel3Sheets    a workbook of three sheets, the same two ways
// Each turn runs the three in turns of order; the counters give medians and ranges of the times
// and of each import's ratio to the bare pipeline of its own turn, and the load average before
// and after. Everything runs with a private HOME, cache, runtime and temporary folder.
// The bare pipeline's profile (in that HOME) has never shown a document, so LibreOffice takes
// every start of it for its first after an update, which costs most of a second. The bare_seen
// row runs the same pipeline on a profile marked as having seen its version, as the profile of
// someone who has opened LibreOffice is, and seen_x gives the imports' ratios to that.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "KeptOffice.h"
#include "Spawn.h"
#include "office/ImpressDeck.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSlides = 12;
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

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double one = -1;
  in >> one;
  return one;
}

struct Spread {
  double median = 0, min = 0, max = 0;
};

Spread Of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  if (n == 0) return {};
  return {n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v.front(), v.back()};
}

struct Fixture {
  fs::path root;
  fs::path deck;
  fs::path workbook;
  int width = 0;
  int height = 0;
  std::string soffice;

  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "office-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    root = pattern;
    for (const char* d : {"home", "cache", "run", "tmp", "toimg"}) fs::create_directory(root / d);
    chmod((root / "run").c_str(), 0700);
    // Neither the bare pipeline nor the converter may touch the user's own LibreOffice profile,
    // cache or instance.
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);
    soffice = office::FindSoffice();
    if (soffice.empty()) throw std::runtime_error("LibreOffice is needed");
    // The converter from a run folder of its own, as the client starts it.
    for (const char* program : {VM_SLIDEPRESS, VM_OFFICEKEEPER, VM_PAGESNAP}) {
      fs::copy_file(program, root / "toimg" / fs::path(program).filename());
    }
    std::ofstream(root / "deck.fodp") << PresentationXml();
    Run({soffice, "--headless", "--convert-to", "pptx", "--outdir", root.string(),
         (root / "deck.fodp").string()});
    deck = root / "deck.pptx";
    workbook = root / "workbook.xlsx";
    fs::copy_file(VM_WORKBOOK, workbook);
    office::ConvertOptions cold;
    cold.keeper = "";
    auto opened = office::ImpressDeck::Open(deck.string(), cold);
    if (!opened || opened->PageCount() != kSlides) throw std::runtime_error("deck");
    width = static_cast<int>(static_cast<float>(opened->PageSizeAt(1)->width));
    height = static_cast<int>(static_cast<float>(opened->PageSizeAt(1)->height));
  }
  ~Fixture() {
    office::EndKeptOffice();
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  fs::path Fresh(const char* name) const {
    const fs::path p = root / name;
    fs::remove_all(p);
    fs::create_directory(p);
    return p;
  }

  // On the HOME's profile, or on `profile` when one is given.
  double Bare(const fs::path& document, bool slides, const fs::path& profile = {}) const {
    const fs::path out = Fresh("bare");
    std::vector<std::string> argv = {soffice};
    if (!profile.empty())
      argv.push_back("-env:UserInstallation=" + office::detail::FileUrl(profile));
    argv.insert(argv.end(),
                {"--headless", "--convert-to", "pdf", "--outdir", out.string(), document.string()});
    const auto start = Clock::now();
    Run(argv);
    const fs::path pdf = out / document.filename().replace_extension(".pdf");
    if (slides) {
      Run({"pdftoppm", "-jpeg", "-scale-to-x", std::to_string(width), "-scale-to-y",
           std::to_string(height), pdf.string(), (out / "Picture").string()});
    } else {
      Run({"pdftoppm", "-jpeg", pdf.string(), (out / "Image").string()});
    }
    return Seconds(start);
  }

  // The converter until its status file is there, which is what the client waits for.
  double Import(const fs::path& document, std::size_t images) const {
    const fs::path out = Fresh("out");
    const fs::path status = root / "toimg" / "pdf_temp";
    fs::remove(status);
    const auto start = Clock::now();
    pid_t pid = -1;
    std::string program = (root / "toimg" / "Slidepress").string();
    std::string path = document.string();
    std::string folder = out.string();
    char* argv[] = {program.data(), path.data(), folder.data(), nullptr};
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
      throw std::runtime_error("cannot start Slidepress");
    }
    while (!fs::exists(status)) {
      if (Seconds(start) > 300) throw std::runtime_error("no status file");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double seconds = Seconds(start);
    int code = -1;
    waitpid(pid, &code, 0);
    std::size_t jpegs = 0;
    for (const auto& e : fs::directory_iterator(out)) jpegs += e.path().extension() == ".jpg";
    if (jpegs != images) throw std::runtime_error("the import wrote " + std::to_string(jpegs));
    return seconds;
  }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

// One turn: the bare pipeline, the first import (the converter finds no instance) and a later
// one, in turns of order.
void Measure(benchmark::State& state, const fs::path& document, bool slides, std::size_t images) {
  Fixture& f = TheFixture();
  const double loadBefore = LoadAverage();
  // The page cache, the bare pipeline's own profiles and the converter's kept one warm up here.
  const fs::path seen = f.root / "seen-profile";
  f.Bare(document, slides);
  f.Bare(document, slides, seen);
  office::detail::MarkVersionSeen(seen, office::detail::LauncherFor(f.soffice));
  f.Import(document, images);
  office::EndKeptOffice();
  std::vector<double> bare, bareSeen, first, later, firstRatio, laterRatio, firstSeen, laterSeen;
  int turn = 0;
  for (auto _ : state) {
    double b = 0, s = 0, c = 0, w = 0;
    office::EndKeptOffice();
    if (turn++ % 2 == 0) {
      b = f.Bare(document, slides);
      s = f.Bare(document, slides, seen);
      c = f.Import(document, images);
      w = f.Import(document, images);
    } else {
      c = f.Import(document, images);
      w = f.Import(document, images);
      s = f.Bare(document, slides, seen);
      b = f.Bare(document, slides);
    }
    state.SetIterationTime(w);
    bare.push_back(b);
    bareSeen.push_back(s);
    first.push_back(c);
    later.push_back(w);
    firstRatio.push_back(c / b);
    laterRatio.push_back(w / b);
    firstSeen.push_back(c / s);
    laterSeen.push_back(w / s);
  }
  office::EndKeptOffice();
  const auto put = [&](const std::string& name, const std::vector<double>& v) {
    const Spread s = Of(v);
    state.counters[name + "_med"] = s.median;
    state.counters[name + "_min"] = s.min;
    state.counters[name + "_max"] = s.max;
  };
  put("bare_s", bare);
  put("bare_seen_s", bareSeen);
  put("first_s", first);
  put("later_s", later);
  put("first_x", firstRatio);
  put("later_x", laterRatio);
  put("first_seen_x", firstSeen);
  put("later_seen_x", laterSeen);
  state.counters["load_before"] = loadBefore;
  state.counters["load_after"] = LoadAverage();
}

void BM_Import12Slides(benchmark::State& state) {
  Measure(state, TheFixture().deck, true, kSlides);
}
BENCHMARK(BM_Import12Slides)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

// three-sheets.xlsx prints on 2 + 1 + 1 pages.
void BM_Excel3Sheets(benchmark::State& state) {
  Measure(state, TheFixture().workbook, false, 4);
}
BENCHMARK(BM_Excel3Sheets)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
