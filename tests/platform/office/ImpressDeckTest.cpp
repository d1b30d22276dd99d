#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

#include "LibreOffice.h"
#include "OfficeTestSupport.h"
#include "office/ImpressDeck.h"

namespace {

using namespace office_test;
namespace fs = std::filesystem;

const Rgb kWhite{255, 255, 255};
const Rgb kSlideColour[] = {{255, 0, 0}, {0, 192, 0}, {0, 0, 255}};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> ReadArgs(const fs::path& log) {
  std::ifstream in(log, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::size_t start = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] == '\0') {
      args.push_back(all.substr(start, i - start));
      start = i + 1;
    }
  }
  return args;
}

// Runs against the fake soffice, which hands back the committed three-slide PDF; a private
// TMPDIR shows whether anything of a conversion stays behind.
class DeckWithFakeOffice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(work_.path().empty());
    fs::create_directory(tmp());
    document_ = work_.path() / "deck.pptx";
    fs::copy_file(kDataDir / "three-slides.pptx", document_);
  }
  fs::path tmp() const { return work_.path() / "tmp"; }
  std::vector<std::string> TmpLeft() const {
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(tmp())) left.push_back(e.path().string());
    return left;
  }
  std::unique_ptr<office::ImpressDeck> OpenWithPdf(const std::string& document) {
    ScopedEnv pdf("VM_FAKE_SOFFICE_PDF", (kDataDir / "three-slides.pdf").string());
    std::string error;
    auto deck = office::ImpressDeck::Open(document, OfficeOptions(), &error);
    EXPECT_TRUE(deck) << error;
    return deck;
  }

  TempFolder work_;
  ScopedEnv tmpdir_{"TMPDIR", (work_.path() / "tmp").string()};
  fs::path document_;
};

TEST_F(DeckWithFakeOffice, PassesTheDocumentAsOneAbsoluteArgumentWithAPrivateProfile) {
  // Every character a shell would act on, in a name that also starts like an option.
  const fs::path odd = work_.path() / "-a b \"q\" 'p'; $(touch pwned) `touch pwned2` & | > x.pptx";
  fs::copy_file(document_, odd);
  const fs::path log = work_.path() / "args";
  ScopedEnv args("VM_FAKE_SOFFICE_ARGS", log.string());
  ScopedCwd cwd(work_.path());
  auto deck = OpenWithPdf(odd.filename().string());
  ASSERT_TRUE(deck);
  EXPECT_EQ(3, deck->PageCount());

  const std::vector<std::string> got = ReadArgs(log);
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(odd.string(), got.back());  // made absolute, one argument, byte for byte
  const std::string profile =
      "-env:UserInstallation=file://" + tmp().string() + "/vellumark-office-";
  EXPECT_EQ(profile, got.front().substr(0, profile.size()));
  auto at = [&](const std::string& a) { return std::find(got.begin(), got.end(), a); };
  ASSERT_NE(got.end(), at("--convert-to"));
  EXPECT_EQ("pdf:impress_pdf_Export", *(at("--convert-to") + 1));
  EXPECT_NE(got.end(), at("--headless"));
  ASSERT_NE(got.end(), at("--outdir"));
  EXPECT_EQ(0u, (at("--outdir") + 1)->find(tmp().string()));

  EXPECT_FALSE(fs::exists(work_.path() / "pwned"));
  EXPECT_FALSE(fs::exists(work_.path() / "pwned2"));
  EXPECT_TRUE(TmpLeft().empty()) << "conversion files left behind";
}

TEST_F(DeckWithFakeOffice, GivesPageSizesAndRendersExactSizes) {
  auto deck = OpenWithPdf(document_.string());
  ASSERT_TRUE(deck);
  ASSERT_EQ(3, deck->PageCount());
  EXPECT_EQ(0, deck->Pdf().empty() ? 1 : std::string(deck->Pdf().data(), 4).compare("%PDF"));
  for (int n = 1; n <= 3; ++n) {
    const auto size = deck->PageSizeAt(n);
    ASSERT_TRUE(size);
    EXPECT_NEAR(793.757, size->width, 0.01);
    EXPECT_NEAR(446.513, size->height, 0.01);
  }
  EXPECT_FALSE(deck->PageSizeAt(0));
  EXPECT_FALSE(deck->PageSizeAt(4));

  // The left half of each slide is coloured: a per-axis stretch keeps it the left half.
  struct Case {
    int page, width, height;
  } cases[] = {{1, 793, 446}, {2, 200, 100}, {3, 100, 400}, {2, 1, 1}, {1, 3001, 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.page << ": " << c.width << "x" << c.height);
    const fs::path out = work_.path() / "page.jpg";
    std::string error;
    ASSERT_TRUE(deck->ExportJpeg(c.page, out.string(), c.width, c.height, &error)) << error;
    const auto picture = ReadJpeg(out);
    ASSERT_TRUE(picture);
    EXPECT_EQ(c.width, picture->width);
    EXPECT_EQ(c.height, picture->height);
    if (c.width >= 8) {
      const Rgb colour = kSlideColour[c.page - 1];
      EXPECT_TRUE(Near(picture->At(c.width / 4, c.height / 2), colour));
      EXPECT_TRUE(Near(picture->At(c.width * 3 / 4, c.height / 2), kWhite));
      EXPECT_TRUE(Near(picture->At(c.width / 2 - 3, c.height - 1), colour));
      EXPECT_TRUE(Near(picture->At(c.width / 2 + 3, 0), kWhite));
    }
  }
}

