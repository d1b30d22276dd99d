#pragma once
// The run-time library's exception class. Every error of the platform layers derives from it,
// so code that catches "any run-time error" catches rtl::Exception.

#include <exception>
#include <string>
#include <string_view>

namespace rtl {

class Exception : public std::exception {
 public:
  explicit Exception(std::u16string message);
  explicit Exception(std::string_view utf8Message);

  // The message as the program shows or prints it.
  const std::u16string& Message() const noexcept { return message_; }
  // The same message in UTF-8.
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::string utf8_;
};

}  // namespace rtl
