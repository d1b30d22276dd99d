#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "converter/Converter.h"
#include "rtl/CodePage.h"

namespace converter {
namespace {

namespace fs = std::filesystem;

class StatusFileTest : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::RemoveStatusFile(); }
  void TearDown() override { testsupport::RemoveStatusFile(); }
};

TEST_F(StatusFileTest, LiesBesideTheProgram) {
  const fs::path program = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(StatusFilePath(), (program.parent_path() / "pdf_temp").string());

  std::u16string folder;
  const std::size_t length = GetModuleFolder(folder);
  EXPECT_EQ(length, folder.size());
  EXPECT_EQ(folder, rtl::Utf8ToUnicode(program.parent_path().string() + "/"));
}

TEST_F(StatusFileTest, HoldsExactlyTheStatusBytes) {
  struct Case {
    bool finished;
    const char* message;
    std::string bytes;
  };
  const Case cases[] = {
      {true, "", "success\r\n"},
      {false, "CLSIDFromProgID failed", "error\r\nCLSIDFromProgID failed"},
      {false, "powerpoint is not registerd properly.",
       "error\r\npowerpoint is not registerd properly."},
      {false, "powerpoint file cannot be opened properly.",
       "error\r\npowerpoint file cannot be opened properly."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WriteStatusFile(c.finished, c.message);
    EXPECT_EQ(testsupport::ReadFile(testsupport::StatusFile()), c.bytes);
  }
}

TEST_F(StatusFileTest, AnOldFileIsEmptiedNotAppendedTo) {
  std::ofstream(testsupport::StatusFile(), std::ios::binary) << std::string(300, 'x') << "\n";
  WriteStatusFile(false, "CLSIDFromProgID failed");
  EXPECT_EQ(testsupport::ReadFile(testsupport::StatusFile()), "error\r\nCLSIDFromProgID failed");
  WriteStatusFile(true, "");
  EXPECT_EQ(testsupport::ReadFile(testsupport::StatusFile()), "success\r\n");
}

TEST_F(StatusFileTest, AFileThatCannotBeCreatedIsNoFailure) {
  // A folder in its place cannot be opened for writing, not even by root.
  fs::create_directory(testsupport::StatusFile());
  WriteStatusFile(true, "");
  EXPECT_TRUE(fs::is_directory(testsupport::StatusFile()));
}

}  // namespace
}  // namespace converter