// Exports at the pages' own size have the pages after them rendered ahead on other threads; in
// whatever order and size they are asked for, each gives the bytes that page gives when it is
// the first one exported (rendered by the caller), and a deck may go while pages are on their way.
TEST_F(DeckWithFakeOffice, PagesRenderedAheadEqualPagesRenderedWhenAsked) {
  struct Export {
    int page, width, height;
  };
  const auto exportOnce = [&](office::ImpressDeck& deck, const Export& e) {
    const fs::path out = work_.path() / "page.jpg";
    std::string error;
    EXPECT_TRUE(deck.ExportJpeg(e.page, out.string(), e.width, e.height, &error)) << error;
    return ReadAll(out);
  };
  const auto firstExport = [&](const Export& e) {
    auto deck = OpenWithPdf(document_.string());
    return deck ? exportOnce(*deck, e) : std::string();
  };
  const std::vector<std::vector<Export>> orders = {
      {{1, 793, 446}, {2, 793, 446}, {3, 793, 446}},
      {{2, 793, 446}, {1, 793, 446}, {3, 793, 446}},
      {{3, 793, 446}, {3, 793, 446}, {1, 793, 446}, {2, 793, 446}},
      {{1, 793, 446}, {2, 200, 100}, {3, 793, 446}, {2, 793, 446}},
  };
  for (const auto& order : orders) {
    auto deck = OpenWithPdf(document_.string());
    ASSERT_TRUE(deck);
    for (std::size_t i = 0; i < order.size(); ++i) {
      const Export& e = order[i];
      SCOPED_TRACE(::testing::Message() << "export " << i << ": page " << e.page);
      const std::string got = exportOnce(*deck, e);
      EXPECT_FALSE(got.empty());
      EXPECT_TRUE(got == firstExport(e)) << "differs from the page rendered when asked";
    }
  }
  auto gone = OpenWithPdf(document_.string());
  ASSERT_TRUE(gone);
  exportOnce(*gone, {1, 793, 446});
  gone.reset();
}

