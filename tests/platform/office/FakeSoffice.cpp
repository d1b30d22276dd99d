// Stands in for soffice in tests, steered by the environment:
//   VM_FAKE_SOFFICE_ARGS  file that receives the arguments, each ended by a NUL byte
//   VM_FAKE_SOFFICE_PDF   PDF copied into the --outdir folder, named after the document
//   VM_FAKE_SOFFICE_HANG  file that receives the pid of a child; then both sleep for a minute
//   VM_FAKE_SOFFICE_EXIT  exit code (default 0)
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (const char* log = std::getenv("VM_FAKE_SOFFICE_ARGS")) {
    std::ofstream out(log, std::ios::binary);
    for (int i = 1; i < argc; ++i) out << argv[i] << '\0';
  }
  if (const char* pidFile = std::getenv("VM_FAKE_SOFFICE_HANG")) {
    const pid_t child = fork();
    if (child == 0) {
      sleep(60);
      _exit(0);
    }
    std::ofstream(pidFile) << child;
    sleep(60);
    return 0;
  }
  if (const char* pdf = std::getenv("VM_FAKE_SOFFICE_PDF")) {
    fs::path outDir;
    for (int i = 1; i + 1 < argc; ++i) {
      if (std::string(argv[i]) == "--outdir") outDir = argv[i + 1];
    }
    if (!outDir.empty() && argc > 1) {
      fs::copy_file(pdf, outDir / fs::path(argv[argc - 1]).stem().concat(".pdf"));
    }
  }
  const char* code = std::getenv("VM_FAKE_SOFFICE_EXIT");
  return code ? std::atoi(code) : 0;
}
