#include "rtl/CodePage.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "rtl/Exception.h"

namespace rtl {

namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
constexpr std::size_t kIconvError = static_cast<std::size_t>(-1);
constexpr const char* kNativeUtf16 =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

bool IsUtf8Name(std::string_view name) {
  return EqualsIgnoreCase(name, "UTF-8") || EqualsIgnoreCase(name, "UTF8");
}

// The character set of the "C" and "POSIX" locales, under the names glibc gives it.
bool IsAsciiName(std::string_view name) {
  return EqualsIgnoreCase(name, "ANSI_X3.4-1968") || EqualsIgnoreCase(name, "ASCII") ||
         EqualsIgnoreCase(name, "US-ASCII");
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool AllAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool AllAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// Best-fit substitutes of glibc iconv come from the calling thread's LC_CTYPE. They are taken
// from C.UTF-8 whatever locale the program runs in, so a conversion gives the same bytes
// everywhere (without it the "C" locale has no substitutes at all).
class TranslitLocaleScope {
 public:
  TranslitLocaleScope() {
    static const locale_t translit = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (translit != nullptr) previous_ = uselocale(translit);
  }
  ~TranslitLocaleScope() {
    if (previous_ != nullptr) uselocale(previous_);
  }
  TranslitLocaleScope(const TranslitLocaleScope&) = delete;
  TranslitLocaleScope& operator=(const TranslitLocaleScope&) = delete;

 private:
  locale_t previous_ = nullptr;
};

// Runs one whole conversion with `cd`, appending to `out`. Where iconv stops at an input unit it
// cannot take, `substitute` is appended and `badLength(at, left)` input bytes are skipped, so no
// text after a bad unit is lost. Towards a code page (`encoding`) the substitute is written in
// the initial shift state, so a stateful page first gets the sequence that returns to it.
template <class Out, class BadLength>
void Convert(iconv_t cd, const char* input, std::size_t inputBytes, Out& out,
             std::basic_string_view<typename Out::value_type> substitute, BadLength badLength,
             bool encoding) {
  using Unit = typename Out::value_type;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state

  char* in = const_cast<char*>(input);  // iconv never writes through it
  std::size_t inLeft = inputBytes;
  std::size_t used = out.size();
  out.resize(used + inputBytes + 16);  // enough for the single- and double-byte pages
  // Convert the input; Reset: return to the initial shift state, then substitute; Flush: the
  // same at the end.
  enum class Step { Convert, Reset, Flush } step = Step::Convert;
  for (;;) {
    char* outPtr = reinterpret_cast<char*>(out.data() + used);
    std::size_t outLeft = (out.size() - used) * sizeof(Unit);
    const std::size_t result = step == Step::Convert
                                   ? iconv(cd, &in, &inLeft, &outPtr, &outLeft)
                                   : iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    const int error = errno;
    used = static_cast<std::size_t>(outPtr - reinterpret_cast<char*>(out.data())) / sizeof(Unit);
    if (result == kIconvError && error == E2BIG) {
      out.resize(out.size() * 2 + 16);
      continue;
    }
    if (step == Step::Flush) break;
    if (step == Step::Convert) {
      if (result != kIconvError) {
        step = Step::Flush;
        continue;
      }
      if ((error != EILSEQ && error != EINVAL) || inLeft == 0) break;
      if (encoding) {
        step = Step::Reset;
        continue;
      }
    } else if (result == kIconvError) {
      break;
    }
    if (out.size() - used < substitute.size()) out.resize(used + substitute.size() + 16);
    std::copy(substitute.begin(), substitute.end(),
              out.begin() + static_cast<std::ptrdiff_t>(used));
    used += substitute.size();
    const std::size_t skip = std::clamp<std::size_t>(badLength(in, inLeft), 1, inLeft);
    in += skip;
    inLeft -= skip;
    step = Step::Convert;
  }
  out.resize(used);
}

// A 7-bit page (ISO-2022-JP, HZ, ...) writes other characters as escape sequences made of ASCII
// bytes, so an ASCII byte there does not always stand for itself. Such a page writes at least one
// of these characters of common scripts in ASCII bytes only.
bool WritesOthersInAscii(const std::string& name) {
  const iconv_t cd = iconv_open(name.c_str(), kNativeUtf16);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  static constexpr char16_t kSamples[] = {0x00E9, 0x0436, 0x03B1, 0x05D0, 0x0627,
                                          0x0E01, 0x3042, 0x4E2D, 0xAC00, 0x20AC};
  bool found = false;
  for (const char16_t sample : kSamples) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char16_t unit = sample;
    char* in = reinterpret_cast<char*>(&unit);
    std::size_t inLeft = sizeof unit;
    char bytes[32];
    char* out = bytes;
    std::size_t outLeft = sizeof bytes;
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == kIconvError ||
        iconv(cd, nullptr, nullptr, &out, &outLeft) == kIconvError)
      continue;
    found = found || AllAscii(std::string_view(bytes, static_cast<std::size_t>(out - bytes)));
  }
  iconv_close(cd);
  return found;
}

