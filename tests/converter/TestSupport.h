#pragma once
// Helpers for converter tests: standard output caught in a file, standard input from a pipe,
// and the status file beside the test program.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "converter/Converter.h"

namespace testsupport {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::filesystem::path StatusFile() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "pdf_temp";
}

inline void RemoveStatusFile() {
  std::error_code ignored;
  std::filesystem::remove_all(StatusFile(), ignored);
}

// Points file descriptor `fd` somewhere else for the life of the object.
class FdRedirect {
 public:
  FdRedirect(int fd, int target) : fd_(fd), saved_(::dup(fd)) {
    std::fflush(nullptr);
    ::dup2(target, fd);
  }
  ~FdRedirect() {
    std::fflush(nullptr);
    ::dup2(saved_, fd_);
    ::close(saved_);
  }
  FdRedirect(const FdRedirect&) = delete;
  FdRedirect& operator=(const FdRedirect&) = delete;

 private:
  int fd_;
  int saved_;
};

// Catches what is written to standard output while it lives.
class CapturedStdout {
 public:
  CapturedStdout()
      : path_(std::filesystem::temp_directory_path() /
              ("conv-stdout-" + std::to_string(::getpid()))),
        file_(::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600)),
        redirect_(STDOUT_FILENO, file_) {}
  ~CapturedStdout() {
    ::close(file_);
    std::filesystem::remove(path_);
  }
  std::string Text() const { return ReadFile(path_); }

 private:
  std::filesystem::path path_;
  int file_;
  FdRedirect redirect_;
};

}  // namespace testsupport
