#pragma once
// The runs of the fake Pagesnap that lies beside the test program, read from its log.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace testsupport {

struct PagesnapRun {
  std::vector<std::string> args;  // argv[0] included
  bool statusDuringRun = false;
};

// Points the fake at a fresh log and gives it its exit codes for the life of the object.
class PagesnapScript {
 public:
  explicit PagesnapScript(const std::string& codes = "")
      : log_(std::filesystem::temp_directory_path() /
             ("pagesnap-log-" + std::to_string(::getpid()))) {
    std::filesystem::remove(log_);
    ::setenv("FAKE_PAGESNAP_LOG", log_.c_str(), 1);
    ::setenv("FAKE_PAGESNAP_CODES", codes.c_str(), 1);
  }
  ~PagesnapScript() {
    ::unsetenv("FAKE_PAGESNAP_LOG");
    ::unsetenv("FAKE_PAGESNAP_CODES");
    std::error_code ignored;
    std::filesystem::remove(log_, ignored);
  }
  PagesnapScript(const PagesnapScript&) = delete;
  PagesnapScript& operator=(const PagesnapScript&) = delete;

  std::vector<PagesnapRun> Runs() const {
    std::vector<PagesnapRun> runs;
    const std::string all = ReadFile(log_);
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = all.substr(start, end - start);
      PagesnapRun run;
      std::size_t field = 0;
      for (std::size_t sep; (sep = line.find('\x1f', field)) != std::string::npos;
           field = sep + 1) {
        run.args.push_back(line.substr(field, sep - field));
      }
      run.statusDuringRun = line.substr(field) == "status=1";
      runs.push_back(std::move(run));
    }
    return runs;
  }

 private:
  std::filesystem::path log_;
};

// The fake Pagesnap's path as the roads form it: the own folder and the tool's name.
inline std::string PagesnapPath() {
  return (StatusFile().parent_path() / "Pagesnap").string();
}

}  // namespace testsupport
