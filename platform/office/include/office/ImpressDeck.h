#pragma once
// A presentation opened through LibreOffice: the document is turned into PDF by a headless
// soffice run, and the PDF's pages are what the PowerPoint server hands out as slides.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace office {

// The soffice program to start: the first "soffice" on PATH, else LibreOffice's usual place;
// empty when there is none.
std::string FindSoffice();

struct ConvertOptions {
  std::string soffice;  // empty: FindSoffice()
  // soffice gets this long; then its whole process group is killed and the open fails.
  std::chrono::milliseconds timeout{std::chrono::seconds(120)};
  // Where a LibreOffice profile that has been set up once is kept, to be copied for each run
  // (a fresh profile makes LibreOffice set itself up and restart, which costs about a second).
  // Unset: $XDG_CACHE_HOME/vellumark, else $HOME/.cache/vellumark. Empty: always fresh.
  std::optional<std::string> profileCache;
  // The program that keeps one headless LibreOffice ready between conversions (Officekeeper):
  // conversions are handed to that instance instead of starting LibreOffice each time, and fall
  // back to a start of their own when it cannot be used or fails. Unset: Officekeeper beside the
  // running program, when there is one. Empty: every conversion starts LibreOffice itself.
  std::optional<std::string> keeper;
};

// Ends the LibreOffice instance kept ready for this user and the soffice of `options`, if one
// runs, and waits until its processes are gone. False when none ran.
bool EndKeptOffice(const ConvertOptions& options = {});

struct PageSize {
  double width = 0;  // points
  double height = 0;
};

class ImpressDeck {
 public:
  // Converts the document with its own temporary LibreOffice profile and output folder, so that
  // several conversions may run at once. Null when the document is missing, LibreOffice cannot
  // open it as a presentation, or the run fails or times out; `error` then says why. Nothing of
  // the conversion is left on disk when this returns: the PDF is held in memory.
  static std::unique_ptr<ImpressDeck> Open(const std::string& document,
                                           const ConvertOptions& options = {},
                                           std::string* error = nullptr);
  ~ImpressDeck();
  ImpressDeck(const ImpressDeck&) = delete;
  ImpressDeck& operator=(const ImpressDeck&) = delete;

  int PageCount() const;
  // Page n (1-based) as it is shown, in points; nullopt for a page out of range.
  std::optional<PageSize> PageSizeAt(int n) const;
  // Writes page n as a JPEG of exactly width x height pixels (the page stretched to fill it).
  // False, with no file left at `path`, when the page or size is invalid or writing fails.
  // The first export at a page's own size (its points as whole pixels) has the other pages
  // rendered ahead at theirs on a few threads, for the exports that follow.
  bool ExportJpeg(int n, const std::string& path, int width, int height,
                  std::string* error = nullptr) const;

  // The PDF that LibreOffice produced.
  const std::vector<char>& Pdf() const;

 private:
  struct Impl;
  explicit ImpressDeck(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace office
