#include "converter/Converter.h"
#include "rtl/CodePage.h"

namespace converter {

namespace {

bool EndsWith(std::u16string_view path, std::u16string_view ending) {
  return path.size() >= ending.size() && path.substr(path.size() - ending.size()) == ending;
}

}  // namespace

std::vector<std::u16string> WideArguments(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) args.push_back(rtl::Utf8ToUnicode(argv[i]));
  return args;
}

int ConverterMain(std::span<const std::u16string> args, const Roads& roads) {
  if (args.size() <= 1) {
    ConsoleWriteAnsi("please input the office file path.");
    ConsoleReadChar();
    return -1;
  }

  std::u16string outputFolder;
  if (args.size() >= 3) outputFolder = args[2] + u"/";
  const std::u16string& documentPath = args[1];

  const Road* road = nullptr;
  if (EndsWith(documentPath, u"ppt") || EndsWith(documentPath, u"pptx")) {
    road = &roads.powerPoint;
  } else if (EndsWith(documentPath, u"doc") || EndsWith(documentPath, u"docx")) {
    road = &roads.word;
  } else if (EndsWith(documentPath, u"xls") || EndsWith(documentPath, u"xlsx")) {
    road = &roads.excel;
  }
  if (road != nullptr && *road) (*road)(documentPath, outputFolder);
  return 0;
}

}  // namespace converter
