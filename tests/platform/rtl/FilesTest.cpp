#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
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

TEST_F(RtlListFiles, ListsRegularFilesDirectlyInTheFolder) {
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

  // Which entries are listed; their order is the business of the tests below.
  std::vector<std::u16string> expected;
  for (const std::string& name :
       ReaddirNames([](const fs::path& p) { return fs::is_regular_file(p); }))
    expected.push_back(U16(dir_ / name));
  std::vector<std::u16string> listed = files;
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
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

// Names as stored on disk, each case in the order the listing must give them.
struct OrderCase {
  const char* what;
  std::vector<std::string> names;
};

const OrderCase kOrderCases[] = {
    {"letter case does not count", {"A.jpg", "a.png", "b.jpg", "B.png"}},
    {"names that differ only in case, upper case first", {"PAGE.png", "Page.png", "page.png"}},
    {"digits of different widths compare as characters, not as numbers",
     {"10.jpg", "100.jpg", "9.jpg", "Image0000.jpg", "Image0001.jpg", "Image0009.jpg",
      "Image0010.jpg", "Image10.jpg", "Image9.jpg", "Picture001.jpg", "Picture002.jpg",
      "Picture010.jpg", "Picture099.jpg", "Picture100.jpg", "Picture1000.jpg", "Picture101.jpg"}},
    {"punctuation against upper-case letters: \"_\" after them",
     {"page-2.png", "page.png", "page2.png", "pageB.png", "pageb2.png", "page_1.png"}},
    {"non-ASCII by the upper case of each UTF-16 code unit",
     {"zebra.png", "école.png", "Élan.png",
      "ß.png",  // no upper case of its own
      "ÿ.png",  // upper case U+0178
      "αλφα.png", "Ωmega.png", "а.png", "Б.png", "я.png", "水.png",
      "😀.png",     // outside the BMP: surrogates, which sort below U+E000
      "ａ.png"}},  // fullwidth, upper case U+FF21
    {"names that are no UTF-8 come back with U+FFFD and sort by it",
     {"cafe.png", "cafz.png", "café.png", "caf\xE9.png", "caf\xFF.png"}},
};

// Every case in a folder of its own below `root`, its files made in a shuffled order (neither
// the listing's order nor its reverse, which is what tmpfs enumerates), then listed.
void ExpectNameOrder(const fs::path& root) {
  std::mt19937 random(8);
  int folder = 0;
  for (const OrderCase& c : kOrderCases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = root / ("case" + std::to_string(folder++));
    ASSERT_TRUE(fs::create_directory(dir));
    std::vector<std::size_t> made(c.names.size());
    std::iota(made.begin(), made.end(), 0);
    do {
      std::shuffle(made.begin(), made.end(), random);
    } while (std::is_sorted(made.begin(), made.end()) ||
             std::is_sorted(made.rbegin(), made.rend()));
    for (const std::size_t i : made) std::ofstream(dir / c.names[i]) << c.names[i];

    // Compared as UTF-8 names, readable when they differ.
    const std::u16string prefix = rtl::Utf8ToUnicode(dir.string()) + u"/";
    std::vector<std::string> listed;
    for (const std::u16string& file : rtl::ListFiles(prefix)) {
      ASSERT_TRUE(file.starts_with(prefix));
      listed.push_back(rtl::UnicodeToUtf8(file.substr(prefix.size())));
    }
    std::vector<std::string> expected;
    for (const std::string& name : c.names)
      expected.push_back(rtl::UnicodeToUtf8(rtl::Utf8ToUnicode(name)));  // U+FFFD for bad bytes
    EXPECT_EQ(listed, expected);
  }
}

bool IsTmpfs(const fs::path& dir) {
  struct statfs st {};
  return ::statfs(dir.c_str(), &st) == 0 && st.f_type == TMPFS_MAGIC;
}

// A folder in the build tree, on the disk beside the test program.
class RtlListFilesOnDisk : public RtlListFiles {
 protected:
  void SetUp() override {
    std::error_code ec;
    const fs::path own = fs::read_symlink("/proc/self/exe", ec).parent_path();
    std::string pattern = (own / "vm-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }
};

TEST_F(RtlListFilesOnDisk, ListsInNameOrderWhateverOrderTheFilesWereMadeIn) {
  SCOPED_TRACE(dir_.string());
  ExpectNameOrder(dir_);
}

// A folder on a tmpfs, which enumerates newest first: /dev/shm, or else a tmpfs mounted in a
// mount namespace of the test's own.
class RtlListFilesOnTmpfs : public RtlListFiles {
 protected:
  void SetUp() override {
    if (IsTmpfs("/dev/shm")) {
      std::string pattern = "/dev/shm/vm-files-XXXXXX";
      ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
      dir_ = pattern;
      return;
    }
    RtlListFiles::SetUp();
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("vm-files", dir_.c_str(), "tmpfs", 0, "size=4m") != 0) {
      GTEST_SKIP() << "no tmpfs to be had: " << std::strerror(errno);
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      std::error_code ignored;
      for (const auto& e : fs::directory_iterator(dir_, ignored)) fs::remove_all(e, ignored);
      ::umount2(dir_.c_str(), MNT_DETACH);
    }
    RtlListFiles::TearDown();
  }
  bool mounted_ = false;
};

TEST_F(RtlListFilesOnTmpfs, ListsInNameOrderWhateverOrderTheFilesWereMadeIn) {
  ASSERT_TRUE(IsTmpfs(dir_));
  SCOPED_TRACE(dir_.string());
  ExpectNameOrder(dir_);
}

TEST(RtlFileNameUpcase, MapsEachCodeUnitToItsSimpleUpperCase) {
  struct Case {
    char16_t unit;
    char16_t upper;
  };
  const Case cases[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {u'A', u'A'},
      {u'_', u'_'},           {u'0', u'0'},           {u'\u00E9', u'\u00C9'},
      {u'\u00FF', u'\u0178'}, {u'\u00DF', u'\u00DF'}, {u'\u00B5', u'\u039C'},
      {u'\u0101', u'\u0100'}, {u'\u0100', u'\u0100'}, {u'\u0131', u'I'},
      {u'\u03C2', u'\u03A3'}, {u'\u03C3', u'\u03A3'}, {u'\u0430', u'\u0410'},
      {u'\u044F', u'\u042F'}, {u'\u0450', u'\u0400'}, {u'\u1F80', u'\u1F88'},
      {u'\u1FB3', u'\u1FBC'}, {u'\u2170', u'\u2160'}, {u'\u24D0', u'\u24B6'},
      {u'\u6C34', u'\u6C34'}, {u'\uFF41', u'\uFF21'}, {u'\uFFFD', u'\uFFFD'},
      {0xD801, 0xD801},       {0xDC28, 0xDC28},  // the halves of U+10428, whose upper case is
                                                 // U+10400
  };
  for (const Case& c : cases)
    EXPECT_EQ(static_cast<int>(rtl::FileNameUpcase(c.unit)), static_cast<int>(c.upper))
        << std::hex << static_cast<int>(c.unit);
  // Upper-casing twice changes nothing more, for every unit.
  for (int unit = 0; unit <= 0xFFFF; ++unit) {
    const char16_t once = rtl::FileNameUpcase(static_cast<char16_t>(unit));
    ASSERT_EQ(static_cast<int>(rtl::FileNameUpcase(once)), static_cast<int>(once))
        << std::hex << unit;
  }
}

}  // namespace
