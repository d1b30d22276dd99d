// Pagesnap <pdf> <output folder> [start number]
//
// Writes each page of the PDF as the JPEG image "Image<number>.jpg" (at least four digits) into
// the output folder (the working folder when it is empty), numbered from the start number (0
// when none is given), and ends with the number of images written as its exit code.
//
// Runs for the sheets of one workbook share the folder and pass the sum of the earlier exit
// codes as the start number. An exit code holds no more than 255, so that sum can fall short;
// numbering therefore never starts below the number after the highest image already in the
// folder, and no run overwrites an image of an earlier one. A negative start number counts as 0.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "office/PdfPages.h"

namespace fs = std::filesystem;

namespace {

constexpr double kDpi = 96.0;
constexpr int kMaxExitCode = 255;
constexpr std::string_view kPrefix = "Image";
constexpr std::string_view kSuffix = ".jpg";

std::string ImageName(std::int64_t number) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04lld", static_cast<long long>(number));
  return std::string(kPrefix) + digits + std::string(kSuffix);
}

// The number of an image name of ours, or -1.
std::int64_t ImageNumber(std::string_view name) {
  if (name.size() <= kPrefix.size() + kSuffix.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(kSuffix)) {
    return -1;
  }
  const std::string_view digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || value < 0) return -1;
  return value;
}

std::int64_t FirstFreeAfterImages(const fs::path& folder) {
  std::int64_t next = 0;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    const std::int64_t n = ImageNumber(e.path().filename().string());
    if (n >= next) next = n + 1;
  }
  return next;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "Pagesnap: %s\n", message.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Fail("usage: Pagesnap <pdf> <output folder> [start number]");
  const std::string pdfPath = argv[1];
  const fs::path folder = *argv[2] != '\0' ? fs::path(argv[2]) : fs::path(".");
  std::int64_t start = 0;
  if (argc > 3) {
    const std::string_view text = argv[3];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), start);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
      return Fail("the start number \"" + std::string(text) + "\" is no number");
    }
    if (start < 0) start = 0;
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return Fail("no output folder " + folder.string());

  std::string error;
  const std::unique_ptr<office::PdfPages> pdf = office::PdfPages::Load(pdfPath, &error);
  if (!pdf) return Fail(error);

  std::int64_t number = std::max(start, FirstFreeAfterImages(folder));
  int written = 0;
  for (int page = 1; page <= pdf->PageCount(); ++page) {
    const fs::path image = folder / ImageName(number);
    if (!pdf->ExportJpeg(page, image.string(), kDpi, &error)) {
      std::fprintf(stderr, "Pagesnap: %s\n", error.c_str());
      continue;
    }
    ++number;
    ++written;
  }
  return written < kMaxExitCode ? written : kMaxExitCode;
}
