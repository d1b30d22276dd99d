// Slidepress with a scripted PowerPoint instead of the office suite, for end-to-end runs of the
// real entry, own folder and status file. FAKE_PPT selects the script: "none" (no PowerPoint),
// "fail-export" (Export fails), otherwise a deck of FAKE_PPT_SLIDES slides (default 2) whose
// Export writes a small file at the image path.

#include <cstdlib>
#include <fstream>
#include <string>

#include "FakeOffice.h"
#include "converter/Converter.h"
#include "rtl/CodePage.h"

int main(int argc, char** argv) {
  const char* mode = std::getenv("FAKE_PPT");
  const std::string script = mode != nullptr ? mode : "";
  const char* slides = std::getenv("FAKE_PPT_SLIDES");

  fake::FakePowerPoint ppt;
  if (script != "none") ppt.Register();
  ppt.count = slides != nullptr ? std::atoi(slides) : 2;
  if (script == "fail-export") ppt.exportResult = automation::E_FAIL;
  ppt.onExport = [](const fake::Export& e) {
    std::ofstream(rtl::UnicodeToUtf8(e.path), std::ios::binary)
        << e.width << "x" << e.height << "\n";
  };

  const std::vector<std::u16string> args = converter::WideArguments(argc, argv);
  return converter::ConverterMain(args);
}
