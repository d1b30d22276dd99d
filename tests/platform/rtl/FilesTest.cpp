#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "rtl/Files.h"

namespace {

namespace fs = std::filesystem;

class RtlListFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vm-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void Touch(const std::string& name) { std::ofstream(dir_ / name) << name; }

  // The names of the folder's entries in the order readdir gives them, filtered by `keep`.
  std::vector<std::string> ReaddirNames(bool (*keep)(const fs::path&)) const {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir_.c_str());
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && keep(dir_ / name)) names.push_back(name);
    }
    ::closedir(d);
    return names;
  }

  static std::u16string U16(const fs::path& p) { return rtl::Utf8ToUnicode(p.string()); }

  fs::path dir_;
};

TEST_F(RtlListFiles, ListsRegularFilesDirectlyInTheFolderInEnumerationOrder) {
  // Enough names that a hashed directory returns them in an order of its own.
  for (int i = 0; i < 40; ++i) Touch("page" + std::to_string(i) + ".png");
  Touch("notes.txt");
  Touch("caf\xC3\xA9.jpg");
  fs::create_directory(dir_ / "g.png");
  Touch("g.png/inner.png");
  fs::create_symlink(dir_ / "notes.txt", dir_ / "link.jpg");
  fs::create_directory_symlink(dir_ / "g.png", dir_ / "dirlink.png");
  fs::create_symlink(dir_ / "missing", dir_ / "dangling.png");

  const auto files = rtl::ListFiles(U16(dir_));

  std::vector<std::u16string> expected;
  for (const std::string& name :
       ReaddirNames([](const fs::path& p) { return fs::is_regular_file(p); }))
    expected.push_back(U16(dir_ / name));
  EXPECT_EQ(files, expected);
  EXPECT_EQ(files.size(), 43u);  // 40 pages, notes.txt, café.jpg, link.jpg
}

TEST_F(RtlListFiles, JoinsWithOneSeparatorAndGivesAnEmptyListForAnEmptyFolder) {
  EXPECT_TRUE(rtl::ListFiles(U16(dir_)).empty());
  Touch("a.png");
  const std::u16string folder = U16(dir_);
  EXPECT_EQ(rtl::ListFiles(folder), std::vector<std::u16string>{folder + u"/a.png"});
  EXPECT_EQ(rtl::ListFiles(folder + u"/"), std::vector<std::u16string>{folder + u"/a.png"});
}

TEST_F(RtlListFiles, MissingFolderOrAFileRaisesPathNotFound) {
  Touch("file.png");
  const std::u16string cases[] = {U16(dir_ / "nothing"), U16(dir_ / "file.png"), u""};
  for (const std::u16string& folder : cases) {
    SCOPED_TRACE(rtl::UnicodeToUtf8(folder));
    try {
      rtl::ListFiles(folder);
      ADD_FAILURE() << "no exception";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message(), u"The specified path was not found");
    }
  }
}

}  // namespace
