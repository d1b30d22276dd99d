#include "rtl/Exception.h"

#include <utility>

#include "rtl/CodePage.h"

namespace rtl {

Exception::Exception(std::u16string message)
    : message_(std::move(message)), utf8_(UnicodeToUtf8(message_)) {}

// The UTF-8 form is re-encoded from the decoded text, so a malformed input still gives two
// forms that say the same (bad sequences as U+FFFD in both).
Exception::Exception(std::string_view utf8Message)
    : message_(Utf8ToUnicode(utf8Message)), utf8_(UnicodeToUtf8(message_)) {}

}  // namespace rtl
