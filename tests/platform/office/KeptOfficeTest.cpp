// The LibreOffice instance kept ready between conversions, on LibreOffice itself: what it
// converts equals a cold conversion, it survives nothing that would give a wrong or hanging
// conversion, and nothing of it outlives its idle end, its user's logout or a test.

#include <automation/Com.h>
#include <converter/Converter.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

#include "KeptOffice.h"
#include "LibreOffice.h"
#include "OfficeTestSupport.h"
#include "office/Servers.h"

extern char** environ;

namespace {

using namespace office_test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const Rgb kWhite{255, 255, 255};
const Rgb kThreeColours[] = {{255, 0, 0}, {0, 192, 0}, {0, 0, 255}};
const Rgb kTwoColours[] = {{255, 255, 0}, {255, 0, 255}};

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return "<no file>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Ended, or a zombie waiting for init.
bool Gone(pid_t pid) {
  if (kill(pid, 0) != 0) return errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The pipe's name appears in the kernel's table of Unix sockets once for the listener and once
// more for each connection not yet taken.
int PipeEntries(const fs::path& pipe) {
  std::ifstream in("/proc/net/unix");
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    count += line.size() > pipe.string().size() && line.ends_with(" " + pipe.string());
  }
  return count;
}

// A private home, cache, runtime and temporary folder for every LibreOffice of the test; the
// instance is the test's own and ends with it.
class KeptOffice : public ::testing::Test {
 protected:
  void SetUp() override {
    VM_NEED_LIBREOFFICE();
    ASSERT_FALSE(work_.path().empty());
    for (const char* d : {"run", "home", "cache", "tmp", "out"}) {
      ASSERT_TRUE(fs::create_directory(work_.path() / d));
    }
    fs::permissions(work_.path() / "run", fs::perms::owner_all, fs::perm_options::replace);
    options_.keeper = VM_OFFICE_KEEPER;
    options_.profileCache = (work_.path() / "cache").string();
    launcher_ = office::detail::LauncherFor(office::FindSoffice());
    status_ = converter::StatusFilePath();
    fs::remove(status_);
  }
  void TearDown() override {
    office::EndKeptOffice(options_);
    // Whatever outlived that is a fault, and still must not outlive the test.
    for (pid_t pid : seen_) {
      if (WaitFor([pid] { return Gone(pid); }, 10s)) continue;
      ADD_FAILURE() << "process " << pid << " outlived the test";
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
    }
    automation::UnregisterClass(u"PowerPoint.Application");
    automation::UnregisterClass(u"Excel.Application");
    fs::remove(status_);
  }

  std::optional<office::detail::KeptProcesses> Kept() {
    auto p = office::detail::FindKeptOffice(launcher_);
    if (p) {
      seen_.push_back(p->keeper);
      seen_.push_back(p->office);
    }
    return p;
  }

  // The PowerPoint road into a fresh folder `name`; its images in name order.
  std::vector<Picture> Road(const office::ConvertOptions& options, const fs::path& deck,
                            const std::string& name) {
    const fs::path out = work_.path() / name;
    fs::create_directory(out);
    EXPECT_TRUE(office::RegisterOfficeServers(options));
    EXPECT_EQ(0, converter::ConvertPowerPoint(U16(deck.string()), U16(out.string() + "/")));
    EXPECT_EQ("success\r\n", ReadText(status_));
    std::vector<Picture> pictures;
    for (const std::string& image : ListNames(out)) {
      auto picture = ReadJpeg(out / image);
      EXPECT_TRUE(picture) << image;
      if (picture) pictures.push_back(std::move(*picture));
    }
    return pictures;
  }

  static void ExpectThreeSlides(const std::vector<Picture>& pictures) {
    ASSERT_EQ(3u, pictures.size());
    for (std::size_t n = 0; n < 3; ++n) {
      EXPECT_EQ(793, pictures[n].width);
      EXPECT_EQ(446, pictures[n].height);
      EXPECT_TRUE(Near(pictures[n].At(200, 223), kThreeColours[n])) << n;
      EXPECT_TRUE(Near(pictures[n].At(600, 223), kWhite)) << n;
    }
  }

