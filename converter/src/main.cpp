#include "converter/Converter.h"
#include "office/Servers.h"

int main(int argc, char** argv) {
  // PowerPoint is answered by LibreOffice where it is installed; without it the ProgID stays
  // unresolved and the road reports that in the status file.
  office::RegisterOfficeServers();
  const std::vector<std::u16string> args = converter::WideArguments(argc, argv);
  return converter::ConverterMain(args);
}
