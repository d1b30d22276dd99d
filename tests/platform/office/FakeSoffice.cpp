// Stands in for soffice in tests, steered by the environment:
//   VM_FAKE_SOFFICE_ARGS  file that receives the arguments, each ended by a NUL byte
//   VM_FAKE_SOFFICE_PDF   PDF copied into the --outdir folder, named after the document
//   VM_FAKE_SOFFICE_HANG  file that receives the pid of a child; then both sleep for a minute
//   VM_FAKE_SOFFICE_EXIT  exit code (default 0)
//   VM_FAKE_SOFFICE_SEEN  file that receives the names found in the profile's user folder
//   VM_FAKE_SOFFICE_SETUP set: the profile gets a user folder, as LibreOffice's first start makes
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
  fs::path profile;
  const std::string prefix = "-env:UserInstallation=file://";
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind(prefix, 0) == 0)
      profile = std::string(argv[i]).substr(prefix.size());
  }
  if (const char* seen = std::getenv("VM_FAKE_SOFFICE_SEEN")) {
    std::ofstream out(seen);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(profile / "user", ec)) {
      out << e.path().filename().string() << '\n';
    }
  }
  if (std::getenv("VM_FAKE_SOFFICE_SETUP") && !profile.empty()) {
    fs::create_directories(profile / "user" / "extensions");
    std::ofstream(profile / "user" / "extensions" / "buildid") << "1";
    std::ofstream(profile / "user" / "registrymodifications.xcu") << "<recent/>";
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
