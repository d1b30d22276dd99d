// Officekeeper: keeps one headless LibreOffice ready between the converter's runs and ends it
// after a while without work. Started by the office servers, never by hand.
#include "KeptOffice.h"

int main(int argc, char** argv) {
  return office::detail::RunKeeper(argc, argv);
}
