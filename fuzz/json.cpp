// The JSON writer against another parser: an object tree built from the input (nested objects,
// 32-bit numbers, names and strings of any UTF-16 units) is written, and nlohmann-json must read
// the text back as the same tree, member for member in order. Two things the wire format does
// that strict JSON does not allow are bridged before parsing, as a reader of our texts would:
// control characters other than the escaped ones stand unescaped in strings, and UTF-16 units
// are written as they are, lone surrogates included (those become U+FFFD in UTF-8 on both sides).

#include "rtl/Json.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FuzzInput.h"

namespace {

constexpr int kMostDepth = 48;

// One parse event: '{', '}', 'k' (a name), 's' (a string) or '#' (a number).
struct Event {
  char kind;
  std::string text;
  std::int64_t number = 0;
  bool operator==(const Event&) const = default;
};

// UTF-16 to UTF-8, lone surrogates as U+FFFD; written here so the check does not lean on the
// run-time library's own conversion.
std::string ToUtf8(std::u16string_view text) {
  std::string out;
  const auto put = [&out](std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      return;
    }
    static constexpr std::uint32_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
    int extra = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    out += static_cast<char>(kLead[extra] | cp >> (6 * extra));
    while (extra-- > 0) out += static_cast<char>(0x80 | ((cp >> (6 * extra)) & 0x3F));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      put(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      put(0xFFFD);
    } else {
      put(c);
    }
  }
  return out;
}

std::u16string ReadText(fuzz::Input& in) {
  std::u16string text;
  const std::size_t length = in.Byte() % 64;
  for (std::size_t i = 0; i < length && !in.Empty(); ++i) {
    const std::uint8_t b = in.Byte();
    text += b < 0x80 ? char16_t{b} : static_cast<char16_t>(in.Unit());
  }
  return text;
}

// Builds an object from the input and the events a parser must report for it.
rtl::JsonObject ReadObject(fuzz::Input& in, int depth, std::vector<Event>& events) {
  rtl::JsonObject object;
  events.push_back({'{', {}});
  const std::size_t members = in.Byte() % 8;
  for (std::size_t i = 0; i < members && !in.Empty(); ++i) {
    const std::u16string name = ReadText(in);
    events.push_back({'k', ToUtf8(name)});
    switch (in.Byte() % 3) {
      case 0: {
        const auto number = static_cast<std::int32_t>(in.Word());
        object.AddPair(name, number);
        events.push_back({'#', {}, number});
        break;
      }
      case 1: {
        const std::u16string value = ReadText(in);
        object.AddPair(name, value);
        events.push_back({'s', ToUtf8(value)});
        break;
      }
      default:
        if (depth < kMostDepth) {
          object.AddPair(name, ReadObject(in, depth + 1, events));
        } else {
          object.AddPair(name, rtl::JsonObject());
          events.push_back({'{', {}});
          events.push_back({'}', {}});
        }
        break;
    }
  }
  events.push_back({'}', {}});
  return object;
}

class Recorder : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::vector<Event> events;
  bool failed = false;

  bool null() override { return Unexpected(); }
  bool boolean(bool) override { return Unexpected(); }
  bool number_integer(number_integer_t value) override {
    events.push_back({'#', {}, value});
    return true;
  }
  bool number_unsigned(number_unsigned_t value) override {
    FUZZ_CHECK(value <= 0x7FFFFFFF);
    events.push_back({'#', {}, static_cast<std::int64_t>(value)});
    return true;
  }
  bool number_float(number_float_t, const string_t&) override { return Unexpected(); }
  bool string(string_t& value) override {
    events.push_back({'s', value});
    return true;
  }
  bool binary(binary_t&) override { return Unexpected(); }
  bool start_object(std::size_t) override {
    events.push_back({'{', {}});
    return true;
  }
  bool key(string_t& value) override {
    events.push_back({'k', value});
    return true;
  }
  bool end_object() override {
    events.push_back({'}', {}});
    return true;
  }
  bool start_array(std::size_t) override { return Unexpected(); }
  bool end_array() override { return Unexpected(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    failed = true;
    return false;
  }

 private:
  bool Unexpected() {
    failed = true;
    return false;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  std::vector<Event> expected;
  const rtl::JsonObject object = ReadObject(in, 0, expected);
  const std::u16string text = object.ToJSON();

  std::u16string appended = u"x";
  object.AppendJSON(appended);
  FUZZ_CHECK(appended == u"x" + text);

  // No blank or line break outside strings: the only raw control characters are string content,
  // which strict JSON wants as \u escapes.
  std::u16string strict;
  for (const char16_t c : text) {
    if (c < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      strict += u"\\u00";
      strict += static_cast<char16_t>(kHex[c >> 4]);
      strict += static_cast<char16_t>(kHex[c & 15]);
    } else {
      strict += c;
    }
  }
  Recorder recorder;
  const std::string utf8 = ToUtf8(strict);
  nlohmann::json::sax_parse(utf8, &recorder);
  FUZZ_CHECK(!recorder.failed);
  FUZZ_CHECK(recorder.events == expected);
  return 0;
}
