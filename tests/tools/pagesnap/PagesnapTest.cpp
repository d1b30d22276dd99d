#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "OfficeTestSupport.h"
#include "os/Process.h"
#include "rtl/CodePage.h"
#include "rtl/Files.h"

namespace {

using namespace office_test;
namespace fs = std::filesystem;

const Rgb kColours[] = {{255, 0, 0}, {0, 160, 0}, {0, 0, 255}};

// A PDF of `pages` pages of width x height points, page i filled with kColours[i % 3].
std::string MakePdf(int pages, int width, int height) {
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>"};
  for (int i = 0; i < pages; ++i) {
    const Rgb c = kColours[i % 3];
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " +
                      std::to_string(height) + "] /Contents " + std::to_string(4 + 2 * i) +
                      " 0 R >>");
    char draw[96];
    std::snprintf(draw, sizeof draw, "%.3f %.3f %.3f rg 0 0 %d %d re f", c.r / 255.0, c.g / 255.0,
                  c.b / 255.0, width, height);
    objects.push_back("<< /Length " + std::to_string(std::string(draw).size()) + " >>\nstream\n" +
                      draw + "\nendstream");
  }
  return PdfOfObjects(objects);
}

struct Outcome {
  int code = -1;
  std::string errors;
};

class PagesnapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(work_.path().empty());
    fs::create_directory(out());
  }
  fs::path out() const { return work_.path() / "my out"; }
  fs::path Pdf(const std::string& name, int pages, int width = 72, int height = 36) const {
    const fs::path p = work_.path() / name;
    std::ofstream(p, std::ios::binary) << MakePdf(pages, width, height);
    return p;
  }
  // Runs the tool with its standard error caught.
  Outcome Run(const std::vector<std::string>& args) {
    const fs::path caught = work_.path() / "stderr";
    const int file = ::open(caught.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    std::vector<std::string> argv = {PAGESNAP_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    os::RunOptions options;
    options.timeout = std::chrono::seconds(60);
    const os::RunResult run = os::Run(argv, options);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    std::ifstream in(caught);
    Outcome o;
    o.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    o.code = run.end == os::RunResult::End::Exited ? run.code : -1000;
    return o;
  }

  TempFolder work_;
};

TEST_F(PagesnapTest, OneImagePerPageInPageOrderAndTheirNumberAsExitCode) {
  const Outcome o = Run({Pdf("three.pdf", 3).string(), out().string() + "/"});
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.errors, "");
  ASSERT_EQ(ListNames(out()),
            (std::vector<std::string>{"Image0000.jpg", "Image0001.jpg", "Image0002.jpg"}));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const auto picture = ReadJpeg(out() / ("Image000" + std::to_string(i) + ".jpg"));
    ASSERT_TRUE(picture);
    // 96 dpi: 72 x 36 points are 96 x 48 pixels.
    EXPECT_EQ(picture->width, 96);
    EXPECT_EQ(picture->height, 48);
    EXPECT_TRUE(Near(picture->At(48, 24), kColours[i]));
  }
}

TEST_F(PagesnapTest, NumbersFromTheStartNumber) {
  struct Case {
    std::vector<std::string> start;
    std::vector<std::string> names;
  } cases[] = {
      {{}, {"Image0000.jpg", "Image0001.jpg"}},     {{"0"}, {"Image0000.jpg", "Image0001.jpg"}},
      {{"7"}, {"Image0007.jpg", "Image0008.jpg"}},  {{"9999"}, {"Image10000.jpg", "Image9999.jpg"}},
      {{"-1"}, {"Image0000.jpg", "Image0001.jpg"}},
  };
  const fs::path pdf = Pdf("two.pdf", 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start.empty() ? "none" : c.start[0]);
    fs::remove_all(out());
    fs::create_directory(out());
    std::vector<std::string> args = {pdf.string(), out().string()};
    args.insert(args.end(), c.start.begin(), c.start.end());
    EXPECT_EQ(Run(args).code, 2);
    EXPECT_EQ(ListNames(out()), c.names);
  }
}

