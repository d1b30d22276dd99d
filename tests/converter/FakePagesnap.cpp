// Stands in for Pagesnap beside the converter's tests, steered by the environment:
//   FAKE_PAGESNAP_LOG    file to which each run appends one line: its arguments (argv[0]
//                        included), each followed by 0x1F, then "status=1" when the status file
//                        lay beside the program during the run, else "status=0"
//   FAKE_PAGESNAP_CODES  comma-separated exit codes, the k-th for the k-th run (default 0)

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const char* log = std::getenv("FAKE_PAGESNAP_LOG");
  if (log == nullptr) return 0;
  std::size_t runsBefore = 0;
  {
    std::ifstream in(log, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char c : all) runsBefore += c == '\n' ? 1 : 0;
  }
  const fs::path status = fs::read_symlink("/proc/self/exe").parent_path() / "pdf_temp";
  {
    std::ofstream out(log, std::ios::binary | std::ios::app);
    for (int i = 0; i < argc; ++i) out << argv[i] << '\x1f';
    out << "status=" << (fs::exists(status) ? 1 : 0) << '\n';
  }
  int code = 0;
  if (const char* codes = std::getenv("FAKE_PAGESNAP_CODES")) {
    std::stringstream list(codes);
    std::string item;
    for (std::size_t k = 0; std::getline(list, item, ','); ++k) {
      if (k == runsBefore) code = std::atoi(item.c_str());
    }
  }
  return code;
}
