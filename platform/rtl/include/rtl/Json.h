#pragma once
// JSON object trees as the run-time library builds them, and their compact text.
//
// Text rules (they are a wire format): members in insertion order; no blank or line break;
// numbers are signed 32-bit decimals; in strings exactly eight characters are escaped
// (" \ / backspace tab line-feed form-feed carriage-return as \" \\ \/ \b \t \n \f \r) and every
// other character, control characters and non-ASCII included, is written unchanged.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace rtl {

class JsonObject {
 public:
  using Value = std::variant<std::int32_t, std::u16string, std::unique_ptr<JsonObject>>;

  JsonObject() = default;
  JsonObject(JsonObject&&) noexcept = default;
  JsonObject& operator=(JsonObject&&) noexcept = default;

  JsonObject& AddPair(std::u16string_view name, std::u16string_view value);
  JsonObject& AddPair(std::u16string_view name, std::int32_t value);
  // The object becomes part of this one.
  JsonObject& AddPair(std::u16string_view name, JsonObject value);

  std::size_t Count() const { return members_.size(); }
  const std::vector<std::pair<std::u16string, Value>>& Members() const { return members_; }

  // The compact JSON text.
  std::u16string ToJSON() const;
  void AppendJSON(std::u16string& out) const;

 private:
  std::vector<std::pair<std::u16string, Value>> members_;
};

// Appends the JSON string literal of `text` (quotes included) with the escapes above.
void AppendJsonString(std::u16string& out, std::u16string_view text);

}  // namespace rtl
