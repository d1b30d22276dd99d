#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "TestSupport.h"
#include "converter/Converter.h"

namespace converter {
namespace {

namespace fs = std::filesystem;

struct Taken {
  std::string road;
  std::u16string path;
  std::u16string folder;
};

// Roads that only note which of them ran and what they were given.
Roads RecordingRoads(std::optional<Taken>& taken) {
  auto road = [&taken](const char* name) {
    return [&taken, name](const std::u16string& path, const std::u16string& folder) {
      EXPECT_FALSE(taken.has_value()) << "a second road ran";
      taken = Taken{name, path, folder};
      return 1;  // the entry ignores it
    };
  };
  return Roads{road("PowerPoint"), road("Word"), road("Excel")};
}

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::RemoveStatusFile(); }
  void TearDown() override { testsupport::RemoveStatusFile(); }
};

TEST_F(EntryTest, RoadFollowsTheCaseSensitiveEnding) {
  struct Case {
    std::u16string path;
    const char* road;  // nullptr: no road
  };
  const Case cases[] = {
      {u"x.pptx", "PowerPoint"}, {u"X.PPTX", nullptr},   {u"notappt", "PowerPoint"},
      {u"a.ppt", "PowerPoint"},  {u"ppt", "PowerPoint"}, {u"a.PPT", nullptr},
      {u"doc", "Word"},          {u"b.docx", "Word"},    {u"b.DOC", nullptr},
      {u"c.xls", "Excel"},       {u"c.xlsx", "Excel"},   {u"xls", "Excel"},
      {u"pt", nullptr},          {u"oc", nullptr},       {u"", nullptr},
      {u"c.pdf", nullptr},       {u"x.pptx ", nullptr},  {u"deck.ppt.bak", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.path.begin(), c.path.end())));
    std::optional<Taken> taken;
    testsupport::CapturedStdout out;
    const std::u16string args[] = {u"Slidepress", c.path, u"/o"};
    EXPECT_EQ(ConverterMain(args, RecordingRoads(taken)), 0);
    if (c.road == nullptr) {
      EXPECT_FALSE(taken.has_value());
    } else {
      ASSERT_TRUE(taken.has_value());
      EXPECT_EQ(taken->road, c.road);
      EXPECT_EQ(taken->path, c.path);
    }
    EXPECT_EQ(out.Text(), "");
  }
}

TEST_F(EntryTest, NoRoadWritesNothing) {
  testsupport::CapturedStdout out;
  const std::u16string args[] = {u"Slidepress", u"X.PPTX", u"/o"};
  EXPECT_EQ(ConverterMain(args), 0);
  EXPECT_EQ(out.Text(), "");
  EXPECT_FALSE(fs::exists(testsupport::StatusFile()));
}

TEST_F(EntryTest, OutputFolderGainsOneSeparator) {
  struct Case {
    std::vector<std::u16string> args;
    std::u16string folder;
  };
  const Case cases[] = {
      {{u"Slidepress", u"a.ppt"}, u""},
      {{u"Slidepress", u"a.ppt", u"/tmp/out"}, u"/tmp/out/"},
      {{u"Slidepress", u"a.ppt", u"/tmp/out/"}, u"/tmp/out//"},
      {{u"Slidepress", u"a.ppt", u""}, u"/"},
      {{u"Slidepress", u"a.ppt", u"o", u"x.doc", u"more"}, u"o/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size());
    std::optional<Taken> taken;
    EXPECT_EQ(ConverterMain(c.args, RecordingRoads(taken)), 0);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->road, "PowerPoint");
    EXPECT_EQ(taken->path, u"a.ppt");
    EXPECT_EQ(taken->folder, c.folder);
  }
}

TEST_F(EntryTest, NoArgumentShowsUsageAndWaitsForOneCharacter) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::write(pipeFds[1], "\nrest", 5), 5);
  ::close(pipeFds[1]);
  std::optional<Taken> taken;
  std::string shown;
  std::string left(8, '\0');
  {
    testsupport::FdRedirect in(STDIN_FILENO, pipeFds[0]);
    testsupport::CapturedStdout out;
    const std::u16string args[] = {u"Slidepress"};
    EXPECT_EQ(ConverterMain(args, RecordingRoads(taken)), -1);
    shown = out.Text();
  }
  left.resize(static_cast<std::size_t>(::read(pipeFds[0], left.data(), left.size())));
  ::close(pipeFds[0]);
  EXPECT_EQ(shown, "please input the office file path.");
  EXPECT_EQ(left, "rest");  // exactly one character was taken
  EXPECT_FALSE(taken.has_value());
  EXPECT_FALSE(fs::exists(testsupport::StatusFile()));
}

TEST_F(EntryTest, NoArgumentWithClosedInputDoesNotWait) {
  std::optional<Taken> taken;
  const int devNull = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(devNull, 0);
  for (bool closed : {false, true}) {
    SCOPED_TRACE(closed);
    testsupport::CapturedStdout out;
    testsupport::FdRedirect in(STDIN_FILENO, devNull);
    if (closed) ::close(STDIN_FILENO);
    const std::u16string args[] = {u"Slidepress"};
    EXPECT_EQ(ConverterMain(args, RecordingRoads(taken)), -1);
  }
  ::close(devNull);
  EXPECT_FALSE(taken.has_value());
}

TEST(WideArgumentsTest, ArgumentsAreUtf8) {
  char name[] = "Slidepress";
  char path[] = "/home/b\xc3\xa4r/Pr\xc3\xa4sentation \xe2\x82\xac.pptx";
  char* argv[] = {name, path, nullptr};
  const std::vector<std::u16string> args = WideArguments(2, argv);
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0], u"Slidepress");
  EXPECT_EQ(args[1], u"/home/b\u00e4r/Pr\u00e4sentation \u20ac.pptx");
}

}  // namespace
}  // namespace converter
