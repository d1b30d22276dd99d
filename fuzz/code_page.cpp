// The code-page conversions: UTF-8 to UTF-16 against an independent decoder (one U+FFFD per
// maximal ill-formed subsequence), UTF-16 to UTF-8 and back, and the system ANSI code page
// (chosen by the first byte: UTF-8, Windows-1252, the Windows Japanese and Chinese pages and a
// stateful page) both ways. What the code page can hold, decided by iconv alone, must come
// back unchanged; nothing may crash on ill-formed input.

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "rtl/CodePage.h"

namespace {

constexpr std::array<const char*, 5> kPages = {"UTF-8", "WINDOWS-1252", "CP932", "GB18030",
                                               "ISO-2022-JP"};
// The pages where every well-formed byte sequence has one meaning and one encoding.
bool BytesRoundTrip(std::size_t page) {
  return page == 1 || page == 3;
}

bool IsSurrogate(std::uint32_t c) {
  return c >= 0xD800 && c < 0xE000;
}
bool IsHigh(std::uint32_t c) {
  return c >= 0xD800 && c < 0xDC00;
}
bool IsLow(std::uint32_t c) {
  return c >= 0xDC00 && c < 0xE000;
}

// UTF-8 decoded by intervals: a prefix of a sequence is well formed while some completion of it
// gives a code point of its length's range; the longest such prefix is one character, or one
// ill-formed subsequence (at least one byte), which becomes U+FFFD.
std::u16string DecodeUtf8(std::string_view bytes, bool* wellFormed = nullptr) {
  std::u16string out;
  bool clean = true;
  const auto allowed = [](int length, std::uint32_t lo, std::uint32_t hi) {
    const auto meets = [&](std::uint32_t a, std::uint32_t b) { return lo <= b && a <= hi; };
    switch (length) {
      case 2:
        return meets(0x80, 0x7FF);
      case 3:
        return meets(0x800, 0xD7FF) || meets(0xE000, 0xFFFF);
      default:
        return meets(0x10000, 0x10FFFF);
    }
  };
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint32_t lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC0 || lead >= 0xF8) {
      out += u'\xFFFD';
      clean = false;
      ++i;
      continue;
    }
    std::uint32_t bits = lead & (0x7F >> length);
    int good = 0;  // bytes of the longest well-formed prefix
    std::uint32_t cp = 0;
    for (int k = 1; k <= length; ++k) {
      if (k > 1) {
        if (i + k - 1 >= bytes.size()) break;
        const std::uint32_t next = static_cast<unsigned char>(bytes[i + k - 1]);
        if ((next & 0xC0) != 0x80) break;
        bits = bits << 6 | (next & 0x3F);
      }
      const int missing = 6 * (length - k);
      if (!allowed(length, bits << missing, (bits << missing) | ((1u << missing) - 1))) break;
      good = k;
      cp = bits;
    }
    if (good == length) {
      if (cp >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        out += static_cast<char16_t>(cp);
      }
    } else {
      out += u'\xFFFD';
      clean = false;
    }
    i += good > 0 ? static_cast<std::size_t>(good) : 1;
  }
  if (wellFormed != nullptr) *wellFormed = clean;
  return out;
}

bool WellFormedUtf8(std::string_view bytes) {
  bool wellFormed = false;
  DecodeUtf8(bytes, &wellFormed);
  return wellFormed;
}

bool WellFormedUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      ++i;
    } else if (IsSurrogate(text[i])) {
      return false;
    }
  }
  return true;
}

// Lone surrogates replaced; the pairs stay.
std::u16string ReplaceLoneSurrogates(std::u16string_view text, char16_t by) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      out += text.substr(i, 2);
      ++i;
    } else {
      out += IsSurrogate(text[i]) ? by : text[i];
    }
  }
  return out;
}

// The stateful page shifts with ESC, SO and SI, and iconv writes those characters as they are:
// a text that holds them cannot come back, so on that page they are left out of the texts.
bool ShiftsWith(std::size_t page, char16_t c) {
  return page == 4 && (c == 0x1B || c == 0x0E || c == 0x0F);
}

// The characters of a text: a surrogate pair, or one unit.
std::vector<std::u16string_view> Characters(std::u16string_view text) {
  std::vector<std::u16string_view> out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t n = IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1]) ? 2 : 1;
    out.push_back(text.substr(i, n));
    i += n - 1;
  }
  return out;
}

// iconv on its own: does the page hold the character, as a code that reads back as it?
class Oracle {
 public:
  bool Holds(std::size_t page, std::u16string_view character) {
    const auto key = std::make_pair(page, std::u16string(character));
    if (const auto known = known_.find(key); known != known_.end()) return known->second;
    if (known_.size() > 100000) known_.clear();  // a long run meets many characters
    const std::string code = Run(kPages[page], "UTF-16LE", Bytes(character));
    const std::string back = code.empty() ? std::string() : Run("UTF-16LE", kPages[page], code);
    return known_[key] = !code.empty() && back == Bytes(character);
  }

