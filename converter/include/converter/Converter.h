#pragma once
// Slidepress: turns an office document into page images for the client and reports the end of
// an orderly run by the status file "pdf_temp" beside the program.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Dispatch.h"
#include "automation/HResult.h"
#include "automation/Variant.h"

namespace converter {

// The roads: document path and output folder (empty, or ending in "/") in, 0 (finished) or 1
// (failed) out. They may also not return, when AutoWrap ends the process.
int ConvertPowerPoint(const std::u16string& documentPath, const std::u16string& outputFolder);
int ConvertWord(const std::u16string& documentPath, const std::u16string& outputFolder);
int ConvertExcel(const std::u16string& documentPath, const std::u16string& outputFolder);

using Road =
    std::function<int(const std::u16string& documentPath, const std::u16string& outputFolder)>;
struct Roads {
  Road powerPoint = ConvertPowerPoint;
  Road word = ConvertWord;
  Road excel = ConvertExcel;
};

// The entry. args[0] is the program's name. Returns the exit code: -1 after the usage text when
// there is no argument, otherwise 0.
int ConverterMain(std::span<const std::u16string> args, const Roads& roads = Roads{});

// The program's argument vector (UTF-8 bytes) as wide text.
std::vector<std::u16string> WideArguments(int argc, char** argv);

// Calls `member` of `object` as autoType says (DISPATCH_METHOD, _PROPERTYGET or _PROPERTYPUT),
// with the arguments given LAST PARAMETER FIRST. `result` may be null. Returns only on success:
// on any failure it prints its line and ends the process at once (exit code 0 for no object or
// an unknown name, 1 for a failed call) without running exit handlers.
automation::HRESULT AutoWrap(int autoType, automation::Variant* result,
                             automation::IDispatch* object, std::u16string_view member,
                             std::initializer_list<automation::Variant> args = {});

// The Word road's PDF: the output folder, one separator and "temp.pdf"; with no output folder
// the bare name, which lies in the working folder like every other output of such a run.
std::u16string WordPdfPath(const std::u16string& outputFolder);

// The Pagesnap run as an argument vector, each part one argument however many blanks it holds:
// the tool in the own folder (its bare name, looked up on PATH, when that is empty), the PDF,
// the output folder and, for Excel, the start number.
std::vector<std::u16string> PagesnapCommand(const std::u16string& ownFolder,
                                            const std::u16string& pdfPath,
                                            const std::u16string& outputFolder,
                                            const std::u16string* startNumber);

// The converter's own folder with its trailing "/", or empty when it cannot be had. Returns the
// number of characters of `folder`.
std::size_t GetModuleFolder(std::u16string& folder);

// Writes "success" or "error", CR LF, then `message` to pdf_temp in the own folder, replacing an
// earlier file. Writes nothing when the own folder cannot be had; a file that cannot be created
// is no failure of the converter.
void WriteStatusFile(bool finished, std::string_view message);

// The status file's full path (own folder + "pdf_temp"), or empty.
std::string StatusFilePath();

// Console output: one byte stream (standard output) in UTF-8, written through at once, so that
// nothing is lost when the process ends without exit handlers.
void ConsoleWrite(std::u16string_view text);
void ConsoleWriteAnsi(std::string_view text);
// Reads one byte from standard input; -1 at end of input or when there is none.
int ConsoleReadChar();

// A 32-bit value as eight lower-case hexadecimal digits ("%08lx").
std::u16string Hex8(std::uint32_t value);

}  // namespace converter
