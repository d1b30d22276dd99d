// Runs the files of a fuzz target's corpus through its LLVMFuzzerTestOneInput, for builds without
// libFuzzer (gcc, the ASan build). Arguments: folders (every regular file in them, sorted) or
// files. A broken property aborts; an empty or missing corpus fails, so a wrong path is noticed.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else if (std::filesystem::is_regular_file(arg, error)) {
      files.push_back(arg);
    } else {
      std::fprintf(stderr, "No such corpus file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "No corpus files given\n");
    return 2;
  }
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "Cannot read %s\n", file.c_str());
      return 2;
    }
    // A heap block of exactly the input's size, so that AddressSanitizer sees a read past it.
    const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
