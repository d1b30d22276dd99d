// bench_startup [--runs N] [--x] [--client PATH]...: the client's start-up beside a minimal Qt
// Widgets program, in one run, on a shared machine: the programs (vm-minimal-window and
// vellumark-screenshot --no-picture, found beside this one, or the screenshot tools given, e.g.
// an older build's for a before and after) are started N times each (default 15), in turn,
// each a fresh process showing one full-screen window. Prints for each the time from process
// start to the first painted frame and the resident memory once idle (medians and ranges), the
// ratios of the medians to the minimal program's, and the load of the machine before and after.
//
// Without --x the programs run offscreen on a 1920 x 1080 screen (a configuration file of the
// offscreen platform); with --x on the X display in DISPLAY (e.g. inside with-x).

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Sample {
  double firstFrameMs = -1;
  double residentMiB = -1;
  double anonMiB = -1, fileMiB = -1;
  double mainMs = -1, appMs = -1, constructedMs = -1;
};

std::optional<double> Number(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  if (at == std::string::npos) return std::nullopt;
  return std::strtod(text.c_str() + at + label.size(), nullptr);
}

// Runs `argv` with `env` and returns what it wrote on standard output.
std::optional<std::string> Run(const std::vector<std::string>& argv,
                               const std::vector<std::string>& env) {
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args, vars;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& v : env) vars.push_back(const_cast<char*>(v.c_str()));
  vars.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), vars.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return std::nullopt;
  }
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

std::optional<Sample> Measure(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env) {
  const auto text = Run(argv, env);
  if (!text) return std::nullopt;
  Sample s;
  const auto frame = Number(*text, "first painted frame: ");
  const auto rss = Number(*text, "idle window resident memory: ");
  if (!frame || !rss) return std::nullopt;
  s.firstFrameMs = *frame;
  s.residentMiB = *rss;
  s.anonMiB = Number(*text, "anonymous: ").value_or(-1);
  s.fileMiB = Number(*text, "files: ").value_or(-1);
  s.mainMs = Number(*text, "main entered: ").value_or(-1);
  s.appMs = Number(*text, "application made: ").value_or(-1);
  s.constructedMs = Number(*text, "window constructed: ").value_or(-1);
  return s;
}

struct Range {
  double median, min, max;
};

Range Of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  return {median, v.front(), v.back()};
}

std::vector<double> Field(const std::vector<Sample>& samples, double Sample::*field) {
  std::vector<double> v;
  for (const Sample& s : samples) v.push_back(s.*field);
  return v;
}

std::string Load() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "unknown";
  char text[96];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f (1, 5, 15 min) on %ld cores", load[0], load[1],
                load[2], sysconf(_SC_NPROCESSORS_ONLN));
  return text;
}

void Row(const char* what, const Range& r, const char* unit) {
  std::printf("  %-34s %8.1f %8.1f %8.1f  %s\n", what, r.median, r.min, r.max, unit);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 15;
  bool x = false;
  std::vector<std::string> clients;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--x")
      x = true;
    else if (arg == "--client" && i + 1 < argc)
      clients.push_back(fs::absolute(argv[++i]).string());
    else {
      std::fprintf(stderr, "usage: bench_startup [--runs N] [--x] [--client PATH]...\n");
      return 2;
    }
  }
  const fs::path here = fs::canonical("/proc/self/exe").parent_path();
  if (clients.empty()) clients.push_back((here / "vellumark-screenshot").string());
  const std::string minimal = (here / "vm-minimal-window").string();

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.emplace_back(*e);
  const fs::path config =
      fs::temp_directory_path() / ("vm-startup-screen-" + std::to_string(getpid()) + ".json");
  if (x) {
    if (!std::getenv("DISPLAY")) {
      std::fprintf(stderr, "bench_startup: --x needs DISPLAY\n");
      return 2;
    }
    env.emplace_back("QT_QPA_PLATFORM=xcb");
  } else {
    std::ofstream(config) << R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920,)"
                          << R"( "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96}]})";
    env.emplace_back("QT_QPA_PLATFORM=offscreen:configfile=" + config.string());
  }

  // Program 0 is the minimal window, then the clients; each round starts them all once, the
  // round's first program turning, so none always starts right after another.
  std::vector<std::vector<std::string>> programs = {{minimal}};
  for (const auto& c : clients) programs.push_back({c, "--no-picture"});
  std::printf("start-up, %s, %d runs each, in turn\n", x ? "on X" : "offscreen 1920 x 1080", runs);
  std::printf("load before: %s\n", Load().c_str());
  std::vector<std::vector<Sample>> samples(programs.size());
  for (int i = 0; i < runs; ++i)
    for (std::size_t k = 0; k < programs.size(); ++k) {
      const std::size_t p = (k + static_cast<std::size_t>(i)) % programs.size();
      const auto s = Measure(programs[p], env);
      if (!s) {
        std::fprintf(stderr, "bench_startup: %s failed\n", programs[p][0].c_str());
        return 1;
      }
      samples[p].push_back(*s);
    }
  std::printf("load after:  %s\n\n", Load().c_str());

  std::printf("  %-34s %8s %8s %8s\n", "", "median", "min", "max");
  std::printf("minimal Qt Widgets window\n");
  Row("main entered (loading, linking)", Of(Field(samples[0], &Sample::mainMs)), "ms");
  Row("first painted frame", Of(Field(samples[0], &Sample::firstFrameMs)), "ms");
  Row("idle resident", Of(Field(samples[0], &Sample::residentMiB)), "MiB");
  Row("  of which anonymous", Of(Field(samples[0], &Sample::anonMiB)), "MiB");
  Row("  of which files", Of(Field(samples[0], &Sample::fileMiB)), "MiB");
  const double minimalFrame = Of(Field(samples[0], &Sample::firstFrameMs)).median;
  const double minimalResident = Of(Field(samples[0], &Sample::residentMiB)).median;
  for (std::size_t p = 1; p < programs.size(); ++p) {
    const auto& runsOf = samples[p];
    std::printf("client: %s\n", programs[p][0].c_str());
    Row("main entered (loading, linking)", Of(Field(runsOf, &Sample::mainMs)), "ms");
    Row("application object made", Of(Field(runsOf, &Sample::appMs)), "ms");
    Row("window constructed", Of(Field(runsOf, &Sample::constructedMs)), "ms");
    Row("first painted frame", Of(Field(runsOf, &Sample::firstFrameMs)), "ms");
    Row("idle resident", Of(Field(runsOf, &Sample::residentMiB)), "MiB");
    Row("  of which anonymous", Of(Field(runsOf, &Sample::anonMiB)), "MiB");
    Row("  of which files", Of(Field(runsOf, &Sample::fileMiB)), "MiB");
    std::printf(
        "  client / minimal, medians: first frame %.2fx, idle resident %.2fx (goal <= 2x)\n",
        Of(Field(runsOf, &Sample::firstFrameMs)).median / minimalFrame,
        Of(Field(runsOf, &Sample::residentMiB)).median / minimalResident);
  }
  if (!x) fs::remove(config);
  return 0;
}
