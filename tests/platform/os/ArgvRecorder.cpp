// A child for the process tests, steered by the environment:
//   RECORD_ARGS  file that receives the arguments after the program's name, each ended by NUL
//   RECORD_SAY   text written to standard output
//   RECORD_EXIT  exit code (default 0)
//   RECORD_HANG  set: sleep a minute first
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (const char* log = std::getenv("RECORD_ARGS")) {
    std::ofstream out(log, std::ios::binary);
    for (int i = 1; i < argc; ++i) out << argv[i] << '\0';
  }
  if (const char* say = std::getenv("RECORD_SAY")) std::fputs(say, stdout);
  if (std::getenv("RECORD_HANG")) sleep(60);
  if (std::getenv("RECORD_KILL")) raise(SIGKILL);
  const char* code = std::getenv("RECORD_EXIT");
  return code ? std::atoi(code) : 0;
}