// One non-UTF-8 code page, with its two iconv descriptors. A descriptor is used by one thread
// at a time, so each thread keeps its own (see ThreadPage).
class IconvPage {
 public:
  static std::unique_ptr<IconvPage> Open(const std::string& name) {
    const iconv_t toUnicode = iconv_open(kNativeUtf16, name.c_str());
    if (toUnicode == reinterpret_cast<iconv_t>(-1)) return nullptr;
    const iconv_t fromUnicode = iconv_open((name + "//TRANSLIT").c_str(), kNativeUtf16);
    if (fromUnicode == reinterpret_cast<iconv_t>(-1)) {
      iconv_close(toUnicode);
      return nullptr;
    }
    return std::unique_ptr<IconvPage>(
        new IconvPage(toUnicode, fromUnicode, !WritesOthersInAscii(name)));
  }

  ~IconvPage() {
    iconv_close(toUnicode_);
    iconv_close(fromUnicode_);
  }
  IconvPage(const IconvPage&) = delete;
  IconvPage& operator=(const IconvPage&) = delete;

  std::u16string Decode(std::string_view text) {
    if (asciiCompatible_ && AllAscii(text)) return std::u16string(text.begin(), text.end());
    return DecodeSlow(text);
  }

  std::string Encode(std::u16string_view text) {
    if (asciiCompatible_ && AllAscii(text)) {
      std::string out(text.size(), '\0');
      std::transform(text.begin(), text.end(), out.begin(),
                     [](char16_t c) { return static_cast<char>(c); });
      return out;
    }
    return EncodeSlow(text);
  }

 private:
  // `eightBit`: no other character is written in ASCII bytes (see WritesOthersInAscii).
  IconvPage(iconv_t toUnicode, iconv_t fromUnicode, bool eightBit)
      : toUnicode_(toUnicode), fromUnicode_(fromUnicode) {
    std::string ascii(0x80, '\0');
    for (std::size_t i = 0; i < ascii.size(); ++i) ascii[i] = static_cast<char>(i);
    const std::u16string decoded = DecodeSlow(ascii);
    asciiCompatible_ = eightBit && decoded == std::u16string(ascii.begin(), ascii.end()) &&
                       EncodeSlow(decoded) == ascii;
    question_ = asciiCompatible_ ? std::string("?") : EncodeSlow(u"?");
    if (question_.empty()) question_ = "?";
  }

  std::u16string DecodeSlow(std::string_view text) {
    std::u16string out;
    Convert(
        toUnicode_, text.data(), text.size(), out, std::u16string_view(&kReplacementChar, 1),
        [](const char*, std::size_t) { return std::size_t{1}; }, false);
    return out;
  }

  std::string EncodeSlow(std::u16string_view text) {
    std::string out;
    TranslitLocaleScope translit;
    Convert(
        fromUnicode_, reinterpret_cast<const char*>(text.data()), text.size() * 2, out,
        std::string_view(question_.empty() ? "?" : question_),
        [](const char* at, std::size_t left) {
          // A whole surrogate pair is one character and gets one substitute.
          char16_t units[2] = {0, 0};
          std::memcpy(units, at, std::min<std::size_t>(left, sizeof units));
          return left >= 4 && IsHighSurrogate(units[0]) && IsLowSurrogate(units[1])
                     ? std::size_t{4}
                     : std::size_t{2};
        },
        true);
    return out;
  }

  iconv_t toUnicode_;
  iconv_t fromUnicode_;
  bool asciiCompatible_ = false;
  std::string question_;
};

// The process-wide setting. Each change gets a new generation number, which tells the threads'
// caches to reopen their descriptors.
struct Setting {
  std::mutex mutex;
  std::string name;  // guarded by mutex
  std::atomic<std::uint64_t> generation{1};
};

Setting& TheSetting() {
  static Setting* const setting = [] {
    auto* s = new Setting;  // never destroyed: conversions may still run while statics die
    s->name = LocaleAnsiCodePage();
    return s;
  }();
  return *setting;
}

struct ThreadPage {
  std::uint64_t generation = 0;
  std::unique_ptr<IconvPage> page;  // null while the code page is UTF-8
};

