#pragma once
// Texts with a code page. The "system ANSI code page" is one process-wide setting: by default
// the character set of the process locale, settable to any iconv name for tests.
//
// No conversion here ever fails or shortens a text: a character the target cannot hold becomes
// a best-fit substitute where iconv knows one, otherwise "?"; an invalid input sequence becomes
// U+FFFD (towards Unicode) or "?" (towards the code page).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace rtl {

using AnsiString = std::string;        // 8-bit text in the system ANSI code page
using UnicodeString = std::u16string;  // UTF-16 text

// The current system ANSI code page as an iconv name ("UTF-8", "WINDOWS-1252", ...).
std::string SystemAnsiCodePage();
// The code page the setting starts with: the character set of the process locale, or of the
// environment's locale (LC_ALL, LC_CTYPE, LANG) while the program is still in the "C" locale.
// The plain C/POSIX locale, whose character set is ASCII, counts as "UTF-8".
std::string LocaleAnsiCodePage();
// Sets it for the whole process; throws rtl::Exception when iconv does not know the name.
void SetSystemAnsiCodePage(std::string_view iconvName);

UnicodeString AnsiToUnicode(std::string_view ansi);
AnsiString UnicodeToAnsi(std::u16string_view text);

UnicodeString Utf8ToUnicode(std::string_view utf8);
std::string UnicodeToUtf8(std::u16string_view text);

// The network library's default text decoding: ASCII, every byte above 0x7F becomes U+FFFD.
UnicodeString AsciiToUnicode(std::span<const std::uint8_t> bytes);

// One diagnostic line on standard output: the ANSI text, then a line end. Lines written from
// several threads never interleave.
void WriteLn(std::string_view ansiText);

}  // namespace rtl
