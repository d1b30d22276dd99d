#include "rtl/Json.h"

#include <charconv>

namespace rtl {

namespace {

void AppendInt(std::u16string& out, std::int32_t value) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  for (const char* p = digits; p != result.ptr; ++p) out.push_back(static_cast<char16_t>(*p));
}

}  // namespace

JsonObject& JsonObject::AddPair(std::u16string_view name, std::u16string_view value) {
  members_.emplace_back(std::u16string(name), Value(std::in_place_type<std::u16string>, value));
  return *this;
}

JsonObject& JsonObject::AddPair(std::u16string_view name, std::int32_t value) {
  members_.emplace_back(std::u16string(name), Value(value));
  return *this;
}

JsonObject& JsonObject::AddPair(std::u16string_view name, JsonObject value) {
  members_.emplace_back(std::u16string(name),
                        Value(std::make_unique<JsonObject>(std::move(value))));
  return *this;
}

std::u16string JsonObject::ToJSON() const {
  std::u16string out;
  AppendJSON(out);
  return out;
}

void JsonObject::AppendJSON(std::u16string& out) const {
  out.push_back(u'{');
  bool first = true;
  for (const auto& [name, value] : members_) {
    if (!first) out.push_back(u',');
    first = false;
    AppendJsonString(out, name);
    out.push_back(u':');
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
      AppendInt(out, *number);
    } else if (const auto* text = std::get_if<std::u16string>(&value)) {
      AppendJsonString(out, *text);
    } else if (const auto& child = std::get<std::unique_ptr<JsonObject>>(value)) {
      child->AppendJSON(out);
    } else {
      // AddPair never stores a null object; should one appear, keep the text well-formed.
      out.append(u"{}");
    }
  }
  out.push_back(u'}');
}

void AppendJsonString(std::u16string& out, std::u16string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back(u'"');
  for (const char16_t c : text) {
    char16_t escape = 0;
    switch (c) {
      case u'"':
        escape = u'"';
        break;
      case u'\\':
        escape = u'\\';
        break;
      case u'/':
        escape = u'/';
        break;
      case u'\b':
        escape = u'b';
        break;
      case u'\t':
        escape = u't';
        break;
      case u'\n':
        escape = u'n';
        break;
      case u'\f':
        escape = u'f';
        break;
      case u'\r':
        escape = u'r';
        break;
      default:
        break;
    }
    if (escape != 0) {
      out.push_back(u'\\');
      out.push_back(escape);
    } else {
      out.push_back(c);
    }
  }
  out.push_back(u'"');
}

}  // namespace rtl