TEST_F(PagesnapTest, ALongRunNeverLetsALaterOneOverwriteItsImages) {
  // 300 images cannot be told by an exit code: the next sheet's start number falls short.
  const Outcome first = Run({Pdf("long.pdf", 300, 10, 10).string(), out().string() + "/", "0"});
  EXPECT_EQ(first.code, 255);
  EXPECT_EQ(ListNames(out()).size(), 300u);
  const auto before = fs::last_write_time(out() / "Image0255.jpg");
  const Outcome second = Run({Pdf("three.pdf", 3).string(), out().string() + "/", "255"});
  EXPECT_EQ(second.code, 3);
  const auto names = ListNames(out());
  ASSERT_EQ(names.size(), 303u);
  EXPECT_EQ(names[300], "Image0300.jpg");
  EXPECT_EQ(names[302], "Image0302.jpg");
  EXPECT_EQ(fs::last_write_time(out() / "Image0255.jpg"), before);
  const auto picture = ReadJpeg(out() / "Image0300.jpg");
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 96);
}

// The Excel road runs the tool once per sheet into one folder, each run from the sum of the
// earlier exit codes: the folder then lists the images sheet after sheet, page after page.
TEST_F(PagesnapTest, TheImagesOfAWorkbooksSheetsListInPageOrder) {
  const std::vector<int> workbooks[] = {
      {2, 3, 1}, {300, 3},  // the first exit code falls short of its 300 images
  };
  for (const std::vector<int>& sheets : workbooks) {
    SCOPED_TRACE(sheets.size());
    fs::remove_all(out());
    fs::create_directory(out());
    struct Page {
      int width;  // each sheet's pages are of a width of their own
      Rgb colour;
    };
    std::vector<Page> pages;
    int start = 0;
    for (std::size_t sheet = 0; sheet < sheets.size(); ++sheet) {
      const int points = 12 + 6 * static_cast<int>(sheet);
      const fs::path pdf = Pdf(std::to_string(sheet + 1) + ".pdf", sheets[sheet], points, 6);
      const Outcome o = Run({pdf.string(), out().string() + "/", std::to_string(start)});
      ASSERT_EQ(o.errors, "");
      start += o.code;
      for (int i = 0; i < sheets[sheet]; ++i) pages.push_back({points * 96 / 72, kColours[i % 3]});
    }
    const auto files = rtl::ListFiles(rtl::Utf8ToUnicode(out().string()));
    ASSERT_EQ(files.size(), pages.size());
    for (std::size_t n = 0; n < files.size(); ++n) {
      SCOPED_TRACE(n);
      char name[32];
      std::snprintf(name, sizeof name, "Image%04zu.jpg", n);
      const fs::path file = rtl::UnicodeToUtf8(files[n]);
      EXPECT_EQ(file.filename().string(), name);
      const auto picture = ReadJpeg(file);
      ASSERT_TRUE(picture);
      EXPECT_EQ(picture->width, pages[n].width);
      EXPECT_TRUE(Near(picture->At(picture->width / 2, picture->height / 2), pages[n].colour));
    }
  }
}

TEST_F(PagesnapTest, WithoutOutputFolderWritesIntoTheWorkingFolder) {
  const fs::path pdf = Pdf("one.pdf", 1);
  const fs::path old = fs::current_path();
  fs::current_path(out());
  const Outcome o = Run({pdf.string(), ""});
  fs::current_path(old);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(ListNames(out()), (std::vector<std::string>{"Image0000.jpg"}));
}

TEST_F(PagesnapTest, WhatCannotBeReadWritesNothingAndEndsWithZero) {
  const fs::path broken = work_.path() / "broken.pdf";
  std::ofstream(broken) << "%PDF-1.4 this is not really a PDF\n";
  const fs::path pdf = Pdf("two.pdf", 2);
  const struct {
    const char* name;
    std::vector<std::string> args;
  } cases[] = {
      {"broken PDF", {broken.string(), out().string()}},
      {"missing PDF", {(work_.path() / "none.pdf").string(), out().string()}},
      {"missing folder", {pdf.string(), (work_.path() / "none").string()}},
      {"start number that is no number", {pdf.string(), out().string(), "4x"}},
      {"no folder argument", {pdf.string()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Run(c.args);
    EXPECT_EQ(o.code, 0);
    EXPECT_NE(o.errors.find("Pagesnap: "), std::string::npos) << o.errors;
    EXPECT_TRUE(fs::is_empty(out()));
  }
}

}  // namespace
