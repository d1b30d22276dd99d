#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "OfficeTestSupport.h"
#include "office/PdfPages.h"

namespace {

namespace fs = std::filesystem;

// A one-page PDF (A4) whose page draws `content`.
std::string OnePagePdf(const std::string& content) {
  return office_test::PdfOfObjects({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
  });
}

// What Calc prints for a sheet with nothing on it is one page that draws nothing; anything
// that leaves a mark, however small, is a page.
TEST(PdfPages, APageIsBlankOnlyWhenNothingOnItShows) {
  const struct {
    const char* name;
    std::string content;
    bool blank;
  } cases[] = {
      {"no content", "", true},
      {"a line width only, as Calc writes it", "0.1 w", true},
      {"white on white", "1 1 1 rg 0 0 595 842 re f", true},
      {"a hairline", "0.1 w 100 400 m 300 400 l S", false},
      {"a light grey point", "0.9 g 300 300 0.5 0.5 re f", false},
      {"a mark in a corner", "0 g 594 841 1 1 re f", false},
  };
  office_test::TempFolder work;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = work.path() / "page.pdf";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << OnePagePdf(c.content);
    const auto pdf = office::PdfPages::Load(path.string());
    ASSERT_TRUE(pdf);
    ASSERT_EQ(1, pdf->PageCount());
    EXPECT_EQ(c.blank, pdf->PageIsBlank(1));
    EXPECT_FALSE(pdf->PageIsBlank(2));
  }
}

}  // namespace