 private:
  static std::string Bytes(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
      out += static_cast<char>(c & 0xFF);
      out += static_cast<char>(c >> 8);
    }
    return out;
  }
  // The whole conversion, its closing shift sequence included; empty when iconv refuses it.
  static std::string Run(const char* to, const char* from, const std::string& in) {
    const iconv_t cd = iconv_open(to, from);
    FUZZ_CHECK(cd != reinterpret_cast<iconv_t>(-1));
    std::string out(in.size() * 8 + 16, '\0');
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok || inLeft != 0) return {};
    out.resize(static_cast<std::size_t>(outPtr - out.data()));
    return out;
  }

  std::map<std::pair<std::size_t, std::u16string>, bool> known_;
};

// Units from the input, weighted towards the ranges the single-byte pages hold.
std::u16string ReadText(fuzz::Input& in) {
  std::u16string text;
  while (!in.Empty()) {
    const std::uint8_t b = in.Byte();
    if (b < 0x80) {
      text += char16_t{b};
    } else if (b < 0xA0) {
      text += static_cast<char16_t>(0x2000 + in.Byte());
    } else if (b < 0xC0) {
      text += static_cast<char16_t>(0x80 | in.Byte());
    } else {
      text += static_cast<char16_t>(in.Unit());
    }
  }
  return text;
}

bool IsSubsequence(const std::vector<std::u16string_view>& part, std::u16string_view whole) {
  std::size_t at = 0;
  for (const auto character : part) {
    const std::size_t found = whole.find(character, at);
    if (found == std::u16string_view::npos) return false;
    at = found + character.size();
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Oracle oracle;
  static std::size_t current = kPages.size();
  if (size == 0) return 0;
  const std::size_t page = data[0] % kPages.size();
  if (page != current) {
    rtl::SetSystemAnsiCodePage(kPages[page]);
    current = page;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::Input in(data + 1, size - 1);
  const std::u16string text = ReadText(in);

  // UTF-8 to UTF-16 and back.
  const std::u16string decoded = rtl::Utf8ToUnicode(bytes);
  FUZZ_CHECK(decoded == DecodeUtf8(bytes));
  const std::string reencoded = rtl::UnicodeToUtf8(decoded);
  FUZZ_CHECK(WellFormedUtf8(reencoded));
  if (WellFormedUtf8(bytes)) FUZZ_CHECK(reencoded == bytes);

  // UTF-16 to UTF-8 and back: only lone surrogates change.
  const std::string utf8 = rtl::UnicodeToUtf8(text);
  FUZZ_CHECK(WellFormedUtf8(utf8));
  FUZZ_CHECK(rtl::Utf8ToUnicode(utf8) == ReplaceLoneSurrogates(text, u'\xFFFD'));

  // Code page to UTF-16.
  const std::u16string fromAnsi = rtl::AnsiToUnicode(bytes);
  FUZZ_CHECK(WellFormedUtf16(fromAnsi));
  if (page == 0) FUZZ_CHECK(fromAnsi == decoded);
  if (page == 1) FUZZ_CHECK(fromAnsi.size() == bytes.size());
  const bool shiftFree = std::none_of(fromAnsi.begin(), fromAnsi.end(),
                                      [page](char16_t c) { return ShiftsWith(page, c); });
  if (fromAnsi.find(u'\xFFFD') == std::u16string::npos && shiftFree) {
    const std::string back = rtl::UnicodeToAnsi(fromAnsi);
    if (BytesRoundTrip(page)) FUZZ_CHECK(back == bytes);
    FUZZ_CHECK(rtl::AnsiToUnicode(back) == fromAnsi);
  }

  // UTF-16 to the code page: a lone surrogate is one "?" (U+FFFD on the UTF-8 page); every
  // character the page holds comes back, in order, and a text of only such characters and lone
  // surrogates comes back whole.
  std::u16string pageText = text;
  std::replace_if(
      pageText.begin(), pageText.end(), [page](char16_t c) { return ShiftsWith(page, c); }, u'?');
  const char16_t substitute = page == 0 ? u'\xFFFD' : u'?';
  const std::u16string roundTrip = rtl::AnsiToUnicode(rtl::UnicodeToAnsi(pageText));
  std::vector<std::u16string_view> held;
  std::u16string heldText;  // the held characters and the lone surrogates
  std::u16string heldBack;  // the same as it must come back
  bool allHeld = true;
  for (const auto character : Characters(pageText)) {
    if (character.size() == 1 && IsSurrogate(character[0])) {
      // Left out where it would make a pair with a lone high surrogate before it.
      if (IsLow(character[0]) && !heldText.empty() && IsHigh(heldText.back())) continue;
      heldText += character;
      heldBack += substitute;
    } else if (oracle.Holds(page, character)) {
      held.push_back(character);
      heldText += character;
      heldBack += character;
    } else {
      allHeld = false;
    }
  }
  // glibc's ISO-2022-JP//TRANSLIT writes a transliteration of several characters without
  // shifting back to ASCII first, so there only the texts without such characters are checked.
  if (page != 4) FUZZ_CHECK(IsSubsequence(held, roundTrip));
  if (allHeld) FUZZ_CHECK(roundTrip == heldBack);
  FUZZ_CHECK(rtl::AnsiToUnicode(rtl::UnicodeToAnsi(heldText)) == heldBack);
  return 0;
}
