#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"

namespace {

using namespace std::string_literals;

// Every test may change the process-wide code page; it gets it back afterwards.
class CodePageTest : public testing::Test {
 protected:
  void SetUp() override { saved_ = rtl::SystemAnsiCodePage(); }
  void TearDown() override { rtl::SetSystemAnsiCodePage(saved_); }

 private:
  std::string saved_;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// The outgoing road of a text: UTF-16 -> ANSI, terminator, -> UTF-16 -> UTF-8.
std::string Wire(std::u16string_view text) {
  return rtl::UnicodeToUtf8(rtl::AnsiToUnicode(rtl::UnicodeToAnsi(text) + "pqend"));
}

TEST_F(CodePageTest, Windows1252KeepsItsCharactersOnTheWayToUtf8) {
  rtl::SetSystemAnsiCodePage("WINDOWS-1252");
  EXPECT_EQ(rtl::SystemAnsiCodePage(), "WINDOWS-1252");
  EXPECT_EQ(rtl::UnicodeToAnsi(u"\u00E9"), Bytes({0xE9}));
  EXPECT_EQ(rtl::AnsiToUnicode(Bytes({0xE9, 0x80})), u"\u00E9\u20AC");
  EXPECT_EQ(Wire(u"caf\u00E9"), "caf" + Bytes({0xC3, 0xA9}) + "pqend");
}

TEST_F(CodePageTest, CharacterOutsideTheCodePageBecomesBestFitOrQuestionMark) {
  rtl::SetSystemAnsiCodePage("WINDOWS-1252");
  struct Case {
    std::u16string text;
    std::string ansi;
  };
  const Case cases[] = {
      {u"\u0141", "L"},               // L with stroke: best fit
      {u"\u4E2D", "?"},               // CJK: no best fit
      {u"a\u4E2Db\u0142c", "a?blc"},  // neighbours survive
      {u"\U0001F600", "?"},           // a surrogate pair is one character
      {u"x\U0001F600\u0141", "x?L"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rtl::UnicodeToAnsi(c.text), c.ansi) << rtl::UnicodeToUtf8(c.text);
  }
  EXPECT_EQ(Wire(u"\u4E2D\u00E9"), "?" + Bytes({0xC3, 0xA9}) + "pqend");
}

TEST_F(CodePageTest, GbkRoundTripsCjk) {
  rtl::SetSystemAnsiCodePage("GBK");
  const std::string ansi = rtl::UnicodeToAnsi(u"\u4E2D\u6587 ok");
  EXPECT_EQ(ansi, Bytes({0xD6, 0xD0, 0xCE, 0xC4}) + " ok");
  EXPECT_EQ(rtl::AnsiToUnicode(ansi), u"\u4E2D\u6587 ok");
  EXPECT_EQ(Wire(u"\u4E2D"), "\xE4\xB8\xAD"s + "pqend");
}

TEST_F(CodePageTest, InvalidAnsiBytesBecomeReplacementCharacters) {
  rtl::SetSystemAnsiCodePage("WINDOWS-1252");
  EXPECT_EQ(rtl::AnsiToUnicode("a" + Bytes({0x81}) + "b"), u"a\uFFFDb");  // unassigned in 1252
  rtl::SetSystemAnsiCodePage("GBK");
  // A lead byte without its trail byte, in the middle and at the end.
  EXPECT_EQ(rtl::AnsiToUnicode(Bytes({0xD6}) + "\n" + Bytes({0xD6, 0xD0, 0xD6})),
            u"\uFFFD\n\u4E2D\uFFFD");
}

// A 7-bit page writes other characters as escape sequences of ASCII bytes: a text of ASCII bytes
// only must still be decoded as the page reads it, not byte for byte, and a substitute must not
// land inside a shifted run.
TEST_F(CodePageTest, SevenBitPageKeepsItsEscapeSequences) {
  rtl::SetSystemAnsiCodePage("ISO-2022-JP");
  const std::string hiragana = "\x1B$B$\"\x1B(B";  // U+3042 between two shifts
  EXPECT_EQ(rtl::AnsiToUnicode(hiragana), u"\u3042");
  EXPECT_EQ(rtl::AnsiToUnicode("a" + hiragana + "b"), u"a\u3042b");
  EXPECT_EQ(rtl::UnicodeToAnsi(u"a\u3042b"), "a" + hiragana + "b");
  EXPECT_EQ(rtl::AnsiToUnicode(rtl::UnicodeToAnsi(u"x\u2020y")), u"x\u2020y");
  // A character the page cannot hold, right after a shifted one: its "?" is written after the
  // shift back, not read as half of a two-byte code.
  const std::u16string lone = u"\u3042"s + char16_t(0xDC00) + u"b";
  EXPECT_EQ(rtl::UnicodeToAnsi(lone), hiragana + "?b");
  EXPECT_EQ(rtl::AnsiToUnicode(rtl::UnicodeToAnsi(lone)), u"\u3042?b");
  // Plain ASCII stays plain both ways.
  EXPECT_EQ(rtl::AnsiToUnicode("plain"), u"plain");
  EXPECT_EQ(rtl::UnicodeToAnsi(u"plain"), "plain");
}

TEST_F(CodePageTest, LoneSurrogates) {
  const std::u16string lone = u"a"s + char16_t(0xD800) + u"b" + char16_t(0xDC00) + char16_t(0xDBFF);
  EXPECT_EQ(rtl::UnicodeToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\xEF\xBF\xBD");
  rtl::SetSystemAnsiCodePage("WINDOWS-1252");
  EXPECT_EQ(rtl::UnicodeToAnsi(lone), "a?b??");
  rtl::SetSystemAnsiCodePage("UTF-8");
  EXPECT_EQ(rtl::UnicodeToAnsi(lone), rtl::UnicodeToUtf8(lone));
}

TEST_F(CodePageTest, Utf8CodePageIsPlainUtf8) {
  rtl::SetSystemAnsiCodePage("utf8");
  const std::u16string text = u"\u00E9\u4E2D\U0001F600\u0001/";
  const std::string utf8 = "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\x01/";
  EXPECT_EQ(rtl::UnicodeToAnsi(text), utf8);
  EXPECT_EQ(rtl::AnsiToUnicode(utf8), text);
  EXPECT_EQ(Wire(text), utf8 + "pqend");
}

TEST_F(CodePageTest, DefaultFollowsTheLocaleAndTakesUtf8ForPlainC) {
  ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
  // The setting starts as the locale's page (the fixture puts back any change).
  EXPECT_EQ(rtl::SystemAnsiCodePage(), rtl::LocaleAnsiCodePage());
  const char* saved = std::getenv("LC_ALL");
  const std::optional<std::string> savedAll =
      saved ? std::optional<std::string>(saved) : std::nullopt;
  for (const char* locale : {"C", "POSIX", "C.UTF-8"}) {
    setenv("LC_ALL", locale, 1);
    EXPECT_EQ(rtl::LocaleAnsiCodePage(), "UTF-8") << locale;
  }
  if (savedAll) {
    setenv("LC_ALL", savedAll->c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST_F(CodePageTest, UnknownCodePageThrowsAndKeepsTheSetting) {
  rtl::SetSystemAnsiCodePage("WINDOWS-1252");
  for (const char* name : {"NO-SUCH-PAGE", "", "WINDOWS-1252//IGNORE"}) {
    EXPECT_THROW(rtl::SetSystemAnsiCodePage(name), rtl::Exception) << name;
  }
  EXPECT_EQ(rtl::SystemAnsiCodePage(), "WINDOWS-1252");
  EXPECT_EQ(rtl::UnicodeToAnsi(u"\u00E9"), Bytes({0xE9}));
}

struct Utf8Case {
  std::string bytes;
  std::u16string text;
};

// Names the case by its input bytes, so test names stay readable and stable.
void PrintTo(const Utf8Case& c, std::ostream* os) {
  for (const char byte : c.bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(byte));
    *os << hex;
  }
}

class Utf8DecodeTest : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8DecodeTest, IllFormedSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(rtl::Utf8ToUnicode(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8DecodeTest,
    testing::Values(Utf8Case{"plain", u"plain"},
                    Utf8Case{"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", u"\u00E9\u4E2D\U0001F600"},
                    Utf8Case{"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", u"\uFFFF\U0010FFFF"},
                    Utf8Case{"a\xC3", u"a\uFFFD"},          // truncated at the end
                    Utf8Case{"\xC3(", u"\uFFFD("},          // missing continuation
                    Utf8Case{"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong
                    Utf8Case{"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
                    Utf8Case{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
                    Utf8Case{"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // > U+10FFFF
                    Utf8Case{"\xF0\x9F\x98"
                             "A",
                             u"\uFFFDA"},                   // one U+FFFD per broken sequence
                    Utf8Case{"\x80\xBF", u"\uFFFD\uFFFD"},  // stray continuations
                    Utf8Case{"\xFE\xFF", u"\uFFFD\uFFFD"}));

TEST(AsciiToUnicodeTest, BytesAbove7FBecomeReplacementCharacters) {
  const std::uint8_t bytes[] = {'1', '_', 0x00, 0x7F, 0x80, 0xC3, 0xA9, 0xFF, 'x'};
  EXPECT_EQ(rtl::AsciiToUnicode(bytes), u"1_"s + char16_t(0) + u"\u007F\uFFFD\uFFFD\uFFFD\uFFFDx");
  EXPECT_EQ(rtl::AsciiToUnicode({}), u"");
}

TEST_F(CodePageTest, ThreadsSeeEachSettingWhole) {
  // Converters on several threads while the page flips: every result is the text in one of
  // the two pages, never a mixture or a broken conversion.
  const std::u16string text = u"\u00E9t\u00E9 \u4E2D";
  const std::set<std::string> allowed = {"\xE9t\xE9 ?", "\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD"};
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      while (!stop.load()) {
        if (allowed.count(rtl::UnicodeToAnsi(text)) == 0) ++bad;
      }
    });
  }
  for (int i = 0; i < 200; ++i) rtl::SetSystemAnsiCodePage(i % 2 ? "UTF-8" : "WINDOWS-1252");
  stop = true;
  for (auto& w : workers) w.join();
  EXPECT_EQ(bad.load(), 0);
}

// Runs `body` with standard output sent to a temporary file and returns what was written.
template <class Body>
std::string CaptureStdout(Body body) {
  std::fflush(stdout);
  char path[] = "/tmp/rtl_stdout_XXXXXX";
  const int file = mkstemp(path);
  EXPECT_GE(file, 0);
  const int saved = dup(STDOUT_FILENO);
  dup2(file, STDOUT_FILENO);
  body();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::string out;
  lseek(file, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t n; (n = read(file, buffer, sizeof buffer)) > 0;) out.append(buffer, std::size_t(n));
  close(file);
  unlink(path);
  return out;
}

TEST(WriteLnTest, LinesFromManyThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  const std::string out = CaptureStdout([&] {
    std::printf("before ");  // buffered stdio output stays ahead of the line
    rtl::WriteLn("first");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        const std::string line(500, static_cast<char>('a' + t));
        for (int i = 0; i < kLines; ++i) rtl::WriteLn(line);
      });
    }
    for (auto& th : threads) th.join();
  });
  ASSERT_EQ(out.substr(0, 13), "before first\n");
  std::size_t lines = 0;
  for (std::size_t pos = 13; pos < out.size(); ++lines) {
    const std::size_t end = out.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = out.substr(pos, end - pos);
    ASSERT_EQ(line.size(), 500u);
    ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos);
    pos = end + 1;
  }
  EXPECT_EQ(lines, std::size_t{kThreads * kLines});
}

}  // namespace