// The calling thread's converter for the current code page; null means UTF-8.
IconvPage* CurrentPage() {
  thread_local ThreadPage cache;
  Setting& setting = TheSetting();
  if (cache.generation == setting.generation.load(std::memory_order_acquire)) {
    return cache.page.get();
  }
  std::string name;
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(setting.mutex);
    name = setting.name;
    generation = setting.generation.load(std::memory_order_relaxed);
  }
  cache.page.reset();
  cache.generation = 0;
  if (IsUtf8Name(name)) {
    cache.generation = generation;
    return nullptr;
  }
  cache.page = IconvPage::Open(name);
  // The name was accepted when it was set; should iconv refuse it now (out of memory or
  // descriptors), this call works as UTF-8 and the next one tries again.
  if (cache.page) cache.generation = generation;
  return cache.page.get();
}

}  // namespace

std::string LocaleAnsiCodePage() {
  std::string codeset = nl_langinfo(CODESET);
  if (IsAsciiName(codeset)) {
    // A program that never called setlocale() runs in "C"; the user's choice is in the
    // environment (LC_ALL, LC_CTYPE, LANG).
    if (const locale_t environment = newlocale(LC_CTYPE_MASK, "", nullptr)) {
      codeset = nl_langinfo_l(CODESET, environment);
      freelocale(environment);
    }
  }
  // The plain C/POSIX locale would turn every non-ASCII character into "?"; UTF-8 holds every
  // character and is what the wire carries anyway.
  if (codeset.empty() || IsAsciiName(codeset) || IsUtf8Name(codeset)) return "UTF-8";
  if (!IconvPage::Open(codeset)) return "UTF-8";
  return codeset;
}

std::string SystemAnsiCodePage() {
  Setting& setting = TheSetting();
  std::lock_guard lock(setting.mutex);
  return setting.name;
}

void SetSystemAnsiCodePage(std::string_view iconvName) {
  const std::string name(iconvName);
  // Suffixes such as "//IGNORE" would change the conversion rules, so only bare names count.
  const bool wellFormed =
      !name.empty() && name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
  if (!wellFormed || (!IsUtf8Name(name) && !IconvPage::Open(name))) {
    throw Exception("Unknown code page \"" + name + "\"");
  }
  Setting& setting = TheSetting();
  std::lock_guard lock(setting.mutex);
  setting.name = name;
  setting.generation.fetch_add(1, std::memory_order_release);
}

UnicodeString AnsiToUnicode(std::string_view ansi) {
  if (IconvPage* page = CurrentPage()) return page->Decode(ansi);
  return Utf8ToUnicode(ansi);
}

AnsiString UnicodeToAnsi(std::u16string_view text) {
  if (IconvPage* page = CurrentPage()) return page->Encode(text);
  return UnicodeToUtf8(text);
}

// Ill-formed input becomes one U+FFFD per maximal ill-formed subsequence, the practice that
// Unicode recommends and browsers follow.
UnicodeString Utf8ToUnicode(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      out.push_back(kReplacementChar);
      ++i;
      continue;
    }
    std::size_t taken = 1;
    for (; taken < length && i + taken < n; ++taken) {
      const auto next = static_cast<unsigned char>(utf8[i + taken]);
      if (next < low || next > high) break;
      cp = (cp << 6) | (next & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    if (taken < length) {
      out.push_back(kReplacementChar);
    } else {
      AppendUtf16(out, cp);
    }
    i += taken;
  }
  return out;
}

std::string UnicodeToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, kReplacementChar);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

UnicodeString AsciiToUnicode(std::span<const std::uint8_t> bytes) {
  std::u16string out(bytes.size(), u'\0');
  std::transform(bytes.begin(), bytes.end(), out.begin(), [](std::uint8_t b) {
    return b < 0x80 ? static_cast<char16_t>(b) : kReplacementChar;
  });
  return out;
}

void WriteLn(std::string_view ansiText) {
  std::string line;
  line.reserve(ansiText.size() + 1);
  line.append(ansiText);
  line.push_back('\n');

  static std::mutex mutex;
  std::lock_guard lock(mutex);
  // Holding the stdio lock keeps printf and std::cout output of other threads out of the line;
  // flushing first keeps what they wrote earlier ahead of it.
  flockfile(stdout);
  fflush_unlocked(stdout);
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, p, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      break;  // a diagnostic that cannot be written is dropped
    }
    p += written;
    left -= static_cast<std::size_t>(written);
  }
  funlockfile(stdout);
}

}  // namespace rtl