  TempFolder work_;
  ScopedEnv run_{"XDG_RUNTIME_DIR", (work_.path() / "run").string()};
  ScopedEnv home_{"HOME", (work_.path() / "home").string()};
  ScopedEnv cache_{"XDG_CACHE_HOME", (work_.path() / "cache").string()};
  ScopedEnv tmpdir_{"TMPDIR", (work_.path() / "tmp").string()};
  office::ConvertOptions options_;
  std::string launcher_;
  std::string status_;
  std::vector<pid_t> seen_;
};

TEST_F(KeptOffice, LaterConversionsReuseOneInstanceAndEqualAColdOnePixelForPixel) {
  office::ConvertOptions cold = options_;
  cold.keeper = "";
  const fs::path deck = kDataDir / "three-slides.pptx";
  const std::vector<Picture> reference = Road(cold, deck, "cold");
  ExpectThreeSlides(reference);
  EXPECT_FALSE(Kept());

  const std::vector<Picture> first = Road(options_, deck, "first");
  const auto kept = Kept();
  ASSERT_TRUE(kept) << "no instance kept";
  const std::vector<Picture> second = Road(options_, deck, "second");
  const auto still = Kept();
  ASSERT_TRUE(still);
  EXPECT_EQ(kept->office, still->office) << "the second conversion started another office";
  for (const auto* warm : {&first, &second}) {
    ASSERT_EQ(reference.size(), warm->size());
    for (std::size_t n = 0; n < reference.size(); ++n) {
      EXPECT_EQ(reference[n].width, (*warm)[n].width);
      EXPECT_EQ(reference[n].height, (*warm)[n].height);
      EXPECT_TRUE(reference[n].rgb == (*warm)[n].rgb) << "slide " << n + 1 << " differs";
    }
  }
  // The instance keeps its files in its own folders, none in the caller's temporary folder.
  EXPECT_TRUE(fs::is_empty(work_.path() / "tmp"));
}

// The command line reaches the instance as the arguments it was: commas part the arguments on
// the pipe and a backslash escapes, so names holding either must arrive whole.
TEST_F(KeptOffice, NamesWithCommasAndBackslashesReachTheInstanceWhole) {
  const fs::path folder = work_.path() / "a,b\\c, d\\,e";
  ASSERT_TRUE(fs::create_directory(folder));
  fs::copy_file(kDataDir / "three-slides.pptx", folder / "x,y\\z.pptx");
  const auto before = office::detail::KeptRunCounts();
  ExpectThreeSlides(Road(options_, folder / "x,y\\z.pptx", "o,u\\t"));
  const auto after = office::detail::KeptRunCounts();
  EXPECT_EQ(1, after.converted - before.converted);
  EXPECT_EQ(0, after.failed - before.failed);
  EXPECT_EQ(0, after.unavailable - before.unavailable);
}

// LibreOffice takes a profile that has not seen its version for a freshly updated one and goes
// through the user's home for older profiles to take settings from, marking each it found. Ours
// never do: neither the set-up run, the kept instance nor a cold run from the template.
TEST_F(KeptOffice, NoRunOfOursTouchesTheUsersOlderProfiles) {
  const fs::path old = work_.path() / "home" / ".openoffice.org" / "3";
  ASSERT_TRUE(fs::create_directories(old / "user" / "config"));
  office::ConvertOptions cold = options_;
  cold.keeper = "";
  ExpectThreeSlides(Road(cold, kDataDir / "three-slides.pptx", "cold1"));
  ExpectThreeSlides(Road(options_, kDataDir / "three-slides.pptx", "kept"));
  ExpectThreeSlides(Road(cold, kDataDir / "three-slides.pptx", "cold2"));
  EXPECT_EQ((std::vector<std::string>{"user"}), ListNames(old));
  EXPECT_EQ((std::vector<std::string>{"config"}), ListNames(old / "user"));
  EXPECT_TRUE(fs::is_empty(old / "user" / "config"));
}

TEST_F(KeptOffice, TheExcelRoadPrintsEverySheetOnOneInstance) {
  // The first workbook starts the instance; reading the sheets and printing them both go to it.
  const auto before = office::detail::KeptRunCounts();
  EXPECT_TRUE(office::RegisterOfficeServers(options_));
  const fs::path out = work_.path() / "out";
  EXPECT_EQ(0, converter::ConvertExcel(U16((kDataDir / "three-sheets.xlsx").string()),
                                       U16(out.string() + "/")));
  EXPECT_EQ("success\r\n", ReadText(status_));
  for (const char* pdf : {"1.pdf", "2.pdf", "3.pdf"}) EXPECT_TRUE(fs::exists(out / pdf)) << pdf;
  EXPECT_TRUE(Kept());
  const auto after = office::detail::KeptRunCounts();
  EXPECT_EQ(2, after.converted - before.converted);
  EXPECT_EQ(0, after.failed - before.failed);
  EXPECT_EQ(0, after.unavailable - before.unavailable);
}

TEST_F(KeptOffice, AnInstanceKilledInTheMiddleOfAConversionGivesWayToACorrectRetry) {
  ExpectThreeSlides(Road(options_, kDataDir / "three-slides.pptx", "before"));
  const auto kept = Kept();
  ASSERT_TRUE(kept);
  // Stopped, the instance takes no connection: the next conversion's hand-over waits in its pipe.
  const fs::path pipe = office::detail::KeptOfficePipe(launcher_);
  const int idle = PipeEntries(pipe);
  ASSERT_EQ(1, idle);
  ASSERT_EQ(0, kill(kept->office, SIGSTOP));
  auto conversion = std::async(
      std::launch::async, [&] { return Road(options_, kDataDir / "three-slides.pptx", "during"); });
  ASSERT_TRUE(WaitFor([&] { return PipeEntries(pipe) > idle; }, 60s)) << "no hand-over came";
  ASSERT_EQ(0, kill(-kept->office, SIGKILL));
  ExpectThreeSlides(conversion.get());
  EXPECT_TRUE(WaitFor([&] { return Gone(kept->keeper) && Gone(kept->office); }, 30s));
  // The next conversion is kept again, on a new instance.
  ExpectThreeSlides(Road(options_, kDataDir / "three-slides.pptx", "after"));
  const auto again = Kept();
  ASSERT_TRUE(again);
  EXPECT_NE(kept->office, again->office);
}

TEST_F(KeptOffice, AnUnresponsiveInstanceIsKilledAfterTheBoundAndTheConversionRetriedCold) {
  options_.timeout = 30s;
  ExpectThreeSlides(Road(options_, kDataDir / "three-slides.pptx", "before"));
  const auto kept = Kept();
  ASSERT_TRUE(kept);
  ASSERT_EQ(0, kill(kept->office, SIGSTOP));
  ExpectThreeSlides(Road(options_, kDataDir / "three-slides.pptx", "hung"));
  EXPECT_TRUE(WaitFor([&] { return Gone(kept->keeper) && Gone(kept->office); }, 30s));
  EXPECT_FALSE(Kept());
}

// Two clients importing at once: two converters, each in a run folder of its own, share the
// instance; each folder gets its own deck and its own status.
TEST_F(KeptOffice, TwoConvertersAtOnceEachGetTheirOwnDeck) {
  struct Run {
    fs::path deck;
    fs::path root;
    pid_t pid = -1;
  } runs[] = {{kDataDir / "three-slides.pptx", work_.path() / "a"},
              {kDataDir / "two-slides.pptx", work_.path() / "b"}};
  for (Run& r : runs) {
    fs::create_directories(r.root / "toimg");
    fs::create_directories(r.root / "out");
    fs::copy_file(VM_SLIDEPRESS, r.root / "toimg" / "Slidepress");
    fs::copy_file(VM_OFFICE_KEEPER, r.root / "toimg" / "Officekeeper");
  }
  for (Run& r : runs) {
    std::vector<std::string> args = {(r.root / "toimg" / "Slidepress").string(), r.deck.string(),
                                     (r.root / "out").string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(0, posix_spawn(&r.pid, argv[0], nullptr, nullptr, argv.data(), environ));
  }
  for (Run& r : runs) {
    int status = -1;
    ASSERT_EQ(r.pid, waitpid(r.pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("success\r\n", ReadText(r.root / "toimg" / "pdf_temp"));
  }
  const fs::path a = runs[0].root / "out";
  const fs::path b = runs[1].root / "out";
  ASSERT_EQ((std::vector<std::string>{"Picture001.jpg", "Picture002.jpg", "Picture003.jpg"}),
            ListNames(a));
  ASSERT_EQ((std::vector<std::string>{"Picture001.jpg", "Picture002.jpg"}), ListNames(b));
  std::vector<Picture> three;
  for (const std::string& n : ListNames(a)) three.push_back(*ReadJpeg(a / n));
  ExpectThreeSlides(three);
  for (int n = 0; n < 2; ++n) {
    const auto picture = ReadJpeg(b / ListNames(b)[static_cast<std::size_t>(n)]);
    ASSERT_TRUE(picture);
    EXPECT_EQ(566, picture->width);
    EXPECT_EQ(425, picture->height);
    EXPECT_TRUE(Near(picture->At(100, 212), kWhite)) << n;
    EXPECT_TRUE(Near(picture->At(450, 212), kTwoColours[n])) << n;
  }
  EXPECT_TRUE(Kept());
}

TEST_F(KeptOffice, AfterItsIdlePeriodTheInstanceEndsAndLeavesNothing) {
  ScopedEnv idle("VM_OFFICE_IDLE_MS", "500");
  ExpectThreeSlides(Road(options_, kDataDir / "three-slides.pptx", "out1"));
  const auto kept = Kept();
  ASSERT_TRUE(kept);
  EXPECT_TRUE(WaitFor([&] { return Gone(kept->keeper) && Gone(kept->office); }, 60s));
  EXPECT_FALSE(Kept());
  const fs::path folder = work_.path() / "run" / "vellumark-office" /
                          ("libreoffice-" + office::detail::BuildKey(launcher_));
  EXPECT_FALSE(fs::exists(folder / "profile"));
  EXPECT_FALSE(fs::exists(folder / "tmp"));
  // Its pipe went with it.
  EXPECT_FALSE(fs::exists(office::detail::KeptOfficePipe(launcher_)));
}

// At logout logind removes the user's runtime folder; the instance goes with it.
TEST_F(KeptOffice, TheInstanceEndsWhenTheRuntimeFolderGoes) {
  ExpectThreeSlides(Road(options_, kDataDir / "three-slides.pptx", "out1"));
  const auto kept = Kept();
  ASSERT_TRUE(kept);
  fs::remove_all(work_.path() / "run");
  EXPECT_TRUE(WaitFor([&] { return Gone(kept->keeper) && Gone(kept->office); }, 30s));
}

}  // namespace
