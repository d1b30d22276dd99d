// A stand-in for the converter, placed by the import tests as toimg/Slidepress. It records its
// arguments in "args" beside itself (one per line), then follows "plan" beside itself: the first
// line is the status to write ("success", "error", or "none" for no status file), every further
// line a file to copy into the output folder (argument 2).

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::error_code error;
  const fs::path own = fs::read_symlink("/proc/self/exe", error).parent_path();
  {
    std::ofstream args(own / "args", std::ios::binary);
    for (int i = 1; i < argc; ++i) args << argv[i] << '\n';
  }
  std::ifstream plan(own / "plan");
  std::string status;
  std::getline(plan, status);
  const fs::path out = argc > 2 ? fs::path(argv[2]) : fs::path();
  for (std::string file; std::getline(plan, file);)
    if (!file.empty()) fs::copy_file(file, out / fs::path(file).filename(), error);
  if (status == "none") return 0;
  std::ofstream(own / "pdf_temp", std::ios::binary)
      << status << "\r\n"
      << (status == "error" ? "Could not open the document" : "");
  return 0;
}
