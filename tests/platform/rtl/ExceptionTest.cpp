#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "rtl/Exception.h"

namespace {

TEST(ExceptionTest, KeepsBothFormsOfTheMessage) {
  const rtl::Exception fromUtf16(u"Caf\u00E9 \u4E2D");
  EXPECT_EQ(fromUtf16.Message(), u"Caf\u00E9 \u4E2D");
  EXPECT_STREQ(fromUtf16.what(), "Caf\xC3\xA9 \xE4\xB8\xAD");

  const rtl::Exception fromUtf8("Caf\xC3\xA9 \xE4\xB8\xAD");
  EXPECT_EQ(fromUtf8.Message(), u"Caf\u00E9 \u4E2D");
  EXPECT_STREQ(fromUtf8.what(), "Caf\xC3\xA9 \xE4\xB8\xAD");
}

TEST(ExceptionTest, MalformedUtf8GivesTwoMatchingForms) {
  const rtl::Exception e(std::string_view("bad \xC3 end"));
  EXPECT_EQ(e.Message(), u"bad \uFFFD end");
  EXPECT_STREQ(e.what(), "bad \xEF\xBF\xBD end");
}

TEST(ExceptionTest, IsCaughtAsStdException) {
  try {
    throw rtl::Exception(u"The specified path was not found");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "The specified path was not found");
    return;
  }
  FAIL() << "not caught";
}

}  // namespace