TEST_F(DeckWithFakeOffice, RefusedExportsLeaveNoFile) {
  auto deck = OpenWithPdf(document_.string());
  ASSERT_TRUE(deck);
  const std::string out = (work_.path() / "page.jpg").string();
  struct Case {
    int page, width, height;
  } cases[] = {{0, 10, 10}, {4, 10, 10},    {1, 0, 10},
               {1, 10, -1}, {1, 40000, 10}, {1, 30000, 30000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.page << ": " << c.width << "x" << c.height);
    EXPECT_FALSE(deck->ExportJpeg(c.page, out, c.width, c.height));
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_FALSE(deck->ExportJpeg(1, (work_.path() / "missing" / "page.jpg").string(), 10, 10));
}

TEST_F(DeckWithFakeOffice, FailedRunsGiveNoDeck) {
  struct Case {
    const char* what;
    std::string document;
    std::string soffice;
    std::string exitCode;
    bool pdf;
  } cases[] = {
      {"missing document", (work_.path() / "none.pptx").string(), kFakeSoffice, "0", true},
      {"empty path", "", kFakeSoffice, "0", true},
      {"no PDF made", document_.string(), kFakeSoffice, "0", false},
      {"office failed", document_.string(), kFakeSoffice, "1", true},
      {"office missing", document_.string(), (work_.path() / "no-soffice").string(), "0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv code("VM_FAKE_SOFFICE_EXIT", c.exitCode);
    ScopedEnv pdf("VM_FAKE_SOFFICE_PDF", c.pdf ? (kDataDir / "three-slides.pdf").string()
                                               : (work_.path() / "none.pdf").string());
    std::string error;
    EXPECT_FALSE(office::ImpressDeck::Open(c.document, OfficeOptions(c.soffice), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(TmpLeft().empty());
  }
}

TEST_F(DeckWithFakeOffice, HungOfficeIsKilledWithItsChildrenAfterTheTimeOut) {
  const fs::path pidFile = work_.path() / "child.pid";
  ScopedEnv hang("VM_FAKE_SOFFICE_HANG", pidFile.string());
  const office::ConvertOptions options =
      OfficeOptions(kFakeSoffice, std::chrono::milliseconds(500));
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  EXPECT_FALSE(office::ImpressDeck::Open(document_.string(), options, &error));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_NE(std::string::npos, error.find("time")) << error;
  EXPECT_TRUE(TmpLeft().empty());

  pid_t child = 0;
  std::ifstream(pidFile) >> child;
  ASSERT_GT(child, 0);
  // The orphan is reaped by init shortly after the kill; a zombie counts as gone.
  auto gone = [child] {
    if (kill(child, 0) != 0) return errno == ESRCH;
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string pid, name, state;
    stat >> pid >> name >> state;
    return state == "Z";
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!gone() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(gone()) << "child " << child << " survived";
}

TEST_F(DeckWithFakeOffice, KeepsASetUpProfileForLaterRunsWithoutItsSettings) {
  office::ConvertOptions options = OfficeOptions();
  const fs::path cache = work_.path() / "cache";
  options.profileCache = cache.string();
  const fs::path seen = work_.path() / "seen";
  ScopedEnv pdf("VM_FAKE_SOFFICE_PDF", (kDataDir / "three-slides.pdf").string());
  ScopedEnv seenEnv("VM_FAKE_SOFFICE_SEEN", seen.string());
  {
    ScopedEnv setup("VM_FAKE_SOFFICE_SETUP", "1");
    ASSERT_TRUE(office::ImpressDeck::Open(document_.string(), options));
  }
  EXPECT_EQ("", ReadAll(seen));  // the first run starts from nothing
  const std::vector<std::string> kept = ListNames(cache);
  ASSERT_EQ(1u, kept.size());
  EXPECT_EQ(0u, kept[0].find("libreoffice-profile-"));
  EXPECT_EQ((std::vector<std::string>{"extensions"}), ListNames(cache / kept[0] / "user"));

  ASSERT_TRUE(office::ImpressDeck::Open(document_.string(), options));
  EXPECT_EQ("extensions\n", ReadAll(seen));
  EXPECT_EQ(kept, ListNames(cache));

  // A failed run keeps nothing.
  fs::remove_all(cache);
  ScopedEnv setup("VM_FAKE_SOFFICE_SETUP", "1");
  ScopedEnv fail("VM_FAKE_SOFFICE_EXIT", "1");
  EXPECT_FALSE(office::ImpressDeck::Open(document_.string(), options));
  EXPECT_TRUE(ListNames(cache).empty());
  EXPECT_TRUE(TmpLeft().empty());
}

// LibreOffice itself: a name full of shell syntax opens while a second conversion runs beside
// it; the first profile that worked is kept, and a later run starts from it.
TEST(DeckOnLibreOffice, OddNameAndParallelConversionOpenThenTheKeptProfileServes) {
  VM_NEED_LIBREOFFICE();
  TempFolder work;
  const fs::path tmp = work.path() / "tmp";
  fs::create_directory(tmp);
  ScopedEnv tmpdir("TMPDIR", tmp.string());
  ScopedEnv home("HOME", (work.path() / "home").string());
  ScopedEnv cache("XDG_CACHE_HOME", (work.path() / "xdg-cache").string());
  const fs::path odd = work.path() / "deck \"one\" 'two'; $(mkdir pwned) `mkdir pwned2` #.pptx";
  const fs::path plain = work.path() / "plain.pptx";
  fs::copy_file(kDataDir / "three-slides.pptx", odd);
  fs::copy_file(kDataDir / "three-slides.pptx", plain);
  ScopedCwd cwd(work.path());
  office::ConvertOptions options;
  options.profileCache = (work.path() / "cache").string();

  auto open = [&options](fs::path p) {
    std::string error;
    auto deck = office::ImpressDeck::Open(p.string(), options, &error);
    return std::make_pair(deck ? deck->PageCount() : -1, error);
  };
  auto first = std::async(std::launch::async, open, odd);
  auto second = std::async(std::launch::async, open, plain);
  const auto [oddPages, oddError] = first.get();
  const auto [plainPages, plainError] = second.get();
  EXPECT_EQ(3, oddPages) << oddError;
  EXPECT_EQ(3, plainPages) << plainError;
  EXPECT_FALSE(fs::exists(work.path() / "pwned"));
  EXPECT_FALSE(fs::exists(work.path() / "pwned2"));
  EXPECT_TRUE(fs::is_empty(tmp));

  const std::vector<std::string> kept = ListNames(work.path() / "cache");
  ASSERT_EQ(1u, kept.size());  // one template, no staging folder left
  EXPECT_FALSE(fs::exists(work.path() / "cache" / kept[0] / "user" / "registrymodifications.xcu"));
  const auto [again, againError] = open(plain);
  EXPECT_EQ(3, again) << againError;
  EXPECT_TRUE(fs::is_empty(tmp));
}

}  // namespace
